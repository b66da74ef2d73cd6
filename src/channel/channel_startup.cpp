// Channel start-up: the channel hotstart, the output location lists, the outlet head boundary
// and the initial channel storage. The network set-up reads the hotstart and the lists; the run
// driver calls init_channel_storage before the first step.
#include "channel/channel_startup.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "channel/chan_point_sources.h"
#include "channel/channel_steps.h"
#include "channel/sections.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/input_steps.h"

namespace {

constexpr int bit_trapezoid = 4;
constexpr int bit_breakpoint = 8;
constexpr int bit_compound = 16;
constexpr int bit_lake = 32;
constexpr int bit_structure = 64;
constexpr int bit_captured = 128;

// Links whose nodes hold channel water of their own: not structures, not lakes, and not a
// sectioned link captured by a rising lake.
bool holds_channel_water(int ltype) {
  if (ltype & (bit_structure | bit_lake)) return false;
  return !((ltype & bit_captured) && (ltype & (bit_trapezoid | bit_breakpoint | bit_compound)));
}

bool blank(const std::string& line) {
  return line.find_first_not_of(" \t\r,") == std::string::npos;
}

// A hotstart line as read: its node and link, as the hotstart writer puts them, and what
// follows them.
struct hotstart_line {
  int number = 0;  // line number in the file
  int node = 0;
  int link = 0;
  bool numbered = false;  // the line begins with two integers
  std::string rest;
};

// Lines the hotstart writer adds that no node of channel water reads: those of links without
// channel water of their own (lakes, captured links) and of the last node of a sectioned link,
// which is not a computational node.
bool written_but_not_read(const channel_state& ch, const hotstart_line& line) {
  if (!line.numbered || line.link < 1 || line.link > ch.chan_link_count) return false;
  if (!holds_channel_water(ch.ltype[line.link])) return true;
  return line.node == ch.nx1[line.link] && ch.nx1[line.link] > ch.nx[line.link];
}

// The next line that speaks for a node of channel water; blank lines and the lines above are
// passed over. False at the end of the file.
bool next_node_line(model_state& ms, file_handle& h, int& line_number, hotstart_line& out) {
  std::string line;
  while (read_text_line(line, h)) {
    ++line_number;
    if (blank(line)) continue;
    out = hotstart_line{};
    out.number = line_number;
    out.numbered = take_int(line, out.node) && take_int(line, out.link);
    out.rest = line;
    if (written_but_not_read(ms.channel, out)) continue;
    return true;
  }
  return false;
}

// A channel link and node of the network: link 1..chan_link_count, node 1..nx1 of the link.
bool network_node(const channel_state& ch, int link, int node) {
  return link >= 1 && link <= ch.chan_link_count && node >= 1 && node <= ch.nx1[link];
}

// Reads a location list: the count, then `count` entries of `values` ints each (1 or 2) into
// first (and second). `channel_nodes` checks the pairs against the network. False after a
// reported fault.
bool read_location_list(model_state& ms, file_handle& h, int values, bool channel_nodes, int& count,
                        raw_array1d<int>& first, raw_array1d<int>* second) {
  count = 0;
  int n = 0;
  const int got = std::fscanf(h.fp, "%d", &n);
  if (got == EOF) {
    stop_with_message("End of file reached in file %s, exiting\n", h.path);
    return false;
  }
  if (got != 1 || n < 0) {
    stop_with_message("Error: the location count of file %s is not a count of locations.\n",
                      h.path);
    return false;
  }
  if (!first.allocate(n) || (second != nullptr && !second->allocate(n))) {
    raw_report_alloc_failure("output locations");
    stop_now();
    return false;
  }
  for (int k = 1; k <= n; ++k) {
    int a = 0;
    int b = 0;
    const int read = values == 2 ? std::fscanf(h.fp, "%d %d", &a, &b) : std::fscanf(h.fp, "%d", &a);
    if (read == EOF || (read >= 0 && read < values && std::feof(h.fp))) {
      stop_with_message("End of file reached in file %s, exiting\n", h.path);
      return false;
    }
    if (read != values) {
      stop_with_message("Error: location %d of file %s is not a location.\n", k, h.path);
      return false;
    }
    if (channel_nodes && !network_node(ms.channel, a, b)) {
      stop_with_message(
          "Error: location %d of file %s is link %d node %d, which the channel "
          "network does not have.\n",
          k, h.path, a, b);
      return false;
    }
    first[k] = a;
    if (second != nullptr) (*second)[k] = b;
  }
  count = n;
  return true;
}

}  // namespace

