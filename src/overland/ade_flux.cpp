// ADE face sweeps and depth update, called by the ADE routing once per sweep. Each cell owns
// the discharge of its right and its lower face; the depth update gathers each cell's change
// from its own face and its upstream neighbour's, so no worker writes another's cell and the
// result is the same on any thread count.
#include "overland/ade_flux.h"

#include <cmath>

#include "framework/core/process_info.h"

namespace {

constexpr double two_thirds = 2.0 / 3.0;
constexpr double shortest_sub = 0.001;  // s: below this any negative depth fails the sweep

double sign_of(double s) {
  return s > 0.0 ? 1.0 : -1.0;
}

// Manning's discharge of a flow depth d (m) over a face of width dx under slope s: the power
// d^(5/3) taken as d^(2/3) d.
double manning(double s, double d, double dx, double n) {
  return sign_of(s) * dx * std::pow(d, two_thirds) * d * std::sqrt(std::fabs(s)) / n;
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

double lake_face_discharge(const ade_grid_view& g, const double* h, int i, int j, double previous) {
  const int li = lake_at(g, i), lj = lake_at(g, j);
  if (li == 0 && lj == 0) {
    const double s = ((h[i] + g.elev[i]) - (h[j] + g.elev[j])) / g.dx;
    return s == 0.0 ? 0.0 : discharge_for_slope(g, h, i, j, s);
  }
  if (li != 0 && lj != 0) return previous;
  const double wi = li != 0 ? g.lake_surface[li] : h[i] + g.elev[i];
  const double wj = lj != 0 ? g.lake_surface[lj] : h[j] + g.elev[j];
  const double s = (wi - wj) / g.dx;
  if (s == 0.0) return 0.0;
  const int u = s > 0.0 ? i : j;
  const int lu = s > 0.0 ? li : lj;
  if (lu != 0 && g.lakes == ade_lake_kind::channel) {
    // A channel lake spills over its shore: the lake's water above the shore cell's bed flows
    // over that cell with its roughness, with no retention. (The lake's own depth over its cell
    // would pour far more than stands over the shore and lift the shore above the lake.)
    const int shore = u == i ? j : i;
    const double d = g.lake_surface[lu] - g.elev[shore];
    return d > 0.0 ? manning(s, d, g.dx, g.roughness[shore]) : 0.0;
  }
  return discharge_for_slope(g, h, i, j, s);
}

template <bool x_faces>
void sweep(const ade_grid_view& g, const double* h, double* q) {
  const int n = g.cell_count;
  const int* next = x_faces ? g.right : g.below;
  const unsigned char* open = x_faces ? g.open_x : g.open_y;
  if (g.lakes == ade_lake_kind::overland) {
    for (int i = 1; i <= n; ++i) q[i] = open[i] ? ade_face_discharge(g, h, i, next[i], q[i]) : 0.0;
    return;
  }
  if (g.lakes == ade_lake_kind::none && g.wetland == nullptr && ade_wide_sweeps()) {
    // Blocks of whole chunks of eight cells: every cell takes the vector arithmetic whatever
    // the number of threads.
    constexpr int block = 1024;
    const int blocks = (n + block - 1) / block;
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int b = 0; b < blocks; ++b) {
      const int lo = 1 + b * block;
      ade_plain_sweep_wide(g, next, open, h, q, lo, lo + block - 1 < n ? lo + block - 1 : n);
    }
    return;
  }
  if (g.lakes == ade_lake_kind::none && g.wetland == nullptr) {
    const double* z = g.elev;
    const double* r = g.retention;
    const double* rough = g.roughness;
    const double dx = g.dx, inv_dx = 1.0 / g.dx;
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
    for (int i = 1; i <= n; ++i) {
      double flow = 0.0;
      if (open[i]) {
        const int j = next[i];
        const double s = ((h[i] + z[i]) - (h[j] + z[j])) * inv_dx;
        if (s != 0.0) {
          const int u = s > 0.0 ? i : j;
          if (r[u] < h[u]) {
            const double d = h[u] - r[u];
            flow = (s > 0.0 ? dx : -dx) * std::pow(d, two_thirds) * d * std::sqrt(std::fabs(s)) /
                   rough[u];
          }
        }
      }
      q[i] = flow;
    }
    return;
  }
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
  for (int i = 1; i <= n; ++i) q[i] = open[i] ? ade_face_discharge(g, h, i, next[i], q[i]) : 0.0;
}

}  // namespace

double ade_face_discharge(const ade_grid_view& g, const double* h, int i, int j, double previous) {
  if (j == 0) return 0.0;
  if (g.lakes != ade_lake_kind::none) return lake_face_discharge(g, h, i, j, previous);
  const double s = ((h[i] + g.elev[i]) - (h[j] + g.elev[j])) / g.dx;
  if (s == 0.0) return 0.0;
  return discharge_for_slope(g, h, i, j, s);
}

bool ade_wide_sweeps() {
  static const bool wide = __builtin_cpu_supports("avx512f") != 0;
  return wide;
}

void ade_flux_sweep_a(const ade_grid_view& g, const double* h, double* q) {
  sweep<true>(g, h, q);
}

void ade_flux_sweep_b(const ade_grid_view& g, const double* h, double* q) {
  sweep<false>(g, h, q);
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
#pragma omp parallel for schedule(static) reduction(| : result) if (n >= parallel_min_cells)
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
#pragma omp parallel for schedule(static) reduction(| : result) if (n >= parallel_min_cells)
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
