// Lake pumps: the pump file and the pumps' share of the channel step.
#include "channel/lake_pumps.h"

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
                    lake_pump& p) {
  int lake = 0;
  std::string typed;
  if (next_token_whole(rest, lake, typed) != 1) {
    printf(
        "Error: line %ld of the lake pump file %s must give PUMP and a lake number as a whole "
        "number; \"%s\" is not one.\n",
        line_no, file, typed.c_str());
    return false;
  }
  const int lakes = ms.perennial_lakes ? ms.channel.num_lakes : 0;
  if (lake < 1 || lake > lakes) {
    printf(
        "Error: line %ld of the lake pump file %s places a pump in lake %d; the channel input "
        "defines %d lake(s).\n",
        line_no, file, lake, lakes);
    return false;
  }
  p.lake = lake;
  return read_pump_series(rest, "lake pump", file, line_no, p.series, p.rating);
}

}  // namespace

void read_lake_pumps(model_state& ms) {
  channel_state& ch = ms.channel;
  ch.lake_pumps.clear();
  ch.lake_pump_lakes.clear();
  ch.lake_pump_volume_total = 0.0;
  if (!ms.cards.lake_pump_given) return;
  const char* file = ms.cards.lake_pump;
  read_pump_file(file, "lake pump", "LAKE_PUMP", [&](std::string& rest, long line_no) {
    lake_pump p;
    if (!read_pump_line(ms, rest, file, line_no, p)) return false;
    ch.lake_pumps.push_back(p);
    ch.lake_pump_lakes.push_back(p.lake);
    return true;
  });
}

void lake_pumps_step(model_state& ms, double dt) {
  channel_state& ch = ms.channel;
  if (ch.lake_pumps.empty() || !(dt > 0.0)) return;
  const double now = ms.current_time;
  const auto rate = [&](std::size_t k, int lake) {
    const lake_pump& p = ch.lake_pumps[k];
    return p.series != nullptr ? ts_value(now, p.series)
                               : elev_series_interp(ch.lake_elev[lake], p.rating);
  };
  std::span<double> volume(ch.lake_volume.data(), ch.lake_volume.element_count());
  // With constituents in the lakes each lake's pumped water is kept for their routing.
  double* by_lake = ch.lake_pump_water.count() >= ch.num_lakes && ch.num_lakes >= 1
                        ? ch.lake_pump_water.data()
                        : nullptr;
  ch.lake_pump_volume_total +=
      lake_pump_withdraw(std::span<const int>(ch.lake_pump_lakes), rate, volume, dt, by_lake);
}
