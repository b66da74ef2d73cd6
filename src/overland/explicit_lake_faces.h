// Explicit overland routing with overland lakes: the variant of the explicit scheme that the
// explicit routing hands the step to when the overland lake map is on and there are no channel
// lakes. In each sub-step a serial pass over the right faces, then one over the lower faces, with
// the sub-step control of the grid without lakes; water crossing a lake's shore is booked to the
// lake's collected change, which the overland lake step takes into the lake's surface.
#pragma once

#include "overland/overland_state.h"

struct model_state;

// Unit-width discharge (m2/s) across the shore between a cell outside the lakes and a lake
// surface, positive in the direction of the slope S (from the cell into the lake for
// S = (h + z - W) / dx, from the lake into the cell for S = (W - h - z) / dx): Manning's law on
// the cell's depth above its retention depth r with the cell's roughness n, or, for a wetland
// cell (w not null), seepage through its vegetated layer and the blend above it.
double ov_lake_shore_discharge(double S, double h, double r, double n, const wetland_record* w);

// The water-surface slope of a lake shore face: the drop (m) over dx (0 for a level shore, which
// moves nothing).
double ov_lake_shore_slope(double drop, double dx);

// Routes one overland step of dt seconds over a grid with overland lakes and returns the volume
// drained at the outlet (m3) when there is no channel routing, else 0. Cells in lakes keep their
// depth; the water crossing a lake's shore goes to the lake's rain_volume. Sub-steps, their
// split test and cuts are those of the grid without lakes (a cut redoes the step from the depths
// and collected changes of its start); a step that cannot be cut far enough stops the run.
// Leaves the face discharges of the last sub-step in ov_flux_x and ov_flux_y (m3/s).
double ov_route_explicit_lakes(model_state& ms, double dt_seconds);
