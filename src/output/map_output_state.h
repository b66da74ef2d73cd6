// Map and link/node output objects as the run's output record holds them: each owns its file,
// its name parts, its frame or record counter and its buffers. map_output.h opens and writes them.
#pragma once

#include "framework/core/file_handle.h"
#include "framework/core/guarded_array.h"
#include "framework/core/raw_arrays.h"

// Format modes of a map output.
inline constexpr int map_output_grid_per_frame = 1;
inline constexpr int map_output_ascii_dataset = 2;
inline constexpr int map_output_binary_dataset = 3;
inline constexpr int map_output_unwritten = 4;  // a dataset format this version cannot write

struct map_output {
  file_handle file;                // the dataset file, or the frame file being written
  char base_name[1024] = {};       // dataset: name before the extension; frames: folder
  const double* values = nullptr;  // the array written, 1-based by active cell
  const double* const* layer_source = nullptr;   // optional [cell][layer] source summed per frame
  const double* const* layer_source2 = nullptr;  // optional second layered source
  guarded_array<double> sum1;                    // per cell: layer sum of layer_source
  guarded_array<double> sum2;                    // per cell: layer sum of layer_source2
  guarded_array<double> diff;                    // per cell: sum1 - sum2
  int sum_layers = 0;                            // the sums are formed before every frame
  int diff_wanted = 0;                           // diff is formed too
  int num_layers = 0;                            // layers per cell of the layered sources
  int num_cells = 0;                             // cells summed
  const raw_array2d<int>* index_map = nullptr;   // rows x cols, nonzero = active
  double north = 0.0, south = 0.0, east = 0.0, west = 0.0;  // map extent
  int rows = 0, cols = 0;                                   // grid size
  int format_mode = 0;           // map_output_grid_per_frame .. map_output_unwritten
  int enabled = 1;               // cleared when the format cannot be written
  int frame_counter = 1;         // number of the next frame file
  double cell_size = 0.0;        // grid cell size
  char extension[30] = {};       // e.g. ".conc"
  char grid_extension[30] = {};  // ".asc"
  char title[100] = {};          // dataset name; prefix of the frame files

  map_output() = default;
  map_output(const map_output&) = delete;
  map_output& operator=(const map_output&) = delete;
  ~map_output();  // closes the file
};

// Source modes of a link/node output.
inline constexpr int linknode_source_none = -1;
inline constexpr int linknode_source_flat = 1;
inline constexpr int linknode_source_table = 2;

struct linknode_output {
  int record_number = 0;                        // the "TS" number of the next record
  int source_mode = linknode_source_none;       // none, flat array or node table
  const double* flat_source = nullptr;          // flat: node n of link l at [max_nodes x l + n]
  const double* const* table_source = nullptr;  // table: [n][l]
  file_handle file;                             // the dataset file
  int open_failed = 0;                // the file did not open: reported once, then skipped
  int kind = 0;                       // link/node dataset kind
  int link_count = 0;                 // links written
  const int* node_count_a = nullptr;  // per link: nodes that carry values
  const int* node_count_b = nullptr;  // per link: node entries written
  const int* link_types = nullptr;    // per link: type bits
  const double* const* second_values = nullptr;  // second array of the records
  const int* link_lake = nullptr;                // per link: lake number
  const double* lake_source = nullptr;           // per lake: value
  raw_array2d<double> out_values;                // [node][link]: the record being written
  int max_nodes = 0;                             // node stride
  double factor = 1.0;                           // unit divisor (flat) or multiplier (table)
  int lake_count = 0;                            // lakes
  raw_array1d<double> lake_values;               // per lake: the record's lake values

  linknode_output() = default;
  linknode_output(const linknode_output&) = delete;
  linknode_output& operator=(const linknode_output&) = delete;
};
