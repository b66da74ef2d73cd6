// The implicit pipe-network solve, called once per step of the network by superlink_step:
// inlets take surface water, every superlink's momentum and continuity equations are swept into
// relations between its end flows and its junction heads, the heads are solved together, and the
// nodes follow. Each node's storage is the volume its half segments and manhole hold at its depth,
// and the end nodes' storage is booked with their junctions, so the network's volume changes by
// exactly what flows in and out.
#include "channel/pipe/superlink_solve.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <utility>
#include <vector>

#include "channel/channel_state.h"
#include "channel/pipe/pipe_sections.h"
#include "channel/pipe/superlink_state.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/solvers.h"

namespace {

constexpr double g = 9.81;
constexpr double film_depth = 0.0001;  // m: the least depth a node keeps
// Relative width of the slot that carries the head of a pipe running full.
constexpr double slot_width = 0.01;
// The linear solve is made once per step; its flows then move the water.
constexpr int iteration_limit = 1;

// Area and top width of segment (i, s) at depth y, a full pipe continued by its narrow slot.
void segment_section(const superlink_state& sl, int i, int s, double y, double& area, double& top) {
  const double D = sl.diameter[i][s];
  const double W = sl.width[i][s];
  const int type = sl.sec_type[i][s];
  double P = 0.0;
  if (y < D) {
    superlink_xsec_props(D, y, W, type, area, P, top);
    if (y < 0.0) area = top = 0.0;
    return;
  }
  superlink_xsec_props(D, D, W, type, area, P, top);
  top = slot_width * D;
  area += top * (y - D);
}

// Volume (m3) node i of superlink s holds at depth h: half of each adjacent segment at that
// depth and its manhole.
double node_volume(const superlink_state& sl, int i, int s, int N, double h) {
  double v = sl.As[i][s] * h;
  double area = 0.0, top = 0.0;
  if (i > 1) {
    segment_section(sl, i - 1, s, h, area, top);
    v += 0.5 * sl.dxc[i - 1][s] * area;
  }
  if (i <= N) {
    segment_section(sl, i, s, h, area, top);
    v += 0.5 * sl.dxc[i][s] * area;
  }
  return v;
}

// Plan area (m2) of node i's water surface at depth h.
double node_surface(const superlink_state& sl, int i, int s, int N, double h) {
  double w = sl.As[i][s];
  double area = 0.0, top = 0.0;
  if (i > 1) {
    segment_section(sl, i - 1, s, h, area, top);
    w += 0.5 * sl.dxc[i - 1][s] * top;
  }
  if (i <= N) {
    segment_section(sl, i, s, h, area, top);
    w += 0.5 * sl.dxc[i][s] * top;
  }
  return w;
}

// Storage per unit depth and time of node i at the present estimate h of its new depth: the
// tangent of its volume there (Newton's method on the node's volume).
double node_storage_rate(const superlink_state& sl, int i, int s, int N, double h, double dt) {
  return node_surface(sl, i, s, N, h) / dt;
}

// What node i has stored since the start of the step (m3/s over dt) at its present estimate h.
double node_stored_rate(const superlink_state& sl, int i, int s, int N, double h, double dt) {
  return (node_volume(sl, i, s, N, h) - node_volume(sl, i, s, N, sl.h_old[i][s])) / dt;
}

// The driving force of segment (i, s) in its momentum equation (m4/s2): gravity on the bed of
// `fall` metres less Manning friction on the flow `q`, both with the segment's section at
// depth y (a full pipe above D).
double segment_force(const superlink_state& sl, int i, int s, double y, double q, double fall) {
  const double D = sl.diameter[i][s];
  double A = 0.0, P = 0.0, T = 0.0;
  superlink_xsec_props(D, y < D ? (y > 0.0 ? y : 0.0) : D, sl.width[i][s], sl.sec_type[i][s], A, P,
                       T);
  const double R = P > 0.0 ? A / P : 0.0;
  const double n = sl.M_n[i][s];
  const double friction =
      A > 0.0 && R > 0.0 ? g * n * n * sl.dxc[i][s] / (A * std::pow(R, 4.0 / 3.0)) : 0.0;
  return g * A * fall - friction * std::fabs(q) * q;
}

// The node upwind of segment (i, s) for the step: the one whose water surface stood higher at
// its start (the upstream node i when level). The flow of the step runs from it.
int upwind_node(const superlink_state& sl, int i, int s) {
  return sl.h_old[i][s] + sl.slink_node_Zinv[i][s] >=
                 sl.h_old[i + 1][s] + sl.slink_node_Zinv[i + 1][s]
             ? i
             : i + 1;
}

// The depth (or head) at which `volume` of the increasing function holds `target`, at least
// `floor`: bisection between the floor and a bracket grown from the estimate. A target below
// the floor's volume gives the floor, and the water that adds goes to `made`.
template <class Volume>
double volume_depth(double target, double estimate, double floor, double& made, Volume volume) {
  const double at_floor = volume(floor);
  if (!(target > at_floor)) {
    made += at_floor - target;
    return floor;
  }
  double lo = floor;
  double hi = estimate > floor ? estimate : floor;
  double step = 0.1;
  for (int k = 0; k < 200 && volume(hi) < target; ++k) {
    lo = hi;
    hi += step;
    step *= 2.0;
  }
  for (int k = 0; k < 200 && hi - lo > 1e-14 * (1.0 + std::fabs(hi)); ++k) {
    const double mid = 0.5 * (lo + hi);
    if (volume(mid) < target)
      lo = mid;
    else
      hi = mid;
  }
  // The end of the bracket whose volume lies nearer the target.
  return std::fabs(volume(lo) - target) < std::fabs(volume(hi) - target) ? lo : hi;
}

// Flow (m3/s) through one grate inlet group at water depth d (m) on the cell: weir flow at
// shallow depths, orifice flow at deep ones, the smaller between (English units inside).
double grate_flow(double d, double side, double dia, int grates) {
  const double h = 3.28 * d;
  const double L = 3.0 * 3.28 * side;
  const double Ag = 0.785 * 10.764 * dia * dia;
  const double Qw = 3.0 * L * std::pow(h, 1.5);
  const double Qo = 0.67 * Ag * std::sqrt(64.4 * h);
  double q = Qw;
  if (h >= 1.0)
    q = Qo;
  else if (h > 0.4)
    q = Qw < Qo ? Qw : Qo;
  return 0.02832 * q * grates;
}

bool grate(int inlet) {
  return inlet >= 1 && inlet <= 9;
}

// What an inlet over `cell` takes from it in dt (m3/s), at most the water on the cell; the cell
// loses it.
double inlet_take(superlink_surface& surface, int cell, double side, double dia, int grates,
                  double dt) {
  if (cell < 1 || surface.ov_depth == nullptr) return 0.0;
  const double d = surface.ov_depth[cell];
  if (!(d > 1e-8)) return 0.0;
  double q = grate_flow(d, side, dia, grates);
  const double most = surface.cell_area * d / dt;
  if (q > most) q = most;
  surface.ov_depth[cell] -= q * dt / surface.cell_area;
  return q;
}

// The pattern of the junction system, the entry of every coefficient the step assembles, and
// the ordering and first factoring of the sparse solve. A stand-in matrix of the pattern,
// strictly dominant on its diagonal as the system of a draining network is, fixes the pivots
// on the diagonal; the steps refactor with them. False (message printed) when the memory cannot
// be had.
bool junction_system_setup(superlink_state& sl, int J, int L) {
  // The entries as (column, row), zero-based: every junction's own head, and for a junction that
  // is not a boundary the head at the other end of each of its superlinks.
  std::vector<std::pair<int, int>> entries;
  entries.reserve(static_cast<std::size_t>(J) + 4 * static_cast<std::size_t>(L));
  for (int j = 1; j <= J; ++j) entries.emplace_back(j - 1, j - 1);
  for (int s = 1; s <= L; ++s) {
    const int us = sl.us_sjunc[s], ds = sl.ds_sjunc[s];
    if (!sl.bound[us]) entries.emplace_back(ds - 1, us - 1);
    if (!sl.bound[ds]) entries.emplace_back(us - 1, ds - 1);
  }
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  const int count = static_cast<int>(entries.size());
  bool ok = allocate_reported(sl.jsys_start, J, "jsys_start") &&
            allocate_reported(sl.jsys_row, count, "jsys_row") &&
            allocate_reported(sl.jsys_value, count, "jsys_value") &&
            allocate_reported(sl.jsys_diag, J, "jsys_diag");
  for (raw_array1d<int>* a : {&sl.jsys_us_us, &sl.jsys_us_ds, &sl.jsys_ds_us, &sl.jsys_ds_ds})
    ok = ok && allocate_reported(*a, L, "jsys_entry");
  if (!ok) return false;
  sl.jsys_entries = count;
  int* start = sl.jsys_start.data();
  for (int j = 0; j <= J; ++j) start[j] = 0;
  for (int k = 0; k < count; ++k) {
    ++start[entries[k].first + 1];
    sl.jsys_row[k] = entries[k].second;
  }
  for (int j = 1; j <= J; ++j) start[j] += start[j - 1];
  // Entry of (row, col), one-based junctions; -1 when the pattern has none.
  auto entry = [&](int row, int col) {
    for (int k = start[col - 1]; k < start[col]; ++k)
      if (sl.jsys_row[k] == row - 1) return k;
    return -1;
  };
  for (int j = 1; j <= J; ++j) sl.jsys_diag[j] = entry(j, j);
  for (int s = 1; s <= L; ++s) {
    const int us = sl.us_sjunc[s], ds = sl.ds_sjunc[s];
    sl.jsys_us_us[s] = sl.bound[us] ? -1 : entry(us, us);
    sl.jsys_us_ds[s] = sl.bound[us] ? -1 : entry(us, ds);
    sl.jsys_ds_us[s] = sl.bound[ds] ? -1 : entry(ds, us);
    sl.jsys_ds_ds[s] = sl.bound[ds] ? -1 : entry(ds, ds);
  }
  // The stand-in: -1 off the diagonal, and on it one more than all the other entries of its row
  // and column together.
  double* value = sl.jsys_value.data();
  for (int k = 0; k < count; ++k) value[k] = -1.0;
  for (int j = 1; j <= J; ++j) value[sl.jsys_diag[j]] = 1.0;
  for (int k = 0; k < count; ++k)
    if (entries[k].first != entries[k].second) {
      value[sl.jsys_diag[entries[k].first + 1]] += 1.0;
      value[sl.jsys_diag[entries[k].second + 1]] += 1.0;
    }
  if (!sl.junction_lu.analyse(J, start, sl.jsys_row.data(), value)) {
    raw_report_alloc_failure("junction_system");
    return false;
  }
  return true;
}

}  // namespace

