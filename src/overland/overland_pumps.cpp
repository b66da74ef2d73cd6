// Overland pumps: the pump file and the pumps' share of the overland step.
#include "overland/overland_pumps.h"

#include <cstdio>
#include <span>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/input_steps.h"

namespace {

// Reads one pump line (its card word already checked) into `p`; false, after a message naming
// the file, the line and the value, when a field is missing or wrong.
bool read_pump_line(const model_state& ms, std::string rest, const char* file, long line_no,
                    overland_pump& p) {
  int row = 0, col = 0;
  std::string typed;
  if (next_token_whole(rest, row, typed) != 1 || next_token_whole(rest, col, typed) != 1) {
    printf(
        "Error: line %ld of the overland pump file %s must give PUMP, a row and a column as "
        "whole numbers; \"%s\" is not one.\n",
        line_no, file, typed.c_str());
    return false;
  }
  if (row < 1 || row > ms.rows || col < 1 || col > ms.cols || ms.index_map.empty() ||
      ms.index_map[row][col] < 1) {
    printf(
        "Error: line %ld of the overland pump file %s places a pump at row %d, column %d, "
        "which is not a cell of the watershed.\n",
        line_no, file, row, col);
    return false;
  }
  p.cell = ms.index_map[row][col];
  return read_pump_series(rest, "overland pump", file, line_no, p.series, p.rating);
}

}  // namespace

void read_overland_pumps(model_state& ms) {
  overland_state& ov = ms.overland;
  ov.ov_pumps.clear();
  ov.ov_pump_cells.clear();
  ov.ov_pump_volume_total = 0.0;
  if (!ms.cards.ov_pump_given) return;
  const char* file = ms.cards.ov_pump;
  read_pump_file(file, "overland pump", "OV_PUMP", [&](std::string& rest, long line_no) {
    overland_pump p;
    if (!read_pump_line(ms, rest, file, line_no, p)) return false;
    ov.ov_pumps.push_back(p);
    ov.ov_pump_cells.push_back(p.cell);
    return true;
  });
}

void overland_pumps_step(model_state& ms, double dt) {
  overland_state& ov = ms.overland;
  if (ov.ov_pumps.empty() || !(dt > 0.0)) return;
  const double now = ms.current_time;
  const auto rate = [&](std::size_t k, double depth) {
    const overland_pump& p = ov.ov_pumps[k];
    return p.series != nullptr ? ts_value(now, p.series) : elev_series_interp(depth, p.rating);
  };
  std::span<double> depth(ov.ov_depth.data(), ov.ov_depth.element_count());
  ov.ov_pump_volume_total +=
      ov_pump_withdraw(std::span<const int>(ov.ov_pump_cells), rate, depth, dt, ms.gridsize);
}
