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
  double carried_in = 0.0;    // water owed to the aquifer by the last step, taken by this solve
  double exfiltration = 0.0;  // water the tables at the ground gave onto the surface
};

// After the solve: every active cell's column is rebuilt at its new table. The cell's water (the
// aquifer's below the table, the column's above it) then differs from what the solve gave the
// cell by the water of the soil the table passed through: a table that rose into wet soil left
// that soil's water in the aquifer's pores, a table that fell left the soil it uncovered full.
// That difference is owed to (or by) the aquifer and taken by the next solve. A table the solve
// lifted to (or above) the ground stays at the ground over a column saturated to the surface, and
// the water the cell holds beyond its stores goes onto its overland depth (exfiltration), or, under
// a lake cell, into column_to_lake for the groundwater step to pour into the lake. False (the run
// stopped with a message) when a column cannot reach its table.
bool gw_richards_reconcile(model_state& ms, gw_richards_books& books);
