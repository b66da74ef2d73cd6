// ADE overland routing: over one overland step the two grid directions are swept one after the
// other, each sweep computing one face discharge per cell and updating the depths from it at
// once. "ade" keeps its own sub-step (halved when a sweep leaves a negative depth, doubled when
// that fits); "ade-pc" takes the whole step as a predictor and a corrector per direction. The
// overland flow step calls ade_overland_route when OVERTYPE is "ade" or "ade-pc".
#pragma once

struct model_state;

// Builds, at the start-up and once the cell connectivity is known, the grid's rows as ranges of
// cells for the sub-steps of "ade" taken row by row, or marks the grid as one to sweep whole.
void ade_row_layout_setup(model_state& ms);

// Floor of the ADE sub-step (s): a (re)start below it stops the run.
inline constexpr double ade_shortest_sub = 0.001;

// Shortest sub-step (s) to which faces held to their share of a water-surface difference halve
// the sub-step; below it the hold alone keeps the sweeps monotone, and the floor above stays
// out of reach of a flow that makes no negative depth.
inline constexpr double ade_shortest_held_sub = 0.01;

// The first sub-step of an "ade" step of dt seconds: dt on the run's first call, else the last
// regular sub-step when it is shorter than dt by more than ade_shortest_sub; then halved after a
// flagged sub-step, or else doubled when twice it still fits in dt.
double ade_first_sub(int calls, double dt, double last_sub, int failed);

// Takes the next sub-step from the time remaining in the step: a remainder shorter than half a
// sub-step joins it (sub becomes the whole remainder and remaining 0); otherwise remaining
// loses sub.
void ade_take_sub(double& sub, double& remaining);

// Routes the overland water of one overland step of dt seconds by ADE scheme `scheme` (2 "ade",
// 3 "ade-pc") with sweep order `sweep_order` (1 or 2) and returns the volume drained at the
// outlet (m3) when there is no channel routing, else 0; -1.0 when the sub-step fell below its
// floor (the run is stopped). "ade" leaves the face volumes of the step in ov_vol_x and
// ov_vol_y; every variant leaves face discharges (m3/s) in ov_flux_x and ov_flux_y, "ade" away
// from lakes the step's means (each face's volume over dt).
double ade_overland_route(model_state& ms, double dt, int scheme, int sweep_order);
