// Saturated groundwater: the member record of the run's model_state that holds the work of the
// groundwater step and its line solver (per-cell sources, coefficients and iterates, the lines
// of the grid and their tridiagonal work), built once at start-up by groundwater_setup. The
// heads, bottoms, boundary codes and aquifer properties themselves live in subsurface_state.
#pragma once

#include "framework/core/raw_arrays.h"

// The lines of the line solver: runs of consecutive watershed cells along the grid rows (or
// columns), each solved as one tridiagonal system. Runs of odd lines come first (red), then
// those of even lines (black): lines of one colour touch only lines of the other, so the runs
// of a colour are solved side by side and the result does not depend on the thread count.
struct gw_line_table {
  int orientation = 0;         // 1 rows, 2 columns
  int run_count = 0;           // runs 1..run_count
  int red_runs = 0;            // runs 1..red_runs lie on odd lines, the rest on even lines
  raw_array1d<int> run_start;  // per run 1..run_count+1: first position of the run in cells
  raw_array1d<int> cells;      // per position 1..cell_count: cell number, run after run
};

// Tridiagonal work of the line solver, per position of the line table 1..cell_count.
struct gw_line_work {
  raw_array1d<double> lower;  // coefficient of the previous cell of the run
  raw_array1d<double> diag;   // coefficient of the cell itself (overwritten by the solve)
  raw_array1d<double> upper;  // coefficient of the next cell of the run
  raw_array1d<double> rhs;    // right-hand side; the run's new heads after the solve (m)
};

struct groundwater_state {
  int ready = 0;                    // 1 once groundwater_setup has built the work below
  int sweep_cap = 50000;            // line sweeps one solve may take before it stops the run
  double picard_tolerance = 0.001;  // m: largest head change between passes at convergence
  gw_line_table lines;              // the lines of the grid
  gw_line_work work;                // their tridiagonal work
  // Per cell 1..cell_count.
  raw_array1d<double> head_step;       // head at the start of the groundwater step (m)
  raw_array1d<double> head_substep;    // head at the start of the sub-step (m)
  raw_array1d<double> iterate;         // latest Picard iterate (m)
  raw_array1d<double> iterate_prev;    // previous Picard iterate (m)
  raw_array1d<double> storage;         // storage coefficient of the step (-)
  raw_array1d<double> sink;            // net sink rate of the step (m/s, positive out)
  raw_array1d<double> leakage;         // deep leakage rate of the step (m/s)
  raw_array1d<double> pumping;         // pumping rate of wells or static flux (m/s, out)
  raw_array1d<double> trans_x;         // transmissivity along rows (m2/s)
  raw_array1d<double> trans_y;         // transmissivity along columns (m2/s)
  raw_array1d<double> coef_n;          // five-point coefficients (1/s): neighbour above
  raw_array1d<double> coef_s;          // neighbour below
  raw_array1d<double> coef_w;          // left neighbour
  raw_array1d<double> coef_e;          // right neighbour
  raw_array1d<double> coef_p;          // the cell itself
  raw_array1d<double> coef_r;          // right-hand side (m/s)
  raw_array1d<unsigned char> held;     // 1: the head is held in the solve (codes 0, 2, 5)
  raw_array1d<double> chan_seepage;    // stream-bed seepage to take (m3, positive out of the
                                       // aquifer into the channel)
  raw_array1d<double> lake_seepage;    // lake-bed seepage into the aquifer to take (m3)
  raw_array1d<double> extra_sink;      // further sink depth to take (m)
  raw_array1d<double> table_exchange;  // water-table exchange depth to take (cm)
  // Richards soil columns over the aquifer (gw_richards_coupling), per cell 1..cell_count.
  raw_array1d<double> column_gain;     // water the column gained as its table moved (cm)
  raw_array1d<double> column_carried;  // water owed to the aquifer that the solve took (m)
  raw_array1d<double> column_exfil;    // water a table at the ground gave the surface (m)
  raw_array1d<double> column_to_lake;  // water a table at the ground gives the lake over it (m)
  raw_array1d<double> column_leaked;   // deep leakage of the step's sub-steps so far (m)
  raw_array1d<double> column_pumped;   // pumping of the step's sub-steps so far (m)
  raw_array1d<int> column_fault;       // why the column could not follow its table (0 none)
  raw_array1d<double> column_work;     // per thread: a column's saved state and regrid work
  int column_work_threads = 0;         // threads column_work has room for
  // Well water levels written after every step (GW_WELL_LEVEL), per well 1..level_count.
  int level_count = 0;
  raw_array1d<int> level_cells;  // cell of the well
  raw_array1d<int> level_rows;   // grid row and column of the well
  raw_array1d<int> level_cols;
  // Figures of the last solve.
  long last_sweeps = 0;   // line sweeps of the last solve
  int last_passes = 0;    // Picard passes of the last solve
  int last_substeps = 0;  // sub-steps of the last solve
  long total_sweeps = 0;  // line sweeps of the run
  int exfil_started = 0;  // overland flow was started by the water table reaching the surface
};
