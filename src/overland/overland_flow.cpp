// The overland flow step: the run driver calls overland_flow_step once per pass of the time
// loop, after infiltration. When the overland process is due it checks the depths, routes the
// water by the chosen scheme, keeps the maximum-depth map, books the outlet outflow and ends a
// single-event run once its runoff is complete. Its start-up, overland_flow_setup, is called at
// the end of the overland slope set-up.
#include "overland/overland_flow.h"

#include <cmath>
#include <cstdio>

#include "channel/channel_steps.h"
#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "overland/ade_overland.h"
#include "overland/explicit_channel_lakes.h"
#include "overland/explicit_overland.h"
#include "overland/overland_boundary.h"
#include "overland/overland_steps.h"

namespace {

// Allocates a per-cell double array of n cells unless it already holds them; false when the
// memory is missing (the allocator has printed its message).
bool ensure_cells(raw_array1d<double>& a, int n, const char* name) {
  if (!a.empty() && a.count() == n) return true;
  alloc_1d_double(a, n, name);
  return !a.empty();
}

// The first cell of 1..n whose value fails `good`, 0 when all pass.
template <class Good>
int first_bad(const raw_array1d<double>& a, int n, Good good) {
  if (a.empty()) return 0;
  for (int c = 1; c <= n && c <= a.count(); ++c)
    if (!good(a[c])) return c;
  return 0;
}

// False, after the message naming the value, when a per-cell value or an outlet or low-spot
// value would make the routing's depths non-numbers.
bool routing_inputs_can_run(model_state& ms) {
  const overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  if (const int c = first_bad(ms.cell_elev, n, [](double z) { return std::isfinite(z); })) {
    stop_with_message("Error: the elevation of cell %d is %g; overland flow needs a number.\n", c,
                      ms.cell_elev[c]);
    return false;
  }
  if (const int c =
          first_bad(ov.ov_roughness, n, [](double r) { return std::isfinite(r) && r > 0.0; })) {
    stop_with_message(
        "Error: the overland Manning roughness of cell %d is %g; it must be a number above 0.\n", c,
        ov.ov_roughness[c]);
    return false;
  }
  if (const int c =
          first_bad(ov.ov_retention, n, [](double r) { return std::isfinite(r) && r >= 0.0; })) {
    stop_with_message(
        "Error: the retention depth of cell %d is %g m; it must be a number of at least 0.\n", c,
        ov.ov_retention[c]);
    return false;
  }
  if (const int c = first_bad(ov.ov_depth, n, [](double h) { return std::isfinite(h); })) {
    stop_with_message("Error: the initial overland depth of cell %d is %g; it must be a number.\n",
                      c, ov.ov_depth[c]);
    return false;
  }
  if (ms.channel.chan_explic == 0 && !(std::isfinite(ms.outlet_slope) && ms.outlet_slope >= 0.0)) {
    stop_with_message(
        "Error: the outlet slope (OUTSLOPE) is %g; it must be a number of at least 0.\n",
        ms.outlet_slope);
    return false;
  }
  if (ms.input.wetland_table_on && !ov.wetland_mask.empty()) {
    for (int c = 1; c <= n && c <= ov.wetland_mask.count(); ++c) {
      const int w = ov.wetland_mask[c];
      if (w < 1 || w > ov.wetlands.count()) continue;
      const double n_w = ov.wetlands[w].slot[6];
      if (!(std::isfinite(n_w) && n_w > 0.0)) {
        stop_with_message(
            "Error: the Manning roughness of wetland %d (cell %d) is %g; it must be a number "
            "above 0.\n",
            w, c, n_w);
        return false;
      }
    }
  }
  if (ov.dike_map_on && ov.lowspot_on) {
    for (int k = 1; k <= ov.num_lowspots && k <= ov.lowspots.count(); ++k) {
      const lowspot_record& s = ov.lowspots[k];
      if (s.row < 1 || s.row > ms.rows || s.col < 1 || s.col > ms.cols) {
        stop_with_message(
            "Error: low spot %d lies at row %d column %d, outside the grid of %d rows and %d "
            "columns.\n",
            k, s.row, s.col, ms.rows, ms.cols);
        return false;
      }
      if (!std::isfinite(s.elevation) || !std::isfinite(s.fraction)) {
        stop_with_message(
            "Error: low spot %d at row %d column %d has the crest elevation %g and the width "
            "fraction %g; both must be numbers.\n",
            k, s.row, s.col, s.elevation, s.fraction);
        return false;
      }
    }
  }
  return true;
}

// A cell of an overland lake, or of a channel lake when perennial lakes are on.
bool overland_lake_cell(const model_state& ms, int c) {
  const overland_state& ov = ms.overland;
  return ov.overland_lake_map && c <= ov.oland_lake_new.count() && !ov.oland_lake_new.empty() &&
         ov.oland_lake_new[c] > 0;
}
bool channel_lake_cell(const model_state& ms, int c) {
  const raw_array1d<int>& lake = ms.channel.lake_mask;
  return ms.perennial_lakes && c <= lake.count() && !lake.empty() && lake[c] > 0;
}

// Scans the cells outside lakes: sets ov_any_depth and ov_any_flux and returns the number of
// cells whose faces carry water, or -1 at the first depth that is not a number (its cell in
// bad_cell). count_channel_lakes lowers `active` for each channel-lake cell.
int scan_depths(model_state& ms, bool count_channel_lakes, int& active, int& bad_cell) {
  overland_state& ov = ms.overland;
  int moving = 0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (overland_lake_cell(ms, c)) continue;
    if (channel_lake_cell(ms, c)) {
      if (count_channel_lakes) --active;
      continue;
    }
    const double h = ov.ov_depth[c];
    if (h > 1e-16) ov.ov_any_depth = 1;
    if (std::fabs(ov.ov_flux_x[c]) > 1e-16 || std::fabs(ov.ov_flux_y[c]) > 1e-16) {
      ov.ov_any_flux = 1;
      ++moving;
    }
    if (std::isnan(h)) {
      bad_cell = c;
      return -1;
    }
  }
  return moving;
}

