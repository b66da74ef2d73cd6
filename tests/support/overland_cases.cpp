// The small whole-run overland projects of overland_cases.h: grid maps, tables and project
// cards written into the current folder, and the readers of the depth dataset and outlet
// hydrograph the runs write.
#include "support/overland_cases.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace torva_test {

namespace {

// An ASCII grid of the case's size whose values come from f(row, col).
template <class F>
std::string grid_map(const overland_case& c, F f) {
  std::string text = grid_header(c.rows, c.cols, c.dx);
  for (int r = 1; r <= c.rows; ++r) {
    for (int k = 1; k <= c.cols; ++k) text += (k > 1 ? " " : "") + number(f(r, k));
    text += "\n";
  }
  return text;
}

// Sets the grid and ground of a case and writes its mask and elevation maps.
template <class F>
void lay_out(overland_case& c, int rows, int cols, double dx, F ground) {
  c.rows = rows;
  c.cols = cols;
  c.dx = dx;
  c.elev.clear();
  for (int r = 1; r <= rows; ++r)
    for (int k = 1; k <= cols; ++k) c.elev.push_back(ground(r, k));
  write_file("case_mask.asc", grid_map(c, [](int, int) { return 1.0; }));
  write_file("case_elev.asc", grid_map(c, [&](int r, int k) { return c.elev_at(r, k); }));
}

// The project cards every case shares, up to the rain; `extra` adds the case's own cards.
void write_project(overland_case& c, const overland_case_options& o, double default_minutes,
                   int out_row, int out_col, double out_slope, const std::string& extra) {
  c.minutes = o.minutes > 0.0 ? o.minutes : default_minutes;
  c.project = "case.prj";
  std::string p = "TORVAPROJECT\n";
  p += "WATERSHED_MASK     case_mask.asc\n";
  p += "ELEVATION          case_elev.asc\n";
  p += "SUMMARY            " + c.summary + "\n";
  p += "OUTLET_HYDRO       case_outlet_all.out\n";
  p += "SIG_OUTLET_HYDRO   " + c.outlet + "\n";
  p += "ROWS               " + std::to_string(c.rows) + "\n";
  p += "COLS               " + std::to_string(c.cols) + "\n";
  p += "GRIDSIZE           " + number(c.dx) + "\n";
  p += "START_DATE         2005 3 14\n";
  p += "START_TIME         6 30\n";
  p += "TIMESTEP           " + number(o.timestep) + "\n";
  p += "TOT_TIME           " + number(c.minutes) + "\n";
  p += "OUTROW             " + std::to_string(out_row) + "\n";
  p += "OUTCOL             " + std::to_string(out_col) + "\n";
  p += "OUTSLOPE           " + number(out_slope) + "\n";
  p += "HYD_FREQ           " + number(c.hyd_minutes) + "\n";
  p += "MANNING_N          0.05\n";
  p += "OVERTYPE           " + o.scheme + "\n";
  // A run needs rain of some rate and duration: a case without rain takes a trace of 1e-6 mm/h
  // for a minute (under 1e-16 m).
  const bool dry = c.rain_rate == 0.0;
  p += "PRECIP_UNIF\n";
  p += "RAIN_INTENSITY     " + (dry ? std::string("1e-6") : number(c.rain_rate * 3.6e6)) + "\n";
  p += "RAIN_DURATION      " + (dry ? std::string("1") : number(c.rain_minutes)) + "\n";
  if (c.map_minutes > 0.0) {
    p += "MAP_TYPE           1\n";
    p += "MAP_FREQ           " + number(c.map_minutes) + "\n";
    p += "DEPTH              " + c.depth + "\n";
  }
  p += extra;
  p += "NUM_THREADS        " + std::to_string(o.threads) + "\n";
  write_file(c.project, p);
}

// A case whose water stays on the grid puts its outlet on a corner cell raised 3 m above the
// rest, which stays dry (the model needs an outlet slope of at least 1e-9).
constexpr double raised = 3.0;

}  // namespace

