// Small whole-run overland projects written by the tests that run them: still water in a bowl,
// a bump on a level pool, a fixed stage filling a flat plane, flow gathering along the edge of a
// tilted plane, a ponded patch of cells at a long time step, and a plane with a pit (plain cells
// or an overland lake). Each writer puts the project file and its maps into the current folder
// for the overland scheme, time step and thread count asked for; the readers take the depth
// frames and the outlet hydrograph the run writes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace torva_test {

// What every case writer takes.
struct overland_case_options {
  std::string scheme = "explicit";  // OVERTYPE: "explicit", "ade" or "ade-pc"
  double timestep = 10.0;           // TIMESTEP (s)
  int threads = 1;                  // NUM_THREADS
  double minutes = 0.0;             // TOT_TIME (min); 0 takes the case's own length
};

// A written case: its project file and what the tests need to read its outputs.
struct overland_case {
  std::string project;       // project file name in the current folder
  int rows = 0, cols = 0;    // grid
  double dx = 0.0;           // m
  std::vector<double> elev;  // ground elevation (m) per grid position, row by row
  double rain_rate = 0.0;    // m/s of uniform rain (0: none, but a trace of 1e-6 mm/h for a minute)
  double rain_minutes = 0.0;  // how long it rains
  double minutes = 0.0;       // TOT_TIME
  double map_minutes = 0.0;   // depth frames every map_minutes (0: no depth dataset)
  double hyd_minutes = 0.0;   // outlet hydrograph lines every hyd_minutes
  std::string summary = "case_summary.out";
  std::string outlet = "case_outlet.out";  // SIG_OUTLET_HYDRO: "minutes discharge" lines
  std::string depth = "case_depth.dat";    // ASCII depth dataset (when map_minutes > 0)

  // A corner cell raised 3 m above the rest that holds the outlet of a case whose water stays on
  // the grid (it stays dry): 0 when the case has none.
  int dry_row = 0, dry_col = 0;

  double area() const { return rows * cols * dx * dx; }
  double elev_at(int row, int col) const {
    return elev[static_cast<std::size_t>((row - 1) * cols + (col - 1))];
  }
};

// The ground of the small tilted plane of the flood and hotstart cases, 5 rows by 4 columns of
// 10 m falling 0.1 m a row to the south and 0.02 m a column to the west from 10 m, written as the
// all-active mask `mask_file` and the elevation map `elevation_file`; cell (r, c) stands at
// small_tilted_plane_ground(r, c).
inline constexpr int small_tilted_plane_rows = 5;
inline constexpr int small_tilted_plane_cols = 4;
inline double small_tilted_plane_ground(int row, int col) {
  return 10.0 - 0.1 * (row - 1) - 0.02 * (small_tilted_plane_cols - col);
}
void write_small_tilted_plane(const std::string& mask_file, const std::string& elevation_file);

// The cases of still water keep their water on the grid: the outlet is a corner cell
// raised 3 m above the rest (dry_row, dry_col), which stays dry, and they have no rain (but the
// trace the model needs).

// A level pool over a bowl: 16 x 16 cells of 10 m whose ground falls from 0.6 m at the corners
// to 0 at the centre as the square of the distance, filled by INIT_ELEV_HEAD to 1.6 m (1 to 1.6 m
// deep). Default length a day, depth frames every hour.
overland_case write_bowl_pool_case(const overland_case_options& o);

// A level pool 2 cm deep on a flat bed (INIT_ELEV_HEAD), 16 x 16 cells of 10 m: shallow enough
// that the explicit scheme routes water drawn from one of its cells without falling to its
// shortest sub-step. Default length 120 minutes, depth frames every hour.
overland_case write_shallow_pool_case(const overland_case_options& o);

// A level pool 1 m deep on a flat bed, 15 x 15 cells of 10 m, its centre cell (row 8, col 8)
// starting 1 cm higher (an initial depth map). Default length 60 minutes, depth frames every
// minute.
overland_case write_bump_case(const overland_case_options& o);

// A flat dry plane of 10 rows by 30 columns of 10 m (n 0.05) whose first column is held at a
// fixed stage of 0.3 m (an OV_BOUNDARY stage cell each, starting at its stage), so the plane
// fills to 0.3 m. Default
// length 150 minutes, depth frames every 30 minutes.
overland_case write_fixed_stage_case(const overland_case_options& o);

// A plane of 64 columns by 40 rows of 10 m falling 0.01 towards its south edge and 0.001 towards
// its west edge, the outlet at the south-west corner (OUTSLOPE 0.01), n 0.05, 50 mm/h for 60
// minutes: rain times area is 3.5556 m3/s. Default length 90 minutes, hydrograph every step,
// depth frames every 10 minutes.
overland_case write_converging_plane_case(const overland_case_options& o);

// Three by three flat cells of 10 m ponded 1 m deep (INIT_ELEV_HEAD), the outlet at a corner
// draining at OUTSLOPE 0.01, no rain. Default length 60 minutes (take a long TIMESTEP, such as
// 300 s, to see what the scheme does when it cannot cut its sub-step far enough).
overland_case write_ponded_cells_case(const overland_case_options& o);

// A plane of 24 columns by 12 rows of 10 m falling 0.02 to the south and 0.001 to the west, the
// outlet at the south-west corner (OUTSLOPE 0.01), n 0.05, 50 mm/h for 60 minutes (1,440 m3),
// with a pit of 3 x 3 cells (rows 5-7, columns 11-13) whose ground lies 1 m below the plane's.
// With `lake` the pit is an overland lake (OVERLAND_LAKE_MAP) whose surface starts at the
// highest ground of the pit (row 5); without it the pit is plain cells. Default length 90
// minutes, hydrograph every minute.
overland_case write_pit_plane_case(const overland_case_options& o, bool lake);

// Runs the case's project with the torva executable in the current folder.
command_result run_overland_case(const overland_case& c);

// One frame of the depth dataset: its time (minutes) and the depth (m) of every grid position,
// row by row.
struct depth_frame {
  double minutes = 0.0;
  std::vector<double> depth;
};

// Every frame of the case's depth dataset, in order.
std::vector<depth_frame> read_depth_frames(const overland_case& c);

// The water surface (depth plus ground, m) of every grid position of a frame but the raised
// outlet cell, row by row.
std::vector<double> water_surface(const overland_case& c, const depth_frame& f);

// The depths (m) of every grid position of a frame but the raised outlet cell, row by row.
std::vector<double> wet_depths(const overland_case& c, const depth_frame& f);

// The (minutes, discharge) lines of the case's outlet hydrograph.
std::vector<std::pair<double, double>> read_outlet_hydrograph(const overland_case& c);

}  // namespace torva_test
