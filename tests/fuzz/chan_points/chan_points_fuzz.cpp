// Fuzzes the channel point-source file: its head (NUMPT, the POINT cards, NRPDS, the first
// record header) and then every timed record in turn, on a network of three links (the second a
// hydraulic structure) whose nodes take the points. The first input byte chooses how many
// constituents each value group carries (0 to 2); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "channel/chan_point_sources.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "fuzz/common/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torva_fuzz::byte_reader bytes(data, size);
  const int constituents = bytes.next() % 3;
  const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  torva_fuzz::fuzz_run run({{"points.txt", text}});

  auto ms = std::make_unique<model_state>();
  channel_state& ch = ms->channel;
  ch.chan_link_count = 3;
  ch.max_nodes = 5;
  ch.node_extent = 6;
  ch.node_extent_product = 4 * 6;
  if (!ch.ltype.allocate(3) || !ch.nx.allocate(3)) return 0;
  const int types[4] = {0, 4, 64, 8};
  const int nodes[4] = {0, 5, 2, 3};
  for (int link = 1; link <= 3; ++link) {
    ch.ltype[link] = types[link];
    ch.nx[link] = nodes[link];
  }
  chan_point_state& p = ch.points;
  p.node_stride = ch.node_extent;
  if (!p.chan_point_flow.allocate(ch.node_extent_product)) return 0;
  if (!file_handle_open(p.chan_point_file, "points.txt", "r")) return 0;
  p.chan_point_on = 1;
  int result = read_chan_point_source(p, ch, constituents);
  while (result == 1 && run_error.error_fatal == 0) {
    ++p.chan_point_records_read;
    result = read_chan_point_input_record(p);
  }
  if (run_error.error_code > 0) error_report(run_error);
  return 0;
}