bool superlink_solve_init(superlink_state& sl, const channel_state& ch) {
  const int J = ch.superlink_junction_count;
  const int L = ch.superlink_count;
  const int rows = sl.node_rows;
  bool ok = true;
  for (auto [a, name] : {std::pair{&sl.Q, "Q"},
                         {&sl.A, "A"},
                         {&sl.hyd_R, "hyd_R"},
                         {&sl.top_width, "top_width"},
                         {&sl.n_veloc, "n_veloc"},
                         {&sl.h_old, "h_old"},
                         {&sl.E, "E"},
                         {&sl.D, "D"},
                         {&sl.a, "a"},
                         {&sl.b, "b"},
                         {&sl.c, "c"},
                         {&sl.P, "P"},
                         {&sl.gA_u, "gA_u"},
                         {&sl.gA_d, "gA_d"},
                         {&sl.T, "T"},
                         {&sl.U, "U"},
                         {&sl.V, "V"},
                         {&sl.W, "W"},
                         {&sl.O, "O"},
                         {&sl.X, "X"},
                         {&sl.Y, "Y"},
                         {&sl.Z, "Z"}})
    ok = ok && allocate_reported(*a, rows, L, name);
  for (auto [a, name] : {std::pair{&sl.gamma_u, "gamma_u"},
                         {&sl.kappa_u, "kappa_u"},
                         {&sl.lambda_u, "lambda_u"},
                         {&sl.gamma_d, "gamma_d"},
                         {&sl.kappa_d, "kappa_d"},
                         {&sl.lambda_d, "lambda_d"},
                         {&sl.alpha_u, "alpha_u"},
                         {&sl.beta_u, "beta_u"},
                         {&sl.chi_u, "chi_u"},
                         {&sl.alpha_d, "alpha_d"},
                         {&sl.beta_d, "beta_d"},
                         {&sl.chi_d, "chi_d"}})
    ok = ok && allocate_reported(*a, L, name);
  ok = ok && allocate_reported(sl.H_old, J, "H_old") && allocate_reported(sl.rhs, J, "rhs") &&
       allocate_reported(sl.H_new, J, "H_new");
  ok = ok && allocate_reported(sl.junc_first, J + 1, "junc_first") &&
       allocate_reported(sl.junc_links, 2 * L, "junc_links");
  if (!ok) return false;
  // The superlinks at each junction, in order: +s where s starts, -s where it ends.
  int next = 1;
  for (int j = 1; j <= J; ++j) {
    sl.junc_first[j] = next;
    for (int s = 1; s <= L; ++s) {
      if (sl.us_sjunc[s] == j) sl.junc_links[next++] = s;
      if (sl.ds_sjunc[s] == j) sl.junc_links[next++] = -s;
    }
  }
  sl.junc_first[J + 1] = next;
  if (!junction_system_setup(sl, J, L)) return false;
  for (int j = 1; j <= J; ++j) sl.sjunc_head[j] = sl.junc_bottom[j];
  for (int s = 1; s <= L; ++s)
    for (int i = 1; i <= sl.num_nodes[s] + 1; ++i) sl.slink_node_depth[i][s] = film_depth;
  sl.call_count = 0;
  sl.allocated = 1;
  sl.storage = sl.init_storage = superlink_stored_volume(sl, ch);
  return true;
}

