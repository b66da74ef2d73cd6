// Coupling with the reservoir model: set-up of the segment link at start-up (called by the
// input-reading driver), the flows summed at every step and written at every hydrograph output
// time (called by the series outputs), and the release of the record at the end of the run.
#include "output/r7_link.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/raw_arrays.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/input_steps.h"

namespace {

// Reads the segment map into r7.seg_map; true when it gave at least one segment (num_segments
// and the active segments set), false when it did not open or holds none (warning 95 then).
// A value that is no segment number stops the run (error_fatal set).
bool read_segment_map(r7_data& r7, const char* name, raw_array2d<int>& index_map, int rows,
                      int cols, int cell_count) {
  file_handle map;
  if (name == nullptr || name[0] == '\0' || !file_handle_open(map, name, "r")) return false;
  raw_array1d<double> values;
  if (!values.allocate(cell_count) || !r7.seg_map.allocate(cell_count)) {
    stop_with_message("Error allocating memory for variable %s\n", "r7_data->seg_map");
    return false;
  }
  double north = 0, south = 0, east = 0, west = 0;
  int map_rows = 0, map_cols = 0;
  read_ascii_map(map, name, map_store_cell_double, north, south, east, west, map_rows, map_cols,
                 index_map, &values, nullptr, nullptr, rows, cols);
  file_handle_close(map);
  if (run_error.error_fatal) return false;
  int largest = -1;
  for (int k = 1; k <= cell_count; ++k) {
    const double v = values[k];
    if (!(v >= 0.0 && v <= 1e6 && v == std::floor(v))) {
      stop_with_message(
          "Error: cell %d of the R7 segment map %s holds %g, which is not a segment "
          "number (a whole number from 0 to 1000000).\n",
          k, name, v);
      return false;
    }
    r7.seg_map[k] = static_cast<int>(v);
    if (r7.seg_map[k] > largest) largest = r7.seg_map[k];
  }
  if (largest < 1) {
    report_error_now(warn_r7_segment_map_empty);
    r7.seg_map.reset();
    return false;
  }
  r7.num_segments = largest;
  if (!r7.segment_flow.allocate(largest) || !r7.segment_active.allocate(largest)) {
    stop_with_message("Error allocating memory for variable %s\n", "r7_data->active_array");
    return false;
  }
  for (int k = 1; k <= cell_count; ++k)
    if (r7.seg_map[k] > 0) r7.segment_active[r7.seg_map[k]] = 1;
  r7.step_count = 0;
  return true;
}

void bad_triples_field(const char* name, long line, const char* field, const std::string& word) {
  stop_with_message(
      "Error: %s on line %ld of the R7 link/node to segment file %s: \"%.60s\" is not a whole "
      "number.\n",
      field, line, name, word.c_str());
}

// Reads the link/node-to-segment triples; false after a fault reported (the file's form, or
// error 97 for a segment that is not on the map).
bool read_triples(r7_data& r7, const char* name) {
  file_handle in;
  if (name == nullptr || name[0] == '\0' || !file_handle_open(in, name, "r")) return true;
  std::string line, word;
  if (!read_text_line(line, in)) return run_error.error_fatal == 0;
  int n = 0;
  std::string count_line = line;
  if (!take_int(line, n)) {
    next_token(count_line, word);
    bad_triples_field(name, in.lines_read, "the triple count", word);
    return false;
  }
  if (n <= 0) return true;
  if (!r7.link.allocate(n) || !r7.node.allocate(n) || !r7.segment.allocate(n)) {
    stop_with_message("Error allocating memory for variable %s\n", "r7_data->link");
    return false;
  }
  bool bad = false;
  static const char* const fields[3] = {"the link", "the node", "the segment"};
  for (int i = 1; i <= n; ++i) {
    if (!read_text_line(line, in)) {
      if (run_error.error_fatal) return false;
      stop_with_message(
          "Error: the R7 link/node to segment file %s ends after %d of its %d "
          "link/node/segment lines.\n",
          name, i - 1, n);
      return false;
    }
    int value[3] = {};
    for (int f = 0; f < 3; ++f) {
      std::string rest = line;
      word.clear();
      next_token(rest, word);
      if (!take_int(line, value[f])) {
        bad_triples_field(name, in.lines_read, fields[f], word);
        return false;
      }
    }
    r7.link[i] = value[0];
    r7.node[i] = value[1];
    r7.segment[i] = value[2];
    const int s = value[2];
    if (s <= 0 || s > r7.num_segments || r7.segment_active[s] == 0) bad = true;
  }
  r7.num_triples = n;
  if (bad) {
    report_error_now(err_r7_flux_segment_invalid);
    return false;
  }
  return true;
}

}  // namespace