// A single-event run with routed channels whose rain has stopped (the end checks are on again),
// whose cells outside the lakes hold no water and whose channels hold less than a ten-thousandth
// of the event's rain has finished its runoff: the event ends here and the run after this pass.
// The event's books are closed by the end-of-event accounting of the same pass.
void end_runoff_if_complete(model_state& ms) {
  const overland_state& ov = ms.overland;
  if (ms.long_term || ov.ov_any_depth || ms.tev || ms.output.volp || ms.channel.chan_explic != 1)
    return;
  const double chan_volume = channel_stored_volume(ms);
  if (!(0.0001 * ms.event_rain_vol > chan_volume)) return;
  if (!ms.super_quiet && process_info.process_rank == 0)
    printf("Rainfall for this event has ended.\n");
  FILE* summary = ms.output.summary_file.fp;
  if (summary != nullptr) {
    fprintf(summary, "Rainfall for this event ended. Runoff is complete\n");
    fflush(summary);
  }
  ms.overland.rain_active = 0;
  ms.event_active = 0;
  ms.event_over = 1;
  ms.run_flag = 0;
}

}  // namespace

void array_max_update(const raw_array1d<double>& values, raw_array1d<double>& maxima, int n) {
  for (int i = 1; i <= n && i <= values.count() && i <= maxima.count(); ++i)
    if (values[i] > maxima[i]) maxima[i] = values[i];
}

void overland_flow_setup(model_state& ms) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  if (n < 1) return;
  if (!ensure_cells(ov.ov_retention, n, "ov_retention") ||
      !ensure_cells(ov.ov_depth, n, "ov_depth")) {
    stop_now();
    return;
  }
  if (ov.ov_roughness.empty() || ov.ov_roughness.count() < n) {
    stop_with_message(
        "Error: overland flow needs a Manning roughness for each of the %d cells "
        "(MANNING_N or ROUGHNESS).\n",
        n);
    return;
  }
  if (!routing_inputs_can_run(ms)) return;
  if (!ensure_cells(ov.ov_flux_x, n, "ov_flux_x") || !ensure_cells(ov.ov_flux_y, n, "ov_flux_y") ||
      !ensure_cells(ov.ov_saved_depth, n, "ov_saved_depth") ||
      !ensure_cells(ov.ov_flow_power, n, "ov_flow_power") ||
      (ov.max_depth_on && !ensure_cells(ov.max_depth, n, "max_depth"))) {
    stop_now();
    return;
  }
  // The explicit scheme's copy of the channel lakes, for redoing a step, and the lakes' shore
  // work arrays of every scheme hold this run's lakes.
  if (!explicit_channel_lakes_setup(ms)) {
    stop_now();
    return;
  }
  if (ov.ov_route_option == 2 || ov.ov_route_option == 3) {
    // The ADE schemes' work arrays and memory hold this run's cells and start from their
    // defaults.
    ov.ade_memory.calls = 0;
    ov.ade_memory.last_sub = 0.0;
    ov.ade_memory.failed = 0;
    if (!ensure_cells(ov.ov_depth_change, n, "ov_depth_change") ||
        !ensure_cells(ov.ov_pred_depth, n, "ov_pred_depth") ||
        !ensure_cells(ov.ov_pred_flux, n, "ov_pred_flux") ||
        (ov.ov_route_option == 2 &&
         (!ensure_cells(ov.ov_vol_x, n, "ov_vol_x") || !ensure_cells(ov.ov_vol_y, n, "ov_vol_y") ||
          !ensure_cells(ov.ade_memory.start_depth, n, "ade_start_depth") ||
          !ensure_cells(ov.ade_memory.before_sweep, n, "ade_before_sweep"))) ||
        (ov.overland_lake_map && ov.olake_count > 0 &&
         !ensure_cells(ov.ade_lake_surface, ov.olake_count, "ade_lake_surface"))) {
      stop_now();
      return;
    }
  }
  ov_boundary_setup(ms);
}

