// Benchmark of the ASCII grid map reader: writes a grid of doubles (4000 x 4000 cells unless a
// side is given) to a temporary file, reads it with read_ascii_map in mode 1 into a watershed
// that covers every cell, and prints the megabytes of map text read per second.
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "input/ascii_grid.h"

namespace {

// The value written at a cell: three decimals, never zero, every other one negative.
double cell_value(long r, long c) {
  const long k = (r * 7919 + c * 104729) % 2000003;
  return (k % 2 == 0 ? 1.0 : -1.0) * (1.0 + static_cast<double>(k) / 1000.0);
}

// The value as written in the map's text, converted back.
double written_value(long r, long c) {
  char number[64];
  const auto result = std::to_chars(number, number + sizeof number - 1, cell_value(r, c),
                                    std::chars_format::fixed, 3);
  *result.ptr = '\0';
  return strtod(number, nullptr);
}

// Writes the map; returns its size in bytes, or -1 when it cannot be written.
long write_map(const char* path, int side) {
  FILE* fp = fopen(path, "w");
  if (fp == nullptr) return -1;
  fprintf(fp, "north: %d\nsouth: 0\neast: %d\nwest: 0\nrows: %d\ncols: %d\n", side * 30, side * 30,
          side, side);
  std::string line;
  char number[64];
  for (int r = 1; r <= side; ++r) {
    line.clear();
    for (int c = 1; c <= side; ++c) {
      const auto result = std::to_chars(number, number + sizeof number, cell_value(r, c),
                                        std::chars_format::fixed, 3);
      line.append(number, result.ptr);
      line.push_back(c < side ? ' ' : '\n');
    }
    fwrite(line.data(), 1, line.size(), fp);
  }
  const long size = ftell(fp);
  const bool failed = ferror(fp) != 0;
  if (fclose(fp) != 0 || failed) return -1;
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  int side = 4000;
  if (argc > 1) side = atoi(argv[1]);
  if (side < 1 || side > 40000) {
    fprintf(stderr, "usage: %s [grid side, 1 to 40000]\n", argv[0]);
    return 2;
  }
  char path[] = "/tmp/torva_grid_bench_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    perror("mkstemp");
    return 1;
  }
  close(fd);
  const long bytes = write_map(path, side);
  if (bytes < 0) {
    fprintf(stderr, "cannot write %s\n", path);
    remove(path);
    return 1;
  }

  // Every cell inside the watershed, numbered row by row.
  raw_array2d<int> index_grid;
  raw_array1d<double> elevation;
  const long cells = static_cast<long>(side) * side;
  if (!index_grid.allocate(side + 1, side + 1) || !elevation.allocate(static_cast<int>(cells))) {
    fprintf(stderr, "not enough memory for a grid of %d x %d\n", side, side);
    remove(path);
    return 1;
  }
  int number = 0;
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c) index_grid[r][c] = ++number;

  file_handle map;
  if (!file_handle_open(map, path, "r")) {
    fprintf(stderr, "cannot open %s\n", path);
    remove(path);
    return 1;
  }
  double north = 0, south = 0, east = 0, west = 0;
  int rows = 0, cols = 0;
  const auto start = std::chrono::steady_clock::now();
  read_ascii_map(map, path, map_store_cell_double, north, south, east, west, rows, cols, index_grid,
                 &elevation, nullptr, nullptr, side, side);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  file_handle_close(map);
  remove(path);

  if (run_error.error_fatal != 0) {
    fprintf(stderr, "the map was not read\n");
    return 1;
  }
  // The values read must be those written, at the first and the last cell.
  if (elevation[1] != written_value(1, 1) ||
      elevation[static_cast<int>(cells)] != written_value(side, side)) {
    fprintf(stderr, "the values read differ from those written\n");
    return 1;
  }
  printf("grid %d x %d: %.1f MB of map text read in %.3f s: %.1f MB/s\n", side, side, bytes / 1e6,
         seconds, bytes / 1e6 / seconds);
  return 0;
}
