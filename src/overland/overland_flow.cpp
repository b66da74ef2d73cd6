// The overland flow step: the run driver calls overland_flow_step once per pass of the time
// loop, after infiltration. When the overland process is due it checks the depths, routes the
// water by the chosen scheme, keeps the maximum-depth map, books the outlet outflow and ends a
// single-event run once its runoff is complete. Its start-up, overland_flow_setup, is called at
// the end of the overland slope set-up.
#include "overland/overland_flow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "channel/channel_steps.h"
#include "framework/core/block_sum.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "overland/ade_overland.h"
#include "overland/explicit_channel_lakes.h"
#include "overland/explicit_overland.h"
#include "overland/overland_boundary.h"
#include "overland/overland_pumps.h"
#include "overland/overland_steps.h"
#include "subsurface/sacramento_steps.h"
#include "transport/transport_steps.h"

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

// What a scan of a block of cells found: whether a cell holds water, whether a cell's faces
// carry water and the first cell whose depth is not a number (0 when none; the flags then stop
// at that cell).
struct depth_scan_part {
  int any_depth = 0;
  int any_flux = 0;
  int bad_cell = 0;
};

// The cells of one block of a depth scan; the blocks are scanned in parallel and their results
// taken in cell order, so the flags and the first bad cell do not depend on the number of
// threads.
constexpr int depth_scan_block_cells = 8192;

// Scans cells first..last in cell order, stopping at the first depth that is not a number. The
// lake maps are null when their lakes are off; the cells of overland and channel lakes are
// skipped.
depth_scan_part scan_block_in_order(const double* depth, const double* fx, const double* fy,
                                    const int* ov_lake, int ov_lake_cells, const int* chan_lake,
                                    int chan_lake_cells, int first, int last) {
  depth_scan_part p;
  for (int c = first; c <= last; ++c) {
    if (ov_lake != nullptr && c <= ov_lake_cells && ov_lake[c] > 0) continue;
    if (chan_lake != nullptr && c <= chan_lake_cells && chan_lake[c] > 0) continue;
    const double h = depth[c];
    if (h > 1e-16) p.any_depth = 1;
    if (std::fabs(fx[c]) > 1e-16 || std::fabs(fy[c]) > 1e-16) p.any_flux = 1;
    if (std::isnan(h)) {
      p.bad_cell = c;
      return p;
    }
  }
  return p;
}

// The same scan of a block without lakes: the depths in one branch-free pass, then the face
// discharges up to the first that carries water. A block holding a depth that is not a number is
// scanned again in order to find its first such cell.
// With depth null only the face discharges are scanned.
depth_scan_part scan_block(const double* depth, const double* fx, const double* fy,
                           const int* ov_lake, int ov_lake_cells, const int* chan_lake,
                           int chan_lake_cells, int first, int last) {
  if (ov_lake != nullptr || chan_lake != nullptr)
    return scan_block_in_order(depth, fx, fy, ov_lake, ov_lake_cells, chan_lake, chan_lake_cells,
                               first, last);
  depth_scan_part p;
  if (depth != nullptr) {
    // Counts in 64-bit lanes, the width of the depths, so that the loop runs in vectors.
    long wet = 0;
    long nan = 0;
#pragma omp simd reduction(+ : wet, nan)
    for (int c = first; c <= last; ++c) {
      const double h = depth[c];
      wet += static_cast<long>(h > 1e-16);
      nan += static_cast<long>(h != h);
    }
    if (nan != 0) return scan_block_in_order(depth, fx, fy, nullptr, 0, nullptr, 0, first, last);
    p.any_depth = wet > 0 ? 1 : 0;
  }
  for (int c = first; c <= last; ++c) {
    if (std::fabs(fx[c]) > 1e-16 || std::fabs(fy[c]) > 1e-16) {
      p.any_flux = 1;
      break;
    }
  }
  return p;
}

