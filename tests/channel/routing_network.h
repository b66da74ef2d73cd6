// A channel network filled by hand for the routing tests: trapezoidal links with their
// connections, node spacing, bed and Manning roughness, every per-node array the routing and the
// cross-sections use, and the water put on as a depth above the bed.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "channel/channel_steps.h"
#include "framework/model_state.h"

namespace routing_test {

// One trapezoidal link of the network.
struct link_spec {
  int nodes = 3;             // computational nodes 1..nodes
  int downstream = 0;        // downstream link, 0 for the last link
  std::vector<int> up = {};  // upstream links
  double dx = 100.0;         // node spacing (m)
  double bed_top = 100.0;    // bed elevation of node 1 (m)
  double bed_slope = 0.001;  // fall of the bed per metre along the link
  double bottom = 10.0;      // bottom width (m)
  double side_slope = 2.0;   // horizontal per vertical
  double n = 0.03;           // Manning's n
  int type = 4;              // link-type bits
};

// Fills the channel record of `ms` with the links (numbered from 1 in the given order), dry:
// water levels on the beds, no flow. Per-node arrays hold nodes 1..nodes (+ a spare node each
// side), the structure of a sectioned link's last node included as the spare.
inline void build_network(model_state& ms, const std::vector<link_spec>& links) {
  channel_state& ch = ms.channel;
  const int count = static_cast<int>(links.size());
  ch.chan_explic = 1;
  ch.chan_link_count = count;
  ch.max_courant_number = 0.2;
  int widest = 1;
  for (const link_spec& l : links) widest = std::max(widest, static_cast<int>(l.up.size()));
  ch.max_upstream = widest;
  for (auto* a : {&ch.ltype, &ch.nx, &ch.nx1, &ch.og_nx1, &ch.dslink, &ch.ndep, &ch.ldex})
    a->allocate(count);
  ch.dx.allocate(count);
  ch.link_inv_n.allocate(count);
  ASSERT_TRUE(ch.uslinks.allocate(count, widest));
  std::vector<int> nodes(count + 1, 0);
  for (int l = 1; l <= count; ++l) {
    const link_spec& s = links[l - 1];
    nodes[l] = s.nodes;
    ch.ltype[l] = s.type;
    ch.nx[l] = s.nodes;
    ch.nx1[l] = s.nodes;
    ch.og_nx1[l] = s.nodes;
    ch.ldex[l] = l;
    ch.dslink[l] = s.downstream;
    ch.ndep[l] = static_cast<int>(s.up.size());
    for (std::size_t k = 0; k < s.up.size(); ++k) ch.uslinks[l][k + 1] = s.up[k];
    ch.dx[l] = s.dx;
    ch.link_inv_n[l] = 1.0 / s.n;
  }
  for (auto* a : {&ch.qp, &ch.yp, &ch.bel, &ch.area, &ch.chan_depth, &ch.conv, &ch.dconv, &ch.topw,
                  &ch.qlat, &ch.area_old, &ch.bottom, &ch.sslope, &ch.sslope2, &ch.bankfull_dep})
    ASSERT_TRUE(a->allocate(count, nodes.data()));
  for (int l = 1; l <= count; ++l) {
    const link_spec& s = links[l - 1];
    for (int j = 1; j <= s.nodes; ++j) {
      ch.bel(l, j) = s.bed_top - s.bed_slope * s.dx * (j - 1);
      ch.yp(l, j) = ch.bel(l, j);
      ch.bottom(l, j) = s.bottom;
      ch.sslope(l, j) = s.side_slope;
      ch.bankfull_dep(l, j) = 2.0;
    }
  }
  ex_section(ms, 2);
}

// Puts `depth` of water on node `node` of link `link` and recomputes the sections.
inline void set_depth(model_state& ms, int link, int node, double depth) {
  channel_state& ch = ms.channel;
  ch.yp(link, node) = ch.bel(link, node) + depth;
  ch.chan_depth(link, node) = depth;
  ex_section(ms, 2);
}

// Water in the routed links: flow area times node spacing.
inline double network_volume(const model_state& ms) {
  const channel_state& ch = ms.channel;
  double v = 0.0;
  for (int l = 1; l <= ch.chan_link_count; ++l) {
    if (ch.ltype[l] & (32 | 64 | 128)) continue;
    for (int j = 1; j <= ch.nx[l]; ++j) v += ch.area(l, j) * ch.dx[l];
  }
  return v;
}

}  // namespace routing_test