int r7_link_init(r7_data& r7, const project_cards& cards, raw_array2d<int>& index_map, int rows,
                 int cols, int cell_count, double) {
  if (!cards.r7_fluxes_given) return 0;
  r7.first_write_pending = 1;
  const bool have_map =
      read_segment_map(r7, cards.r7_segment_map, index_map, rows, cols, cell_count);
  if (run_error.error_fatal) return -1;
  if (!read_triples(r7, cards.r7_nodes_to_segs)) return -1;
  if (!have_map && r7.num_triples == 0) {
    report_error_now(warn_r7_flux_without_segments);
    r7.num_segments = 0;
    return 0;
  }
  if (!file_handle_open(r7.segment_flow_file, cards.r7_segment_fluxes, "w")) {
    report_file_error_now(err_r7_flux_output_not_open, "R7 internal flux output",
                          cards.r7_segment_fluxes);
    return -1;
  }
  FILE* fp = r7.segment_flow_file.fp;
  fprintf(fp, "   jday   ");
  for (int s = 1; s <= r7.num_segments; ++s)
    if (r7.segment_active[s]) fprintf(fp, "%-8d  ", s);
  fprintf(fp, "\n");
  return 0;
}

void r7_accumulate_flows(r7_data& r7, const r7_step_flows& f) {
  if (r7.num_segments == 0) return;
  ++r7.step_count;
  // Overland flow across a segment's edge with the cells of no segment; flow between two cells
  // of segments, or of no segment, is not handed over.
  const int n = r7.seg_map.empty() ? 0 : f.cell_count;
  const bool faces = holds(f.rightcon, n) && holds(f.belowcon, n) && holds(f.flux_x, n) &&
                     holds(f.flux_y, n) && r7.seg_map.count() >= n;
  for (int k = 1; faces && k <= n; ++k) {
    const int here = r7.seg_map[k];
    const int right = f.rightcon[k];
    if (right > 0 && (here == 0) != (r7.seg_map[right] == 0))
      r7.segment_flow[here > 0 ? here : r7.seg_map[right]] += std::fabs(f.flux_x[k]);
    const int below = f.belowcon[k];
    if (below > 0 && (here == 0) != (r7.seg_map[below] == 0))
      r7.segment_flow[here > 0 ? here : r7.seg_map[below]] += std::fabs(f.flux_y[k]);
  }
  if (!f.chan_explic) return;
  for (int i = 1; i <= r7.num_triples; ++i)
    r7.segment_flow[r7.segment[i]] += std::fabs(f.qp(r7.link[i], r7.node[i]));
}

void r7_write_flows(r7_data& r7, double day) {
  if (r7.step_count == 0 || r7.segment_flow_file.fp == nullptr) return;
  if (r7.first_write_pending) {
    r7.first_write_time = day;
    r7.first_write_pending = 0;
  }
  FILE* fp = r7.segment_flow_file.fp;
  fprintf(fp, "%-8.3lf  ", day - r7.first_write_time + 1.0);
  for (int s = 1; s <= r7.num_segments; ++s) {
    if (!r7.segment_active[s]) continue;
    r7.segment_flow[s] /= r7.step_count;
    fprintf(fp, "%-8.2lf  ", r7.segment_flow[s]);
    r7.segment_flow[s] = 0.0;
  }
  fprintf(fp, "\n");
  r7.step_count = 0;
}

void r7_link_free(std::unique_ptr<r7_data>& r7) {
  if (r7) file_handle_close(r7->segment_flow_file);
  r7.reset();
}

void set_up_r7_link(model_state& ms) {
  ms.output.r7.reset(new (std::nothrow) r7_data);
  if (!ms.output.r7) {
    raw_report_alloc_failure("r7_data");
    stop_now();
    return;
  }
  r7_data& r7 = *ms.output.r7;
  if (r7_link_init(r7, ms.cards, ms.index_map, ms.rows, ms.cols, ms.cell_count,
                   static_cast<double>(ms.day_of_year)) != 0 ||
      run_error.error_fatal)
    return;
  if (r7.num_segments == 0) return;

  // The flows handed over come from the channel nodes of the triples: every triple must name a
  // node of the network when the channels are routed.
  const channel_state& ch = ms.channel;
  if (ch.chan_explic) {
    for (int i = 1; i <= r7.num_triples; ++i) {
      const int link = r7.link[i], node = r7.node[i];
      if (link >= 1 && link <= ch.chan_link_count && node >= 1 && node <= ch.qp.node_count(link))
        continue;
      stop_with_message(
          "Error: line %d of the R7 link/node to segment file %s names link %d, "
          "node %d, which is not a node of the channel network.\n",
          i + 1, ms.cards.r7_nodes_to_segs, link, node);
      return;
    }
  }
}
