// Break-point cross-sections: depth tables of surveyed X/Z sections, the tables of the nodes
// between two sections, the per-node tables of erodible links and their bed update. Called by
// the channel input reader at start-up and by the bed update after channel sediment transport.
#include "channel/breakpoint_sections.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/model_state.h"

namespace {

constexpr int max_interp_levels = 30000;
constexpr double min_level_spacing = 0.0001;
constexpr double max_level_spacing = 1.0;

// One wet stretch of a section at a water level: the first wet pair, the pair that closes it
// (the first pair after it at or above the level; `closed` false when the stretch runs to the
// last pair) and its two edges at the water surface.
struct island {
  int open = 0;
  int close = 0;
  bool closed = false;
  double left = 0.0;
  double right = 0.0;
};

// Station where the segment from pair i - 1 to pair i meets level w.
double edge_at(const double* x, const double* z, int i, double w) {
  return x[i - 1] + (w - z[i - 1]) * (x[i] - x[i - 1]) / (z[i] - z[i - 1]);
}

// The wet stretches of the section at level w into `out`; their number, or -1 when a 50th
// stretch appears. A stretch that opens between two pairs of equal Z is reported on the console
// and takes the station of its first wet pair as its edge.
int find_islands(const double* x, const double* z, int pairs, double w, int link,
                 island (&out)[max_section_islands]) {
  int count = 0;
  int i = 0;
  while (i < pairs) {
    if (z[i] > w) {
      ++i;
      continue;
    }
    if (count == max_section_islands - 1) return -1;
    island& s = out[count++];
    s.open = i;
    if (i == 0) {
      s.left = x[0];
    } else if (z[i] == z[i - 1]) {
      printf("Error in your channel (%d). Each Z values must be different from it's neighbor\n",
             link);
      s.left = x[i];
    } else {
      s.left = edge_at(x, z, i, w);
    }
    int j = i + 1;
    while (j < pairs && z[j] < w) ++j;
    if (j < pairs) {
      s.closed = true;
      s.close = j;
      s.right = z[j] == z[j - 1] ? x[j] : edge_at(x, z, j, w);
    } else {
      s.closed = false;
      s.close = pairs - 1;
      s.right = x[pairs - 1];
    }
    i = j + 1;
  }
  return count;
}

// Top width, wetted perimeter and area of the islands at level w.
void island_properties(const double* x, const double* z, int pairs, double w, const island* isl,
                       int count, double& top, double& perim, double& area) {
  top = perim = area = 0.0;
  for (int s = 0; s < count; ++s) {
    const island& is = isl[s];
    top += is.right - is.left;
    if (is.open > 0) {
      const double dx = x[is.open] - is.left;
      const double dz = w - z[is.open];
      area += 0.5 * dz * dx;
      perim += std::hypot(dx, dz);
    }
    const int last_wet = is.closed ? is.close - 1 : pairs - 1;
    for (int k = is.open; k < last_wet; ++k) {
      const double dx = x[k + 1] - x[k];
      area += 0.5 * ((w - z[k]) + (w - z[k + 1])) * dx;
      perim += std::hypot(dx, z[k + 1] - z[k]);
    }
    if (is.closed) {
      const double dx = is.right - x[last_wet];
      const double dz = w - z[last_wet];
      area += 0.5 * dz * dx;
      perim += std::hypot(dx, dz);
    }
  }
}

double conveyance(double inv_n, double area, double perim) {
  if (area <= 0.0 || perim <= 0.0) return 0.0;
  return inv_n * area * std::pow(area / perim, 2.0 / 3.0);
}

void report_jagged_section(int link, bool at_startup) {
  stop_with_message(
      "%sThere is a serious problem with a channel cross-section in\n"
      "link %d.  The cross-section interpolation routine has found\n"
      "that this cross-section is very jagged, with over 50 'islands'\n"
      "for certain depths.  Calculating cross-section properties in\n"
      "this case is very dubious.  Check your cross section, smooth\n"
      "it if necessary and try again.\n",
      at_startup ? "\n\n" : "", link);
}

// The levels of table t of the channel record.
depth_table_levels table_levels(channel_state& ch, int t) {
  return {ch.xarea.link_nodes(t), ch.xtw.link_nodes(t), ch.xk.link_nodes(t), ch.xp.link_nodes(t)};
}

// Builds table t from the section (x, z) with n levels and stores its spacing and counts.
int build_table(channel_state& ch, int t, int link, const double* x, const double* z, int pairs,
                int n) {
  double h = 0.0;
  if (section_depth_table(x, z, pairs, n, ch.link_inv_n[link], t, link, true, h,
                          table_levels(ch, t)) != 0)
    return 1;
  ch.ht_spc[t] = h;
  ch.numhts[t] = n;
  ch.numpairs[t] = pairs;
  return 0;
}

// The section resampled to `pairs` equally spaced stations between its lowest and highest X.
void resample_section(const breakpoint_section& s, int pairs, std::vector<double>& x,
                      std::vector<double>& z) {
  const auto [lo, hi] = std::minmax_element(s.x.begin(), s.x.end());
  const double x0 = *lo;
  const double step = pairs > 1 ? (*hi - x0) / (pairs - 1) : 0.0;
  x.assign(pairs, 0.0);
  z.assign(pairs, 0.0);
  for (int k = 0; k < pairs; ++k) {
    const double xs = k == pairs - 1 ? *hi : x0 + k * step;
    x[k] = xs;
    // Z linear between the given pairs around the station (the first pair that reaches it).
    double zs = s.z.back();
    for (std::size_t i = 1; i < s.x.size(); ++i) {
      const double xa = s.x[i - 1];
      const double xb = s.x[i];
      if ((xs >= xa && xs <= xb) || (xs <= xa && xs >= xb)) {
        zs = xb == xa ? s.z[i] : s.z[i - 1] + (xs - xa) * (s.z[i] - s.z[i - 1]) / (xb - xa);
        break;
      }
    }
    if (s.x.size() == 1) zs = s.z[0];
    z[k] = zs;
  }
}

}  // namespace

