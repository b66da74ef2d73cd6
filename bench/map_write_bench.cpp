// Benchmark of the map writers: one frame of a 2000 x 2000 grid (4 million cells, unless a side
// is given) written as an ESRI ASCII grid and as an ASCII map dataset frame to a temporary
// file, with the megabytes of map text written per second of each.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "output/datasets.h"
#include "output/grid_writer.h"

namespace {

// A depth-like value: small, varied, a few cells dry.
double cell_value(long k) {
  const long h = (k * 7919) % 100003;
  return h % 17 == 0 ? 0.0 : static_cast<double>(h) / 1e5;
}

// Writes one frame with `write` into a fresh temporary file; prints and returns the MB/s.
template <class Writer>
double timed_frame(const char* what, Writer write) {
  char path[] = "/tmp/torva_map_bench_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    perror("mkstemp");
    return -1.0;
  }
  close(fd);
  file_handle out;
  if (!file_handle_open(out, path, "w")) {
    fprintf(stderr, "cannot open %s\n", path);
    remove(path);
    return -1.0;
  }
  const auto start = std::chrono::steady_clock::now();
  write(out);
  fflush(out.fp);
  const long bytes = ftell(out.fp);
  file_handle_close(out);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  remove(path);
  const double rate = bytes / 1e6 / seconds;
  printf("%s: %.1f MB of map text written in %.3f s: %.1f MB/s\n", what, bytes / 1e6, seconds,
         rate);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  int side = 2000;
  if (argc > 1) side = atoi(argv[1]);
  if (side < 1 || side > 40000) {
    fprintf(stderr, "usage: %s [grid side, 1 to 40000]\n", argv[0]);
    return 2;
  }
  raw_array2d<int> index;
  raw_array1d<double> values;
  const long cells = static_cast<long>(side) * side;
  if (!index.allocate(side, side) || !values.allocate(static_cast<int>(cells))) {
    fprintf(stderr, "not enough memory for a grid of %d x %d\n", side, side);
    return 1;
  }
  int number = 0;
  for (int r = 1; r <= side; ++r)
    for (int c = 1; c <= side; ++c) index[r][c] = ++number;
  for (long k = 1; k <= cells; ++k) values[k] = cell_value(k);

  printf("grid %d x %d (%ld cells), one map frame:\n", side, side, cells);
  const double grid_rate = timed_frame("ESRI ASCII grid", [&](file_handle& out) {
    write_ascii_grid(out, index, side * 30.0, 0.0, side * 30.0, 0.0, side, side, values.data(),
                     30.0);
  });
  const double dataset_rate = timed_frame("ASCII map dataset frame", [&](file_handle& out) {
    write_map_dataset_step(out, 60.0, side, side, index, values.data(), false);
  });
  return grid_rate > 0.0 && dataset_rate > 0.0 ? 0 : 1;
}
