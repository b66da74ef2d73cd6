// ADE face sweeps and depth update, called by the ADE routing once per sweep. Each cell owns
// the discharge of its right and its lower face; the depth update gathers each cell's change
// from its own face and its upstream neighbour's, so no worker writes another's cell and the
// result is the same on any thread count.
#include "overland/ade_flux.h"

#include <cmath>

#include "framework/core/lane_math.h"
#include "framework/core/process_info.h"
#include "overland/face_law.h"

namespace {

constexpr double shortest_sub = 0.001;  // s: below this any negative depth fails the sweep

double sign_of(double s) {
  return s > 0.0 ? 1.0 : -1.0;
}

// The face law's discharge of a flow depth d (m) over a face of width dx under slope s:
// Manning's dx d^(5/3) sqrt|S| / n above the threshold slope, linear in S below it; the power
// d^(5/3) taken as d^(2/3) d.
double manning(double s, double d, double dx, double n) {
  return sign_of(s) * dx * lane_pow_two_thirds(d) * d * std::fabs(ov_slope_term(s)) / n;
}

// The largest discharge (m3/s) per metre of water-surface difference that moves no more than
// the surface share of the difference over the step: share dx^2 / step; 0 without a step.
double share_per_metre(const ade_grid_view& g) {
  return g.step > 0.0 ? ov_surface_share * (g.dx * g.dx) / g.step : 0.0;
}

// Discharge q across a face whose water-surface difference is `drop` (m), held to the surface
// share over the step (k = share_per_metre, 0: not held); sets ade_face_cut in `cut` when the
// cut shaped a difference above ov_cap_failing_difference.
inline double held(double q, double drop, double k, int& cut) {
  if (k <= 0.0) return q;
  const double limit = std::fabs(drop) * k;
  if (!(std::fabs(q) > limit)) return q;
  if (std::fabs(drop) > ov_cap_failing_difference) cut |= ade_face_cut;
  return std::copysign(limit, q);
}

// The plain law from upstream cell u: nothing while u's depth does not exceed its retention.
double plain_from(const ade_grid_view& g, const double* h, int u, double s) {
  if (g.retention[u] >= h[u]) return 0.0;
  return manning(s, h[u] - g.retention[u], g.dx, g.roughness[u]);
}

// The wetland record of cell c, or none.
const wetland_record* wetland_of(const ade_grid_view& g, int c) {
  if (g.wetland == nullptr) return nullptr;
  const int w = g.wetland[c];
  return w >= 1 && w <= g.wetland_count ? &g.wetlands[w] : nullptr;
}

// The wetland law above the vegetated layer: a linear law blended into Manning's over the
// transition depth; with_layer adds the flow through the full vegetated layer.
double wetland_above_layer(const wetland_record& w, double s, double depth, double dx,
                           bool with_layer) {
  const double layer = w.slot[1];       // m: depth of the vegetated layer
  const double layer_k = w.slot[2];     // 1/s: conductance of the vegetated layer
  const double transition = w.slot[3];  // m: transition depth above the layer
  const double upper_k = w.slot[4];     // 1/s: conductance above the layer
  const double n = w.slot[6];           // Manning n of the wetland
  const double above = depth - layer;
  const double through_layer = with_layer ? s * layer * layer_k * dx : 0.0;
  const double man = manning(s, above, dx, n);
  if (above >= transition) return through_layer + man;
  const double share = above / transition;
  return through_layer + share * man + (1.0 - share) * s * above * upper_k * dx;
}

// The discharge from i to j under the water-surface slope s (not 0), wetlands taken into
// account when the sweep has them.
double discharge_for_slope(const ade_grid_view& g, const double* h, int i, int j, double s) {
  const wetland_record* wi = wetland_of(g, i);
  const wetland_record* wj = wetland_of(g, j);
  if (wi == nullptr && wj == nullptr) return plain_from(g, h, s > 0.0 ? i : j, s);
  if (s > 0.0) {
    if (wi == nullptr) return plain_from(g, h, i, s);
    // Water within the wetland's own vegetated layer seeps through it at the cell's own
    // conductance, whatever the neighbour.
    if (h[i] <= wi->slot[1]) return s * h[i] * wi->slot[2] * g.dx;
    return wetland_above_layer(*wi, s, h[i], g.dx, true);
  }
  if (wj == nullptr) return plain_from(g, h, j, s);
  if (h[j] <= wj->slot[1]) return wi != nullptr ? s * h[j] * wj->slot[2] * g.dx : 0.0;
  return wetland_above_layer(*wj, s, h[j], g.dx, wi != nullptr);
}

// Lake number of cell c, 0 outside lakes.
int lake_at(const ade_grid_view& g, int c) {
  const int l = g.lake_of_cell[c];
  return l >= 1 && l <= g.lake_count ? l : 0;
}

double lake_face_discharge(const ade_grid_view& g, const double* h, int i, int j, double previous,
                           int& cut) {
  const int li = lake_at(g, i), lj = lake_at(g, j);
  const double k = share_per_metre(g);
  if (li == 0 && lj == 0) {
    const double drop = (h[i] + g.elev[i]) - (h[j] + g.elev[j]);
    const double s = drop / g.dx;
    return s == 0.0 ? 0.0 : held(discharge_for_slope(g, h, i, j, s), drop, k, cut);
  }
  if (li != 0 && lj != 0) return previous;
  const double wi = li != 0 ? g.lake_surface[li] : h[i] + g.elev[i];
  const double wj = lj != 0 ? g.lake_surface[lj] : h[j] + g.elev[j];
  const double drop = wi - wj;
  const double s = drop / g.dx;
  if (s == 0.0) return 0.0;
  const int u = s > 0.0 ? i : j;
  const int lu = s > 0.0 ? li : lj;
  if (lu != 0 && g.lakes == ade_lake_kind::channel) {
    // A channel lake spills over its shore: the lake's water above the shore cell's bed flows
    // over that cell with its roughness, with no retention. (The lake's own depth over its cell
    // would pour far more than stands over the shore and lift the shore above the lake.)
    const int shore = u == i ? j : i;
    const double d = g.lake_surface[lu] - g.elev[shore];
    return d > 0.0 ? held(manning(s, d, g.dx, g.roughness[shore]), drop, k, cut) : 0.0;
  }
  return held(discharge_for_slope(g, h, i, j, s), drop, k, cut);
}

template <bool x_faces>
int sweep(const ade_grid_view& g, const double* h, double* q) {
  const int n = g.cell_count;
  const int* next = x_faces ? g.right : g.below;
  const unsigned char* open = x_faces ? g.open_x : g.open_y;
  int cut = 0;
  if (g.lakes == ade_lake_kind::overland) {
    for (int i = 1; i <= n; ++i)
      q[i] = open[i] ? ade_face_discharge(g, h, i, next[i], q[i], &cut) : 0.0;
    return cut;
  }
  if (g.lakes == ade_lake_kind::none && g.wetland == nullptr && ade_wide_sweeps()) {
    // Blocks of whole chunks of eight cells: every cell takes the vector arithmetic whatever
    // the number of threads.
    constexpr int block = 1024;
    const int blocks = (n + block - 1) / block;
#pragma omp parallel for schedule(static) reduction(| : cut) num_threads(team_size(n))
    for (int b = 0; b < blocks; ++b) {
      const int lo = 1 + b * block;
      cut |= ade_plain_sweep_wide(g, next, open, h, q, lo, lo + block - 1 < n ? lo + block - 1 : n);
    }
    return cut;
  }
  if (g.lakes == ade_lake_kind::none && g.wetland == nullptr) {
    const double* z = g.elev;
    const double* r = g.retention;
    const double* rough = g.roughness;
    const double dx = g.dx, inv_dx = 1.0 / g.dx;
    const double k = share_per_metre(g);
#pragma omp parallel for schedule(static) reduction(| : cut) num_threads(team_size(n))
    for (int i = 1; i <= n; ++i) {
      double flow = 0.0;
      if (open[i]) {
        const int j = next[i];
        const double drop = (h[i] + z[i]) - (h[j] + z[j]);
        const double s = drop * inv_dx;
        if (s != 0.0) {
          const int u = s > 0.0 ? i : j;
          if (r[u] < h[u]) {
            const double d = h[u] - r[u];
            flow = held((s > 0.0 ? dx : -dx) * lane_pow_two_thirds(d) * d *
                            std::fabs(ov_slope_term(s)) / rough[u],
                        drop, k, cut);
          }
        }
      }
      q[i] = flow;
    }
    return cut;
  }
#pragma omp parallel for schedule(static) reduction(| : cut) num_threads(team_size(n))
  for (int i = 1; i <= n; ++i)
    q[i] = open[i] ? ade_face_discharge(g, h, i, next[i], q[i], &cut) : 0.0;
  return cut;
}

}  // namespace

