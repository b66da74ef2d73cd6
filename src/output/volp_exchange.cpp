// Exchange with the ecological model VOLP inside the TEV land-management framework: the grids
// read once at start-up (VOLP_FIRST: the moisture by the soil state set-up, before the soil's
// starting water is counted, the rest by the run driver) and, at the end of every event
// (time loop, after the end-of-event decision), the soil moisture, roughness, conductivity and
// porosity grids and the event file written to the "exchange" folder. When TEV asked for one
// event the run ends there; when the run holds several, the grids VOLP wrote are read back and
// the clock moves on to the next event's start.
#include "output/volp_exchange.h"

#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "input/input_steps.h"
#include "output/grid_writer.h"
#include "output/output_steps.h"
#include "subsurface/subsurface_steps.h"

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

// The redistribution soil keeps its water between the events of a TEV run: the water its
// wetting front took in (the infiltrated water the books hold in the soil) above the moisture
// below the front, which the books do not hold (a TEV run is an event run, whose soil zones
// have no depth). VOLP's moisture is the moisture of the whole soil VOLP hands back: it becomes
// the moisture below the front and the wetted zone above takes it too, so the front's water goes
// to VOLP, booked as water exchanged with it, and the soil starts the next event as the run
// started on its moisture map.
void volp_moisture_into_redistribution_soil(model_state& ms) {
  subsurface_state& ss = ms.subsurface;
  const int n = ms.cell_count;
  if (!ss.inf_redist || !holds(ss.theta_init, n) || !holds(ss.inf_depth_cum, n) ||
      !holds(ss.inf_depth_prev, n))
    return;
  const double area = ms.gridsize * ms.gridsize;
  double front_given = 0.0;
  for (int c = 1; c <= n; ++c) {
    const double theta = ss.theta_init[c];
    // The front's water is the cell's infiltration booked so far; an increment not booked yet
    // stays, to be booked as it would have been.
    front_given += ss.inf_depth_prev[c] * area;
    ss.inf_depth_cum[c] -= ss.inf_depth_prev[c];
    ss.inf_depth_prev[c] = 0.0;
    for (raw_array1d<int>* a : {&ss.iter_pond_1, &ss.iter_n, &ss.iter_i_less_k, &ss.no_wat_prof})
      if (has(*a, c)) (*a)[c] = 0;
    if (has(ss.redist_front_depth, c)) ss.redist_front_depth[c] = 0.0;
    if (has(ss.redist_front_theta, c)) ss.redist_front_theta[c] = theta;
    if (has(ss.surf_moist, c)) ss.surf_moist[c] = theta;
  }
  ms.output.volp_soil_volume -= front_given;
  ms.output.volp_front_volume -= front_given;
}

// The top layer's moisture of a cell of the layered soil that VOLP's moisture `theta` gives it:
// bounded to the layer's range as the read-back bounds every moisture.
double volp_top_layer_moisture(const subsurface_state& ss, int c, double theta) {
  const int type = has(ss.soiltype, c) ? ss.soiltype[c] : 0;
  const soil_table_record& soil = ss.soil_types[type >= 0 && type < max_soil_types ? type : 0];
  return volp_moisture_bounded(theta, soil.layer_porosity[0], soil.layer_residual_moisture[0]);
}

// At start-up, before the soil's water is counted: every cell's top layer takes VOLP's moisture.
void volp_moisture_into_top_layers(model_state& ms, const raw_array1d<double>& theta) {
  subsurface_state& ss = ms.subsurface;
  if (ss.THETA_ML.empty() || ss.THETA_ML.col_count() < 1) return;
  for (int c = 1; c <= ms.cell_count && c <= ss.THETA_ML.row_count(); ++c)
    ss.THETA_ML[c][1] = volp_top_layer_moisture(ss, c, theta[c]);
}

// The layered soil keeps the moisture of its layers between the events of a TEV run and its
// two zones hold the water of the top two layers (each layer's moisture over its depth above the
// water table); each event's front starts afresh at the event's start. VOLP's moisture (in
// `theta`, per cell) becomes the top layer's, bounded to that layer's range as the read-back
// bounds every moisture; the upper zone gains (or loses) the change over the layer's depth, water
// exchanged with VOLP in the run's books.
void volp_moisture_into_layered_soil(model_state& ms, const raw_array1d<double>& theta) {
  subsurface_state& ss = ms.subsurface;
  const double area = ms.gridsize * ms.gridsize;
  double gained = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (ss.THETA_ML.empty() || c > ss.THETA_ML.row_count() || ss.THETA_ML.col_count() < 1) continue;
    const int type = has(ss.soiltype, c) ? ss.soiltype[c] : 0;
    const soil_table_record& soil = ss.soil_types[type >= 0 && type < max_soil_types ? type : 0];
    const double top = volp_top_layer_moisture(ss, c, theta[c]);
    const double depth =
        has(ss.wt_depth_cm, c) ? ss.wt_depth_cm[c] : soil.layer_depth[0] + soil.layer_depth[1];
    const double in_top = depth < soil.layer_depth[0] ? depth : soil.layer_depth[0];
    const double change = (top - ss.THETA_ML[c][1]) * in_top;  // cm
    ss.THETA_ML[c][1] = top;
    if (has(ss.zone_water_upper, c)) ss.zone_water_upper[c] += change;
    if (has(ss.soil_water_total, c)) ss.soil_water_total[c] += change;
    gained += change / 100.0 * area;
  }
  ms.output.volp_soil_volume += gained;
}