double superlink_stored_volume(const superlink_state& sl, const channel_state& ch) {
  double v = 0.0;
  for (int s = 1; s <= ch.superlink_count; ++s) {
    const int N = sl.num_nodes[s];
    for (int i = 1; i <= N + 1; ++i) v += node_volume(sl, i, s, N, sl.slink_node_depth[i][s]);
  }
  for (int j = 1; j <= ch.superlink_junction_count; ++j)
    if (!sl.bound[j]) v += sl.As_sjunc[j] * (sl.sjunc_head[j] - sl.junc_bottom[j]);
  return v;
}

int superlink_solve(superlink_state& sl, const channel_state& ch, superlink_surface& surface,
                    double dt, double& spilled_volume) {
  const int J = ch.superlink_junction_count;
  const int L = ch.superlink_count;
  spilled_volume = 0.0;
  sl.call_inflow = sl.call_outflow = sl.call_tile_inflow = 0.0;
  sl.lost_flag = sl.outlet_flag = 0;
  if (!(dt > 0.0)) return 0;
  const double storage_before = superlink_stored_volume(sl, ch);
  double clip = 0.0;

  // Surface water through the junctions' grates, or spilled back from a head above the ground.
  for (int j = 1; j <= J; ++j) {
    const int inlet = ch.inlet_type[0][j];
    if (inlet < 888) sl.Q_junc[j] = 0.0;
    if (!grate(inlet)) continue;
    const int cell = ch.superlink_junc_gnum.empty() ? 0 : ch.superlink_junc_gnum[j];
    if (surface.high_head_release && sl.sjunc_head[j] > sl.ground_elev[j] && cell >= 1) {
      const double volume = (sl.sjunc_head[j] - sl.ground_elev[j]) * sl.As_sjunc[j];
      sl.Q_junc[j] = -volume / dt;
      surface.ov_depth[cell] += volume / surface.cell_area;
      spilled_volume += volume;
      continue;
    }
    sl.Q_junc[j] =
        inlet_take(surface, cell, sl.grate_sidelength_sjunc[j], sl.grate_dia_sjunc[j], inlet, dt);
    sl.call_inflow += sl.Q_junc[j] * dt;
  }
  // Tile inflow enters at each superlink's upstream junction, also one that spills above the
  // ground: the aquifer has given the water up, and the spill sends the excess to the surface.
  if (ch.superlink_leaky && !ch.superlink_tile_flow.empty()) {
    for (int s = 1; s <= L; ++s) {
      const int us = sl.us_sjunc[s];
      for (int k = 1; k <= sl.nnodes[s] && k <= ch.superlink_tile_flow.row_count(); ++k) {
        sl.Q_junc[us] += ch.superlink_tile_flow[k][s];
        sl.call_inflow += ch.superlink_tile_flow[k][s] * dt;
        sl.call_tile_inflow += ch.superlink_tile_flow[k][s] * dt;
      }
    }
  }
  // Interior nodes with grates take the water that flows over them.
  for (int s = 1; s <= L; ++s) {
    const int N = sl.num_nodes[s];
    for (int i = 1; i <= N + 1; ++i) sl.Q_node[i][s] = 0.0;
    for (int i = 2; i <= N; ++i) {
      const int inlet = ch.inlet_type[i][s];
      if (!grate(inlet) || ch.superlink_node_gnum.empty()) continue;
      const int cell = ch.superlink_node_gnum[i][s];
      if (cell < 1 || surface.flow_magnitude == nullptr || !(surface.flow_magnitude[cell] > 0.0))
        continue;
      const double head = sl.slink_node_depth[i][s] + sl.slink_node_Zinv[i][s];
      if (surface.high_head_release && head > sl.node_ground_elev[i][s]) {
        const double volume = (head - sl.node_ground_elev[i][s]) * sl.As[i][s];
        sl.Q_node[i][s] = -volume / dt;
        surface.ov_depth[cell] += volume / surface.cell_area;
        spilled_volume += volume;
        continue;
      }
      sl.Q_node[i][s] = inlet_take(surface, cell, sl.grate_sidelength_node[i][s],
                                   sl.grate_dia_node[i][s], inlet, dt);
      sl.call_inflow += sl.Q_node[i][s] * dt;
    }
  }

  // Segment properties and momentum coefficients, linearised on the state at the start of
  // the step; end conditions from the flows of the last step.
  for (int j = 1; j <= J; ++j) sl.H_old[j] = sl.sjunc_head[j];
  for (int s = 1; s <= L; ++s) {
    const int N = sl.num_nodes[s];
    for (int i = 1; i <= N + 1; ++i) sl.h_old[i][s] = sl.slink_node_depth[i][s];
    // A segment takes its section at the depth of its upwind node (the higher water surface).
    // With the mean of its two nodes' depths the flow its gravity and friction carry would
    // follow both of them, a centred difference of the kinematic wave whose errors alternate
    // from node to node and grow from step to step on steep pipes (a bed fall over a segment
    // above about twice the hydraulic depth).
    for (int i = 1; i <= N; ++i) {
      const double D = sl.diameter[i][s];
      const double y = sl.h_old[upwind_node(sl, i, s)][s];
      double A = 0.0, P = 0.0, T = 0.0;
      superlink_xsec_props(D, y < D ? y : D, sl.width[i][s], sl.sec_type[i][s], A, P, T);
      if (y >= D) T = slot_width * D;
      sl.A[i][s] = A;
      sl.top_width[i][s] = T;
      sl.hyd_R[i][s] = P > 0.0 ? A / P : 0.0;
    }
    // Node velocities: the mean flow of the node's segments over the section at its depth.
    for (int i = 1; i <= N + 1; ++i) {
      const int left = i > 1 ? i - 1 : 1;
      const int right = i <= N ? i : N;
      const double q = 0.5 * (sl.Q[left][s] + sl.Q[right][s]);
      double area = 0.0, top = 0.0;
      segment_section(sl, right, s, sl.h_old[i][s], area, top);
      sl.n_veloc[i][s] = area > 0.0 ? q / area : 0.0;
    }
    for (int i = 1; i <= N; ++i) {
      const double dx = sl.dxc[i][s];
      const double A = sl.A[i][s];
      const double R = sl.hyd_R[i][s];
      const double Qo = sl.Q[i][s];
      const double n = sl.M_n[i][s];
      const double ui = sl.n_veloc[i][s], uj = sl.n_veloc[i + 1][s];
      sl.a[i][s] = ui > 0.0 ? -ui : 0.0;
      sl.c[i][s] = uj < 0.0 ? uj : 0.0;
      // Manning friction linearised on the last flow by Newton's method (n^2 Q|Q| as
      // 2 |Qo| Q - Qo |Qo|), which settles where a friction taken as |Qo| Q swings about the
      // steady flow; no loss of velocity head inside a pipe.
      const double friction =
          A > 0.0 && R > 0.0 ? g * n * n * std::fabs(Qo) * dx / (A * std::pow(R, 4.0 / 3.0)) : 0.0;
      sl.b[i][s] = dx / dt + 2.0 * friction - sl.a[i][s] - sl.c[i][s];
      // The bed slope of the segment is the fall of its inverts.
      const double fall = sl.slink_node_Zinv[i][s] - sl.slink_node_Zinv[i + 1][s];
      sl.P[i][s] = Qo * dx / dt + friction * Qo + g * A * fall;
      // Gravity less friction follow the upwind node's new depth by Newton's method too (their
      // change with depth at its old depth, by a difference over 2e-6 of the diameter): taken at
      // the old depth they would move the water explicitly, unstable once the flow's kinematic
      // wave crosses a segment in less than a step, as it does on steep pipes.
      const int up = upwind_node(sl, i, s);
      const bool down = up == i;
      const double y0 = sl.h_old[up][s];
      const double step = 1e-6 * sl.diameter[i][s];
      const double lo = y0 > step ? y0 - step : 0.0;
      double slope_h =
          (segment_force(sl, i, s, y0 + step, Qo, fall) - segment_force(sl, i, s, lo, Qo, fall)) /
          (y0 + step - lo);
      // Only a change that drives more flow away from the upwind node as it deepens is kept.
      if (down ? slope_h < 0.0 : slope_h > 0.0) slope_h = 0.0;
      sl.P[i][s] -= slope_h * y0;
      sl.gA_u[i][s] = g * A + (down ? slope_h : 0.0);
      sl.gA_d[i][s] = g * A - (down ? 0.0 : slope_h);
    }
    // Each end's depth follows its junction's head, or at a free outfall the flow's critical
    // (or, when smaller, normal) depth.
    auto end = [&](int seg, int node, double q, bool leaving, double invert, double head,
                   double& gamma, double& kappa, double& lambda) {
      const double D = sl.diameter[seg][s], W = sl.width[seg][s];
      const int type = sl.sec_type[seg][s];
      double yc = 0.0, yn = D;
      superlink_crit_calc(type, D, W, std::fabs(q), yc);
      const double slope =
          std::fabs((sl.slink_node_Zinv[seg][s] - sl.slink_node_Zinv[seg + 1][s]) / sl.dxc[seg][s]);
      superlink_norm_calc(type, D, W, sl.M_n[seg][s], std::fabs(q), slope, yn);
      if (leaving && yc > head - invert) {
        gamma = 0.0;
        lambda = 0.0;
        kappa = std::fabs(q) < 1e-11 ? 0.0 : (yc < yn ? yc : yn) / q;
        return;
      }
      gamma = 1.0;
      lambda = -invert;
      kappa = 0.0;
      if (node != 1) {
        double area = 0.0, top = 0.0;
        segment_section(sl, seg, s, sl.h_old[node][s], area, top);
        const double denominator = 2.0 * g * area * area;
        kappa = std::fabs(denominator) > 1e-9 ? std::fabs(q) / denominator : 0.0;
      }
    };
    end(1, 1, sl.Q[1][s], sl.Q[1][s] < 0.0, sl.us_Zinv[s], sl.H_old[sl.us_sjunc[s]], sl.gamma_u[s],
        sl.kappa_u[s], sl.lambda_u[s]);
    end(N, N + 1, sl.Q[N][s], sl.Q[N][s] > 0.0, sl.ds_Zinv[s], sl.H_old[sl.ds_sjunc[s]],
        sl.gamma_d[s], sl.kappa_d[s], sl.lambda_d[s]);
  }

  // The equations are linear in the new depths with each node's storage per unit depth taken
  // at its old depth; the flows they give then move the water (below).
  for (int s = 1; s <= L; ++s)
    for (int i = 1; i <= sl.num_nodes[s] + 1; ++i) sl.slink_node_depth[i][s] = sl.h_old[i][s];
  double* rhs = sl.rhs.data();
  for (int iteration = 1; iteration <= iteration_limit; ++iteration) {
    for (int s = 1; s <= L; ++s) {
      const int N = sl.num_nodes[s];
      for (int i = 1; i <= N + 1; ++i) {
        const double h = sl.slink_node_depth[i][s];
        sl.E[i][s] = node_storage_rate(sl, i, s, N, h, dt);
        sl.D[i][s] = sl.E[i][s] * h - node_stored_rate(sl, i, s, N, h, dt) + sl.Q_node[i][s];
      }
      // Segment i's momentum with its neighbours' flows taken from the continuity of nodes i
      // and i + 1: (a + b + c) Q(i) = P + (gA_u - a E(i)) h(i) - (gA_d - c E(i+1)) h(i+1)
      // + a D(i) - c D(i+1).
      // Forward sweep: Q(i) = U(i) h(i+1) + V(i) + W(i) h(1).
      for (int i = 1; i <= N; ++i) {
        const double a = sl.a[i][s], b = sl.b[i][s], c = sl.c[i][s];
        const double gAu = sl.gA_u[i][s], gAd = sl.gA_d[i][s];
        const double Pi = sl.P[i][s];
        // Beyond the last segment the flow is the segment's own: its upwind term drops out.
        const double c_next = i == N ? 0.0 : c;
        const double E1 = sl.E[i + 1][s], D1 = sl.D[i + 1][s];
        if (i == 1) {
          const double T = a + b + c;
          sl.T[i][s] = T;
          sl.U[i][s] = (E1 * c_next - gAd) / T;
          sl.V[i][s] = (Pi - D1 * c_next) / T;
          sl.W[i][s] = gAu / T;
        } else {
          const double Ei = sl.E[i][s], Di = sl.D[i][s];
          const double k = (gAu - Ei * a) / (sl.U[i - 1][s] - Ei);
          const double T = a + b + c - k;
          sl.T[i][s] = T;
          sl.U[i][s] = (E1 * c_next - gAd) / T;
          sl.V[i][s] = (Di * a + Pi - D1 * c_next - k * (Di + sl.V[i - 1][s])) / T;
          sl.W[i][s] = -k * sl.W[i - 1][s] / T;
        }
      }
      // Backward sweep: Q(i) = X(i) h(i) + Y(i) + Z(i) h(N+1).
      for (int i = N; i >= 1; --i) {
        const double a = sl.a[i][s], b = sl.b[i][s], c = sl.c[i][s];
        const double gAu = sl.gA_u[i][s], gAd = sl.gA_d[i][s];
        const double Pi = sl.P[i][s];
        // Before the first segment the flow is the segment's own: its upwind term drops out.
        const double a_prev = i == 1 ? 0.0 : a;
        const double Ei = sl.E[i][s], Di = sl.D[i][s];
        if (i == N) {
          const double O = a + b + c;
          sl.O[i][s] = O;
          sl.X[i][s] = (gAu - Ei * a_prev) / O;
          sl.Y[i][s] = (Di * a_prev + Pi) / O;
          sl.Z[i][s] = -gAd / O;
        } else {
          const double E1 = sl.E[i + 1][s], D1 = sl.D[i + 1][s];
          const double m = (gAd - E1 * c) / (E1 + sl.X[i + 1][s]);
          const double O = a + b + c + m;
          sl.O[i][s] = O;
          sl.X[i][s] = (gAu - Ei * a_prev) / O;
          sl.Y[i][s] = (Di * a_prev + Pi - D1 * c - m * (D1 - sl.Y[i + 1][s])) / O;
          sl.Z[i][s] = m * sl.Z[i + 1][s] / O;
        }
      }
      // The two end flows in the heads of the superlink's junctions, from the sweeps and the
      // end relations h(1) = gu Hu + ku Q1 + lu, h(N+1) = gd Hd + kd QN + ld.
      const double X1 = sl.X[1][s], Y1 = sl.Y[1][s], Z1 = sl.Z[1][s];
      const double UN = sl.U[N][s], VN = sl.V[N][s], WN = sl.W[N][s];
      const double gu = sl.gamma_u[s], ku = sl.kappa_u[s], lu = sl.lambda_u[s];
      const double gd = sl.gamma_d[s], kd = sl.kappa_d[s], ld = sl.lambda_d[s];
      const double delta = (1.0 - X1 * ku) * (1.0 - UN * kd) - Z1 * kd * WN * ku;
      // r1 = X1 gu Hu + Z1 gd Hd + (X1 lu + Y1 + Z1 ld); r2 = WN gu Hu + UN gd Hd + (...).
      const double r1u = X1 * gu, r1d = Z1 * gd, r1c = X1 * lu + Y1 + Z1 * ld;
      const double r2u = WN * gu, r2d = UN * gd, r2c = WN * lu + VN + UN * ld;
      const double p1 = (1.0 - UN * kd) / delta, q1 = Z1 * kd / delta;
      const double p2 = (1.0 - X1 * ku) / delta, q2 = WN * ku / delta;
      double au = p1 * r1u + q1 * r2u, bu = p1 * r1d + q1 * r2d, cu = p1 * r1c + q1 * r2c;
      double ad = p2 * r2u + q2 * r1u, bd = p2 * r2d + q2 * r1d, cd = p2 * r2c + q2 * r1c;
      sl.alpha_u[s] = au, sl.beta_u[s] = bu, sl.chi_u[s] = cu;
      sl.alpha_d[s] = ad, sl.beta_d[s] = bd, sl.chi_d[s] = cd;
    }

    // The junction system: each junction's storage change is what its superlinks and inlets
    // bring; a superlink draws from its upstream junction its first flow plus what its first
    // node stores, and gives its downstream junction its last flow less what its last node
    // stores. A boundary junction holds its bottom as its head.
    double* value = sl.jsys_value.data();
    for (int k = 0; k < sl.jsys_entries; ++k) value[k] = 0.0;
    for (int i = 1; i <= J; ++i) {
      if (sl.bound[i]) {
        value[sl.jsys_diag[i]] = 1.0;
        rhs[i] = sl.junc_bottom[i];
      } else {
        value[sl.jsys_diag[i]] = sl.As_sjunc[i] / dt;
        rhs[i] = sl.As_sjunc[i] / dt * sl.H_old[i] + sl.Q_junc[i];
      }
    }
    for (int s = 1; s <= L; ++s) {
      const int N = sl.num_nodes[s];
      const int us = sl.us_sjunc[s], ds = sl.ds_sjunc[s];
      const double E1 = sl.E[1][s], EN = sl.E[N + 1][s];
      const double fu = 1.0 + E1 * sl.kappa_u[s];
      const double au = fu * sl.alpha_u[s] + E1 * sl.gamma_u[s];
      const double bu = fu * sl.beta_u[s];
      const double h1 = sl.slink_node_depth[1][s], hN = sl.slink_node_depth[N + 1][s];
      const double cu =
          fu * sl.chi_u[s] + E1 * (sl.lambda_u[s] - h1) + node_stored_rate(sl, 1, s, N, h1, dt);
      const double fd = 1.0 - EN * sl.kappa_d[s];
      const double ad = fd * sl.alpha_d[s];
      const double bd = fd * sl.beta_d[s] - EN * sl.gamma_d[s];
      const double cd =
          fd * sl.chi_d[s] - EN * (sl.lambda_d[s] - hN) - node_stored_rate(sl, N + 1, s, N, hN, dt);
      if (!sl.bound[us]) {
        value[sl.jsys_us_us[s]] += au;
        value[sl.jsys_us_ds[s]] += bu;
        rhs[us] -= cu;
      }
      if (!sl.bound[ds]) {
        value[sl.jsys_ds_us[s]] -= ad;
        value[sl.jsys_ds_ds[s]] -= bd;
        rhs[ds] += cd;
      }
    }
    if (sl.junction_lu.factor(value) != 0) {
      raise_error(err_superlink_update_failed);
      return -1;
    }
    double* H_new = sl.H_new.data();
    for (int j = 1; j <= J; ++j) H_new[j] = rhs[j];
    sl.junction_lu.solve(H_new + 1);

    // Back-substitution: end flows and end depths, then the interior from the sweeps.
    double moved = 0.0;
    for (int j = 1; j <= J; ++j) {
      moved = std::fmax(moved, std::fabs(H_new[j] - sl.sjunc_head[j]));
      sl.sjunc_head[j] = H_new[j];
    }
    for (int s = 1; s <= L; ++s) {
      const int N = sl.num_nodes[s];
      const double Hu = sl.sjunc_head[sl.us_sjunc[s]], Hd = sl.sjunc_head[sl.ds_sjunc[s]];
      const double Q1 = sl.alpha_u[s] * Hu + sl.beta_u[s] * Hd + sl.chi_u[s];
      const double QN = sl.alpha_d[s] * Hu + sl.beta_d[s] * Hd + sl.chi_d[s];
      const double h1 = sl.gamma_u[s] * Hu + sl.kappa_u[s] * Q1 + sl.lambda_u[s];
      const double hN = sl.gamma_d[s] * Hd + sl.kappa_d[s] * QN + sl.lambda_d[s];
      auto set_depth = [&](int i, double value) {
        moved = std::fmax(moved, std::fabs(value - sl.slink_node_depth[i][s]));
        sl.slink_node_depth[i][s] = value;
      };
      set_depth(1, h1);
      set_depth(N + 1, hN);
      sl.Q[1][s] = Q1;
      sl.Q[N][s] = QN;
      // Each interior depth from the continuity of its node and the forward relation of the
      // segment above it, Q(i-1) = Q(i) + E(i) h(i) - D(i) = U(i-1) h(i) + V(i-1) + W(i-1) h(1):
      // E(i) - U(i-1) is at least E(i), where the backward relation's X(i) vanishes on a segment
      // whose friction all but stops its flow (a dry upwind node).
      for (int i = N; i >= 2; --i) {
        const double h = (sl.V[i - 1][s] + sl.W[i - 1][s] * h1 + sl.D[i][s] - sl.Q[i][s]) /
                         (sl.E[i][s] - sl.U[i - 1][s]);
        set_depth(i, h);
        if (i > 2) sl.Q[i - 1][s] = sl.Q[i][s] + sl.E[i][s] * h - sl.D[i][s];
      }
    }
    (void)moved;
    // How well the solved depths and flows keep the continuity of the interior nodes and the
    // linearised momentum of every segment (its residual over a + b + c, a flow), the flows
    // beyond the superlink's ends being its end segments' own.
    sl.sweep_residual = 0.0;
    for (int s = 1; s <= L; ++s) {
      const int N = sl.num_nodes[s];
      for (int i = 2; i <= N; ++i)
        sl.sweep_residual =
            std::fmax(sl.sweep_residual, std::fabs(sl.E[i][s] * sl.slink_node_depth[i][s] -
                                                   sl.D[i][s] - sl.Q[i - 1][s] + sl.Q[i][s]));
      for (int i = 1; i <= N; ++i) {
        const double a = sl.a[i][s], b = sl.b[i][s], c = sl.c[i][s];
        const double before = sl.Q[i > 1 ? i - 1 : 1][s], after = sl.Q[i < N ? i + 1 : N][s];
        const double momentum = a * before + b * sl.Q[i][s] + c * after - sl.P[i][s] -
                                sl.gA_u[i][s] * sl.slink_node_depth[i][s] +
                                sl.gA_d[i][s] * sl.slink_node_depth[i + 1][s];
        sl.sweep_residual = std::fmax(sl.sweep_residual, std::fabs(momentum) / (a + b + c));
      }
    }
  }

  // The water moves with the solved flows: every interior node's volume changes by exactly
  // what flows into it, and every junction's water with its superlinks' end nodes by what its
  // inlets and superlinks bring, the end depths following the junction's head by their end
  // relations. Depths and heads are the ones that hold those volumes; a store that would fall
  // below its floor (the 0.1 mm film, a junction's bottom) is held there and the water that adds
  // is counted.
  for (int s = 1; s <= L; ++s) {
    const int N = sl.num_nodes[s];
    for (int i = 2; i <= N; ++i) {
      const double target = node_volume(sl, i, s, N, sl.h_old[i][s]) +
                            dt * (sl.Q[i - 1][s] - sl.Q[i][s] + sl.Q_node[i][s]);
      sl.slink_node_depth[i][s] =
          volume_depth(target, sl.slink_node_depth[i][s], film_depth, clip,
                       [&](double h) { return node_volume(sl, i, s, N, h); });
    }
  }
  for (int j = 1; j <= J; ++j) {
    double target = 0.0;
    if (!sl.bound[j]) {
      target = sl.As_sjunc[j] * (sl.H_old[j] - sl.junc_bottom[j]) + dt * sl.Q_junc[j];
      for (int k = sl.junc_first[j]; k < sl.junc_first[j + 1]; ++k) {
        const int s = sl.junc_links[k] > 0 ? sl.junc_links[k] : -sl.junc_links[k];
        const int N = sl.num_nodes[s];
        const bool starts = sl.junc_links[k] > 0;
        const int node = starts ? 1 : N + 1;
        target += node_volume(sl, node, s, N, sl.h_old[node][s]) +
                  dt * (starts ? -sl.Q[1][s] : sl.Q[N][s]);
      }
    }
    auto end_depth = [&](int s, bool starts, double H) {
      const int N = sl.num_nodes[s];
      const double h = starts ? sl.gamma_u[s] * H + sl.kappa_u[s] * sl.Q[1][s] + sl.lambda_u[s]
                              : sl.gamma_d[s] * H + sl.kappa_d[s] * sl.Q[N][s] + sl.lambda_d[s];
      return h > film_depth ? h : film_depth;
    };
    auto group_volume = [&](double H) {
      double v = sl.As_sjunc[j] * (H - sl.junc_bottom[j]);
      for (int k = sl.junc_first[j]; k < sl.junc_first[j + 1]; ++k) {
        const int s = sl.junc_links[k] > 0 ? sl.junc_links[k] : -sl.junc_links[k];
        const int N = sl.num_nodes[s];
        const bool starts = sl.junc_links[k] > 0;
        v += node_volume(sl, starts ? 1 : N + 1, s, N, end_depth(s, starts, H));
      }
      return v;
    };
    if (!sl.bound[j])
      sl.sjunc_head[j] =
          volume_depth(target, sl.sjunc_head[j], sl.junc_bottom[j], clip, group_volume);
    for (int k = sl.junc_first[j]; k < sl.junc_first[j + 1]; ++k) {
      const int s = sl.junc_links[k] > 0 ? sl.junc_links[k] : -sl.junc_links[k];
      const bool starts = sl.junc_links[k] > 0;
      const int N = sl.num_nodes[s];
      sl.slink_node_depth[starts ? 1 : N + 1][s] = end_depth(s, starts, sl.sjunc_head[j]);
    }
  }

  // Outflow through the boundary junctions: a channel outlet passes it to its channel node,
  // any other boundary lets it leave the system.
  for (int s = 1; s <= L; ++s) {
    const int N = sl.num_nodes[s];
    const int us = sl.us_sjunc[s], ds = sl.ds_sjunc[s];
    const double into_ds =
        sl.Q[N][s] - node_stored_rate(sl, N + 1, s, N, sl.slink_node_depth[N + 1][s], dt);
    const double from_us =
        sl.Q[1][s] + node_stored_rate(sl, 1, s, N, sl.slink_node_depth[1][s], dt);
    auto book = [&](int j, double volume, double q) {
      sl.call_outflow += volume;
      if (ch.inlet_type[0][j] == 999) {
        sl.superlink_chan_outflow[j] += volume;
        if (q > 1e-8) sl.outlet_flag = 1;
      } else {
        sl.superlink_lost_outflow[j] += volume;
        if (std::fabs(q) > 1e-8) sl.lost_flag = 1;
      }
    };
    if (sl.bound[ds]) book(ds, into_ds * dt, sl.Q[N][s]);
    if (sl.bound[us]) book(us, -from_us * dt, -sl.Q[1][s]);
  }

  sl.clip_volume += clip;
  sl.storage = superlink_stored_volume(sl, ch);
  sl.call_balance_error =
      sl.storage - storage_before - (sl.call_inflow - spilled_volume - sl.call_outflow + clip);
  return 0;
}
