// The implicit update of the pipe network over one time step: surface water through grate
// inlets, tile inflow, the linearised momentum and continuity along every superlink reduced by a
// double sweep to relations between its end flows and the heads of its two superjunctions, one
// linear system for all heads, then depths and flows at every node. Called by superlink_step.
#pragma once

struct channel_state;
struct superlink_state;

// The grid the inlets take their water from, and the options of the solve.
struct superlink_surface {
  double* ov_depth = nullptr;              // per cell: overland depth (m), changed by inlets
  const double* flow_magnitude = nullptr;  // per cell: overland flow magnitude, or null (none)
  double cell_area = 0.0;                  // m2
  int high_head_release = 0;               // a head above the ground spills onto the cell
};

// Allocates the solve's work arrays and sets the network's starting state: every junction head
// at its bottom, every node depth at the 0.1 mm film, no flow. False (message printed) when the
// memory cannot be had.
bool superlink_solve_init(superlink_state& sl, const channel_state& ch);

// The water held by the network (m3): every node's share of its segments at its depth plus its
// manhole, and every junction that is not a boundary above its bottom.
double superlink_stored_volume(const superlink_state& sl, const channel_state& ch);

// One implicit step of `dt` seconds. Books the call's volumes in sl (call_inflow from the surface
// and tiles, call_outflow through boundary junctions, the water spilled back onto cells and the
// storage after the call) and adds the volumes passed to channel outlets and lost at boundary
// junctions to superlink_chan_outflow and superlink_lost_outflow. Returns 0, or -1 when the
// junction system is singular (error 134 raised).
int superlink_solve(superlink_state& sl, const channel_state& ch, superlink_surface& surface,
                    double dt, double& spilled_volume);
