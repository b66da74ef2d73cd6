// The body shared by the fuzz harnesses of the hydrometeorological readers: the input is the
// weather file; the start-up scan reads it whole, and when it passes, the hourly reads take
// every record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "atmosphere/hydromet_input.h"
#include "fuzz/common/fuzz_support.h"

namespace torva_fuzz {

inline int fuzz_weather_file(const std::uint8_t* data, std::size_t size, hmet_format format) {
  const std::vector<fuzz_file> files = {
      {"weather.txt", std::string(reinterpret_cast<const char*>(data), size)}};
  fuzz_run run(files);
  FILE* fp = fopen("weather.txt", "r");
  if (fp == nullptr) return 0;
  hmet_reader_state state;
  hmet_span span;
  if (hmet_scan(fp, "weather.txt", format, state, span, true) == 0) {
    hmet_record record;
    int repairs = 0;
    // Every record once, then the end: never more reads than the scan counted lines.
    for (int k = 0; k <= span.record_count + 1; ++k)
      if (hmet_read(fp, "weather.txt", format, state, record, repairs) != 1) break;
  }
  fclose(fp);
  return 0;
}

}  // namespace torva_fuzz
