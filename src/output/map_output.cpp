// Map and link/node output objects: their set-up, frames and records.
#include "output/map_output.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "output/datasets.h"
#include "output/grid_writer.h"

namespace {

void copy_text(char* out, std::size_t size, const char* text) {
  snprintf(out, size, "%s", text != nullptr ? text : "");
}

}  // namespace

map_output::~map_output() {
  file_handle_release(file);
}

int map_format_of(int map_type) {
  switch (map_type) {
    case 0:
      return map_output_grid_per_frame;
    case 1:
      return map_output_ascii_dataset;
    case 2:
      return map_output_binary_dataset;
    default:
      return map_output_unwritten;
  }
}

void open_run_map(const model_state& ms, map_output& m, const double* values, const char* base_name,
                  const char* extension, int object_id, const char* title) {
  m.values = values;
  m.index_map = &ms.index_map;
  m.north = ms.map_north;
  m.south = ms.map_south;
  m.east = ms.map_east;
  m.west = ms.map_west;
  m.rows = ms.map_rows;
  m.cols = ms.map_cols;
  m.cell_size = ms.gridsize;
  m.num_cells = ms.cell_count;
  map_output_open(m, map_format_of(ms.grid_params.map_type), base_name, extension, object_id,
                  title);
}

void map_output_open(map_output& m, int format_mode, const char* base_name, const char* extension,
                     int object_id, const char* title) {
  copy_text(m.extension, sizeof m.extension, extension);
  copy_text(m.grid_extension, sizeof m.grid_extension, ".asc");
  copy_text(m.base_name, sizeof m.base_name, base_name);
  copy_text(m.title, sizeof m.title, title);
  m.format_mode = format_mode;
  const std::string name = std::string(m.base_name) + m.extension;
  switch (format_mode) {
    case map_output_grid_per_frame:
      return;
    case map_output_binary_dataset:
      write_binary_dataset_header(name.c_str(), m.file, object_id, m.title, m.rows, m.cols);
      return;
    case map_output_unwritten:
      m.enabled = 0;
      return;
    default:
      write_ascii_dataset_header(name.c_str(), m.file, object_id, m.title, m.rows, m.cols);
      return;
  }
}

void map_output_sum(map_output& m) {
  if (m.layer_source == nullptr) return;
  if (m.sum1.upper() < m.num_cells) m.sum1.grow(m.num_cells - m.sum1.upper());
  if (m.layer_source2 != nullptr && m.sum2.upper() < m.num_cells)
    m.sum2.grow(m.num_cells - m.sum2.upper());
  if (m.diff_wanted && m.diff.upper() < m.num_cells) m.diff.grow(m.num_cells - m.diff.upper());
  for (int c = 1; c <= m.num_cells; ++c) {
    double s1 = 0.0;
    double s2 = 0.0;
    for (int k = 1; k <= m.num_layers; ++k) {
      s1 += m.layer_source[c][k];
      if (m.layer_source2 != nullptr) s2 += m.layer_source2[c][k];
    }
    m.sum1[c] = s1;
    if (m.layer_source2 != nullptr) m.sum2[c] = s2;
    if (m.diff_wanted) m.diff[c] = s1 - s2;
  }
}

void write_map(map_output& m, double time) {
  if (!m.enabled || m.index_map == nullptr || m.values == nullptr) return;
  if (m.sum_layers) map_output_sum(m);
  switch (m.format_mode) {
    case map_output_ascii_dataset:
    case map_output_binary_dataset:
      write_map_dataset_step(m.file, time, m.rows, m.cols, *m.index_map, m.values,
                             m.format_mode == map_output_binary_dataset);
      file_handle_write_check(m.file);
      return;
    case map_output_grid_per_frame: {
      std::string name = m.base_name;
      if (!name.empty() && name.back() != '\\') name.push_back('\\');
      char number[16];
      snprintf(number, sizeof number, ".%04d", m.frame_counter);
      name += std::string(m.title) + m.extension + number + m.grid_extension;
      printf("opening file %s\n", name.c_str());
      // The frames go into the folder of the base name, made when it is not there yet; a map
      // that cannot be written stops the run.
      if (!make_output_folders(name.c_str()) || !file_handle_open(m.file, name.c_str(), "w")) {
        m.enabled = 0;
        stop_with_message("Can't open map for writing: %s\n", name.c_str());
        return;
      }
      write_ascii_grid(m.file, *m.index_map, m.north, m.south, m.east, m.west, m.rows, m.cols,
                       m.values, m.cell_size);
      file_handle_close(m.file);
      ++m.frame_counter;
      return;
    }
    default:
      return;
  }
}

