// Explicit overland routing next to channel lakes: the variant of the explicit scheme that the
// explicit routing hands the step to when perennial lakes are on. The cells route in sub-steps
// with the split test and its reductions, as on a grid without lakes; a face across a lake's
// shore moves water between the shore cell and the lake through the lake's flat surface, and
// that water is booked to the lake's volume and added to its inflow or outflow (which the channel
// step counts into the run's totals and clears). Lake cells keep their depth.
#pragma once

#include "overland/overland_state.h"

struct model_state;

// Unit-width discharge (m2/s, positive from the cell into the lake) across the face that a
// shore cell (depth h, bed z, retention r, roughness n, wetland record w or none) owns towards
// a cell of a lake whose surface stands at W: Manning's law over the cell's water above its
// retention when the cell's surface is the higher, over the lake's water above the cell's bed
// when the lake is; a wetland cell seeps through its vegetated layer and blends above it. A
// level surface moves nothing.
double ov_shore_to_lake_discharge(double W, double h, double z, double r, double n,
                                  const wetland_record* w, double dx);

// Unit-width discharge (m2/s, positive from the lake into the cell) across the face that a lake
// cell owns towards a shore cell (depth h, bed z, retention r, roughness n, wetland record w or
// none), the lake's surface standing at W: Manning's law with the shore cell's roughness over
// the lake's water above the shore cell's bed when the lake is the higher, over the cell's
// water above its retention when the cell is. A level surface moves nothing.
double ov_lake_to_shore_discharge(double W, double h, double z, double r, double n,
                                  const wetland_record* w, double dx);

// Start-up of the explicit scheme next to channel lakes: the run's copy of the lakes, restored
// when a cut sub-step redoes a step, sized to the network's lakes. False when the memory is
// missing (the allocator has printed its message).
bool explicit_channel_lakes_setup(model_state& ms);

// Turns the water each lake 1..lakes would give over its shores in a sub-step (spill, m3) into
// the factor every face drawing from it is cut by, so that it gives no more than its volume plus
// the water entering it (enter, m3): 1 where the lake holds enough. True when some lake is cut.
bool lake_spill_factors(int lakes, const double* volume, const double* enter, double* spill);

// Books the water an overland call moved across the lakes' shores, from each lake's inflow and
// outflow of the step as they stood before the call (in_before, out_before; per lake
// 1..lakes): what entered goes to the lake's overland inflow since the last event end, what
// left to the overland flow out of the lakes in the current event.
void book_overland_lake_exchange(model_state& ms, int lakes, const double* in_before,
                                 const double* out_before);

// Routes one overland step of dt seconds over a grid with channel lakes and returns the volume
// drained at the outlet (m3) when there is no channel routing, else 0. Marks every lake's cells
// in the channel lakes' cell mask first; cells in lakes keep their depth, and the water crossing
// a lake's shore goes to the lake's volume and is added to its inflow or outflow. Leaves the
// face discharges of the last sub-step in ov_flux_x and ov_flux_y (m3/s).
double ov_route_explicit_channel_lakes(model_state& ms, double dt_seconds);