void read_channel_initial_state(model_state& ms) {
  channel_state& ch = ms.channel;
  if (!ch.read_chan_hotstart_on) return;  // the channel starts dry, at its bed
  file_handle& h = ch.read_chan_depth_file;
  if (!h.is_open()) return;
  // Nodes the hotstart does not speak for (the last node of a sectioned link, which closes the
  // reach of the node above it) start dry at their bed, as every node does without a hotstart.
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    for (int node = ch.nx[link] + 1; node <= ch.nx1[link]; ++node) {
      if (!ch.yp.has(link, node) || !ch.bel.has(link, node)) continue;
      ch.yp(link, node) = ch.bel(link, node);
      if (ch.chan_depth.has(link, node)) ch.chan_depth(link, node) = 0.0;
    }
  }
  int line_number = 0;
  hotstart_line line;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!holds_channel_water(ch.ltype[link])) continue;
    for (int node = 1; node <= ch.nx[link]; ++node) {
      if (!next_node_line(ms, h, line_number, line)) {
        stop_with_message(
            "Error: the channel hotstart file %s ends before node %d of link %d: "
            "it holds fewer lines than the channel network has nodes.\n",
            h.path, node, link);
        return;
      }
      if (!line.numbered || line.link != link || line.node != node) {
        stop_with_message(
            "Error: line %d of the channel hotstart file %s is not for node %d of "
            "link %d, the node the channel network has there: the hotstart was "
            "written for another network.\n",
            line.number, h.path, node, link);
        return;
      }
      double level = 0.0;
      if (!take_double(line.rest, level)) {
        stop_with_message(
            "Error: line %d of the channel hotstart file %s gives no water-surface "
            "level for link %d node %d.\n",
            line.number, h.path, link, node);
        return;
      }
      ch.yp(link, node) = level;
      double flow_area = 0.0;
      if (take_double(line.rest, flow_area)) ch.area(link, node) = flow_area;
      double depth = level - ch.bel(link, node);
      if (depth < 0.0) {
        ch.yp(link, node) = ch.bel(link, node);
        depth = 0.0;
      }
      ch.chan_depth(link, node) = depth;
      if (depth > 1e-16) ch.chan_water_on = 1;
    }
  }
  if (next_node_line(ms, h, line_number, line)) {
    stop_with_message(
        "Error: the channel hotstart file %s holds more lines than the channel "
        "network has nodes (line %d): it was written for another network.\n",
        h.path, line.number);
  }
}

void read_hydrograph_locations(model_state& ms) {
  channel_state& ch = ms.channel;
  file_handle& h = ms.input.in_hyd_location_file;
  if (!h.is_open()) return;
  read_location_list(ms, h, 2, true, ch.hyd_location_count, ch.hlink, &ch.hnode);
  file_handle_close(h);
}

void read_gwflux_locations(model_state& ms) {
  channel_state& ch = ms.channel;
  file_handle& h = ms.input.in_gwflux_location_file;
  if (!h.is_open()) return;
  read_location_list(ms, h, 2, true, ch.gwflux_location_count, ch.gwflink, &ch.gwfnode);
  file_handle_close(h);
}

