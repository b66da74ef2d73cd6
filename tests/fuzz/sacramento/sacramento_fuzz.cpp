// Fuzzes the Sacramento parameter file and the basin it describes: the first input byte chooses
// whether the topographic index is computed (its low bit) and the next nine bytes the ground
// elevations of a 3 x 3 grid of 10 m cells (the centre cell outside the watershed when the
// byte's second bit is set); the rest is the file. A file that reads well then drives a day of
// hourly land phases, with inputs and demands taken from the file's own bytes, whose stores must
// stay within their capacities.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "fuzz/common/fuzz_support.h"
#include "subsurface/sacramento.h"
#include "subsurface/subsurface_steps.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

namespace {

// A store outside [0, capacity] (beyond rounding) is a fault of the land phase.
void check_store(double content, double capacity) {
  if (!(content >= -1e-6 && content <= capacity + 1e-6)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torva_fuzz::byte_reader bytes(data, size);
  const std::uint8_t choice = bytes.next();
  std::uint8_t heights[9];
  for (std::uint8_t& h : heights) h = bytes.next();
  const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  torva_fuzz::fuzz_run run({{"basin.par", text}});

  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  m.rows = m.cols = 3;
  m.gridsize = 10.0;
  subsurface_state& ss = m.subsurface;
  ss.sacramento = 1;
  ss.topo_index = choice & 1;
  if (!m.index_map.allocate(3, 3) || !m.cell_elev.allocate(9) || !ss.topo_dex_values.allocate(9))
    return 0;
  int cells = 0;
  for (int k = 0; k < 9; ++k) {
    if (k == 4 && (choice & 2)) continue;
    ++cells;
    m.index_map[k / 3 + 1][k % 3 + 1] = cells;
    m.cell_elev[cells] = 100.0 + 0.5 * heights[k];
  }
  m.cell_count = cells;
  file_handle h;
  if (!file_handle_open(h, "basin.par", "r")) return 0;
  read_sacramento_input(m, h, ss.topo_index);
  file_handle_close(h);
  if (run_error.error_code > 0) {
    error_report(run_error);
    return 0;
  }

  sac_basin_params& p = ss.sac_params;
  for (int hour = 0; hour < 24; ++hour) {
    const std::uint8_t b = size > 0 ? data[(hour * 7) % size] : 0;
    double et = (b & 15) * 0.5;
    sac_land_phase(p, et, (b >> 4) * 4.0);
    check_store(p.uztwc, p.uztwm);
    check_store(p.uzfwc, p.uzfwm);
    check_store(p.lztwc, p.lztwm);
    check_store(p.lzfsc, p.lzfsm);
    check_store(p.lzfpc, p.lzfpm);
    if (!std::isfinite(p.residual)) std::abort();
  }
  return 0;
}
