// Exchange with the ecological model VOLP inside the TEV land-management framework: the grids
// read once at start-up (VOLP_FIRST, called by the run driver) and, at the end of the event TEV
// asked for (time loop, after the end-of-event decision), the soil moisture, roughness,
// conductivity and porosity grids and the event file written to the "exchange" folder.
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "output/grid_writer.h"
#include "output/output_steps.h"

namespace {

// Saturated conductivity: m/s in the model, cm/h in the exchange files.
constexpr double ksat_file_factor = 360000.0;

// Reads the grid `name` into `target` (per cell) through the run's scratch array; stops the run
// with `cannot_open` (a format naming the file) when the file does not open, and with the grid
// reader's message when it is malformed, or when the run keeps no such per-cell array.
bool read_exchange_grid(model_state& ms, const char* name, const char* what,
                        const char* cannot_open, raw_array1d<double>& target) {
  if (!holds(target, ms.cell_count) || !holds(ms.output.volp_scratch, ms.cell_count)) {
    stop_with_message(
        "Error: the VOLP exchange grid %s gives the %s, which this run does not "
        "keep.\n",
        name, what);
    return false;
  }
  file_handle in;
  if (!file_handle_open(in, name, "r")) {
    stop_with_message(cannot_open, name);
    return false;
  }
  double north = 0, south = 0, east = 0, west = 0;
  int rows = 0, cols = 0;
  read_ascii_map(in, name, map_store_cell_double, north, south, east, west, rows, cols,
                 ms.index_map, &ms.output.volp_scratch, nullptr, nullptr, ms.rows, ms.cols);
  file_handle_close(in);
  if (run_error.error_fatal) return false;
  for (int c = 1; c <= ms.cell_count; ++c) target[c] = ms.output.volp_scratch[c];
  return true;
}

// Writes `values` (per cell) as the GRASS grid `name`; stops the run with `cannot_open` when the
// file does not open.
bool write_exchange_grid(model_state& ms, const char* name, const char* cannot_open,
                         const raw_array1d<double>& values) {
  if (!holds(values, ms.cell_count)) {
    stop_with_message(
        "Error: the VOLP exchange grid %s asks for values this run does not "
        "keep.\n",
        name);
    return false;
  }
  file_handle out;
  if (!file_handle_open(out, name, "w")) {
    stop_with_message(cannot_open, name);
    return false;
  }
  write_grass_grid(out, ms.index_map, ms.map_north, ms.map_south, ms.map_east, ms.map_west, ms.rows,
                   ms.cols, values.data());
  file_handle_close(out);
  return run_error.error_fatal == 0;
}

// Day number of a Julian time: whole days after 31 December of the previous year at 01:00.
int volp_day_number(double jd, int year) {
  return static_cast<int>(jd - julian_from_date(year - 1, 12, 31, 1, 0, 0.0));
}

// The soil moisture the infiltration model holds now: the surface water content of the
// redistribution scheme, which follows the soil between events; the Green and Ampt scheme keeps
// its initial moisture through the event.
const raw_array1d<double>& moisture_now(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  return ss.inf_redist && holds(ss.surf_moist, ms.cell_count) ? ss.surf_moist : ss.theta_init;
}

}  // namespace

void read_volp_exchange_start(model_state& ms) {
  output_state& out = ms.output;
  if (!(ms.tev && out.volp && out.volp_first)) return;
  subsurface_state& ss = ms.subsurface;
  if (out.moist_from_volp) {
    if (!read_exchange_grid(ms, out.moist_from_volp_file, "soil moisture",
                            "1 Can't open soil moisture exchange file %s for reading\n",
                            ss.theta_init))
      return;
    ss.green_ampt_g_ready = 0;  // the capillary term follows the new moisture
  }
  if (out.rough_from_volp &&
      !read_exchange_grid(ms, out.rough_from_volp_file, "roughness",
                          "1 Can't open roughness exchange file %s for reading\n",
                          ms.overland.ov_roughness))
    return;
  if (out.ksat_from_volp) {
    if (!read_exchange_grid(ms, out.ksat_from_volp_file, "saturated conductivity",
                            "1 Can't open Ksat exchange file %s for reading\n", ss.ks_cell))
      return;
    for (int c = 1; c <= ms.cell_count; ++c) ss.ks_cell[c] /= ksat_file_factor;
  }
}

void write_volp_exchange_end(model_state& ms) {
  if (!ms.event_over) return;
  output_state& out = ms.output;
  if (!(ms.tev && out.volp)) return;
  subsurface_state& ss = ms.subsurface;
  if (out.moist_to_volp &&
      !write_exchange_grid(ms, out.moist_to_volp_file,
                           "Can't open soil moisture exchange file %s for writing\n",
                           moisture_now(ms)))
    return;
  if (out.rough_to_volp &&
      !write_exchange_grid(ms, out.rough_to_volp_file,
                           "Can't open roughness exchange file %s for writing\n",
                           ms.overland.ov_roughness))
    return;
  if (out.ksat_to_volp) {
    if (!holds(ss.ks_cell, ms.cell_count) || !holds(out.volp_scratch, ms.cell_count)) {
      stop_with_message(
          "Error: the VOLP exchange grid %s asks for values this run does not "
          "keep.\n",
          out.ksat_to_volp_file);
      return;
    }
    for (int c = 1; c <= ms.cell_count; ++c) out.volp_scratch[c] = ss.ks_cell[c] * ksat_file_factor;
    if (!write_exchange_grid(ms, out.ksat_to_volp_file,
                             "Can't open Ksat exchange file %s for writing\n", out.volp_scratch))
      return;
  }
  if (out.poros_to_volp &&
      !write_exchange_grid(ms, out.poros_to_volp_file,
                           "Can't open porosity exchange file %s for writing\n", ss.porosity_cell))
    return;

  // The event file: the day the event ended and the day the next one starts.
  const int events = ms.overland.num_events;
  const int event = ms.event_number;
  const bool last = event >= events;
  file_handle ev;
  if (!file_handle_open(ev, out.volp_exchange_file, "w")) {
    stop_with_message("unable to open volp exchange file for writing\n");
    return;
  }
  if (last) {
    fprintf(ev.fp, "999 999\n");
  } else {
    const double next = ms.event_start_jday[event + 1];
    fprintf(ev.fp, "%3d %3d\n", volp_day_number(ms.current_time, ms.cur_year),
            volp_day_number(next, ms.cur_year));
  }
  file_handle_close(ev);

  // TEV asked for this one event: the run ends after this step.
  printf("End of TEV event %d\n", ms.tev_event_num);
  ms.run_flag = 0;
}
