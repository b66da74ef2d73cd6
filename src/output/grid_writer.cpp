// Grid writers. Each row is formatted into one buffer and written with one call: the frames of a
// large grid are written at disk speed rather than at the speed of one fprintf per value.
#include "output/grid_writer.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "framework/core/file_handle.h"

void append_fixed(std::string& out, double value, int width, int precision) {
  char number[400];
  const auto result =
      std::to_chars(number, number + sizeof number, value, std::chars_format::fixed, precision);
  // A value too long for the buffer (only beyond 1e300) goes through printf.
  std::size_t length = 0;
  if (result.ec == std::errc()) {
    length = static_cast<std::size_t>(result.ptr - number);
  } else {
    length = static_cast<std::size_t>(snprintf(number, sizeof number, "%.*f", precision, value));
    if (length >= sizeof number) length = sizeof number - 1;
  }
  if (static_cast<int>(length) < width) out.append(static_cast<std::size_t>(width) - length, ' ');
  out.append(number, length);
}

void append_int(std::string& out, long value) {
  char number[32];
  const auto result = std::to_chars(number, number + sizeof number, value);
  out.append(number, result.ptr);
}

namespace {

// Writes the rows of a grid: per position the next active cell's value or `outside`, formatted
// with width and precision and followed by one blank; each row ends with a newline.
void write_grid_rows(FILE* fp, const raw_array2d<int>& index_map, int rows, int cols,
                     const double* values, double outside, int width, int precision) {
  std::string line;
  long next = 1;
  for (int r = 1; r <= rows; ++r) {
    line.clear();
    for (int c = 1; c <= cols; ++c) {
      const bool active = index_map[r][c] != 0;
      append_fixed(line, active ? values[next] : outside, width, precision);
      if (active) ++next;
      line.push_back(' ');
    }
    line.push_back('\n');
    fwrite(line.data(), 1, line.size(), fp);
  }
}

}  // namespace

void write_ascii_grid(file_handle& file, const raw_array2d<int>& index_map, double north,
                      double south, double east, double west, int rows, int cols,
                      const double* values, double cell_size) {
  FILE* fp = file.fp;
  if (fp == nullptr) return;
  const double x_low = east < west ? east : west;
  const double y_low = north < south ? north : south;
  fprintf(fp, "ncols \t%d\n", cols);
  fprintf(fp, "nrows \t%d\n", rows);
  fprintf(fp, "xllcenter %9.2lf\n", x_low + 0.5 * cell_size);
  fprintf(fp, "yllcenter %9.2lf\n", y_low + 0.5 * cell_size);
  fprintf(fp, "cellsize %9.2lf\n", cell_size);
  fprintf(fp, "NODATA_value -9999.99\n");
  if (rows < 1) return;
  write_grid_rows(fp, index_map, rows, cols, values, esri_no_data, 6, 4);
}

void write_grass_grid(file_handle& file, const raw_array2d<int>& index_map, double north,
                      double south, double east, double west, int rows, int cols,
                      const double* values) {
  FILE* fp = file.fp;
  if (fp == nullptr) return;
  fprintf(fp, "north: %9.2lf\n", north);
  fprintf(fp, "south: %9.2lf\n", south);
  fprintf(fp, "east: %9.2lf\n", east);
  fprintf(fp, "west: %9.2lf\n", west);
  fprintf(fp, "rows: %5d\n", rows);
  fprintf(fp, "cols: %5d\n", cols);
  if (rows < 1) return;
  write_grid_rows(fp, index_map, rows, cols, values, 0.0, 0, 6);
}