int section_depth_table(const double* x, const double* z, int pairs, int num_interp, double inv_n,
                        int table, int link, bool at_startup, double& spacing,
                        const depth_table_levels& out) {
  if (num_interp < 1 || num_interp > max_interp_levels) {
    stop_with_message(
        "\n\nError: The number of interpolation points [%d] for table %d in link %d is invalid. "
        "(Range is 1-30000.) \n",
        num_interp, table, link);
    return 1;
  }
  double zmin = z[0];
  double zmax = z[0];
  for (int i = 1; i < pairs; ++i) {
    zmin = std::min(zmin, z[i]);
    zmax = std::max(zmax, z[i]);
  }
  const double h = (zmax - zmin) / num_interp;
  // The bounds are inclusive; a spacing that misses one only by the rounding of the division
  // is taken as lying on it.
  if (!(h >= min_level_spacing * (1.0 - 1e-12) && h <= max_level_spacing * (1.0 + 1e-12))) {
    stop_with_message(
        "\n\nError: The interpolation distance [%6.5lf] produced by the number of interpolation "
        "points [%d]\nfor table %d in link %d is invalid. (Range is 0.0001 to 1.0)\n",
        h, num_interp, table, link);
    return 1;
  }
  spacing = h;
  island isl[max_section_islands];
  out.area[0] = out.top_width[0] = out.conv[0] = out.perim[0] = 0.0;
  for (int k = 1; k <= num_interp; ++k) {
    const double w = zmin + k * h;
    const int count = find_islands(x, z, pairs, w, link, isl);
    if (count < 0) {
      report_jagged_section(link, at_startup);
      return 1;
    }
    double top = 0.0;
    double perim = 0.0;
    double area = 0.0;
    island_properties(x, z, pairs, w, isl, count, top, perim, area);
    out.area[k] = area;
    out.top_width[k] = top;
    out.perim[k] = perim;
    out.conv[k] = conveyance(inv_n, area, perim);
  }
  return 0;
}

double depth_table_lookup(const double* values, double h, int n, double d) {
  if (d < h) return d / h * values[1];
  const double top = n * h;
  if (d > top) {
    const double rise = n > 1 ? values[n] - values[n - 1] : values[1];
    return values[n] + (d - top) * rise / h;
  }
  if (d == top) return values[n];
  const int k = static_cast<int>(d / h);
  if (k >= n) return values[n];
  const double e = d - k * h;
  return values[k] + e * (values[k + 1] - values[k]) / h;
}