// The Richards columns keep their water between the events of a TEV run. VOLP's moisture (in
// `theta`, per cell) is that of the root zone, whose mean moisture the columns handed it: every
// root-zone node takes it, bounded to the node's range as the read-back bounds every moisture,
// with the head the node's retention function gives it. The change of the columns' water is
// water exchanged with VOLP in the run's books.
void volp_moisture_into_richards_columns(model_state& ms, const raw_array1d<double>& theta) {
  ms.output.volp_soil_volume += richards_root_zones_take_moisture(ms, theta, volp_moisture_bounded);
}

// The grids VOLP wrote, read back between two events: the soil moisture (bounded to the soil's
// range), the roughness (none or negative: the default) and the conductivity (cm/h to m/s).
bool read_back_volp_grids(model_state& ms) {
  output_state& out = ms.output;
  subsurface_state& ss = ms.subsurface;
  printf("reading VOLP exchange maps\n");
  fflush(stdout);
  if (out.moist_from_volp && (ss.inf_layered_soil || ss.inf_richards)) {
    if (!read_exchange_grid(ms, out.moist_from_volp_file, "soil moisture",
                            "2 Can't open soil moisture exchange file %s for reading\n",
                            out.volp_scratch))
      return false;
    if (ss.inf_richards)
      volp_moisture_into_richards_columns(ms, out.volp_scratch);
    else
      volp_moisture_into_layered_soil(ms, out.volp_scratch);
  } else if (out.moist_from_volp) {
    if (!read_exchange_grid(ms, out.moist_from_volp_file, "soil moisture",
                            "2 Can't open soil moisture exchange file %s for reading\n",
                            ss.theta_init))
      return false;
    if (!holds(ss.porosity_cell, ms.cell_count)) {
      stop_with_message(
          "Error: the VOLP exchange grid %s gives the soil moisture, but this run keeps no "
          "porosity to bound it.\n",
          out.moist_from_volp_file);
      return false;
    }
    const bool residual = holds(ss.residual_cell, ms.cell_count);
    for (int c = 1; c <= ms.cell_count; ++c)
      ss.theta_init[c] = volp_moisture_bounded(ss.theta_init[c], ss.porosity_cell[c],
                                               residual ? ss.residual_cell[c] : 0.0);
    ss.green_ampt_g_ready = 0;  // the capillary term follows the new moisture
    volp_moisture_into_redistribution_soil(ms);
  }
  if (out.rough_from_volp) {
    if (!read_exchange_grid(ms, out.rough_from_volp_file, "roughness",
                            "2 Can't open roughness exchange file %s for reading\n",
                            ms.overland.ov_roughness))
      return false;
    for (int c = 1; c <= ms.cell_count; ++c)
      ms.overland.ov_roughness[c] = volp_roughness_or_default(ms.overland.ov_roughness[c]);
  }
  if (out.ksat_from_volp) {
    if (!read_exchange_grid(ms, out.ksat_from_volp_file, "saturated conductivity",
                            "2 Can't open Ksat exchange file %s for reading\n", ss.ks_cell))
      return false;
    for (int c = 1; c <= ms.cell_count; ++c) {
      // A negative conductivity would draw water up out of the soil that no balance holds.
      if (!(ss.ks_cell[c] >= 0.0)) {
        stop_with_message(
            "Error: the VOLP exchange grid %s gives cell %d a saturated conductivity of %g cm/h; "
            "it must be 0 or more.\n",
            out.ksat_from_volp_file, c, ss.ks_cell[c]);
        return false;
      }
      ss.ks_cell[c] /= ksat_file_factor;
    }
  }
  return true;
}

// Processes that keep schedules of their own and act in the dry spell as in any run of several
// events: the pipes drain, the channels' sediment settles, constituents and nutrients decay and
// move, the Sacramento basin drains hour by hour. With any of them the run steps the dry spell
// (each process due by its own clock, the surface and channels idle until the next event) rather
// than jumping it, so that none of them is left with a gap in its time.
bool keeps_own_schedule(const model_state& ms) {
  const transport_state& tr = ms.transport;
  return ms.subsurface.sacramento != 0 || ms.channel.storm_sewer != 0 || tr.ov_con_trans != 0 ||
         tr.chan_con_trans != 0 || tr.soil_con_trans != 0 || tr.nutrients != 0 ||
         ms.cards.soil_erosion_given != 0;
}

