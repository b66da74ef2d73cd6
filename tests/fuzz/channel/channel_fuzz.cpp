// Fuzzes the channel input file and the grid-stream file, read on the small watershed of the
// mapping-table tests (cells 1 2 0 / 3 4 5, 30 m). The first input byte chooses whether channels
// are non-orthogonal (the grid-stream file is then read too) and whether groundwater is on (lakes
// then look at the aquifer boundary); the rest holds the channel input file "net.chan" and, split
// off by "@@@ <name>" lines, the grid-stream file "net.gst" and the time series "series.ts" and
// elevation series "series.es" that structures and point sources name.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "channel/channel_input.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "fuzz/common/fuzz_support.h"
#include "input/elevation_series.h"
#include "input/time_series.h"
#include "support/table_fixtures.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torva_fuzz::byte_reader bytes(data, size);
  const std::uint8_t choice = bytes.next();
  torva_fuzz::fuzz_run run(torva_fuzz::split_files(bytes.data(), bytes.size(), "net.chan"));
  if (std::filesystem::exists("series.ts")) read_time_series_file("series.ts");
  if (std::filesystem::exists("series.es")) read_elev_series_file("series.es");
  if (run_error.error_code > 0) error_report(run_error);
  if (run_error.error_fatal != 0) return 0;

  auto ms = std::make_unique<model_state>();
  torva_test::set_small_watershed(*ms);
  ms->gridsize = 30.0;
  if (!ms->cell_elev.allocate(ms->cell_count)) return 0;
  for (int c = 1; c <= ms->cell_count; ++c) ms->cell_elev[c] = 100.0 + c;
  ms->cards.non_ortho_channels_given = choice & 1;
  if (choice & 2) {
    ms->subsurface.gw_simulation = 1;
    if (!ms->subsurface.gwbound.allocate(ms->cell_count)) return 0;
  }
  if (!file_handle_open(ms->channel.channel_input_file, "net.chan", "r")) return 0;
  if (choice & 1) file_handle_open(ms->input.stream_cell_file, "net.gst", "r");
  read_chan_input(*ms);
  if (run_error.error_code > 0) error_report(run_error);
  return 0;
}
