// ASCII grid map reader: every grid input of a run (watershed mask, elevation, soil and
// groundwater parameters, hotstart and index maps) is read through read_ascii_map at start-up,
// called by the mask and elevation readers and by every other grid-input reader of read_maps.
#pragma once

#include "framework/core/raw_arrays.h"

struct file_handle;
struct model_state;

// Storage modes of read_ascii_map.
inline constexpr int map_store_cell_double = 1;  // one double per watershed cell, one line per row
inline constexpr int map_store_grid_int = 2;     // one int per grid position, free-form
inline constexpr int map_store_cell_double_2 = 3;  // as mode 1, into the second double destination
inline constexpr int map_store_cell_category = 4;  // one category id per watershed cell, counted

// Category ids that mode 4 counts: 0 to max_map_category.
inline constexpr int max_map_category = 10000;

// Reads one ASCII grid map from the open `file`: six header lines (a word and the north, south,
// east and west edges, the rows and the columns) into the out-parameters, then the values.
// The header's rows and cols must equal expected_rows and expected_cols. Mode 2 stores every
// position's int into index_grid[row][col]; modes 1, 3 and 4 store the value of the k-th
// watershed position (index_grid non-zero, row by row) into element k of `first`, `second` or
// `categories`. Destinations the mode does not use may be null.
//
// Every fault (unreadable header, wrong or non-positive size, a value that is not a number, a
// short row, an early end of the file, a category outside 0..10000, a destination too small)
// prints its message naming the map, sets error code 4000 and is reported at once through
// error_report, which sets the fatal flag: the caller tests run_error.error_fatal afterwards.
// Values stored before the fault stay stored. The file is left open.
void read_ascii_map(file_handle& file, const char* map_name, int mode, double& north, double& south,
                    double& east, double& west, int& rows, int& cols, raw_array2d<int>& index_grid,
                    raw_array1d<double>* first, raw_array1d<double>* second,
                    raw_array1d<int>* categories, int expected_rows, int expected_cols);

// A reading line of a grid input ("reading ... from file: %s\n"): written into the run's summary
// file when it is open, and to the console unless SUPER_QUIET is set or the process rank is not 0.
void input_reading_line(model_state& ms, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// True when console lines of the start-up readers are printed: SUPER_QUIET not set and the
// process rank 0.
bool input_console_on(const model_state& ms);
