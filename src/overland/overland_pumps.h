// Overland pumps: the OV_PUMP file, read at start-up, names the cells that pumps draw from and
// the series each pump's rate follows; the overland step then takes each pump's water from its
// cell's depth, never more than the cell holds, and books it as water the pumps took.
//
// The file holds one pump per line, in any number of lines:
//   PUMP row col TS name     rate (m3/s) from the time series `name` at the current time
//   PUMP row col ELEV name   rate (m3/s) from the elevation series `name` at the cell's depth (m)
// The card word and the flow type are read without regard to case; a series is found by the
// first series whose name begins with `name`. Blank lines and lines starting with # are skipped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

#include "framework/core/error_state.h"

struct model_state;

// Reads the OV_PUMP file into model_state.overland.ov_pumps when the card is given. A line
// that is not a pump, a cell outside the watershed or a series that is not there stops the run
// with a message naming the file, the line and the value.
void read_overland_pumps(model_state& ms);

// One overland step of the pumps, dt seconds: each pump lowers its cell's depth by
// rate x dt / dx^2, at most to empty, and the water taken is added to
// model_state.overland.ov_pump_volume_total. Does nothing without pumps.
void overland_pumps_step(model_state& ms, double dt);

// Overland pumps of one step: pump k (0, 1, ... in the order of the pump list) draws from cell
// pump_cells[k] the rate rate(k, depth) (m3/s) that its series gives at the current time (a time
// series) or at the cell's depth (an elevation series), and so takes rate x dt / dx^2 from the
// cell's depth, at most the whole depth and never less than nothing. A pump whose cell lies
// outside 1..depth's last index does nothing. Returns the volume taken (m3). The series lookups
// belong to the caller; a lookup that faults stops the pumps at that pump (run_error's code set).
template <class Rate>
double ov_pump_withdraw(std::span<const int> pump_cells, const Rate& rate, std::span<double> depth,
                        double dt, double dx) {
  const double area = dx * dx;
  double taken = 0.0;
  for (std::size_t k = 0; k < pump_cells.size(); ++k) {
    const int cell = pump_cells[k];
    if (cell < 1 || static_cast<std::size_t>(cell) >= depth.size()) continue;
    double& d = depth[cell];
    const double q = rate(k, d);
    if (run_error.error_code != 0) break;
    const double lowered = std::clamp(q * dt / area, 0.0, std::max(d, 0.0));
    d -= lowered;
    taken += lowered * area;
  }
  return taken;
}