namespace {

void linknode_init(linknode_output& o, int kind, const int* node_count_a, const int* node_count_b,
                   const int* link_types, const double* const* second_values, const int* link_lake,
                   const double* lake_source, int lake_count, int link_count, int max_nodes) {
  o.kind = kind;
  o.node_count_a = node_count_a;
  o.node_count_b = node_count_b;
  o.link_types = link_types;
  o.second_values = second_values;
  o.link_lake = link_lake;
  o.lake_source = lake_source;
  o.lake_count = lake_count;
  o.link_count = link_count;
  o.max_nodes = max_nodes;
  if (lake_count > 0) o.lake_values.allocate(lake_count);
  o.out_values.allocate(max_nodes, link_count);
  o.record_number = 0;
}

}  // namespace

void linknode_output_init_table(linknode_output& o, int kind, const double* const* table_source,
                                const int* node_count_a, const int* node_count_b,
                                const int* link_types, const double* const* second_values,
                                const int* link_lake, const double* lake_source, int lake_count,
                                int link_count, int max_nodes) {
  o.source_mode = linknode_source_table;
  o.table_source = table_source;
  linknode_init(o, kind, node_count_a, node_count_b, link_types, second_values, link_lake,
                lake_source, lake_count, link_count, max_nodes);
}

void linknode_output_init_flat(linknode_output& o, int kind, const double* flat_source,
                               const int* node_count_a, const int* node_count_b,
                               const int* link_types, const double* const* second_values,
                               const int* link_lake, const double* lake_source, int lake_count,
                               int link_count, int max_nodes) {
  o.source_mode = linknode_source_flat;
  o.flat_source = flat_source;
  linknode_init(o, kind, node_count_a, node_count_b, link_types, second_values, link_lake,
                lake_source, lake_count, link_count, max_nodes);
}

void linknode_output_open(linknode_output& o, const char* part1, const char* part2,
                          const char* part3, double factor) {
  o.factor = factor;
  const std::string name = std::string(part1) + part2 + part3;
  if (!file_handle_open(o.file, name.c_str(), "w")) {
    printf("Error: unable to open file %s\n", name.c_str());
    o.open_failed = 1;
    return;
  }
  write_linknode_header(o.file, o.kind, o.link_count, 15, 15, 0, 0, 0, 0, 0);
}

void linknode_output_write_step(linknode_output& o) {
  for (int l = 1; l <= o.link_count && !o.out_values.empty(); ++l) {
    const int type = o.link_types != nullptr ? o.link_types[l] : 0;
    if ((type & (4 | 8 | 16)) == 0) {
      if ((type & 32) && o.link_lake != nullptr && o.lake_source != nullptr) {
        const int lake = o.link_lake[l];
        // The lake's value takes the unit of the record's node values: divided by the factor
        // like a flat source, multiplied by it like a node table.
        if (lake >= 1 && lake <= o.lake_count)
          o.lake_values[lake] = o.source_mode == linknode_source_table
                                    ? o.lake_source[lake] * o.factor
                                    : o.lake_source[lake] / o.factor;
      }
      if (type & 64) o.out_values[1][l] = 0.0;
      continue;
    }
    const int nodes = o.node_count_b[l] < o.max_nodes ? o.node_count_b[l] : o.max_nodes;
    for (int n = 1; n <= nodes; ++n) {
      double v = 0.0;
      if (n < o.node_count_a[l]) {
        if (o.source_mode == linknode_source_flat)
          v = o.flat_source[static_cast<long>(o.max_nodes) * l + n] / o.factor;
        else if (o.source_mode == linknode_source_table)
          v = o.table_source[n][l] * o.factor;
      }
      o.out_values[n][l] = v;
    }
  }
  // A file that did not open was reported when it was opened: its records are skipped.
  if (o.file.fp != nullptr && !o.out_values.empty())
    write_linknode_step(o.file, o.link_count, o.node_count_a, o.node_count_b, o.link_types,
                        o.record_number, o.out_values.row_table(), o.second_values,
                        linknode_plain_lakes, o.link_lake,
                        o.lake_values.empty() ? nullptr : o.lake_values.data());
  ++o.record_number;
}