overland_case write_bowl_pool_case(const overland_case_options& o) {
  overland_case c;
  const int n = 16;
  const double centre = (n + 1) / 2.0;
  const double far = 2.0 * (centre - 1.0) * (centre - 1.0);
  c.dry_row = n;
  c.dry_col = 1;
  lay_out(c, n, n, 10.0, [&](int r, int k) {
    const double d2 = (r - centre) * (r - centre) + (k - centre) * (k - centre);
    return r == c.dry_row && k == c.dry_col ? raised : 0.6 * d2 / far;
  });
  c.map_minutes = 60.0;
  c.hyd_minutes = 60.0;
  write_project(c, o, 1440.0, c.dry_row, c.dry_col, 0.01, "INIT_ELEV_HEAD     1.6\n");
  return c;
}

overland_case write_shallow_pool_case(const overland_case_options& o) {
  overland_case c;
  const int n = 16;
  c.dry_row = n;
  c.dry_col = 1;
  lay_out(c, n, n, 10.0,
          [&](int r, int k) { return r == c.dry_row && k == c.dry_col ? raised : 0.0; });
  c.map_minutes = 60.0;
  c.hyd_minutes = 60.0;
  write_project(c, o, 120.0, c.dry_row, c.dry_col, 0.01, "INIT_ELEV_HEAD     0.02\n");
  return c;
}

overland_case write_bump_case(const overland_case_options& o) {
  overland_case c;
  const int n = 15;
  c.dry_row = n;
  c.dry_col = 1;
  lay_out(c, n, n, 10.0,
          [&](int r, int k) { return r == c.dry_row && k == c.dry_col ? raised : 0.0; });
  write_file("case_init_depth.asc", grid_map(c, [&](int r, int k) {
               if (r == c.dry_row && k == c.dry_col) return 0.0;
               return r == 8 && k == 8 ? 1.01 : 1.0;
             }));
  c.map_minutes = 1.0;
  c.hyd_minutes = 1.0;
  write_project(c, o, 60.0, c.dry_row, c.dry_col, 0.01, "OV_INIT_DEPTH      case_init_depth.asc\n");
  return c;
}

overland_case write_fixed_stage_case(const overland_case_options& o) {
  overland_case c;
  c.dry_row = 10;
  c.dry_col = 30;
  lay_out(c, 10, 30, 10.0,
          [&](int r, int k) { return r == c.dry_row && k == c.dry_col ? raised : 0.0; });
  write_file("case_edges.idx", grid_map(c, [](int, int k) { return k == 1 ? 2.0 : 1.0; }));
  write_file(
      "case_boundary.cmt",
      "TORVA_INDEX_MAP_TABLES\n"
      "INDEX_MAP case_edges.idx Plane edges\n"
      "OVERLAND_BOUNDARY Plane edges\n"
      "NUM_IDS 2\n"
      "ID    DESCRIPTION                                                                     TYPE  "
      "VALUE\n"
      "     1 inside the plane                                                               0 0\n"
      "     2 first column: a fixed stage                                                    2 "
      "0.3\n");
  // The stage cells start at their stage: the overland step runs once water stands somewhere.
  write_file("case_init_depth.asc", grid_map(c, [](int, int k) { return k == 1 ? 0.3 : 0.0; }));
  c.map_minutes = 30.0;
  c.hyd_minutes = 10.0;
  write_project(c, o, 150.0, c.dry_row, c.dry_col, 0.01,
                "MAPPING_TABLE      case_boundary.cmt\nOV_BOUNDARY\n"
                "OV_INIT_DEPTH      case_init_depth.asc\n");
  return c;
}

overland_case write_converging_plane_case(const overland_case_options& o) {
  overland_case c;
  const int rows = 40, cols = 64;
  const double dx = 10.0;
  lay_out(c, rows, cols, dx,
          [&](int r, int k) { return 0.01 * dx * (rows - r) + 0.001 * dx * (k - 1); });
  c.rain_rate = 50.0 / 3.6e6;
  c.rain_minutes = 60.0;
  c.map_minutes = 10.0;
  c.hyd_minutes = o.timestep / 60.0;
  write_project(c, o, 90.0, rows, 1, 0.01, "");
  return c;
}

overland_case write_ponded_cells_case(const overland_case_options& o) {
  overland_case c;
  lay_out(c, 3, 3, 10.0, [](int, int) { return 0.0; });
  c.hyd_minutes = o.timestep / 60.0;
  write_project(c, o, 60.0, 3, 1, 0.01, "INIT_ELEV_HEAD     1.0\n");
  return c;
}