// Scans the cells outside lakes: sets ov_any_depth and ov_any_flux; false at the first depth
// that is not a number (its cell in bad_cell). With depths_known (only without lakes) the
// depths' flags are those the rain and infiltration pass took, and only the face discharges
// are scanned.
bool scan_depths(model_state& ms, int& bad_cell, bool depths_known = false) {
  overland_state& ov = ms.overland;
  const int n = ms.cell_count;
  if (depths_known) {
    if (ov.depth_scan_bad_cell != 0) {
      bad_cell = ov.depth_scan_bad_cell;
      return false;
    }
    if (ov.depth_scan_any_depth) ov.ov_any_depth = 1;
  }
  const double* depth = depths_known ? nullptr : ov.ov_depth.data();
  const double* fx = ov.ov_flux_x.data();
  const double* fy = ov.ov_flux_y.data();
  const bool ov_lakes = ov.overland_lake_map && !ov.oland_lake_new.empty();
  const int* ov_lake = ov_lakes ? ov.oland_lake_new.data() : nullptr;
  const int ov_lake_cells = ov_lakes ? ov.oland_lake_new.count() : 0;
  const raw_array1d<int>& lake = ms.channel.lake_mask;
  const bool chan_lakes = ms.perennial_lakes && !lake.empty();
  const int* chan_lake = chan_lakes ? lake.data() : nullptr;
  const int chan_lake_cells = chan_lakes ? lake.count() : 0;

  // The blocks' flags are taken in cell order up to the first block holding a bad depth.
  bool good = true;
  block_ordered_sum<depth_scan_block_cells, depth_scan_part>(
      n, 0,
      [&](int first, int last) {
        return scan_block(depth, fx, fy, ov_lake, ov_lake_cells, chan_lake, chan_lake_cells, first,
                          last);
      },
      [&](int&, const depth_scan_part& p) {
        if (p.any_depth) ov.ov_any_depth = 1;
        if (p.any_flux) ov.ov_any_flux = 1;
        if (p.bad_cell == 0) return true;
        bad_cell = p.bad_cell;
        good = false;
        return false;
      });
  return good;
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
    file_handle_write_check(ms.output.summary_file);
  }
  ms.overland.rain_active = 0;
  ms.event_active = 0;
  ms.event_over = 1;
  ms.run_flag = 0;
}

// Some cell's water still holds dissolved constituent mass.
bool surface_holds_constituents(const model_state& ms) {
  const transport_state& tr = ms.transport;
  const raw_array2d<double>& held = tr.ov_contam_mass;
  if (held.empty()) return false;
  const int n = std::min(ms.cell_count, held.col_count());
  for (int c = 1; c <= std::min(tr.num_contaminants, held.row_count()); ++c) {
    const double* mass = held[c];
    for (int cell = 1; cell <= n; ++cell)
      if (mass[cell] > 1e-16) return true;
  }
  return false;
}

// A long-term run whose surface is dry, or whose water lies still, between the end of an
// event's rain and the next event: the overland schedule jumps to the next event's start rather
// than scanning every cell each step, and the infiltration schedule follows it (or, while a soil
// scheme still moves water under wet cells, the soil-moisture schedule). Water that appears on
// the surface meanwhile (snowmelt) brings the schedules back (wake_surface_schedules).
void skip_dry_spell(model_state& ms) {
  overland_state& ov = ms.overland;
  const subsurface_state& ss = ms.subsurface;
  const transport_state& tr = ms.transport;
  // Without channels the surface's schedule carries the Sacramento basin's outflow out.
  if (!ms.long_term || ov.dry_skip_off || ss.water_table_on || !ov.ov_pumps.empty() ||
      ms.channel.overbank_flow || ss.gw_simulation || tr.chan_con_trans ||
      (ss.sacramento && !ms.channel.chan_explic))
    return;
  if (!ms.event_ended || (ov.ov_any_depth && ov.ov_any_flux)) return;
  // Constituents still dissolved in water on the surface go on decaying and soaking in step by
  // step: the surface is skipped only once they have all left it.
  if (tr.ov_con_trans && surface_holds_constituents(ms)) return;
  const int next_event = ms.event_number + 1;
  if (next_event < 1 || next_event > ov.num_events || next_event > max_precip_events) return;
  const double start = ms.event_start_jday[next_event];
  process_clock& ovc = ms.ov_clock;
  if (!(start > ms.current_time + ms.time_tolerance)) return;
  ms.ov_water_present = 0;
  ovc.next = start;
  ovc.last = start - ovc.interval_days;
  ov.ov_step_outflow = 0.0;
  ov.dry_skip_count += 1;
  ov.dry_skip_pending = 1;
  ov.dry_skip_until = start;
  process_clock& inf = ms.infil_clock;
  ov.dry_skip_inf_last = inf.last;
  const bool soil_moves_water =
      ss.inf_richards || (ss.redistribution_on && (ss.inf_redist || ss.inf_layered_soil));
  if (!soil_moves_water || !ov.ov_any_depth) {
    inf.next = ovc.next;
    inf.last = ovc.last;
  } else {
    inf.next = ms.soil_et_clock.next;
    inf.last = ms.soil_et_clock.last;
  }
}

}  // namespace

