// The calibration result holder: alloc_driver_results sizes it at start-up (after the channel
// point sources are set up), the end-of-event accounting stores each event's values in it.
#include "calibration/run_result.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "input/input_steps.h"

namespace {

// A cleared array of n doubles, or null when it cannot be had (the message names it).
double* cleared(long n, const char* name) {
  double* a = new (std::nothrow) double[n > 0 ? n : 1]();
  if (a == nullptr) printf("Error allocating memory for variable %s\n", name);
  return a;
}

}  // namespace

void release_event_values(run_result& holder) {
  delete[] holder.peaks;
  holder.peaks = nullptr;
  delete[] holder.volumes;
  holder.volumes = nullptr;
}

void release_location_values(run_result& holder) {
  delete[] holder.loc_peaks;
  holder.loc_peaks = nullptr;
  delete[] holder.loc_volumes;
  holder.loc_volumes = nullptr;
}

// Sizes the run's holder when optimisation output is on, creating one when the run was started
// without a driver. Every slot starts at 0.
void alloc_driver_results(model_state& ms) {
  calibration_state& cal = ms.calibration;
  if (!cal.optimize_on) return;
  if (cal.driver_result == nullptr) {
    // A run with the OPTIMIZE card and no driver keeps a holder of its own.
    cal.own_result = std::make_unique<run_result>();
    cal.driver_result = cal.own_result.get();
  }
  run_result& holder = *cal.driver_result;
  const int locations =
      cal.optimize_sed ? ms.channel.sed_location_count : ms.channel.hyd_location_count;
  holder.stride = (locations > 0 ? locations : 0) + 1;
  holder.event_count = ms.overland.num_events > 0 ? ms.overland.num_events : 0;
  // Uniform rain makes one event without a precipitation file to count it in.
  if (ms.overland.uniform_rain && holder.event_count < 1) holder.event_count = 1;
  release_location_values(holder);
  holder.loc_peaks = cleared(holder.stride + 1L, "loc_peaks");
  holder.loc_volumes = cleared(holder.stride + 1L, "loc_volumes");
  // The value slots are cleared too, so a slot whose event never ended reads 0.
  release_event_values(holder);
  const long slots = static_cast<long>(holder.event_count) * holder.stride + 2;
  holder.peaks = cleared(slots, "peaks");
  holder.volumes = cleared(slots, "volumes");
}

void store_event_result(run_result& holder, int event, double peak, double volume,
                        const double* loc_peaks, const double* loc_volumes, int locations) {
  if (holder.peaks == nullptr || holder.volumes == nullptr) return;
  if (event < 1 || event > holder.event_count) {
    printf(
        "Warning: event %d has no slot in the calibration results (%d events); its values "
        "are not stored.\n",
        event, holder.event_count);
    return;
  }
  const long base = static_cast<long>(holder.stride) * (event - 1) + 1;
  holder.peaks[base] = peak;
  if (event > holder.events_filled) holder.events_filled = event;
  holder.volumes[base] = volume;
  const int n = locations < holder.stride - 1 ? locations : holder.stride - 1;
  for (int k = 1; k <= n; ++k) {
    if (loc_peaks != nullptr) holder.peaks[base + k] = loc_peaks[k];
    if (loc_volumes != nullptr) holder.volumes[base + k] = loc_volumes[k];
  }
}

// The wash load the channel sediment step has just moved, booked for a sediment calibration:
// the outlet's rate (all fine classes) sets the event's peak and, times the step, adds to its
// volume; at each sediment location the step's flux of every fine class adds to the location's
// volume and the flux of the last fine class sets its peak.
void book_sediment_results(model_state& ms, double dt) {
  calibration_state& cal = ms.calibration;
  const transport_state& tr = ms.transport;
  if (!cal.optimize_on || !cal.optimize_sed || tr.outlet_wash_flux.empty()) return;
  const double out = tr.outlet_wash_flux[0];
  if (out > cal.event_wash_peak) cal.event_wash_peak = out;
  cal.event_wash_volume += dt * out;
  const channel_state& ch = ms.channel;
  const int fine = tr.num_fine_classes;
  if (fine < 1 || tr.qsmax.empty() || tr.qsmax.col_count() < fine) return;
  const int n = std::min({ch.sed_location_count, ch.slink.count(), ch.snode.count(),
                          cal.loc_peak.count(), cal.loc_peak_aux.count()});
  for (int k = 1; k <= n; ++k) {
    const long row = static_cast<long>(ch.slink[k]) * tr.sed_node_stride + ch.snode[k];
    if (row < 1 || row > tr.qsmax.row_count()) continue;
    const double* flux = tr.qsmax[row];
    double moved = 0.0;
    for (int c = 1; c <= fine; ++c) moved += flux[c];
    cal.loc_peak_aux[k] += dt * moved;
    if (flux[fine] > cal.loc_peak[k]) cal.loc_peak[k] = flux[fine];
  }
}

bool check_calibration_replacement(model_state& ms) {
  run_result* holder = ms.calibration.driver_result;
  if (holder == nullptr || holder->replace_file == nullptr) return true;
  int entry = 0;
  for (const replace_param* p = replace_list; p != nullptr; p = p->param_next) {
    ++entry;
    if (p->param_used) continue;
    printf(
        "Error: the calibration parameter %s (entry %d of the replacement list %s) appears in no "
        "input of the project %s: its trial values would change nothing.\n",
        p->param_tag.c_str(), entry, holder->replace_file, ms.project_path);
    holder->replacement_unused = 1;
  }
  if (holder->replacement_unused) raise_own_message();
  return holder->replacement_unused == 0;
}
