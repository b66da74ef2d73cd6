// Explicit overland routing next to channel lakes, called by the explicit routing in place of
// its plain passes when perennial lakes are on. Each sub-step computes every face once, in
// parallel over the cells that own them (their right and lower faces), judges the faces by the
// split test, books the water that crossed a lake's shore to the lake serially in cell order and
// lets each cell outside the lakes gather its change from its own four faces; the results are
// the same on any thread count. The split lines are printed after the pass in cell order.
#include "overland/explicit_channel_lakes.h"

#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/parallel_team.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "overland/embankments.h"
#include "overland/explicit_lake_faces.h"
#include "overland/explicit_overland.h"
#include "overland/face_law.h"

namespace {

// What one call reads and writes. Per-cell arrays are one-based over 1..cell_count, per-lake
// arrays over 1..lake_count.
struct lake_grid {
  int cell_count = 0;
  double dx = 0.0;
  double* h = nullptr;
  const double* z = nullptr;
  const double* retention = nullptr;
  const double* roughness = nullptr;
  const double* slope_x = nullptr;
  const double* slope_y = nullptr;
  const int* right = nullptr;
  const int* below = nullptr;
  const int* left = nullptr;
  const int* above = nullptr;
  const unsigned char* open_x = nullptr;
  const unsigned char* open_y = nullptr;
  const int* lake = nullptr;  // channel lake per cell, 0 none; none at all when null
  int lake_count = 0;
  const double* surface = nullptr;  // per lake: water-surface elevation (m)
  const int* wetland = nullptr;     // wetland number per cell, or none when off
  const wetland_record* wetlands = nullptr;
  int wetland_count = 0;
  double* flux_x = nullptr;  // m2/s while routing
  double* flux_y = nullptr;
};

int lake_at(const lake_grid& g, int c) {
  if (g.lake == nullptr) return 0;
  const int id = g.lake[c];
  return id >= 1 && id <= g.lake_count ? id : 0;
}

const wetland_record* wetland_at(const lake_grid& g, int c) {
  if (g.wetland == nullptr) return nullptr;
  const int id = g.wetland[c];
  return id >= 1 && id <= g.wetland_count ? &g.wetlands[id] : nullptr;
}

// The cell whose depth the split test judges on the face of cell c in direction d (0 right,
// 1 lower): the owner for a face it computes from its own water, the shore cell for a face a
// lake cell owns; 0 for a face not computed (closed, at the edge, between two lake cells, or
// owned by a plain cell below its retention depth).
int judged_cell(const lake_grid& g, int c, int d) {
  if (!(d == 0 ? g.open_x : g.open_y)[c]) return 0;
  const int k = (d == 0 ? g.right : g.below)[c];
  if (k == 0) return 0;
  const int lc = lake_at(g, c), lk = lake_at(g, k);
  if (lc != 0) return lk != 0 ? 0 : k;
  if (lk == 0 && wetland_at(g, c) == nullptr && g.retention[c] > g.h[c]) return 0;
  return c;
}

// The water-surface slope of the face of cell c in direction d towards its neighbour k: across a
// shore, from the cell's surface to the lake's (or back); between two cells outside the lakes,
// from the owner's surface to the neighbour's.
double face_slope(const lake_grid& g, int c, int d, int k) {
  const int lc = lake_at(g, c), lk = lake_at(g, k);
  if (lc != 0) return (g.surface[lc] - (g.z[k] + g.h[k])) / g.dx;
  if (lk != 0) return (g.z[c] + g.h[c] - g.surface[lk]) / g.dx;
  return ov_friction_slope((d == 0 ? g.slope_x : g.slope_y)[c], g.h[c], g.h[k], g.dx);
}

// Discharge of the face of cell c in direction d (m2/s, positive towards the neighbour), 0 for
// a face not computed; held to the face law's cap for a sub-step of tau seconds, with `cut` set
// when the cap cut it across a surface difference that matters.
double face_flow(const lake_grid& g, int c, int d, double tau, bool& cut) {
  if (judged_cell(g, c, d) == 0) return 0.0;
  const int k = (d == 0 ? g.right : g.below)[c];
  const double* h = g.h;
  const int lc = lake_at(g, c), lk = lake_at(g, k);
  double q = 0.0;
  if (lc != 0) {
    q = ov_lake_to_shore_discharge(g.surface[lc], h[k], g.z[k], g.retention[k], g.roughness[k],
                                   wetland_at(g, k), g.dx);
  } else if (lk != 0) {
    q = ov_shore_to_lake_discharge(g.surface[lk], h[c], g.z[c], g.retention[c], g.roughness[c],
                                   wetland_at(g, c), g.dx);
  } else if (const wetland_record* w = wetland_at(g, c)) {
    const double s0 = (d == 0 ? g.slope_x : g.slope_y)[c];
    const double S = ov_friction_slope(s0, h[c], h[k], g.dx);
    q = ov_wetland_face_discharge(S, h[c], h[k], g.retention[k], *w, wetland_at(g, k) != nullptr,
                                  g.roughness[c], g.roughness[k]);
  } else {
    const double s0 = (d == 0 ? g.slope_x : g.slope_y)[c];
    q = ov_face_discharge(s0, h[c], h[k], g.retention[c], g.retention[k], g.roughness[c], g.dx);
  }
  return ov_capped_discharge(q, face_slope(g, c, d, k), ov_surface_share * g.dx * g.dx / tau,
                             ov_cap_failing_difference / g.dx, cut);
}

// The split test of the face of cell c in direction d carrying q for tau seconds: the depth
// moved, q tau / dx, is 0.06 m or more in magnitude, or the cell judged by the face ends below
// -0.0001 m. A face between two cells outside the lakes judges its owner as the faces of a grid
// without lakes do; a shore face judges the shore cell by its depth after the move, so a lake
// spilling onto a dry cell passes and a cell draining into the lake beyond its water fails.
// `after` gets the depth printed with a failing face.
bool face_fails(const lake_grid& g, int c, int d, double q, double tau, double& after) {
  const int j = judged_cell(g, c, d);
  if (j == 0) return false;
  const double moved = q * tau / g.dx;
  const int k = (d == 0 ? g.right : g.below)[c];
  if (lake_at(g, c) == 0 && lake_at(g, k) == 0) {
    after = g.h[c] + moved;
    return ov_face_fails(q, tau, g.dx, g.h[c]);
  }
  after = g.h[j] + (j == c ? -moved : moved);
  return std::fabs(moved) >= 0.06 || after < -0.0001;
}

// The face pass of one sub-step: every cell's right and lower face discharge, the faces failing
// the split test for tau seconds, right faces in fails[0] and lower faces in fails[1], and those
// the cap cut across a surface difference that matters in fails[2] and fails[3].
void face_pass(const lake_grid& g, double tau, int fails[4]) {
  const int n = g.cell_count;
  int fx = 0, fy = 0, cx = 0, cy = 0;
#pragma omp parallel for schedule(static) reduction(+ : fx, fy, cx, cy) num_threads(team_size(n))
  for (int c = 1; c <= n; ++c) {
    for (int d = 0; d < 2; ++d) {
      bool cut = false;
      const double q = face_flow(g, c, d, tau, cut);
      (d == 0 ? g.flux_x : g.flux_y)[c] = q;
      double after = 0.0;
      if (face_fails(g, c, d, q, tau, after)) ++(d == 0 ? fx : fy);
      if (cut) ++(d == 0 ? cx : cy);
    }
  }
  fails[0] = fx;
  fails[1] = fy;
  fails[2] = cx;
  fails[3] = cy;
}

// The split lines of the failing faces of direction d, in cell order.
void print_failing_faces(const lake_grid& g, int d, double tau) {
  const char axis = d == 0 ? 'x' : 'y';
  const double* flux = d == 0 ? g.flux_x : g.flux_y;
  for (int c = 1; c <= g.cell_count; ++c) {
    double after = 0.0;
    if (!face_fails(g, c, d, flux[c], tau, after)) continue;
    const int j = judged_cell(g, c, d);
    const double moved = flux[c] * tau / g.dx;
    if (std::fabs(moved) > 0.06) {
      printf("  ]%c:_U_%2.4lf H%2.4lf Q:%4.2lf dt:%4.2lf j:%d\n", axis, std::fabs(moved), moved,
             flux[c], tau, j);
      printf("    -> Cell Exceded Celerity Check\n");
    } else {
      printf("  ]%c: h+dh < 0.00   (h+dh=%lf)  j:%d\n", axis, after, j);
      printf("    -> Outflow Exceeded Water Depth\n");
    }
  }
}

// Stops the run on a step that cannot be routed, naming the first face of direction d, in cell
// order, that fails the sub-step of tau seconds.
void name_first_failing_face(model_state& ms, const lake_grid& g, double dt, double tau, int d) {
  const double* flux = d == 0 ? g.flux_x : g.flux_y;
  for (int c = 1; c <= g.cell_count; ++c) {
    double after = 0.0;
    if (!face_fails(g, c, d, flux[c], tau, after)) continue;
    const int j = judged_cell(g, c, d);
    const int k = (d == 0 ? g.right : g.below)[c];
    explicit_step_too_long(ms, dt, tau, c, k, d == 0 ? "right" : "lower", flux[c] * tau / g.dx, j,
                           g.h[j]);
    break;
  }
}

// The water of a shore face that enters its lake in a sub-step of tau seconds (m3; negative
// when it leaves the lake): positive q runs from the face's owner towards its neighbour.
double shore_face_into_lake(const lake_grid& g, int c, int d, int lc, double tau) {
  const double q = (d == 0 ? g.flux_x : g.flux_y)[c];
  return (lc != 0 ? -q : q) * g.dx * tau;
}

// Calls f(c, d, lake, into_lake) for every shore face, serially in cell order.
template <class F>
void for_each_shore_face(const lake_grid& g, double tau, F f) {
  for (int c = 1; c <= g.cell_count; ++c) {
    const int lc = lake_at(g, c);
    for (int d = 0; d < 2; ++d) {
      const int k = (d == 0 ? g.right : g.below)[c];
      if (k == 0 || !(d == 0 ? g.open_x : g.open_y)[c]) continue;
      const int lk = lake_at(g, k);
      if ((lc != 0) == (lk != 0)) continue;
      f(c, d, lc != 0 ? lc : lk, shore_face_into_lake(g, c, d, lc, tau));
    }
  }
}

// A lake spilling onto its shores gives no more than it holds: when the water leaving a lake
// over its shores in the sub-step exceeds its volume plus the water entering it, every face
// that draws from it is cut by the same factor, so the lake empties to zero and the shore cells
// gain exactly what it gave. `spill` and `enter` are per-lake work arrays of the call.
void limit_lake_spills(const lake_grid& g, double tau, const double* volume, double* spill,
                       double* enter) {
  for (int l = 1; l <= g.lake_count; ++l) spill[l] = enter[l] = 0.0;
  for_each_shore_face(g, tau, [&](int, int, int lake, double into_lake) {
    if (into_lake > 0.0)
      enter[lake] += into_lake;
    else
      spill[lake] -= into_lake;
  });
  if (!lake_spill_factors(g.lake_count, volume, enter, spill)) return;
  for_each_shore_face(g, tau, [&](int c, int d, int lake, double into_lake) {
    if (into_lake < 0.0 && spill[lake] < 1.0) (d == 0 ? g.flux_x : g.flux_y)[c] *= spill[lake];
  });
}

// Books the water of the sub-step's shore faces to their lakes, serially in cell order: a face
// owned by a shore cell gives the lake what left the cell (or takes from it what came back), a
// face owned by a lake cell the reverse. Entering water goes to the lake's inflow, leaving
// water to its outflow; the volume changes by exactly what the shore cells gave or took.
void book_shore_faces(const lake_grid& g, double tau, double* volume, double* in_dv,
                      double* out_dv) {
  for_each_shore_face(g, tau, [&](int, int, int lake, double into_lake) {
    volume[lake] += into_lake;
    if (into_lake > 0.0)
      in_dv[lake] += into_lake;
    else
      out_dv[lake] -= into_lake;
  });
}

// Each cell outside the lakes gathers its change from its four faces over per_q = tau / dx.
void apply_faces(const lake_grid& g, double per_q) {
  const int n = g.cell_count;
  double* h = g.h;
  const double* fx = g.flux_x;
  const double* fy = g.flux_y;
#pragma omp parallel for schedule(static) num_threads(team_size(n))
  for (int c = 1; c <= n; ++c) {
    if (lake_at(g, c) != 0) continue;
    const double gained = fx[g.left[c]] + fy[g.above[c]] - fx[c] - fy[c];
    h[c] += gained * per_q;
  }
}

// Allocates a per-lake copy of n lakes unless it already holds them.
bool ensure_lakes(raw_array1d<double>& a, int n, const char* name) {
  if (!a.empty() && a.count() == n) return true;
  alloc_1d_double(a, n, name);
  return !a.empty();
}

}  // namespace