void wake_surface_schedules(model_state& ms) {
  wake_surface_schedules_at(ms, ms.current_time);
}

void wake_surface_schedules_at(model_state& ms, double due) {
  overland_state& ov = ms.overland;
  process_clock& ovc = ms.ov_clock;
  // Only a schedule that jumped a dry spell is brought back; the schedules set at an event's
  // start are left as they are.
  if (!ov.dry_skip_pending || ovc.next != ov.dry_skip_until) return;
  ov.dry_skip_pending = 0;
  ms.ov_water_present = 1;
  if (ovc.next > due + ms.time_tolerance) {
    ovc.next = due;
    ovc.last = due - ovc.interval_days;
  }
  process_clock& inf = ms.infil_clock;
  if (inf.next > due + ms.time_tolerance) {
    inf.next = due;
    inf.last = ov.dry_skip_inf_last;
  }
  // The overland constituents followed the overland schedule over the spell; they wake with it.
  process_clock& con = ms.transport.ov_con_clock;
  if (ms.transport.ov_con_trans && con.next > due + ms.time_tolerance) {
    con.next = due;
    con.last = due - ovc.interval_days;
  }
}

void array_max_update(const raw_array1d<double>& values, raw_array1d<double>& maxima, int n) {
  const int last = std::min({n, values.count(), maxima.count()});
  const double* v = values.data();
  double* m = maxima.data();
  team_for(team_size(last), 1, last, [&](int i) {
    if (v[i] > m[i]) m[i] = v[i];
  });
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
  // The explicit scheme's mean face discharges of the step, for the dissolved constituents and
  // the eroded soil.
  if (ov.ov_route_option == 1 &&
      (ms.transport.ov_con_trans || ms.transport.sediment.soil_erosion) &&
      (!ensure_cells(ov.ovx_mean_flux_x, n, "ovx_mean_flux_x") ||
       !ensure_cells(ov.ovx_mean_flux_y, n, "ovx_mean_flux_y"))) {
    stop_now();
    return;
  }
  // The explicit scheme's copy of the channel lakes, for redoing a step, and the lakes' shore
  // work arrays of every scheme hold this run's lakes.
  if (!explicit_channel_lakes_setup(ms)) {
    stop_now();
    return;
  }
  // The explicit scheme with overland lakes: its depth changes of a pass and each lake's
  // collected change at the start of the step, for redoing a step.
  if (ov.ov_route_option == 1 && ov.overland_lake_map &&
      (!ensure_cells(ov.ov_depth_change, n, "ov_depth_change") ||
       (ov.olake_count > 0 &&
        !ensure_cells(ov.ovx_saved_olake_change, ov.olake_count, "ovx_saved_olake_change")))) {
    stop_now();
    return;
  }
  if (ov.ov_route_option == 2 || ov.ov_route_option == 3) {
    // The ADE schemes' work arrays and memory hold this run's cells and start from their
    // defaults.
    ov.ade_memory.calls = 0;
    ov.ade_memory.last_sub = 0.0;
    ov.ade_memory.failed = 0;
    ov.ade_memory.pair_outflow = 0.0;
    ov.ade_memory.pair_seconds = 0.0;
    if (!ensure_cells(ov.ov_depth_change, n, "ov_depth_change") ||
        !ensure_cells(ov.ov_pred_depth, n, "ov_pred_depth") ||
        !ensure_cells(ov.ov_pred_flux, n, "ov_pred_flux") ||
        !ensure_cells(ov.ov_vol_x, n, "ov_vol_x") || !ensure_cells(ov.ov_vol_y, n, "ov_vol_y") ||
        !ensure_cells(ov.ade_memory.start_depth, n, "ade_start_depth") ||
        (ov.overland_lake_map && ov.olake_count > 0 &&
         (!ensure_cells(ov.ade_lake_surface, ov.olake_count, "ade_lake_surface") ||
          !ensure_cells(ov.ade_memory.lake_books, ov.olake_count, "ade_lake_books")))) {
      stop_now();
      return;
    }
    if (ov.ov_route_option == 2) ade_row_layout_setup(ms);
  }
  ov_boundary_setup(ms);
}

