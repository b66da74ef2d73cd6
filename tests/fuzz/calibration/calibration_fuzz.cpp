// Fuzzes the readers of the calibration drivers: the first input byte chooses the SCE control
// file (read and checked, the output file opened, no trial run), the Monte Carlo input file (with
// the observation file it names), the observation file alone, or the replacement parameter list;
// the rest is the file, and "@@@ <name>" lines add the files it names. Whatever is read must stay
// within the limits the checks promise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "calibration/calibration_drivers.h"
#include "framework/core/process_info.h"
#include "fuzz/common/fuzz_support.h"
#include "input/replacement.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (torva_fuzz::names_outside_folder(data, size)) return 0;
  torva_fuzz::byte_reader bytes(data, size);
  const int reader = bytes.next() % 4;
  torva_fuzz::fuzz_run run(torva_fuzz::split_files(bytes.data(), bytes.size(), "input.txt"));
  process_context info;
  switch (reader) {
    case 0: {
      sce_object s;
      sce_setup(s, "input.txt", "sce_output.out");
      if (s.setup_ok) {
        // What the optimiser relies on: sizes within its tables, bounds in order.
        if (s.ngs < 1 || s.npg < 2 || s.npg * s.ngs > 1320 || s.nps < 2 || s.nps > s.npg ||
            s.nps > 50 || s.nspl < 1 || s.mings < 1 || s.mings > s.ngs || s.kstop < 0 ||
            s.kstop >= 20 || s.nopt < 1 || s.nopt > 100)
          std::abort();
        for (int i = 1; i <= s.nopt; ++i)
          if (!(s.lower[i] < s.upper[i])) std::abort();
      }
      break;
    }
    case 1: {
      montecarlo mc(1, "input.txt", info);
      if (mc.loaded) {
        if (mc.param_count < 1 || static_cast<int>(mc.min.size()) != mc.param_count + 1)
          std::abort();
        for (int i = 1; i <= mc.param_count; ++i)
          if (!(mc.min[i] <= mc.max[i])) std::abort();
      }
      break;
    }
    case 2: {
      objective obj;
      if (objective_load(obj, "input.txt") == 1 &&
          (obj.obs_count < 1 || static_cast<int>(obj.obs_peak.size()) != obj.obs_count + 1))
        std::abort();
      break;
    }
    default:
      read_replace_params("input.txt");
      replace_free_all();
      break;
  }
  return 0;
}