double ov_shore_to_lake_discharge(double W, double h, double z, double r, double n,
                                  const wetland_record* w, double dx) {
  const double drop = z + h - W;
  // A level surface across the shore drives no flow, as on the faces between cells.
  if (drop == 0.0) return 0.0;
  const double S = drop / dx;
  if (w != nullptr) return ov_lake_shore_discharge(S, h, r, n, w);
  return ov_face_law(S, S > 0.0 ? h - r : W - z, n);
}

double ov_lake_to_shore_discharge(double W, double h, double z, double r, double n,
                                  const wetland_record* w, double dx) {
  const double drop = W - (z + h);
  if (drop == 0.0) return 0.0;
  const double S = drop / dx;
  if (w == nullptr) return ov_face_law(S, S < 0.0 ? h - r : W - z, n);
  if (S < 0.0 || h - w->slot[1] <= 0.0) return ov_lake_shore_discharge(S, h, r, n, w);
  // The lake spills over the wetland: the blend over the lake's water above the cell's layer.
  return ov_lake_shore_discharge(S, W - z > h ? W - z : h, r, n, w);
}

bool lake_spill_factors(int lakes, const double* volume, const double* enter, double* spill) {
  bool any = false;
  for (int l = 1; l <= lakes; ++l) {
    const double available = std::max(volume[l], 0.0) + enter[l];
    spill[l] = spill[l] > available ? available / spill[l] : 1.0;
    any = any || spill[l] < 1.0;
  }
  return any;
}