int read_breakpoint_xsecs(model_state& ms, int link, std::vector<breakpoint_section>& sections) {
  channel_state& ch = ms.channel;
  const int nodes = ch.nx1[link];
  if (sections.empty()) {
    stop_with_message(
        "Error: break-point link %d of the channel input file has no cross-section (no NPAIRS "
        "card).\n",
        link);
    return 1;
  }
  std::stable_sort(
      sections.begin(), sections.end(),
      [](const breakpoint_section& a, const breakpoint_section& b) { return a.node < b.node; });
  const int c = ch.num_xsec_tables;
  breakpoint_section& first = sections.front();

  if ((ch.ltype[link] & 2) != 0) {
    // Erodible: every node keeps its own copy of the first section, resampled.
    const int bp = ch.bplink[link];
    const int pairs = first.npairs;
    std::vector<double> rx;
    std::vector<double> rz;
    resample_section(first, pairs, rx, rz);
    for (int node = 1; node <= nodes; ++node) {
      const int t = c + node;
      for (int k = 0; k < pairs; ++k) {
        ch.xbp_lnn[bp][node][k + 1] = rx[k];
        ch.ybp_lnn[bp][node][k + 1] = rz[k];
      }
      ch.table_num(link, node) = t;
      ch.numpairs[t] = pairs;
      ch.numhts[t] = first.num_interp;
      ch.num_xsec_tables = t;
      if (breakpoint_xsec_tables(ms, link, node) != 0) return 1;
    }
    return 0;
  }

  const bool two = sections.size() > 1 && sections.back().node != first.node;
  if (!two) {
    const int t = c + 1;
    if (build_table(ch, t, link, first.x.data(), first.z.data(), first.npairs, first.num_interp) !=
        0)
      return 1;
    for (int node = 1; node <= nodes; ++node) ch.table_num(link, node) = t;
    ch.num_xsec_tables = t;
    return 0;
  }

  breakpoint_section& second = sections.back();
  int pairs = first.npairs;
  if (first.npairs != second.npairs) {
    printf(
        "\n\nWARNING!!!! When using two break-point cross-sections the number of pairs \n"
        "            must be equal, which they are not for link %d.\n\n",
        link);
    if (first.npairs > second.npairs)
      printf("  ---> Disregarding the last %d pairs of the first cross-section. <---\n\n",
             first.npairs - second.npairs);
    else
      printf("  ---> Disregarding the last %d pairs of the second cross-section. <---\n\n",
             second.npairs - first.npairs);
    pairs = std::min(first.npairs, second.npairs);
  }
  int n = first.num_interp;
  if (first.num_interp != second.num_interp) {
    printf(
        "\nUsing the greater of the two number of interpolation points \n"
        "for both cross-section in link %d.\n",
        link);
    n = std::max(first.num_interp, second.num_interp);
  }
  const int a = first.node;
  const int b = second.node;
  const int ta = c + 1;
  const int tb = c + 1 + (b - a);
  if (build_table(ch, ta, link, first.x.data(), first.z.data(), pairs, n) != 0) return 1;
  if (build_table(ch, tb, link, second.x.data(), second.z.data(), pairs, n) != 0) return 1;
  const double ha = ch.ht_spc[ta];
  const double hb = ch.ht_spc[tb];
  const depth_table_levels la = table_levels(ch, ta);
  const depth_table_levels lb = table_levels(ch, tb);
  for (int node = a + 1; node < b; ++node) {
    const int t = c + 1 + (node - a);
    const double hn = ha + (node - a) * (hb - ha) / (b - a);
    const double share = static_cast<double>(node - b) / (a - b);
    const depth_table_levels ln = table_levels(ch, t);
    for (int k = 1; k <= n; ++k) {
      const double d = k * hn;
      auto blend = [&](const double* va, const double* vb) {
        const double xa = depth_table_lookup(va, ha, n, d);
        const double xb = depth_table_lookup(vb, hb, n, d);
        return xb + (xa - xb) * share;
      };
      ln.area[k] = blend(la.area, lb.area);
      ln.top_width[k] = blend(la.top_width, lb.top_width);
      ln.conv[k] = blend(la.conv, lb.conv);
      ln.perim[k] = blend(la.perim, lb.perim);
    }
    ch.ht_spc[t] = hn;
    ch.numhts[t] = n;
    ch.numpairs[t] = pairs;
  }
  for (int node = 1; node <= nodes; ++node)
    ch.table_num(link, node) = node <= a ? ta : (node <= b ? c + 1 + (node - a) : tb);
  ch.num_xsec_tables = tb;
  return 0;
}

int breakpoint_xsec_tables(model_state& ms, int link, int node) {
  channel_state& ch = ms.channel;
  const int t = ch.table_num(link, node);
  const int bp = ch.bplink[link];
  const int pairs = ch.numpairs[t];
  const double* x = &ch.xbp_lnn[bp][node][1];
  const double* z = &ch.ybp_lnn[bp][node][1];
  double h = 0.0;
  if (section_depth_table(x, z, pairs, ch.numhts[t], ch.link_inv_n[link], t, link, true, h,
                          table_levels(ch, t)) != 0)
    return 1;
  ch.ht_spc[t] = h;
  return 0;
}

