// Map and link/node output objects: any part of the model publishes a per-cell array as a map
// (frames of a map dataset, or one ESRI ASCII grid per frame) or a per-node channel array as a
// link/node dataset without knowing the file formats. Each object owns its file, its name parts,
// its frame or record counter and its buffers.
#pragma once

#include "framework/core/file_handle.h"
#include "framework/core/guarded_array.h"
#include "framework/core/raw_arrays.h"
#include "output/map_output_state.h"

struct model_state;

// Copies the name parts into the object and, by the format mode, writes the binary or the ASCII
// dataset header on base_name + extension (object id and title), nothing with one grid per
// frame, and switches the object off for a format this version cannot write.
void map_output_open(map_output& m, int format_mode, const char* base_name, const char* extension,
                     int object_id, const char* title);
// The map format of a MAP_TYPE value: 0 one grid per frame, 1 an ASCII dataset, 2 a binary
// dataset; any other value (4 writes only the model's own maps) writes no constituent map.
int map_format_of(int map_type);
// Points `m` at the run's grid (index map, header, cell size and count) and `values`, then opens
// it by the run's MAP_TYPE on base_name + extension.
void open_run_map(const model_state& ms, map_output& m, const double* values, const char* base_name,
                  const char* extension, int object_id, const char* title);
// Forms the layer sums of the layered sources.
void map_output_sum(map_output& m);
// Writes one frame at `time`. A frame file that does not open is reported once ("Can't open map
// for writing: %s\n") and the object is switched off.
void write_map(map_output& m, double time);

// Sets the source and the network arrays of a link/node output.
void linknode_output_init_table(linknode_output& o, int kind, const double* const* table_source,
                                const int* node_count_a, const int* node_count_b,
                                const int* link_types, const double* const* second_values,
                                const int* link_lake, const double* lake_source, int lake_count,
                                int link_count, int max_nodes);
void linknode_output_init_flat(linknode_output& o, int kind, const double* flat_source,
                               const int* node_count_a, const int* node_count_b,
                               const int* link_types, const double* const* second_values,
                               const int* link_lake, const double* lake_source, int lake_count,
                               int link_count, int max_nodes);
// Opens part1 + part2 + part3 and writes the header (TIME_STEP 15, NUM_TS 15, START_TIME zero).
// A file that does not open prints "Error: unable to open file %s\n" once; the records are then
// skipped (their numbers still advance).
void linknode_output_open(linknode_output& o, const char* part1, const char* part2,
                          const char* part3, double factor);
// Writes one record and advances the record number.
void linknode_output_write_step(linknode_output& o);