void book_overland_lake_exchange(model_state& ms, int lakes, const double* in_before,
                                 const double* out_before) {
  channel_state& ch = ms.channel;
  for (int l = 1; l <= lakes; ++l) {
    if (l <= ch.lake_ov_inflow.count() && !ch.lake_ov_inflow.empty())
      ch.lake_ov_inflow[l] += ch.lake_in_dv[l] - in_before[l];
    ms.overland.lake_spill_event += ch.lake_out_dv[l] - out_before[l];
  }
}

bool explicit_channel_lakes_setup(model_state& ms) {
  const int lakes = ms.channel.num_lakes;
  if (lakes < 1) return true;
  explicit_lake_copy& copy = ms.overland.ovx_saved_lake_state;
  return ensure_lakes(copy.elev, lakes, "ovx_saved_lake_elev") &&
         ensure_lakes(copy.volume, lakes, "ovx_saved_lake_volume") &&
         ensure_lakes(copy.in_dv, lakes, "ovx_saved_lake_in_dv") &&
         ensure_lakes(copy.out_dv, lakes, "ovx_saved_lake_out_dv") &&
         ensure_lakes(copy.spill, lakes, "ovx_lake_spill") &&
         ensure_lakes(copy.enter, lakes, "ovx_lake_enter");
}

