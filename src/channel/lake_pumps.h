// Lake pumps: the LAKE_PUMP file, read at start-up after the channel network, names the channel
// lakes that pumps draw from and the series each pump's rate follows; every channel step then
// takes each pump's water from its lake's volume, never more than the lake holds, and books it
// as water the lake pumps took.
//
// The file holds one pump per line, in any number of lines:
//   PUMP lake TS name     rate (m3/s) from the time series `name` at the current time
//   PUMP lake ELEV name   rate (m3/s) from the elevation series `name` at the lake's water-surface
//                         elevation (m)
// `lake` is the lake's number (1 .. the number of lakes of the channel input file). The card word
// and the flow type are read without regard to case; a series is found by the first series whose
// name begins with `name`. Blank lines and lines starting with # are skipped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

#include "framework/core/error_state.h"

struct model_state;

// Reads the LAKE_PUMP file into model_state.channel.lake_pumps when the card is given. A line
// that is not a pump, a lake the channel network does not have or a series that is not there
// stops the run with a message naming the file, the line and the value.
void read_lake_pumps(model_state& ms);

// One channel step of the lake pumps, dt seconds: each pump lowers its lake's volume by
// rate x dt, at most to empty, and the water taken is added to
// model_state.channel.lake_pump_volume_total. Does nothing without pumps.
void lake_pumps_step(model_state& ms, double dt);

// Lake pumps of one step: pump k (0, 1, ... in the order of the pump list) draws from lake
// pump_lakes[k] the rate rate(k, lake) (m3/s) that its series gives, and so takes rate x dt from
// the lake's volume, at most the whole volume and never less than nothing. A pump whose lake lies
// outside 1..volume's last index does nothing. Returns the volume taken (m3); with `by_lake`
// (indexed like volume) each lake's share is added to its entry as well. The series lookups
// belong to the caller; a lookup that faults stops the pumps at that pump (run_error's code set).
template <class Rate>
double lake_pump_withdraw(std::span<const int> pump_lakes, const Rate& rate,
                          std::span<double> volume, double dt, double* by_lake = nullptr) {
  double taken = 0.0;
  for (std::size_t k = 0; k < pump_lakes.size(); ++k) {
    const int lake = pump_lakes[k];
    if (lake < 1 || static_cast<std::size_t>(lake) >= volume.size()) continue;
    double& v = volume[lake];
    const double q = rate(k, lake);
    if (run_error.error_code != 0) break;
    const double drawn = std::clamp(q * dt, 0.0, std::max(v, 0.0));
    v -= drawn;
    taken += drawn;
    if (by_lake != nullptr) by_lake[lake] += drawn;
  }
  return taken;
}
