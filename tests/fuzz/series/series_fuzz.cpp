// Fuzzes the series readers: time series, elevation series, the XY boundary inputs (overland
// and groundwater point tables, the stream hydrograph and stream time-series files) and the
// calibration replacement files. The first input byte chooses the reader; the rest holds the
// file "series.txt" and, split off by "@@@ <name>" lines, the files it names (for the
// replacement files: "vals.txt", the value file, and "line.txt", a line to substitute).
// After a read the series found are looked up at a few times, as the run's steps do.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "fuzz/common/fuzz_support.h"
#include "input/elevation_series.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "input/xy_boundary.h"

namespace {

// Looks every series up before, inside and after its rows, as the steps do.
void look_up_series() {
  for (time_series* s = ts_list_head; s != nullptr; s = s->next) {
    if (s->count < 1) continue;
    const double first = s->times.front();
    const double last = s->times.back();
    if (!std::isfinite(first) || !std::isfinite(last)) continue;
    for (double t : {first - 1.0, first, 0.5 * (first + last), last, last + 1.0}) ts_value(t, s);
  }
  for (elevation_series* s = elev_series_list_head; s != nullptr; s = s->next) {
    if (s->count < 1) continue;
    const double first = s->x.front();
    const double last = s->x.back();
    if (!std::isfinite(first) || !std::isfinite(last)) continue;
    for (double x : {first - 1.0, first, 0.5 * (first + last), last, last + 1.0}) {
      elev_series_interp(x, s);
      elev_series_step(x, s);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torva_fuzz::byte_reader bytes(data, size);
  const int choice = bytes.next() % 7;
  torva_fuzz::fuzz_run run(torva_fuzz::split_files(bytes.data(), bytes.size(), "series.txt"));
  auto xy = std::make_unique<xy_input>();
  switch (choice) {
    case 0:
      read_time_series_file("series.txt");
      break;
    case 1:
      read_elev_series_file("series.txt");
      break;
    case 2:
      read_xy_bdy_file(*xy, "series.txt", "overland", "XY_OV_DEPTH", xy->ov_series, xy->ovpts,
                       xy->num_ovpts);
      break;
    case 3:
      read_xy_bdy_file(*xy, "series.txt", "groundwater", "XY_GW_HEAD", xy->gw_series, xy->gwpts,
                       xy->num_gwpts);
      break;
    case 4:
      read_xy_stream_bdy_file(*xy, "series.txt");
      break;
    case 5:
      read_xy_stream_ts_file(*xy, "series.txt");
      break;
    default: {
      if (read_replace_params("series.txt") != 0) break;
      if (read_replace_vals("vals.txt") != 0) break;
      file_handle line_file;
      if (file_handle_open(line_file, "line.txt", "r")) {
        char buffer[4096];
        while (fgets(buffer, sizeof buffer, line_file.fp) != nullptr) {
          std::string line(buffer);
          replace_line_params(line);
        }
        file_handle_close(line_file);
      }
      break;
    }
  }
  if (run_error.error_code > 0) error_report(run_error);
  if (run_error.error_fatal == 0) {
    if (choice >= 2 && choice <= 3) check_xy_bdy_cells(*xy, 20);
    look_up_series();
  }
  return 0;
}
