// Groundwater-tile exchange of the pipe network: the water table above a leaky pipe drains into
// it by the drain-spacing formula. Called by superlink_step before the network solve.
#include "channel/pipe/tile_exchange.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "channel/channel_state.h"
#include "channel/pipe/superlink_state.h"
#include "framework/core/error_state.h"
#include "framework/core/units.h"

double tile_equivalent_depth(double d, double L, double r, bool drainmod) {
  if (!(d > 0.0)) return 0.0;
  if (drainmod) {
    const double ratio = d / L;
    if (ratio < 0.3)
      return d / (1.0 + ratio * (2.5477707006369426 * std::log(d / r) -
                                 (3.55 - 1.6 * ratio + 2.0 * (2.0 / L) * (2.0 / L))));
    return 3.14 * L / (8.0 * (std::log(L / r) - 1.15));
  }
  const double half = 0.5 * L;
  const double x = 6.28 * d / half;
  double F = 0.0;
  for (double k : {2.0, 6.0, 10.0}) F += 4.0 * std::exp(-k * x) / (1.0 - std::exp(-k * x));
  return 3.14 * 0.125 * half / (std::log(half / (3.14 * r)) + F);
}

int gw_tile_exchange(const superlink_state& sl, channel_state& ch, const tile_ground& ground,
                     bool drainmod) {
  if (!ch.superlink_tile_flow.empty())
    std::fill(ch.superlink_tile_flow.data(),
              ch.superlink_tile_flow.data() + ch.superlink_tile_flow.element_count(), 0.0);
  // The pipe of entry (p, e): its two computational end nodes, its properties' segment and its
  // water and invert levels at the cell.
  struct pipe_at {
    int s = 0, k = 0, cell = 0, m1 = 0, m2 = 0;
    double level = 0.0, invert = 0.0;
  };
  auto locate = [&](int p, int e) {
    pipe_at a;
    a.s = sl.gpi_link[p][e];
    a.k = sl.gpi_node[p][e];
    a.cell = sl.gpi_gnum[p][e];
    a.m1 = sl.file_cnode[a.k][a.s];
    a.m2 = sl.file_cnode[a.k + 1][a.s];
    auto ground_at = [&](int m) {
      const int c = ch.superlink_node_gnum[m][a.s];
      return c >= 1 ? ground.cell_elev[c] : ground.cell_elev[a.cell];
    };
    const double burial = 0.5 * ((ground_at(a.m1) - sl.slink_node_Zinv[a.m1][a.s]) +
                                 (ground_at(a.m2) - sl.slink_node_Zinv[a.m2][a.s]));
    a.invert = ground.cell_elev[a.cell] - burial;
    a.level = a.invert + 0.5 * (sl.slink_node_depth[a.m1][a.s] + sl.slink_node_depth[a.m2][a.s]);
    return a;
  };
  bool any = false;
  for (int p = 1; p <= sl.pipe_cell_count && !any; ++p)
    for (int e = 1; e <= sl.gpi_ncellsingrid[p] && !any; ++e) {
      const pipe_at a = locate(p, e);
      any = ground.elevgw[a.cell] > a.level;
    }
  if (!any) return 0;
  for (int p = 1; p <= sl.pipe_cell_count; ++p) {
    for (int e = 1; e <= sl.gpi_ncellsingrid[p]; ++e) {
      const pipe_at a = locate(p, e);
      // The pipe's properties: its first computational segment carries them.
      const int np = a.m1;
      const double h = ground.elevgw[a.cell] - a.level;
      const double K = sl.superlink_pipe_conductivity[np][a.s] / 100.0;
      const double L = sl.drain_spacing[np][a.s];
      if (!(h > 1e-16) || K < 1e-16 || L < 1e-16) continue;
      const double d = a.invert - ground.bottom_elev[a.cell];
      if (d < 0.0) {
        printf(
            "\n Node elevation must be above bottom of groundwater media: Link %d Node %d Comp "
            "Node %d",
            a.s, a.k, a.m1);
        raise_error(err_pipe_invert_below_aquifer);
        return 1;
      }
      const double D = sl.diameter[np][a.s];
      const double de = tile_equivalent_depth(d, L, 0.5 * D, drainmod);
      double q = 0.0;
      if (drainmod) {
        q = K * (8.0 * de * h + 4.0 * h * h) / (L * L) * 3.14 * D / seconds_per_hour;
      } else {
        const double half = 0.5 * L;
        q = (2.0 * h * de + h * h) * (K / half) * 2.0 / seconds_per_hour;
      }
      const double Q = q * sl.gpi_pct[p][e] * sl.dx[a.k][a.s];
      if (std::isnan(Q)) {
        printf("\n NaN error in groundwater tile exchange: Link %d Node %d Comp Node %d", a.s, a.k,
               a.m1);
        raise_error(err_tile_exchange_nan);
        return 1;
      }
      ch.Q_tile_grid[a.cell] += Q;
      ch.superlink_tile_flow[a.k][a.s] += Q;
    }
  }
  return 1;
}
