// Per-node kernels of the explicit channel routing: slope flows, link-end flows, Courant numbers
// and the stiffness bound, each on the nodes of one link. Called by the routing's fused sub-step
// and by the flow evaluation and volume balance.
#include "channel/routing_kernels.h"

#include <limits>

void slope_flows(const link_levels_view& v, int first, int last, double* q) {
  const double* bel = v.bel;
  const double* depth = v.depth;
  const double* conv = v.conv;
  const int end = std::min(last, v.nodes - 1);
  for (int j = first; j <= end; ++j)
    q[j] = slope_flow(bel[j] + depth[j], bel[j + 1] + depth[j + 1], v.dx, conv[j], conv[j + 1]);
}

double link_end_flow(const link_levels_view& v, const link_end_view& below, double current) {
  const int n = v.nodes;
  const double level = v.bel[n] + v.depth[n];
  switch (below.kind) {
    case link_end_view::structure:
      return below.flow;
    case link_end_view::lake: {
      // No flow back out of a lake.
      const double s = (level - below.level) / (2.0 * v.dx);
      return s > 0.0 ? std::sqrt(s) * v.conv[n] : 0.0;
    }
    case link_end_view::routed:
      return slope_flow(level, below.level, 0.5 * (below.dx + v.dx), v.conv[n], below.conv);
    case link_end_view::open:
      break;
  }
  return current;
}

double courant_max(const double* area, const double* yp, const double* bel, const double* q,
                   double dx, double h, int first, int last, int counted, int& fault) {
  double cmax = 0.0;
  for (int j = first; j <= last; ++j) {
    if (std::isnan(area[j]) || yp[j] - bel[j] < 0.0) fault = 1;
    if (j > counted) continue;
    const double c = area[j] > 1e-16 ? (h / dx) * (q[j] / area[j]) : 0.0;
    cmax = std::max(cmax, c);
  }
  return cmax;
}

void interior_stiffness(const link_levels_view& v, int first, int last, double* r) {
  const double* bel = v.bel;
  const double* depth = v.depth;
  const double* conv = v.conv;
  const int n = v.nodes;
  const double dx = v.dx;
  for (int j = std::max(first, 2); j <= std::min(last, n - 1); ++j) {
    const double below = 2.0 * slope_flow_stiffness(bel[j - 1] + depth[j - 1], bel[j] + depth[j],
                                                    dx, conv[j - 1], conv[j]);
    const double above = 2.0 * slope_flow_stiffness(bel[j] + depth[j], bel[j + 1] + depth[j + 1],
                                                    dx, conv[j], conv[j + 1]);
    r[j] = below + above;
  }
}

double stiffness_limit(const double* r, const double* depth, const double* area, const double* topw,
                       int widths, double dx, int first, int last) {
  double limit = std::numeric_limits<double>::infinity();
  for (int j = first; j <= last; ++j) {
    if (!(r[j] > 0.0)) continue;
    // A node holding less than a millimetre takes its last top width.
    const double width =
        depth[j] > 0.001 ? area[j] / depth[j] : (topw != nullptr && j <= widths ? topw[j] : 0.0);
    if (width > 0.0) limit = std::min(limit, width * dx / r[j]);
  }
  return limit;
}
