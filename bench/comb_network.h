// The generated channel network of the channel benchmarks: a comb of tributaries joining a
// trunk, every link of the same number of nodes, trapezoidal sections, lateral inflow on every
// node and a headwater inflow on every tributary; the explicit channel sections made.
#pragma once

#include <memory>
#include <vector>

#include "channel/channel_routing.h"
#include "channel/channel_steps.h"
#include "framework/model_state.h"

inline constexpr int link_nodes_each = 500;  // nodes of every link
inline constexpr double comb_dx = 100.0;     // node spacing (m)

// A comb of `teeth` tributaries and as many trunk links, every link of link_nodes_each nodes:
// tributary 2i + 1 joins the head of trunk link 2i + 2, which also takes trunk link 2i.
inline std::unique_ptr<model_state> comb(int teeth) {
  auto ms = std::make_unique<model_state>();
  channel_state& ch = ms->channel;
  const int count = 2 * teeth;
  ch.chan_explic = 1;
  ch.chan_link_count = count;
  ch.max_courant_number = 0.2;
  ch.max_upstream = 2;
  for (auto* a : {&ch.ltype, &ch.nx, &ch.nx1, &ch.og_nx1, &ch.dslink, &ch.ndep, &ch.ldex})
    a->allocate(count);
  ch.dx.allocate(count);
  ch.link_inv_n.allocate(count);
  ch.uslinks.allocate(count, 2);
  std::vector<int> nodes(count + 1, link_nodes_each);
  for (auto* a : {&ch.qp, &ch.yp, &ch.bel, &ch.area, &ch.chan_depth, &ch.conv, &ch.dconv, &ch.topw,
                  &ch.qlat, &ch.area_old, &ch.bottom, &ch.sslope, &ch.sslope2, &ch.bankfull_dep})
    a->allocate(count, nodes.data());
  const int n = link_nodes_each;
  double trunk_top = 100.0 + 0.001 * comb_dx * n * teeth;
  for (int i = 0; i < teeth; ++i) {
    const int tooth = 2 * i + 1;
    const int trunk = 2 * i + 2;
    for (int l : {tooth, trunk}) {
      ch.ltype[l] = 4;
      ch.nx[l] = ch.nx1[l] = ch.og_nx1[l] = n;
      ch.ldex[l] = l;
      ch.dx[l] = comb_dx;
      ch.link_inv_n[l] = 1.0 / 0.03;
    }
    ch.dslink[tooth] = trunk;
    ch.dslink[trunk] = i + 1 < teeth ? trunk + 2 : 0;
    ch.ndep[tooth] = 0;
    ch.ndep[trunk] = i > 0 ? 2 : 1;
    ch.uslinks[trunk][1] = tooth;
    if (i > 0) ch.uslinks[trunk][2] = trunk - 2;
    for (int j = 1; j <= n; ++j) {
      ch.bel(tooth, j) = trunk_top + 0.1 + 0.002 * comb_dx * (n - j);
      ch.bel(trunk, j) = trunk_top - 0.001 * comb_dx * (j - 1);
      for (int l : {tooth, trunk}) {
        ch.bottom(l, j) = l == tooth ? 4.0 : 10.0;
        ch.sslope(l, j) = 2.0;
        ch.chan_depth(l, j) = 0.4;
        ch.yp(l, j) = ch.bel(l, j) + 0.4;
        ch.qlat(l, j) = 0.0005;
      }
    }
    trunk_top -= 0.001 * comb_dx * n;
  }
  ch.headwater_inflow = 1.0;
  ex_section(*ms, 2);
  return ms;
}
