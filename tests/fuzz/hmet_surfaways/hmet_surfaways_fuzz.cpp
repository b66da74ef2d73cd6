// Fuzzes the hydrometeorological reader of one weather format: the input is the weather file;
// the start-up scan reads it whole, and when it passes, the hourly reads take every record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "atmosphere/hydromet_input.h"
#include "fuzz/common/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<torva_fuzz::fuzz_file> files = {
      {"weather.txt", std::string(reinterpret_cast<const char*>(data), size)}};
  torva_fuzz::fuzz_run run(files);
  FILE* fp = fopen("weather.txt", "r");
  if (fp == nullptr) return 0;
  hmet_reader_state state;
  hmet_span span;
  if (hmet_scan(fp, "weather.txt", hmet_format::surface_airways, state, span, true) == 0) {
    hmet_record record;
    int repairs = 0;
    // Every record once, then the end: never more reads than the scan counted lines.
    for (int k = 0; k <= span.record_count + 1; ++k)
      if (hmet_read(fp, "weather.txt", hmet_format::surface_airways, state, record, repairs) != 1)
        break;
  }
  fclose(fp);
  return 0;
}
