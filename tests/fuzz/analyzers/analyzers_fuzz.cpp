// Fuzzes the analyzer control file: every line read into analyzers over a channel network of
// three links, then each analyzer told of start-up, a few steps, an event end and the end of
// the run, so that the reports of whatever was read are written too. The first input byte
// chooses how many constituents the run carries (0 to 2); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "fuzz/common/fuzz_support.h"
#include "output/analyzers/analyzer.h"
#include "output/output_steps.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (torva_fuzz::names_outside_folder(data, size)) return 0;
  torva_fuzz::byte_reader bytes(data, size);
  const int constituents = bytes.next() % 3;
  const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  torva_fuzz::fuzz_run run({{"watch.ana", text}});

  auto ms = std::make_unique<model_state>();
  channel_state& ch = ms->channel;
  ch.chan_link_count = 3;
  if (!ch.nx1.allocate(3)) return 0;
  const int nodes[4] = {0, 2, 3, 1};
  for (int link = 1; link <= 3; ++link) ch.nx1[link] = nodes[link];
  for (link_node_array<double>* table : {&ch.qp, &ch.yp, &ch.bel, &ch.area})
    if (!table->allocate(3, ch.nx1.data())) return 0;
  for (int link = 1; link <= 3; ++link)
    for (int node = 1; node <= nodes[link]; ++node) {
      ch.qp(link, node) = 0.5 * link + node;
      ch.yp(link, node) = 101.0 + 0.25 * node;
      ch.bel(link, node) = 100.0 + (node == 2 ? 1.25 : 0.0);  // one node without water
      ch.area(link, node) = node == 1 ? 0.0 : 2.0;
    }
  transport_state& tr = ms->transport;
  tr.num_contaminants = constituents;
  tr.con_node_stride = 3;
  if (constituents > 0 && !tr.chan_con_conc.allocate(constituents, 4 * 3 + 3)) return 0;
  ms->current_time = julian_from_date(2005, 3, 14, 6, 30, 0.0);
  ms->dt_days = 600.0 / 86400.0;
  ms->time_tolerance = 1.1574074074074074e-07;

  read_analyzer_file(*ms, "watch.ana");
  if (run_error.error_fatal == 0) {
    analyzers_notify(*ms, analyzer_startup_done);
    for (int step = 1; step <= 3; ++step) {
      ms->current_time += ms->dt_days;
      analyzers_notify(*ms, analyzer_step_done);
    }
    analyzers_notify(*ms, analyzer_event_ended);
    analyzers_notify(*ms, analyzer_normal_end);
    analyzers_notify(*ms, analyzer_error_end);
  }
  if (run_error.error_code > 0) error_report(run_error);
  return 0;
}
