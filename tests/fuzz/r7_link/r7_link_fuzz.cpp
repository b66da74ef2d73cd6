// Fuzzes the reservoir-model coupling's inputs: the segment map (a grid of 2 rows by 3 columns)
// and, after a line "@@@ seg.txt", the link/node-to-segment file, read on a channel network of
// one link of 4 nodes; then a few steps of overland and channel flows are summed and written.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "fuzz/common/fuzz_support.h"
#include "output/r7_link.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (torva_fuzz::names_outside_folder(data, size)) return 0;
  torva_fuzz::fuzz_run run(torva_fuzz::split_files(data, size, "seg.asc"));

  auto ms = std::make_unique<model_state>();
  ms->rows = 2;
  ms->cols = 3;
  ms->cell_count = 6;
  if (!ms->index_map.allocate(2, 3)) return 0;
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) ms->index_map[r][c] = (r - 1) * 3 + c;
  project_cards& cards = ms->cards;
  cards.r7_fluxes_given = 1;
  std::strcpy(cards.r7_segment_map, "seg.asc");
  std::strcpy(cards.r7_nodes_to_segs, "seg.txt");
  std::strcpy(cards.r7_segment_fluxes, "flux.txt");
  channel_state& ch = ms->channel;
  ch.chan_explic = 1;
  ch.chan_link_count = 1;
  if (!ch.nx1.allocate(1)) return 0;
  ch.nx1[1] = 4;
  if (!ch.qp.allocate(1, ch.nx1.data())) return 0;
  for (int node = 1; node <= 4; ++node) ch.qp(1, node) = 0.5 * node - 1.0;

  // Overland faces of the grid, each carrying a discharge.
  overland_state& ov = ms->overland;
  if (!ov.rightcon.allocate(6) || !ov.belowcon.allocate(6) || !ov.ov_flux_x.allocate(6) ||
      !ov.ov_flux_y.allocate(6))
    return 0;
  for (int c = 1; c <= 6; ++c) {
    ov.rightcon[c] = c % 3 == 0 ? 0 : c + 1;
    ov.belowcon[c] = c <= 3 ? c + 3 : 0;
    ov.ov_flux_x[c] = 0.25 * c - 1.0;
    ov.ov_flux_y[c] = 1.0 - 0.5 * c;
  }

  set_up_r7_link(*ms);
  if (run_error.error_fatal == 0 && ms->output.r7) {
    const r7_step_flows flows{ov.ov_flux_x, ov.ov_flux_y, ov.rightcon, ov.belowcon, 6, true, ch.qp};
    for (int step = 1; step <= 3; ++step) r7_accumulate_flows(*ms->output.r7, flows);
    r7_write_flows(*ms->output.r7, 73.5);
  }
  if (run_error.error_code > 0) error_report(run_error);
  return 0;
}
