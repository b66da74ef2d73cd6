// Fuzzes the XY output point file and inset mask: the first input byte chooses which of the two
// the rest of the input is. The points read are then placed on a 6 x 5 grid of 10 m cells with
// an inactive corner, and a mask's edge points, boundary and the crossings of a small channel
// file with it are computed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"
#include "fuzz/common/fuzz_support.h"
#include "output/xy_points.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torva_fuzz::byte_reader bytes(data, size);
  const bool mask = (bytes.next() & 1) != 0;
  const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  torva_fuzz::fuzz_run run({{"input.txt", text},
                            {"chan.txt",
                             "LINK 1\nNODE 1\nX_Y 505.0 1055.0\nNODE 2\nX_Y 525.0 1025.0\n"
                             "NODE 3\nX_Y 545.0 1005.0\n"}});
  raw_array2d<int> index_map;
  if (!index_map.allocate(6, 5)) return 0;
  int cell = 0;
  for (int row = 1; row <= 6; ++row)
    for (int col = 1; col <= 5; ++col) index_map[row][col] = row == 1 && col == 1 ? 0 : ++cell;
  const xy_grid grid{1060.0, 500.0, 10.0, 6, 5, &index_map};
  std::vector<double> values(static_cast<std::size_t>(cell) + 1, 0.5);

  file_handle h;
  if (!file_handle_open(h, "input.txt", "r")) return 0;
  std::vector<xy_out_point> points;
  if (mask) {
    inset_mask m;
    if (read_xy_out_mask(h, "input.txt", m)) {
      points = inset_edge_points(m);
      const std::vector<xy_segment> boundary = inset_boundary(m);
      file_handle chan;
      if (file_handle_open(chan, "chan.txt", "r")) xy_stream_crossings(chan, boundary);
    }
  } else if (!read_xy_out_points(h, "input.txt", points)) {
    points.clear();
  }
  if (points.size() > 2000) points.resize(2000);  // the nearest-cell scan is per point
  xy_points_weights(grid, points);
  for (const xy_out_point& p : points) xy_point_value(p, values.data());
  if (run_error.error_code > 0) error_report(run_error);
  return 0;
}
