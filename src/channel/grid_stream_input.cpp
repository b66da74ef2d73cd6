// Grid-stream file: the table that ties channel nodes to the grid cells they cross. For each
// stream cell (CELLIJ row column) its NUMNODES entries (LINKNODE link node share), checked
// against the grid, the watershed and the channel network already read. The channel input
// reader calls it once at start-up.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "channel/channel_input.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/input_steps.h"

namespace {

std::string card_name(int code) {
  return chan_card_name(code);
}

// The grid-stream file's reader.
class gst_reader {
 public:
  gst_reader(model_state& ms, const char* name)
      : ms_(ms), ch_(ms.channel), file_(name == nullptr ? "" : name) {}
  bool run(file_handle& h);

 private:
  // The header cards and the declared stream-cell count, checked against the CELLIJ cards.
  bool stream_cell_count(const std::vector<numbered_line>& lines, int& cells);
  // First scan: the node count of every stream cell; allocates the tables.
  bool node_counts(const std::vector<numbered_line>& lines, int cells);
  // Second scan: the entries of every stream cell.
  bool entries(const std::vector<numbered_line>& lines, int cells);
  bool fail_value(int code, int line, long long value, const char* rule);
  bool take(std::string& rest, int code, int line, const char* what, int lo, int hi,
            const char* rule, int& out);
  model_state& ms_;
  channel_state& ch_;
  std::string file_;
};

bool gst_reader::fail_value(int code, int line, long long value, const char* rule) {
  stop_with_message("Error: the %s card on line %d of the grid-stream file %s gives %lld: %s.\n",
                    card_name(code).c_str(), line, file_.c_str(), value, rule);
  return false;
}

bool gst_reader::take(std::string& rest, int code, int line, const char* what, int lo, int hi,
                      const char* rule, int& out) {
  if (!::take_int(rest, out)) {
    stop_with_message(
        "Error: the %s card on line %d of the grid-stream file %s lacks %s, or it "
        "is not a number.\n",
        card_name(code).c_str(), line, file_.c_str(), what);
    return false;
  }
  if (out < lo || out > hi) return fail_value(code, line, out, rule);
  return true;
}

bool gst_reader::run(file_handle& h) {
  const std::vector<numbered_line> lines = read_numbered_lines(h);
  if (run_error.error_fatal != 0) return false;
  int cells = 0;
  if (!stream_cell_count(lines, cells) || !node_counts(lines, cells) || !entries(lines, cells))
    return false;
  if (!chan_input_quiet(ms_))
    printf("Finished reading non-orthogonal channel information from gst file.\n");
  return true;
}

bool gst_reader::stream_cell_count(const std::vector<numbered_line>& lines, int& cells) {
  std::string first = lines.empty() ? std::string() : lines[0].text;
  std::string token;
  next_token(first, token);
  if (token.compare(0, 14, "GRIDSTREAMFILE") != 0 || token.size() < 14) {
    stop_with_message(
        "Error: the grid-stream file %s does not begin with the GRIDSTREAMFILE "
        "card; it is not a grid-stream file.\n",
        file_.c_str());
    return false;
  }
  std::string second = lines.size() > 1 ? lines[1].text : std::string();
  if (chan_input_card_code(second) != chan_card_streamcells) {
    stop_with_message(
        "The second card in the grid-stream file must be STREAMCELLS\n"
        "File format error, program terminating.\n");
    return false;
  }
  // The declared count is checked against the CELLIJ cards the file holds before anything is
  // allocated by it: a count the file does not back is refused, however large.
  constexpr int max_stream_cells = 100000000;
  cells = 0;
  {
    std::string t;
    next_token(second, t);
    int v = 0;
    const bool whole = parse_whole_number(t, v);
    const bool digits = !t.empty() && t.find_first_not_of("0123456789") == std::string::npos;
    if ((whole && v > max_stream_cells) || (!whole && digits)) {
      stop_with_message(
          "Error: the STREAMCELLS card of the grid-stream file %s declares %s stream cells; "
          "at most %d are allowed.\n",
          file_.c_str(), t.c_str(), max_stream_cells);
      return false;
    }
    if (!whole || v < 1) {
      stop_with_message(
          "The number of STREAMCELLS in the grid-stream (.gst) file\n"
          "must be greater than 0.  File format error, program terminating\n");
      return false;
    }
    cells = v;
  }
  int found = 0;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::string rest = lines[i].text;
    if (chan_input_card_code(rest) == chan_card_cellij) ++found;
  }
  if (found != cells) {
    stop_with_message(
        "Error: the STREAMCELLS card of the grid-stream file %s declares %d stream cells, but "
        "the file holds %d CELLIJ cards.\n",
        file_.c_str(), cells, found);
    return false;
  }
  return true;
}

