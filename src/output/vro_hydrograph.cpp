// Converter of the run's outlet hydrograph into the hydrograph file of the VRO interface,
// called by the end-of-run summary when VRO_HYDRO names the file.
#include "output/vro_hydrograph.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"

void write_vro_hydrograph(file_handle& outlet, file_handle& vro, file_handle* locations,
                          const std::vector<std::string>& location_lines, int start_date,
                          int start_time, int interval, int value_count) {
  FILE* out = vro.fp;
  if (out == nullptr || outlet.fp == nullptr) return;
  // The series count comes from the location list, never from a line of the location file,
  // whose lines are all data lines.
  const int s = locations != nullptr && locations->fp != nullptr
                    ? static_cast<int>(location_lines.size())
                    : 0;
  fprintf(out, "MIRVOLA_VRO_HYDROGRAPH_FILE\n");
  fprintf(out, "%ld\n", static_cast<long>(s));
  fprintf(out, "%ld\n", static_cast<long>(start_date));
  fprintf(out, "%ld\n", static_cast<long>(start_time));
  fprintf(out, "%ld\n", static_cast<long>(interval));
  fprintf(out, "%ld\n", static_cast<long>(value_count));
  for (int k = 0; k < s; ++k) fprintf(out, "%s\n", location_lines[k].c_str());

  std::string text;
  int written = 0;
  for (int i = 0; i < value_count; ++i) {
    if (!read_text_line(text, outlet)) continue;  // a short file leaves the rest unwritten
    double time = 0.0;
    double q = 0.0;
    next_token_double(text, time);
    next_token_double(text, q);
    fprintf(out, "%11.4lf", q);
    ++written;
    fputc(written % 10 == 0 ? '\n' : ' ', out);
  }
  if (s == 0) return;

  std::vector<double> table;
  try {
    table.assign(static_cast<std::size_t>(value_count > 0 ? value_count : 0) * s, 0.0);
  } catch (const std::bad_alloc&) {
    printf("Error allocating memory for variable %s\n", "hydro_table");
    return;
  }
  for (int row = 0; row < value_count; ++row) {
    if (!read_text_line(text, *locations)) break;  // a short file leaves zeros
    double time = 0.0;
    next_token_double(text, time);
    for (int k = 0; k < s; ++k)
      next_token_double(text, table[static_cast<std::size_t>(row) * s + k]);
  }
  for (int k = 0; k < s; ++k) {
    fprintf(out, "\n");
    for (int row = 0; row < value_count; ++row) {
      fprintf(out, "%11.4lf", table[static_cast<std::size_t>(row) * s + k]);
      fputc((row + 1) % 10 == 0 ? '\n' : ' ', out);
    }
  }
}