namespace {

// The lakes the routing can see (every per-lake array and the cell mask must hold them), or -1
// with the run stopped when the overland arrays of the cells were not set up.
int routable_lakes(model_state& ms) {
  overland_state& ov = ms.overland;
  channel_state& ch = ms.channel;
  const int n = ms.cell_count;
  bool ready = ov.ov_face_open_x.count() >= n && ov.ov_face_open_y.count() >= n &&
               ov.rightcon.count() >= n && ov.belowcon.count() >= n && ov.leftcon.count() >= n &&
               ov.abovecon.count() >= n;
  for (const raw_array1d<double>* a :
       {&ov.ov_depth, &ov.ov_flux_x, &ov.ov_flux_y, &ov.ov_saved_depth, &ov.ov_retention,
        &ov.ov_roughness, &ov.ov_slope_x, &ov.ov_slope_y, &ms.cell_elev})
    ready = ready && !a->empty() && a->count() >= n;
  if (!ready) {
    stop_with_message("Error: the overland routing arrays of %d cells were not set up.\n", n);
    return -1;
  }
  int lakes = ch.num_lakes;
  for (const raw_array1d<double>* a :
       {&ch.lake_elev, &ch.lake_volume, &ch.lake_in_dv, &ch.lake_out_dv})
    if (a->count() < lakes) lakes = a->count();
  if (ch.lake_cells.count() < lakes) lakes = ch.lake_cells.count();
  if (ch.lake_mask.count() < n) lakes = 0;
  // The run's start-up sized the lakes' copy; a state made without it gets it here once.
  if (lakes > 0 && ov.ovx_saved_lake_state.enter.count() < lakes &&
      !explicit_channel_lakes_setup(ms)) {
    stop_now();
    return -1;
  }
  return lakes;
}

// Marks the cells of the first `lakes` lakes in the lake mask.
void mark_lake_cells(model_state& ms, int lakes) {
  channel_state& ch = ms.channel;
  const int n = ms.cell_count;
  const double* elev = ch.lake_elev.data();
  // Every lake's cells, taken from the head of its search list, are marked as the lake's: those
  // the lake's surface stands over by more than a millimetre, as the start-up takes them (a
  // listed cell the lake has not reached keeps its own water; cells already marked stay so). The
  // lakes' inflow and outflow keep what they hold: the channel step moves them to the run's
  // totals and clears them, so a step booked here is never wiped before it is counted, however
  // the overland and channel schedules interleave.
  for (int l = 1; l <= lakes; ++l) {
    const raw_array3d<int>& search = ch.lake_search;
    if (search.empty() || search.plane_count() < l || search.row_count() < 2) continue;
    const int cells = ch.lake_cells[l] < search.col_count() ? ch.lake_cells[l] : search.col_count();
    for (int p = 1; p <= cells; ++p) {
      const int row = search[l][1][p], col = search[l][2][p];
      if (ms.index_map.empty() || row < 1 || row > ms.index_map.row_count() || col < 1 ||
          col > ms.index_map.col_count())
        continue;
      const int cell = ms.index_map[row][col];
      if (cell >= 1 && cell <= n && ch.lake_mask[cell] == 0 && elev[l] - ms.cell_elev[cell] > 0.001)
        ch.lake_mask[cell] = l;
    }
  }
}

// The routing's view of the cells, their faces and the first `lakes` lakes.
lake_grid make_lake_grid(model_state& ms, int lakes) {
  overland_state& ov = ms.overland;
  channel_state& ch = ms.channel;
  const int n = ms.cell_count;
  lake_grid g;
  g.cell_count = n;
  g.dx = ms.gridsize;
  g.h = ov.ov_depth.data();
  g.z = ms.cell_elev.data();
  g.retention = ov.ov_retention.data();
  g.roughness = ov.ov_roughness.data();
  g.slope_x = ov.ov_slope_x.data();
  g.slope_y = ov.ov_slope_y.data();
  g.right = ov.rightcon.data();
  g.below = ov.belowcon.data();
  g.left = ov.leftcon.data();
  g.above = ov.abovecon.data();
  g.open_x = ov.ov_face_open_x.data();
  g.open_y = ov.ov_face_open_y.data();
  g.lake = lakes > 0 ? ch.lake_mask.data() : nullptr;
  g.lake_count = lakes;
  g.surface = ch.lake_elev.data();
  if (ms.input.wetland_table_on && ov.wetland_mask.count() >= n) {
    g.wetland = ov.wetland_mask.data();
    g.wetlands = ov.wetlands.data();
    g.wetland_count =
        ov.wetlands.count() < ov.wetland_count ? ov.wetlands.count() : ov.wetland_count;
  }
  g.flux_x = ov.ov_flux_x.data();
  g.flux_y = ov.ov_flux_y.data();
  return g;
}

}  // namespace