bool gst_reader::node_counts(const std::vector<numbered_line>& lines, int cells) {
  alloc_1d_int(ch_.gst_ncellsingrid, cells, "gst_ncellsingrid");
  if (ch_.gst_ncellsingrid.empty()) {
    stop_now();
    return false;
  }
  int numnodes_cards = 0;
  int width = 0;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::string rest = lines[i].text;
    if (chan_input_card_code(rest) != chan_card_numnodes) continue;
    const int line = lines[i].number;
    if (++numnodes_cards > cells) {
      fail_value(chan_card_numnodes, line, numnodes_cards,
                 "the file holds more stream cells than its STREAMCELLS card declares");
      return false;
    }
    int n = 0;
    if (!take(rest, chan_card_numnodes, line, "the node count", 1, 100000,
              "a stream cell holds 1 to 100000 channel nodes", n))
      return false;
    ch_.gst_ncellsingrid[numnodes_cards] = n;
    width = std::max(width, n);
  }
  ch_.gst_stream_cells = cells;
  ch_.gst_width = width;
  alloc_2d_int_named(ch_.gst_link, cells, width, "gst_link");
  alloc_2d_int_named(ch_.gst_node, cells, width, "gst_node");
  alloc_2d_int_named(ch_.gst_gnum, cells, width, "gst_gnum");
  alloc_2d_double_named(cells, width, ch_.gst_pct, "gst_pct");
  alloc_2d_double_named(cells, width, ch_.gst_sac_weight, "gst_sac_weight");
  alloc_2d_double_named(cells, width, ch_.gst_Vlat, "gst_Vlat");
  if (ch_.gst_link.empty() || ch_.gst_node.empty() || ch_.gst_gnum.empty() || ch_.gst_pct.empty() ||
      ch_.gst_sac_weight.empty() || ch_.gst_Vlat.empty()) {
    stop_now();
    return false;
  }
  return true;
}

bool gst_reader::entries(const std::vector<numbered_line>& lines, int cells) {
  int c = 0;
  int k = 0;
  int gnum = 0;
  char rule[128];
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::string rest = lines[i].text;
    const int code = chan_input_card_code(rest);
    const int line = lines[i].number;
    if (code == chan_card_cellij) {
      if (++c > cells) {
        fail_value(code, line, c,
                   "the file holds more stream cells than its STREAMCELLS card "
                   "declares");
        return false;
      }
      int row = 0;
      int col = 0;
      snprintf(rule, sizeof rule, "grid rows are 1 to %d", ms_.rows);
      if (!take(rest, code, line, "the row", 1, ms_.rows, rule, row)) return false;
      snprintf(rule, sizeof rule, "grid columns are 1 to %d", ms_.cols);
      if (!take(rest, code, line, "the column", 1, ms_.cols, rule, col)) return false;
      gnum = ms_.index_map.empty() ? 0 : ms_.index_map[row][col];
      if (gnum < 1) {
        stop_with_message(
            "Error: the CELLIJ card on line %d of the grid-stream file %s names row "
            "%d, column %d, which lies outside the watershed.\n",
            line, file_.c_str(), row, col);
        return false;
      }
      k = 1;
    } else if (code == chan_card_linknode) {
      if (c == 0) {
        stop_with_message(
            "Error: the LINKNODE card on line %d of the grid-stream file %s comes "
            "before any CELLIJ card.\n",
            line, file_.c_str());
        return false;
      }
      if (k > ch_.gst_ncellsingrid[c]) {
        fail_value(code, line, k, "the stream cell holds more LINKNODE cards than its NUMNODES");
        return false;
      }
      int link = 0;
      int node = 0;
      snprintf(rule, sizeof rule, "links are numbered 1 to %d", ch_.chan_link_count);
      if (!take(rest, code, line, "the link", 1, ch_.chan_link_count, rule, link)) return false;
      const int last = ch_.nx.empty() ? 0 : ch_.nx[link];
      snprintf(rule, sizeof rule, "link %d has nodes 1 to %d", link, last);
      if (!take(rest, code, line, "the node", 1, last, rule, node)) return false;
      double share = 0.0;
      if (!::take_double(rest, share)) {
        stop_with_message(
            "Error: the LINKNODE card on line %d of the grid-stream file %s lacks "
            "the share of its node, or it is not a number.\n",
            line, file_.c_str());
        return false;
      }
      if (share < 0.0 || share > 1.0) {
        stop_with_message(
            "Error: the LINKNODE card on line %d of the grid-stream file %s gives node %d of "
            "link %d a share of %g; a share of a stream cell lies between 0 and 1.\n",
            line, file_.c_str(), node, link, share);
        return false;
      }
      ch_.gst_link[c][k] = link;
      ch_.gst_node[c][k] = node;
      ch_.gst_pct[c][k] = share;
      ch_.gst_gnum[c][k] = gnum;
      ++k;
    }
  }
  return true;
}

}  // namespace

bool read_grid_stream_file(model_state& ms, file_handle& gst) {
  gst_reader reader(ms, gst.path);
  return reader.run(gst);
}
