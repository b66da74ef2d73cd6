// What every benchmark shares: its comma-separated lists of sizes or thread counts, and the
// processor and load it ran on, printed so that figures from different machines and loads are
// not compared blindly.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/text_tokens.h"

// The whole numbers of a list such as "1,2,4,8"; a token that is not one stops the benchmark.
inline std::vector<int> parse_list(const char* text) {
  std::vector<int> values;
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view token = rest.substr(0, comma);
    int value = 0;
    if (!parse_int(token, value)) {
      std::fprintf(stderr, "not a whole number in the list \"%s\": \"%.*s\"\n", text,
                   static_cast<int>(token.size()), token.data());
      std::exit(2);
    }
    values.push_back(value);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return values;
}

// The processor's name from /proc/cpuinfo and the load average at the start.
inline void print_machine() {
  std::ifstream cpu("/proc/cpuinfo");
  std::string name = "unknown";
  for (std::string line; std::getline(cpu, line);)
    if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
      name = line.substr(line.find(':') + 2);
      break;
    }
  std::ifstream load("/proc/loadavg");
  std::string average;
  std::getline(load, average);
  std::printf("processor: %s\nload average: %s\n", name.c_str(), average.c_str());
}
