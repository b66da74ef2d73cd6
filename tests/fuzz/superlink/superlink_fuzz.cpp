// Fuzzes the pipe network's readers: the superlink network file and, after a line "@@@ net.gpi",
// the grid-pipe file of its tile drains, on a 3 x 3 grid, then the ties of the outlets to a
// channel network of two links of four nodes. The first input byte chooses the division of
// the pipes into segments (bit 0) and whether channels are routed (bit 1); the rest is the
// files.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "fuzz/common/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torva_fuzz::byte_reader bytes(data, size);
  const int choice = bytes.next();
  torva_fuzz::fuzz_run run(torva_fuzz::split_files(bytes.data(), bytes.size(), "net.slk"));

  auto ms = std::make_unique<model_state>();
  ms->rows = ms->cols = 3;
  if (!ms->index_map.allocate(3, 3)) return 0;
  int cell = 0;
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) ms->index_map[r][c] = (r == 2 && c == 2) ? 0 : ++cell;
  ms->cell_count = cell;
  channel_state& ch = ms->channel;
  ch.storm_sewer = 1;
  ch.superlink_c_opt = choice & 1;
  ch.chan_explic = (choice >> 1) & 1;
  ch.chan_link_count = 2;
  if (!ch.nx.allocate(2)) return 0;
  ch.nx[1] = ch.nx[2] = 4;
  copy_text(ms->input.names.storm_sewer, 1024, "net.slk");
  copy_text(ms->input.names.grid_pipe, 1024, "net.gpi");

  file_handle network;
  if (!file_handle_open(network, "net.slk", "r")) return 0;
  file_handle_open(ch.grid_pipe_file, "net.gpi", "r");
  read_superlink_file(*ms, network, ch.grid_pipe_file);
  file_handle_close(network);
  file_handle_close(ch.grid_pipe_file);
  if (run_error.error_code > 0) error_report(run_error);
  if (run_error.error_fatal == 0 && ch.chan_explic) init_superlink_channel_connection(*ms);
  if (run_error.error_code > 0) error_report(run_error);
  return 0;
}
