// The aquifer under Richards soil columns: the storage coefficient the groundwater solve takes
// from the column nodes next to the table, and after the solve the columns rebuilt down to the
// moved table with the water books of the cell kept whole (the water the column gives up or
// takes as the table passes through it is the aquifer's). The groundwater step calls these
// when the infiltration runs Richards columns.
#pragma once

struct model_state;

// Work of the coupling (per-thread column copies); false after its message when it cannot be
// had. Called by the groundwater set-up.
bool gw_richards_setup(model_state& ms);

// The storage coefficient of every cell for the solve: the saturated content of the column node
// just above the table (of the top node where the table is at the ground).
void gw_richards_storage(model_state& ms);

// What the reconciliation of one step moved (m3).
struct gw_richards_books {
  double column_gain = 0.0;   // water the columns gained from the aquifer as the tables moved
  double carried_in = 0.0;    // water owed to the aquifer by a step or sub-step before, taken by
                              // this solve
  double exfiltration = 0.0;  // water the tables at the ground gave onto the surface
};

// At the start of the step's solve: what the last step owed the aquifer (taken by this solve as a
// source with the step's other sources) is counted as carried in, and the step's column books and
// draws start from nothing.
void gw_richards_step_start(model_state& ms);

// The length (s) of the next sub-step of the solve, from the current one: the storage coefficient
// is refreshed from the columns, and the length is halved, down to no less than a second, while
// some cell's sink would move its table across more than two nodes of its column in it.
double gw_richards_substep(model_state& ms, double length);

// After each sub-step: every active cell's column is rebuilt at its new table. The cell's water
// (the aquifer's below the table, the column's above it) then differs from what the sub-step gave
// the cell by the water of the soil the table passed through: a table that rose into wet soil left
// that soil's water in the aquifer's pores, a table that fell left the soil it uncovered full.
// That difference is owed to (or by) the aquifer (table_exchange): the rest of the step takes it
// (gw_richards_pass_owed), or, after the last sub-step, the next step. A table the solve lifted
// to (or above) the ground stays at the ground over a column saturated to the surface, and the
// water the cell holds beyond its stores goes onto its overland depth (exfiltration), or, under a
// lake cell, into column_to_lake for the groundwater step to pour into the lake. False (the run
// stopped with a message) when a column cannot reach its table.
bool gw_richards_place(model_state& ms);

// What the last sub-step's columns owe the aquifer goes into the sink of the `remaining` seconds
// of the step, and is counted as carried in.
void gw_richards_pass_owed(model_state& ms, double remaining);

// The deep leakage and pumping of a sub-step of `step` seconds, added to the step's; after the
// last of several sub-steps they become the step's mean rates over its `dt` seconds (the rates a
// cell near its bottom gives up in one sub-step hold for that sub-step only).
void gw_richards_count_draws(model_state& ms, double step);
void gw_richards_mean_draws(model_state& ms, double dt);

// The step's column books, summed over the cells in block order.
gw_richards_books gw_richards_step_books(const model_state& ms);