double ade_face_discharge(const ade_grid_view& g, const double* h, int i, int j, double previous,
                          int* cut) {
  if (j == 0) return 0.0;
  int c = 0;
  double q;
  if (g.lakes != ade_lake_kind::none) {
    q = lake_face_discharge(g, h, i, j, previous, c);
  } else {
    const double drop = (h[i] + g.elev[i]) - (h[j] + g.elev[j]);
    const double s = drop / g.dx;
    q = s == 0.0 ? 0.0 : held(discharge_for_slope(g, h, i, j, s), drop, share_per_metre(g), c);
  }
  if (cut != nullptr) *cut |= c;
  return q;
}

int ade_hold_to_surface_share(const ade_grid_view& g, const int* next, const unsigned char* open,
                              const double* h, double* q, double step) {
  const int n = g.cell_count;
  const double* z = g.elev;
  const double k = step > 0.0 ? ov_surface_share * (g.dx * g.dx) / step : 0.0;
  int cut = 0;
#pragma omp parallel for schedule(static) reduction(| : cut) num_threads(team_size(n))
  for (int i = 1; i <= n; ++i) {
    if (!open[i] || q[i] == 0.0) continue;
    const int j = next[i];
    double wi = h[i] + z[i], wj = h[j] + z[j];
    if (g.lakes != ade_lake_kind::none) {
      const int li = lake_at(g, i), lj = lake_at(g, j);
      if (li != 0 && lj != 0) continue;  // between two lake cells the face keeps its discharge
      if (li != 0) wi = g.lake_surface[li];
      if (lj != 0) wj = g.lake_surface[lj];
    }
    q[i] = held(q[i], wi - wj, k, cut);
  }
  return cut;
}

