// Mapping tables with a layout of their own: the sediment classes, the soil erosion properties
// per sediment class, the wells, the wetlands and the two soil tables of the soil-column schemes.
// Called by the overland sediment set-up, the groundwater, wetland and soil readers of read_maps.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "framework/core/raw_arrays.h"

struct model_state;
struct soil_table_record;
struct well_record;
struct wetland_record;

// Wetlands a mapping table may define: compact wetland numbers 1..max_wetland_ids.
inline constexpr int max_wetland_ids = 300;

// Reads the SEDIMENTS table of the mapping-table file `file_name`: its NUM_SED count into
// class_count and, per class 1..class_count, the specific gravity, particle diameter, binding
// fraction and output file name of the row (values from character 41 on). The three double
// arrays are allocated here to class_count; output_filename receives class_count + 1 names
// (element 0 empty). A file without the table, or with a count of 0, gives class_count 0 and
// result 1. Returns 0 after a reported fault: err_mapping_table_not_open (the file does not open)
// or code 4000 after a message naming the file and the table (a negative count, a missing or short
// row, a value that is no number, a file name longer than 1023 characters).
int read_sed_table(const char* file_name, int& class_count, raw_array1d<double>& spec_grav,
                   raw_array1d<double>& part_diam, std::vector<std::string>& output_filename,
                   raw_array1d<double>& f_bind);

// Per-cell destinations of the five erosion columns (splash_K, detach_coef, detach_exp,
// detach_crit, sed_K); a null entry leaves its column out.
using erosion_columns = std::array<raw_array1d<double>*, 5>;

// Reads the SOIL_EROSION_PROPS table (id 10) and its index map: columns 1..5 go to the given
// per-cell outputs, column 5 + s to the soil-fraction slot of sed_fract[cell][s]
// (sed_fract_soil_slot, transport_records_state.h) for classes s = 1..class_count (a cell whose id
// is 0 gets 0.0); the other slots are left alone. An id that has no row of its own gives its cells
// 0.0 in every column and class. The table's NUM_SED must equal class_count
// (err_sediment_count_mismatch). The index map's header goes to map_north..map_cols of the model
// state. Returns 1, or 0 after a reported fault (the file, the index map or the table missing, the
// sediment count, the index-map codes, or 4000 after a message of its own).
int read_erosion_table(model_state& ms, const char* file_name, const erosion_columns& outputs,
                       raw_array3d<double>& sed_fract, int class_count);

// Reads the WELL_TABLE (id 16) and its index map and places the wells: every watershed cell
// whose id is not 0 gets the well of that id (wells_from_index_map). Returns 1, or 0 after a
// reported fault (the file, the index map or the table missing, the index-map codes, or 4000
// after a message of its own).
int read_well_table(model_state& ms, const char* file_name);

// The well-table list of the table's rows 1..n (ids, data[row][1..3]), each put at the front of
// `head`: mode = column 1 truncated; a mode column of 0.0 gives a constant rate of column 2 and
// series index 0, any other mode a rate of 0.0 and the series index column 2 truncated.
// Column 3 is not used. Returns 1; 0 after a reported fault (a mode or series index beyond the
// int range; own message naming the file, code 4000), with `head` freed.
int make_well_list(const char* file_name, const raw_array1d<int>& ids,
                   const raw_array2d<double>& data, int n, well_record*& head);

// Reads the WETLAND_PROPERTIES table (id 12) and its index map: numbers the distinct ids of the
// map 1, 2, ... in the order they are met row by row, stores the table's count in
// wetland_count, fills records 1..count of `wetlands` (allocated here) and writes every
// watershed cell's compact number into wetland_mask (0 for id 0). A map id without a table row
// is numbered like the others and its record stays all 0.0. Returns 1, or 0 after a reported
// fault (the file, the index map or the table missing, the wetland id count or too many ids,
// the index-map codes, or 4000 after a message of its own).
int read_wetland_table(model_state& ms, const char* file_name, int& wetland_count,
                       raw_array1d<wetland_record>& wetlands, raw_array1d<int>& wetland_mask);

// Reads the soil-type index map of the Richards table of `form` (1 Brooks-Corey: table 7,
// 2 Havercamp: table 6) into soil_type (one id per watershed cell) and hands the table to the
// soil-column reader read_layered_soil_table. Returns that reader's result (the number of
// Richards nodes per cell), 0 for another form, -1 after a reported fault
// (err_mapping_table_not_open, err_richards_soil_type_map_missing for a missing table or index map,
// or the map reader's fault).
int read_richards_soil_table(model_state& ms, const char* file_name, int form,
                             raw_array1d<int>& soil_type);

// The same for the MULTI_LAYER_SOIL table: the soil-type index map into soil_type, then
// read_multilayer_soil_block fills soil_types. Returns the block reader's result, -1 after a
// reported fault (err_mapping_table_not_open, err_richards_soil_type_map_missing for a missing
// table or index map, or the map reader's fault).
int read_multilayer_table(model_state& ms, const char* file_name, soil_table_record* soil_types,
                          raw_array1d<int>& soil_type);