double ov_route_explicit_channel_lakes(model_state& ms, double dt) {
  overland_state& ov = ms.overland;
  channel_state& ch = ms.channel;
  const int n = ms.cell_count;
  const double dx = ms.gridsize;
  if (n < 1 || !(dt > 0.0)) return 0.0;
  const int lakes = routable_lakes(ms);
  if (lakes < 0) return 0.0;

  explicit_scheme_memory& mem = ov.explicit_memory;
  double tau = explicit_memory_next_call(ms, dt);

  double* h = ov.ov_depth.data();
  double* saved = ov.ov_saved_depth.data();
  double* fx = ov.ov_flux_x.data();
  double* fy = ov.ov_flux_y.data();
  team_for(team_size(n), 1, n, [&](int c) { saved[c] = h[c]; });
  double* elev = ch.lake_elev.data();
  double* volume = ch.lake_volume.data();
  double* in_dv = ch.lake_in_dv.data();
  double* out_dv = ch.lake_out_dv.data();
  explicit_lake_copy& copy = ov.ovx_saved_lake_state;
  for (int l = 1; l <= lakes; ++l) {
    copy.elev[l] = elev[l];
    copy.volume[l] = volume[l];
    copy.in_dv[l] = in_dv[l];
    copy.out_dv[l] = out_dv[l];
  }

  mark_lake_cells(ms, lakes);
  const lake_grid g = make_lake_grid(ms, lakes);
  // Cell 0 stands for a missing left or upper neighbour: it carries nothing.
  fx[0] = 0.0;
  fy[0] = 0.0;

  // The water each face carries over the step, summed over the sub-steps that stand (m3), when
  // the constituents or the eroded soil need it: the discharges left at the end are the last
  // sub-step's.
  double* sum_x = holds(ov.ovx_mean_flux_x, n) ? ov.ovx_mean_flux_x.data() : nullptr;
  double* sum_y = holds(ov.ovx_mean_flux_y, n) ? ov.ovx_mean_flux_y.data() : nullptr;
  const bool sums = sum_x != nullptr && sum_y != nullptr;

  int reductions = 0;
  // Set once no cut is left and only the cap held faces back (see ov_route_explicit).
  bool capped_accepted = false;
  const int order[2] = {mem.sweep_flag ? 1 : 0, mem.sweep_flag ? 0 : 1};
  bool complete = false;
  while (!complete) {
    // One attempt at the whole step from its start, the lakes as they stood then.
    team_for(team_size(n), 1, n, [&](int c) {
      h[c] = saved[c];
      fx[c] = 0.0;
      fy[c] = 0.0;
      if (sums) sum_x[c] = sum_y[c] = 0.0;
    });
    for (int l = 1; l <= lakes; ++l) {
      elev[l] = copy.elev[l];
      volume[l] = copy.volume[l];
      in_dv[l] = copy.in_dv[l];
      out_dv[l] = copy.out_dv[l];
    }
    double elapsed = 0.0;
    bool restart = false;
    while (!complete && !restart) {
      int fails[4] = {0, 0, 0, 0};
      face_pass(g, tau, fails);
      const double judged_tau = tau;
      const explicit_substep verdict = explicit_judge_substep(
          ms, order, fails, tau, reductions, capped_accepted,
          [&](int d) {
            if (!ms.quiet) print_failing_faces(g, d, judged_tau);
          },
          [&](int d) { name_first_failing_face(ms, g, dt, judged_tau, d); });
      if (verdict == explicit_substep::stopped) {
        if (run_error.error_fatal == 0) stop_now();
        return 0.0;
      }
      if (verdict == explicit_substep::redo) {
        restart = true;
        break;
      }
      if (lakes > 0) {
        limit_lake_spills(g, tau, volume, copy.spill.data(), copy.enter.data());
        book_shore_faces(g, tau, volume, in_dv, out_dv);
      }
      // The unit-width discharges of the sub-step as the depths take them, the lakes' spills
      // held back.
      if (sums) {
        const double per_face = tau * dx;
        team_for(team_size(n), 1, n, [&](int c) {
          sum_x[c] += fx[c] * per_face;
          sum_y[c] += fy[c] * per_face;
        });
      }
      apply_faces(g, tau / dx);
      elapsed += tau;
      complete = std::fabs(elapsed - dt) < 0.0001 || elapsed > dt;
    }
  }
  book_overland_lake_exchange(ms, lakes, copy.in_dv.data(), copy.out_dv.data());

  const double outlet_volume = ov_explicit_step_end(
      ms, dt, ms.outlet_cell < 1 || ms.outlet_cell > n || lake_at(g, ms.outlet_cell) == 0);

  team_for(team_size(n), 1, n, [&](int c) {
    fx[c] *= dx;
    fy[c] *= dx;
    if (sums) {
      sum_x[c] /= dt;
      sum_y[c] /= dt;
    }
  });
  if (sums) ov.explicit_mean_ready = 1;
  return outlet_volume;
}