namespace {

// Lowers (a positive dz) or raises the wet part of one section so that the bed changes by
// `target` m3 over the node spacing `dx`; `y` is the node's highest depth above zmin and `w` the
// level whose islands move. Returns 0, 1 after the jagged-section fault, 2 when the passes do
// not converge.
int reshape_section(channel_state& ch, int pairs, double zmin, double y, double w, double dz,
                    double target, double dx, int link) {
  const double* x = ch.xsec_work_x.data();
  double* z = ch.xsec_work_z.data();
  island isl[max_section_islands];
  const int count = find_islands(x, z, pairs, w, link, isl);
  if (count < 0) return 1;
  double* before = ch.xsec_work_before.data();
  std::copy(z, z + pairs, before);
  // The pairs that move: from the first wet pair of each island to the pair that closes it.
  char* moves = ch.xsec_work_moves.data();
  std::fill(moves, moves + pairs, 0);
  double moved_length = 0.0;
  for (int s = 0; s < count; ++s) {
    for (int k = isl[s].open; k <= isl[s].close; ++k) moves[k] = 1;
    const int from = isl[s].open > 0 ? isl[s].open - 1 : isl[s].open;
    moved_length += x[isl[s].close] - x[from];
  }
  const bool deposit = target < 0.0;
  double step = dz;
  for (int pass = 0; pass < 500; ++pass) {
    for (int k = 0; k < pairs; ++k) {
      if (!moves[k]) continue;
      // A point at or above the highest water (the bank that closes an island) stays where it
      // is: the share of the change falls to 0 at that water level and never turns over.
      double f = y > 0.0 ? std::min((before[k] - zmin) / y, 1.0) : 0.0;
      if (deposit) f = std::sqrt(std::max(f, 0.0));
      z[k] -= (1.0 - f) * step;
    }
    double achieved = 0.0;
    for (int k = 1; k < pairs; ++k) {
      if (!moves[k] && !moves[k - 1]) continue;
      const double d1 = before[k] - z[k];
      const double d0 = before[k - 1] - z[k - 1];
      achieved += 0.5 * (d1 + d0) * (x[k] - x[k - 1]) * dx;
    }
    if (std::fabs(achieved - target) <= 1e-5 * std::fabs(target)) return 0;
    if (moved_length <= 0.0) return 2;
    step = (target - achieved) / (moved_length * dx);
  }
  return 2;
}

}  // namespace

void xsec_update(model_state& ms, const link_node_array<double>& bed_volume_change, double porosity,
                 int bed_adjust) {
  channel_state& ch = ms.channel;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if ((ch.ltype[link] & 8) == 0 || (ch.ltype[link] & 2) == 0) continue;
    const int bp = ch.bplink[link];
    for (int node = 1; node <= ch.nx[link]; ++node) {
      const int t = ch.table_num(link, node);
      const double h = ch.ht_spc[t];
      const int n = ch.numhts[t];
      const int pairs = ch.numpairs[t];
      const double y = ch.max_yp[bp][node] - ch.bel(link, node);
      if (y < 0.0) {
        stop_with_message(
            "In ex_section - 3\nprogram stopped for negative depth, node %d, link %d\n", node,
            link);
        return;
      }
      if (ch.xsec_work_x.size() < static_cast<std::size_t>(pairs)) {
        ch.xsec_work_x.resize(pairs);
        ch.xsec_work_z.resize(pairs);
        ch.xsec_work_before.resize(pairs);
        ch.xsec_work_moves.resize(pairs);
      }
      double* x = ch.xsec_work_x.data();
      double* z = ch.xsec_work_z.data();
      for (int k = 0; k < pairs; ++k) {
        x[k] = ch.xbp_lnn[bp][node][k + 1];
        z[k] = ch.ybp_lnn[bp][node][k + 1];
      }
      const double zmin = *std::min_element(z, z + pairs);
      const int level = std::min(n, static_cast<int>(y / h) + 1);
      const double w = zmin + level * h;
      const double spacing = ch.dx[link];
      const double change = bed_volume_change.has(link, node) ? bed_volume_change(link, node) : 0.0;
      double target = change / (1.0 - porosity);
      const double width = ch.xtw(t, level);
      if (target == 0.0 || width <= 0.0 || spacing <= 0.0) continue;
      double dz = target / (width * spacing);
      if (std::fabs(dz) > y) {
        printf("In xsec_update - 3\n");
        printf(
            "It is impossible that change of stream bed elevation is greater than maximum "
            "channel depth\n");
        printf("Setting the change in stream bed elevation equal to the depth of the channel\n");
        dz = dz < -1e-16 ? -y : y;
        target = dz * width * spacing;
      }
      const int result = reshape_section(ch, pairs, zmin, y, w, dz, target, spacing, link);
      if (result == 1) {
        report_jagged_section(link, false);
        return;
      }
      if (result == 2) {
        stop_with_message(
            "In xsec_update- \nprogram stopped for difficulty in convergence, node %d, link %d\n",
            node, link);
        return;
      }
      const double new_min = *std::min_element(z, z + pairs);
      ch.new_bel(link, node) += new_min - zmin;
      if (bed_adjust) {
        for (int k = 0; k < pairs; ++k) ch.ybp_lnn[bp][node][k + 1] = z[k];
        ch.bel(link, node) = ch.new_bel(link, node);
        if (breakpoint_xsec_tables(ms, link, node) != 0) return;
      }
    }
  }
}