bool ade_wide_sweeps() {
  return true;
}

int ade_flux_sweep_a(const ade_grid_view& g, const double* h, double* q) {
  return sweep<true>(g, h, q);
}

int ade_flux_sweep_b(const ade_grid_view& g, const double* h, double* q) {
  return sweep<false>(g, h, q);
}

namespace {

// One cell's depth update: the change (q[up] - q) c added to depth h, judged against the depth
// before the sweep `before`; sets `result`'s bits and returns the new depth.
inline double updated_depth(double h, double before, double up_q, double own_q, double c, double s,
                            double& delta, int& result) {
  delta = (up_q - own_q) * c;
  double depth = h + delta;
  if (depth < 0.0) {
    if (s < shortest_sub || depth <= -1e-5)
      result |= ade_update_negative_depth;
    else
      depth = 0.0;
  } else if (std::fabs(delta) > 0.5 * before && before > 0.01 && s > 0.1) {
    result |= ade_update_large_change;
  }
  return depth;
}

int worst(int result) {
  return result >= ade_update_negative_depth ? ade_update_negative_depth : result;
}

}  // namespace

int ade_depth_update(int n, double* h, double* change, double* before, const double* q,
                     const int* up, double dx, double s, double* volume) {
  const double c = s / (dx * dx);
  int result = ade_update_ok;
#pragma omp parallel for schedule(static) reduction(| : result) num_threads(team_size(n))
  for (int i = 1; i <= n; ++i) {
    const int u = up[i];
    double delta;
    const double depth =
        updated_depth(h[i], before[i], u != 0 ? q[u] : 0.0, q[i], c, s, delta, result);
    change[i] = delta;
    h[i] = depth;
    before[i] = depth;
    if (volume != nullptr) volume[i] += s * q[i];
  }
  return worst(result);
}

int ade_substep_update(int n, double* h, double* change, const double* q, const int* up, double dx,
                       double s, double* volume, bool volume_fresh, int drained,
                       double drained_before) {
  const double c = s / (dx * dx);
  int result = ade_update_ok;
#pragma omp parallel for schedule(static) reduction(| : result) num_threads(team_size(n))
  for (int i = 1; i <= n; ++i) {
    const int u = up[i];
    double delta;
    const double before = i == drained ? drained_before : h[i];
    h[i] = updated_depth(h[i], before, u != 0 ? q[u] : 0.0, q[i], c, s, delta, result);
    if (change != nullptr) change[i] = delta;
    volume[i] = (volume_fresh ? 0.0 : volume[i]) + s * q[i];
  }
  return worst(result);
}

int ade_cell_update(double& h, double before, double up_q, double own_q, double c, double s,
                    double& delta) {
  int result = ade_update_ok;
  h = updated_depth(h, before, up_q, own_q, c, s, delta, result);
  return result;
}
