// Fuzzes the hydrometeorological reader of one weather format (hmet_format::samson) through the
// body the weather harnesses share.
#include <cstddef>
#include <cstdint>

#include "fuzz/common/fuzz_support.h"
#include "fuzz/common/hmet_fuzz.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return torva_fuzz::fuzz_weather_file(data, size, hmet_format::samson);
}
