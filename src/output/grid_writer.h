// Grid writers: one map of per-cell values written as a whole ASCII grid, in the ESRI form (the
// map outputs' frame files and every end-of-run map) or the GRASS form (the form the model's own
// grid reader takes back). The caller opens and closes the file.
#pragma once

#include <string>

#include "framework/core/raw_arrays.h"

struct file_handle;

// Value of a position outside the watershed in the ESRI form.
inline constexpr double esri_no_data = -9999.99;

// Writes one ESRI ASCII grid of rows x cols positions: the six header lines, then each row with
// one "%6.4lf " field per position, the next active cell's value (values 1-based, taken in
// row-major order of the active cells of index_map) or the no-data value outside. Nothing after
// the header when rows is below 1. A closed file writes nothing.
void write_ascii_grid(file_handle& file, const raw_array2d<int>& index_map, double north,
                      double south, double east, double west, int rows, int cols,
                      const double* values, double cell_size);

// Writes one GRASS ASCII grid: the edges, rows and cols, then each row with one "%lf " field per
// position (0.0 outside the watershed).
void write_grass_grid(file_handle& file, const raw_array2d<int>& index_map, double north,
                      double south, double east, double west, int rows, int cols,
                      const double* values);

// Appends `value` as printf's "%<width>.<precision>f" would print it.
void append_fixed(std::string& out, double value, int width, int precision);
// Appends `value` as printf's "%d" would print it.
void append_int(std::string& out, long value);
