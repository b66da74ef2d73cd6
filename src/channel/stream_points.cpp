// Stream inflow points placed on the channel network.
#include "channel/stream_points.h"

#include <cstdio>
#include <limits>

#include "framework/core/error_state.h"
#include "framework/model_state.h"

namespace {

// The position of computational node j of `link`: midway between the X_Y points of its NODE
// card and the next, or its own point at the link's last card.
void node_position(const channel_state& ch, int link, int j, double& x, double& y) {
  x = ch.lnx(link, j);
  y = ch.lny(link, j);
  if (j + 1 <= ch.nx1[link]) {
    x = 0.5 * (x + ch.lnx(link, j + 1));
    y = 0.5 * (y + ch.lny(link, j + 1));
  }
}

bool routed_link(const channel_state& ch, int link) {
  return (ch.ltype[link] & (4 | 8 | 16)) != 0 && ch.nx[link] > 1;
}

// The nearest computational node of the routed links to (x, y); false when the network has no
// routed link or its nodes carry no coordinates.
bool nearest_node(const channel_state& ch, double x, double y, int& link_out, int& node_out) {
  double best = std::numeric_limits<double>::infinity();
  bool any_coordinate = false;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!routed_link(ch, link)) continue;
    for (int j = 1; j <= ch.nx[link]; ++j) {
      double nx = 0.0, ny = 0.0;
      node_position(ch, link, j, nx, ny);
      if (nx != 0.0 || ny != 0.0) any_coordinate = true;
      const double d = (nx - x) * (nx - x) + (ny - y) * (ny - y);
      if (d < best) {
        best = d;
        link_out = link;
        node_out = j;
      }
    }
  }
  return any_coordinate && best < std::numeric_limits<double>::infinity();
}

}  // namespace

void place_stream_inflow_points(model_state& ms) {
  channel_state& ch = ms.channel;
  xy_input& xy = ms.cards.xy_input;
  if (xy.num_stpts < 1) return;
  if (ch.stream_pointsource.empty() &&
      !ch.stream_pointsource.allocate(ch.chan_link_count, ch.nx1.data())) {
    raw_report_alloc_failure("stream_pointsource");
    stop_now();
    return;
  }
  for (int i = 1; i <= xy.num_stpts; ++i) {
    xy_stream_point& p = xy.stpts[i];
    if (p.series == nullptr) {
      stop_with_message(
          "Error: stream inflow point %d (XYBDYINPUT_STFLOW or "
          "XYBDYINPUT_STTIMESERIES) has no time series.\n",
          i);
      return;
    }
    if (p.linknode_given) {
      if (p.link > ch.chan_link_count || p.node > ch.nx[p.link]) {
        stop_with_message(
            "Error: stream inflow point %d names link %d node %d, which is not a "
            "computational node of the channel network.\n",
            i, p.link, p.node);
        return;
      }
    } else if (!nearest_node(ch, p.x, p.y, p.link, p.node)) {
      stop_with_message(
          "Error: stream inflow point %d at x %.3f, y %.3f cannot be placed: the "
          "channel input file gives no X_Y coordinates for the nodes of its "
          "links.\n",
          i, p.x, p.y);
      return;
    }
    time_series*& slot = ch.stream_pointsource(p.link, p.node);
    if (slot != nullptr) {
      stop_with_message(
          "Error: stream inflow point %d falls on link %d node %d, which already "
          "has a point-source series.\n",
          i, p.link, p.node);
      return;
    }
    slot = p.series;
    printf("Stream inflow point %d enters link %d node %d.\n", i, p.link, p.node);
  }
}