void read_sediment_locations(model_state& ms) {
  channel_state& ch = ms.channel;
  if (!ms.cards.in_sed_loc_given || !ms.transport.chan_sediment) return;
  file_handle h;
  if (!file_handle_open(h, ms.cards.in_sed_loc, "r")) {
    report_file_error_now(err_file_not_open, "sediment location", ms.cards.in_sed_loc);
    return;
  }
  const bool read = read_location_list(ms, h, 2, true, ch.sed_location_count, ch.slink, &ch.snode);
  file_handle_close(h);
  // The list heads the sediment location output.
  FILE* out = ms.transport.out_sed_loc_file.fp;
  if (!read || out == nullptr) return;
  fprintf(out, "%d\n", ch.sed_location_count);
  for (int k = 1; k <= ch.sed_location_count; ++k)
    fprintf(out, "%4d %4d\n", ch.slink[k], ch.snode[k]);
}

void read_superjunction_locations(model_state& ms) {
  channel_state& ch = ms.channel;
  file_handle& h = ms.input.superlink_junc_location_file;
  if (!ch.superlink_junc_location_on || !h.is_open()) return;
  read_location_list(ms, h, 1, false, ch.sjunc_location_count, ch.sjunc, nullptr);
}

void read_superlink_locations(model_state& ms) {
  channel_state& ch = ms.channel;
  file_handle& h = ms.input.superlink_node_location_file;
  if (!ch.superlink_node_location_on || !h.is_open()) return;
  read_location_list(ms, h, 2, false, ch.sl_location_count, ch.sl_link, &ch.sl_node);
}

int apply_stream_head_boundary(model_state& ms) {
  channel_state& ch = ms.channel;
  if (ch.bound_ts_on) ch.bound_depth = ts_value(ms.current_time, ch.bound_series);
  const int link = ch.chan_link_count;
  if (link < 1) return 0;
  const int node = ch.nx[link];
  if (!ch.yp.has(link, node) || !ch.chan_depth.has(link, node)) return 0;
  ch.yp(link, node) = ch.bel(link, node) + ch.bound_depth;
  ch.chan_depth(link, node) = ch.bound_depth;
  return 0;
}

double hold_outlet_head(model_state& ms) {
  channel_state& ch = ms.channel;
  if (!ch.head_bound) return 0.0;
  const int link = ch.chan_link_count;
  if (link < 1 || ch.nx.empty()) return 0.0;
  const int node = ch.nx[link];
  if (!ch.area.has(link, node) || !ch.yp.has(link, node) || !ch.chan_depth.has(link, node))
    return 0.0;
  const double before = ch.area(link, node);
  apply_stream_head_boundary(ms);
  if (!section_from_stage(ms, link, node)) return 0.0;
  return (ch.area(link, node) - before) * ch.dx[link];
}

void init_channel_storage(model_state& ms) {
  channel_state& ch = ms.channel;
  ch.chan_water_on = 0;
  if (ch.head_bound) {
    if (ch.bound_ts_on) {
      ch.bound_series = ts_find(ch.bound_ts);
      if (ch.bound_series == nullptr) {
        raise_file_error(err_stream_head_series_not_found, ch.bound_ts, "");
        return;
      }
    }
    apply_stream_head_boundary(ms);
    if (run_error.error_code != 0) return;
    ch.chan_water_on = 1;
  }
  if (ch.chan_explic) {
    ex_section(ms, 2);
    if (run_error.error_fatal) return;
    double volume = 0.0;
    for (int link = 1; link <= ch.chan_link_count; ++link) {
      if (!holds_channel_water(ch.ltype[link])) continue;
      for (int node = 1; node <= ch.nx[link]; ++node) volume += ch.area(link, node) * ch.dx[link];
    }
    ch.chan_vol_initial += volume;
    // The stream flood output's highest stages start from the stages the run starts with.
    if (ms.output.flood_stream && !ch.yp_max_flood.empty() &&
        ch.yp_max_flood.element_count() == ch.yp.element_count())
      std::copy(ch.yp.data(), ch.yp.data() + ch.yp.element_count(), ch.yp_max_flood.data());
  }
  chan_point_setup(ms);
  if (run_error.error_fatal) return;
  // The channel constituent masses and the channel cells of overland erosion belong to
  // transport runs, which the option checks refuse at start-up.
}