// Moves the model time to one step before the next event's start and makes every process due
// at that start, so that the dry spell between the events is passed over in one step. Nothing
// runs in between: the processes that would (Richards columns, groundwater, the soil between
// events, lakes that keep moving) keep the clock stepping instead.
void move_clock_to_event(model_state& ms, double start) {
  if (!(ms.dt_days > 0.0)) return;
  const long long step_at_start = std::llround((start - ms.start_time_jday) / ms.dt_days);
  if (step_at_start - 1 <= ms.step_number) return;  // the next event is no further than a step
  ms.step_number = static_cast<int>(step_at_start - 1);
  ms.elapsed_minutes = ms.step_number * ms.timestep / 60.0;
  ms.current_time = ms.step_number * ms.dt_days + ms.start_time_jday;
  date_from_julian(ms.current_time, ms.cur_year, ms.cur_month, ms.cur_day, ms.cur_hour,
                   ms.cur_minute, ms.cur_second_real);
  ms.cur_second = static_cast<int>(ms.cur_second_real);
  ms.day_of_year = day_of_year(ms.cur_year, ms.cur_month, ms.cur_day);

  const double due = ms.current_time + ms.dt_days;
  auto due_at_start = [due](process_clock& clock) {
    clock.next = due;
    clock.last = due - clock.interval_days;
  };
  due_at_start(ms.ov_clock);
  due_at_start(ms.infil_clock);
  if (ms.channel.chan_explic) due_at_start(ms.chan_clock);
}

}  // namespace

double volp_moisture_bounded(double theta, double porosity, double residual) {
  if (theta > porosity) theta = 0.99 * (porosity - residual) + residual;
  if (theta <= residual) theta = residual + 0.01 * (porosity - residual);
  return theta;
}

double volp_roughness_or_default(double n) {
  return n > 0.0 ? n : 0.04;
}

void read_volp_start_moisture(model_state& ms) {
  output_state& out = ms.output;
  if (!(ms.tev && out.volp && out.volp_first && out.moist_from_volp)) return;
  subsurface_state& ss = ms.subsurface;
  // The layered soil and the Richards columns hold their moisture in their layers and nodes, built
  // from the soil table; the Green and Ampt and redistribution soils start from the moisture map,
  // which VOLP's grid replaces as it is (the soil state set up next copies it into the
  // redistribution scheme's front and surface moisture).
  const bool layers = ss.inf_layered_soil || ss.inf_richards;
  if (!read_exchange_grid(ms, out.moist_from_volp_file, "soil moisture",
                          "1 Can't open soil moisture exchange file %s for reading\n",
                          layers ? out.volp_scratch : ss.theta_init))
    return;
  ss.green_ampt_g_ready = 0;  // the capillary term follows the new moisture
  // The moisture map holds VOLP's grid as it does for the Green and Ampt soils; the layered soil
  // and the Richards columns, and the constituents over them, read their layers and nodes.
  if (layers && holds(ss.theta_init, ms.cell_count))
    for (int c = 1; c <= ms.cell_count; ++c) ss.theta_init[c] = out.volp_scratch[c];
  // Before the soil's starting water is counted: the change is part of the run's initial soil
  // water, not water exchanged with VOLP.
  if (ss.inf_richards)
    richards_root_zones_take_moisture(ms, out.volp_scratch, volp_moisture_bounded);
  else if (ss.inf_layered_soil)
    volp_moisture_into_top_layers(ms, out.volp_scratch);
}

void read_volp_exchange_start(model_state& ms) {
  output_state& out = ms.output;
  if (!(ms.tev && out.volp && out.volp_first)) return;
  subsurface_state& ss = ms.subsurface;
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
  // The layered soil's moisture is that of its top layer; the Richards columns' that of their
  // root zones.
  const bool layered = ss.inf_layered_soil && holds(out.volp_scratch, ms.cell_count) &&
                       !ss.THETA_ML.empty() && ss.THETA_ML.row_count() >= ms.cell_count &&
                       ss.THETA_ML.col_count() >= 1;
  const bool columns = ss.inf_richards && holds(out.volp_scratch, ms.cell_count);
  if (layered)
    for (int c = 1; c <= ms.cell_count; ++c) out.volp_scratch[c] = ss.THETA_ML[c][1];
  if (columns && out.moist_to_volp) richards_root_zone_moisture_of_cells(ms, out.volp_scratch);
  if (out.moist_to_volp &&
      !write_exchange_grid(ms, out.moist_to_volp_file,
                           "Can't open soil moisture exchange file %s for writing\n",
                           layered || columns ? out.volp_scratch : moisture_now(ms)))
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
  if (ms.tev_event_num_given) {
    printf("End of TEV event %d\n", ms.tev_event_num);
    ms.run_flag = 0;
    return;
  }
  // After the last event the run ends (the end-of-event decision has said so).
  if (last) return;
  if (!read_back_volp_grids(ms)) return;
  if (ss.inf_richards || ss.gw_simulation || ss.redistribution_on || ms.channel.chan_lake_flag)
    return;
  if (keeps_own_schedule(ms)) return;
  move_clock_to_event(ms, ms.event_start_jday[event + 1]);
}
