// Fuzzes the aquatic environment file reader of the nutrient sub-model: header, map names,
// NUM_IDS and the parameter blocks. The input is the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/core/error_state.h"
#include "fuzz/common/fuzz_support.h"
#include "transport/nutrients/aquatic_env.h"
#include "transport/nutrients/nsm_model_state.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  torva_fuzz::fuzz_run run({{"aq.txt", text}});
  nsm_aquatic_env env;
  const bool ok = aqenv_read_file("aq.txt", env);
  // A read that succeeded holds a record for every id it names.
  if (ok && env.num_ids > 0 && env.params.row_count() != env.num_ids) __builtin_trap();
  if (ok && run_error.error_fatal != 0) __builtin_trap();
  return 0;
}