void overland_flow_step(model_state& ms) {
  overland_state& ov = ms.overland;
  process_clock& clock = ms.ov_clock;
  // The depths' scan taken by this pass's rain and infiltration holds for this pass only, and
  // only as long as nothing else moved the depths: not across the boundary's outflow, and only
  // without lakes.
  const bool scan_taken = ov.depth_scan_taken != 0;
  ov.depth_scan_taken = 0;
  if (!(std::fabs(clock.next - ms.current_time) < ms.time_tolerance)) return;
  const bool depths_known = scan_taken && !ov.ov_boundary &&
                            !(ov.overland_lake_map && !ov.oland_lake_new.empty()) &&
                            !(ms.perennial_lakes && !ms.channel.lake_mask.empty());
  const double dt = (ms.current_time - clock.last) * seconds_per_day;
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
  // The pumps take their water before the depths are checked and routed.
  overland_pumps_step(ms, dt);
  if (run_error.error_fatal) return;

  int bad_cell = 0;
  if (!scan_depths(ms, bad_cell, depths_known)) {
    printf(
        "A non-real overland flow water depth has been detected in cell %d after applying "
        "overland boundary conditions and overland pumping.\n",
        bad_cell);
    stop_now();
    return;
  }

  ov.ov_step_outflow = 0.0;
  ov.explicit_mean_ready = 0;
  if (ov.ov_any_depth) {
    if (ov.ov_route_option == 1) {
      ov.ov_step_outflow = ov_route_explicit(ms, dt);
    } else {
      // A sub-step below its floor has stopped the run; it drained nothing. Away from lakes
      // both ADE schemes leave the step's mean face discharges.
      const double drained = ade_overland_route(ms, dt, ov.ov_route_option, ov.ov_sweep_parity);
      ov.ov_step_outflow = drained > 0.0 ? drained : 0.0;
    }
    if (ov.max_depth_on) array_max_update(ov.ov_depth, ov.max_depth, n);
    ov.ov_sweep_parity = ov.ov_sweep_parity == 1 ? 2 : 1;
    if (ms.channel.chan_explic == 0) {
      const double volume = ov.ov_step_outflow;
      ov.ov_out_volume += volume;
      // The dissolved constituents leave with this water at the outlet cell's concentration.
      ms.transport.contam.ov_outlet_volume += volume;
      ov.ov_out_volume_b += volume;
      ov.ov_step_outflow = dt > 0.0 ? volume / dt : 0.0;
      if (ov.ov_route_option == 3 && dt > 0.0) {
        // "ade-pc" drains its outlet after each direction's corrector, so the outlet of a step
        // depends on which direction went first: the discharge reported is that of the step
        // and the one before it (the other order), whatever the parity of the step.
        ade_scheme_memory& mem = ov.ade_memory;
        ov.ov_step_outflow = (volume + mem.pair_outflow) / (dt + mem.pair_seconds);
        mem.pair_outflow = volume;
        mem.pair_seconds = dt;
      }
    }
  } else {
    ov.ade_memory.pair_outflow = 0.0;
    ov.ade_memory.pair_seconds = 0.0;
  }
  // Without channel routing the outlet discharge is the overland outflow, and the Sacramento
  // basin's outflow, which has no channel to enter, leaves there too.
  if (ms.channel.chan_explic == 0) {
    ms.outlet_q = ov.ov_step_outflow;
    const double basin = sacramento_outlet_outflow(ms, dt);
    if (basin > 0.0) {
      ov.ov_out_volume += basin;
      ov.ov_out_volume_b += basin;
      ms.outlet_q += basin / dt;
    }
  }
  // The sediment follows the water the step has moved.
  if (ov.ov_any_depth && ms.transport.sediment.soil_erosion) overland_sediment_step(ms, dt);
  if (ov.overland_lake_map) ov.olake_changed = 1;

  clock.last = ms.current_time;
  clock.next = ms.current_time + clock.interval_days;
  if (ov.ov_end_checks_off) return;

  ov.ov_any_depth = 0;
  ov.ov_any_flux = 0;
  if (!scan_depths(ms, bad_cell)) {
    printf(
        "A non-real overland flow water depth has been detected in cell %d after overland "
        "flow routing.\n",
        bad_cell);
    stop_now();
    return;
  }
  end_runoff_if_complete(ms);
  skip_dry_spell(ms);
}
