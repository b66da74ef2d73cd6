// Dataset writers: the multi-frame map datasets (a header, then one frame of every grid position
// per output time, in ASCII or in binary with fixed-width little-endian values) and the link/node
// datasets (a header, then one record of every channel or pipe node per output time). Also the
// start-up steps that open the model's own map datasets and write its stream and pipe headers.
#pragma once

#include <cstddef>
#include <string>

#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"
#include "output/map_outputs_state.h"

struct file_handle;
struct model_state;

// The NAME of a kind's dataset ("depth", ...), or "" for a kind outside 0..14.
const char* map_dataset_name(int kind);

// Opens `file_name` for writing ("w") into `file` and writes the ASCII dataset header with
// rows x cols positions. A file that does not open leaves err_output_file_not_open (fatal) with
// its name for the driver and writes nothing; returns whether the header was written.
bool write_ascii_dataset_header(const char* file_name, file_handle& file, int object_id,
                                const char* dataset_name, int rows, int cols);
// The same for the binary header, the file opened "wb".
bool write_binary_dataset_header(const char* file_name, file_handle& file, int object_id,
                                 const char* dataset_name, int rows, int cols);
// Appends one frame at `time`: the activity flag of every grid position, then its value (the
// next active cell's value from the 1-based `values`, 0.0 outside), in row-major order. A closed
// file writes nothing.
void write_map_dataset_step(file_handle& file, double time, int rows, int cols,
                            const raw_array2d<int>& index_map, const double* values, bool binary);

// Opens one map dataset by the run's map format (MAP_TYPE): binary when 2; nothing, with the
// kind switched off, for the dataset format this version cannot write (4); no header when 0
// (one grid file per frame); else ASCII.
void open_map_dataset(int object_id, const char* file_name, const char* dataset_name,
                      file_handle& file, int& enabled, model_state& ms);
// Opens the dataset of one kind under the name its output card gave.
void open_map_dataset_kind(int kind, model_state& ms);

// Link/node dataset kinds 0..31 and their header keywords; "" outside.
const char* linknode_keyword(int kind);
inline constexpr int linknode_stream_depth = 0;
inline constexpr int linknode_stream_flow = 1;
inline constexpr int linknode_stream_stage = 2;
inline constexpr int linknode_stream_velocity = 3;
inline constexpr int linknode_flood_stream_depth = 4;
inline constexpr int linknode_superlink_flow = 5;
inline constexpr int linknode_superlink_head = 6;
inline constexpr int linknode_superlink_tile_flow = 7;
inline constexpr int linknode_mass = 26;
inline constexpr int linknode_concentration = 27;
inline constexpr int linknode_stream_sed_flux = 31;

// Value modes of a link/node record.
inline constexpr int linknode_plain = 0;
inline constexpr int linknode_difference = 1;
inline constexpr int linknode_ratio = 2;
// Node values as in plain mode, and a lake link's field holding its lake's value: the records of
// the constituent and nutrient output objects, whose lake links show the lake's store.
inline constexpr int linknode_plain_lakes = 3;

// Writes a link/node header. A closed file writes nothing.
void write_linknode_header(file_handle& file, int kind, int link_count, int time_step,
                           int record_count, int day, int month, int year, int hour, int minute);

// The values of a link/node record: a [node][link] row table, or a channel array reached as
// (link, node). Empty when it holds neither.
struct linknode_values {
  const double* const* table = nullptr;
  const link_node_array<double>* array = nullptr;

  linknode_values() = default;
  linknode_values(std::nullptr_t) {}                                // NOLINT: no values
  linknode_values(const double* const* t) : table(t) {}             // NOLINT: a row table
  linknode_values(const link_node_array<double>& a) : array(&a) {}  // NOLINT: a channel array
  bool empty() const { return table == nullptr && (array == nullptr || array->empty()); }
  // The value of node n of link l; 0.0 where a channel array does not reach.
  double at(int n, int l) const {
    if (table != nullptr) return table[n][l];
    return array != nullptr && array->has(l, n) ? (*array)(l, n) : 0.0;
  }
};

// Writes one link/node record number `record`. Arrays are 1-based by link (node_count,
// written_count, ltype, link_lake) or by lake (lake_values). written_count, second, link_lake
// and lake_values may be null (empty) where the record does not use them. A closed file writes
// nothing.
void write_linknode_step(file_handle& file, int link_count, const int* node_count,
                         const int* written_count, const int* ltype, int record,
                         linknode_values first, linknode_values second, int mode,
                         const int* link_lake, const double* lake_values);

// The interval of the run's link/node headers in whole minutes: the time-series interval
// (hyd_freq_steps x timestep) truncated, at least 1 so that the record count can be formed from
// it; and the count of records in the run, TOT_TIME / that interval.
int linknode_run_time_step(const model_state& ms);
int linknode_run_record_count(const model_state& ms);