overland_case write_pit_plane_case(const overland_case_options& o, bool lake) {
  overland_case c;
  const int rows = 12, cols = 24;
  const double dx = 10.0;
  const auto in_pit = [](int r, int k) { return r >= 5 && r <= 7 && k >= 11 && k <= 13; };
  lay_out(c, rows, cols, dx, [&](int r, int k) {
    const double plane = 0.02 * dx * (rows - r) + 0.001 * dx * (k - 1);
    return in_pit(r, k) ? plane - 1.0 : plane;
  });
  c.rain_rate = 50.0 / 3.6e6;
  c.rain_minutes = 60.0;
  c.map_minutes = 15.0;
  c.hyd_minutes = 1.0;
  std::string extra;
  if (lake) {
    double top = -1e9;
    for (int r = 5; r <= 7; ++r)
      for (int k = 11; k <= 13; ++k) top = std::max(top, c.elev_at(r, k));
    write_file("case_lake.asc",
               grid_map(c, [&](int r, int k) { return in_pit(r, k) ? 1.0 : 0.0; }));
    write_file("case_lake.txt", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 " + number(top) + " 0.0\n");
    extra = "OVERLAND_LAKE_MAP  case_lake.asc\nOVERLAND_LAKE_FILE case_lake.txt\n";
  }
  write_project(c, o, 90.0, rows, 1, 0.01, extra);
  return c;
}

command_result run_overland_case(const overland_case& c) {
  return run_command(torva_exe(), {c.project});
}

std::vector<depth_frame> read_depth_frames(const overland_case& c) {
  std::vector<depth_frame> frames;
  std::istringstream in(read_file(c.depth));
  const std::size_t positions = static_cast<std::size_t>(c.rows) * c.cols;
  std::string line;
  while (std::getline(in, line)) {
    double t = 0.0;
    if (std::sscanf(line.c_str(), "TS 1 %lf", &t) != 1) continue;
    for (std::size_t k = 0; k < positions; ++k) std::getline(in, line);  // active-cell flags
    depth_frame f;
    f.minutes = t;
    f.depth.resize(positions);
    for (double& h : f.depth)
      if (!(in >> h)) return frames;
    frames.push_back(std::move(f));
  }
  return frames;
}

std::vector<double> water_surface(const overland_case& c, const depth_frame& f) {
  std::vector<double> eta;
  const std::size_t dry = c.dry_row > 0
                              ? static_cast<std::size_t>((c.dry_row - 1) * c.cols + (c.dry_col - 1))
                              : f.depth.size();
  for (std::size_t k = 0; k < f.depth.size() && k < c.elev.size(); ++k)
    if (k != dry) eta.push_back(f.depth[k] + c.elev[k]);
  return eta;
}

std::vector<double> wet_depths(const overland_case& c, const depth_frame& f) {
  std::vector<double> h;
  for (int r = 1; r <= c.rows; ++r)
    for (int k = 1; k <= c.cols; ++k)
      if (r != c.dry_row || k != c.dry_col)
        h.push_back(f.depth[static_cast<std::size_t>((r - 1) * c.cols + (k - 1))]);
  return h;
}

std::vector<std::pair<double, double>> read_outlet_hydrograph(const overland_case& c) {
  std::vector<std::pair<double, double>> lines;
  std::istringstream in(read_file(c.outlet));
  double t = 0.0, q = 0.0;
  while (in >> t >> q) lines.emplace_back(t, q);
  return lines;
}

void write_small_tilted_plane(const std::string& mask_file, const std::string& elevation_file) {
  std::string mask = grid_header(small_tilted_plane_rows, small_tilted_plane_cols, 10.0);
  std::string elev = mask;
  for (int r = 1; r <= small_tilted_plane_rows; ++r) {
    for (int c = 1; c <= small_tilted_plane_cols; ++c) {
      mask += "1 ";
      elev += std::to_string(small_tilted_plane_ground(r, c)) + " ";
    }
    mask += "\n";
    elev += "\n";
  }
  write_file(mask_file, mask);
  write_file(elevation_file, elev);
}

}  // namespace torva_test