void overland_flow_step(model_state& ms) {
  overland_state& ov = ms.overland;
  process_clock& clock = ms.ov_clock;
  if (!(std::fabs(clock.next - ms.current_time) < ms.time_tolerance)) return;
  const double dt = (ms.current_time - clock.last) * 86400.0;
  ov.ov_any_flux = 0;
  ov.ov_any_depth = 0;
  const int n = ms.cell_count;
  if (n >= 1 && (ov.ov_flux_x.count() < n || ov.ov_flux_y.count() < n || ov.ov_depth.count() < n)) {
    stop_with_message("Error: the overland routing arrays of %d cells were not set up.\n", n);
    return;
  }
  if (ov.ov_boundary) {
    ov_boundary_update_values(ms);
    if (run_error.error_fatal) return;
    ov_boundary_outflow(ms, dt);
    if (run_error.error_fatal) return;
  }
  // Overland pumps are not part of this version: the project checks refuse their card.

  int active = n;
  int bad_cell = 0;
  const int moving = scan_depths(ms, true, active, bad_cell);
  if (moving < 0) {
    printf(
        "A non-real overland flow water depth has been detected in cell %d after applying "
        "overland boundary conditions and overland pumping.\n",
        bad_cell);
    stop_now();
    return;
  }
  (void)moving;  // the share of moving cells decides overland sediment transport, not built

  ov.ov_step_outflow = 0.0;
  if (ov.ov_any_depth) {
    if (ov.ov_route_option == 1) {
      ov.ov_step_outflow = ov_route_explicit(ms, dt);
    } else {
      const double drained = ade_overland_route(ms, dt, ov.ov_route_option, ov.ov_sweep_parity);
      // A sub-step below its floor has stopped the run; it drained nothing.
      ov.ov_step_outflow = drained > 0.0 ? drained : 0.0;
      if (ov.ov_route_option == 2 && !ov.overland_lake_map && !ms.perennial_lakes && dt > 0.0 &&
          drained >= 0.0) {
        // The mean face discharges of the step from the volumes of its sub-steps.
        double* fx = ov.ov_flux_x.data();
        double* fy = ov.ov_flux_y.data();
        const double* vx = ov.ov_vol_x.data();
        const double* vy = ov.ov_vol_y.data();
#pragma omp parallel for schedule(static) if (n >= parallel_min_cells)
        for (int c = 1; c <= n; ++c) {
          fx[c] = vx[c] / dt;
          fy[c] = vy[c] / dt;
        }
      }
    }
    if (ov.max_depth_on) array_max_update(ov.ov_depth, ov.max_depth, n);
    ov.ov_sweep_parity = ov.ov_sweep_parity == 1 ? 2 : 1;
    if (ms.channel.chan_explic == 0) {
      ov.ov_out_volume += ov.ov_step_outflow;
      ov.ov_out_volume_b += ov.ov_step_outflow;
      ov.ov_step_outflow = dt > 0.0 ? ov.ov_step_outflow / dt : 0.0;
    }
  }
  // Without channel routing the outlet discharge is the overland outflow.
  if (ms.channel.chan_explic == 0) ms.outlet_q = ov.ov_step_outflow;
  if (ov.overland_lake_map) ov.olake_changed = 1;

  clock.last = ms.current_time;
  clock.next = ms.current_time + clock.interval_days;
  if (ov.ov_end_checks_off) return;

  ov.ov_any_depth = 0;
  ov.ov_any_flux = 0;
  if (scan_depths(ms, false, active, bad_cell) < 0) {
    printf(
        "A non-real overland flow water depth has been detected in cell %d after overland "
        "flow routing.\n",
        bad_cell);
    stop_now();
    return;
  }
  end_runoff_if_complete(ms);
}
