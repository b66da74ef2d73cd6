// Run parameters: the first start-up step of run_project. Reads the project file and turns the
// cards into the working fields of the model state: option and method flags, numeric process
// parameters, run file names, the start time of uniform rainfall and the nutrient container.
#include "input/run_parameters.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "input/mapping_tables.h"
#include "input/output_paths.h"
#include "input/project_file.h"
#include "input/stream_tables.h"

int pause_on_exit = 0;

namespace {

// Most passes of the time loop a run may take: its step number is an int, and the loop can take
// one pass past the steps of the run's length.
constexpr int max_run_steps = INT_MAX - 1;

// Positions of the checked tables of the mapping-table file in input_state::table_present.
constexpr int table_roughness = 0;
constexpr int table_green_ampt = 3;
constexpr int table_evapotranspiration = 7;
constexpr int table_wetlands = 11;

template <std::size_t N>
void copy_name(char (&dst)[N], const char* src) {
  copy_text(dst, N, src);
}

// A name below the folder of the files exchanged with VOLP.
template <std::size_t N>
void exchange_name(char (&dst)[N], const char* src) {
  copy_text(dst, N, (std::string("exchange/") + src).c_str());
}

bool table_on(const model_state& ms, int index) {
  return ms.input.mapping_table_on != 0 && ms.input.table_present[index] != 0;
}

// Stops the run after a card's own message: code 4000, left for the driver, since the step
// returns at once.
bool refuse_card() {
  raise_own_message();
  return false;
}

// The hour 24 ends a day: it is a time only as 24:00. Empty for a time of day, else a text
// naming the minute past it.
std::string past_end_of_day(const int date[5]) {
  if (date[3] < 24 || date[4] == 0) return std::string();
  return "minute " + std::to_string(date[4]) + " of hour 24 is past the end of the day";
}

// START_DATE, START_TIME and END_TIME must be calendar dates before the clock turns them into
// Julian dates and its date stamps. A START_DATE of zeros is the card not given, and so is an
// END_TIME of year 0: neither is used as a date. False after a message naming the card.
bool clock_cards_are_dates(const grid_time_params& g, const char* project_path) {
  const int start[5] = {g.start_year, g.start_month, g.start_day, g.start_hour, g.start_minute};
  const int end[5] = {g.end_year, g.end_month, g.end_day, g.end_hour, g.end_minute};
  std::string outside;
  char card[120] = {};
  if (start[0] != 0 || start[1] != 0 || start[2] != 0) {
    outside = date_fields_outside(start, calendar_date_limits, 0, 2);
    snprintf(card, sizeof card, "START_DATE %d %d %d", start[0], start[1], start[2]);
  }
  if (outside.empty()) {
    outside = date_fields_outside(start, calendar_date_limits, 3, 4);
    snprintf(card, sizeof card, "START_TIME %d %d", start[3], start[4]);
  }
  // A day its month does not have, or a minute past the hour 24 that ends a day, would be
  // carried silently into the next month or day.
  if (outside.empty() && (start[0] != 0 || start[1] != 0 || start[2] != 0)) {
    outside = date_day_past_month_end(start);
    snprintf(card, sizeof card, "START_DATE %d %d %d", start[0], start[1], start[2]);
  }
  if (outside.empty()) {
    outside = past_end_of_day(start);
    snprintf(card, sizeof card, "START_TIME %d %d", start[3], start[4]);
  }
  if (outside.empty() && end[0] != 0) {
    outside = date_fields_outside(end, calendar_date_limits);
    if (outside.empty()) outside = date_day_past_month_end(end);
    if (outside.empty()) outside = past_end_of_day(end);
    snprintf(card, sizeof card, "END_TIME %d %d %d %d %d", end[0], end[1], end[2], end[3], end[4]);
  }
  if (outside.empty()) return true;
  printf("Error: %s in the project file %s: %s.\n", card, project_path, outside.c_str());
  return refuse_card();
}

// The step the clock will take: the smaller of TIMESTEP and ST_TIME_STEP (unset below 0.01 s).
double clock_step(const grid_time_params& g) {
  return g.st_time_step >= 0.01 && g.timestep > g.st_time_step ? g.st_time_step : g.timestep;
}

// The output intervals become counts of time steps in ints when the clock is set: each must
// fit one. The step is the one the clock will take, the smaller of TIMESTEP and ST_TIME_STEP
// (unset below 0.01 s); a step of 0.001 s or less is refused by the clock itself. An unset
// interval takes the clock's default, a negative map interval is kept as it is. False after a
// message naming the card.
bool output_intervals_countable(const grid_time_params& g, const char* project_path) {
  const double step = clock_step(g);
  // TIMESTEP itself must be a number: the overland schedule steps by it whatever the stream step.
  if (!std::isfinite(g.timestep)) {
    printf("Error: TIMESTEP %g in the project file %s is not a number of seconds.\n", g.timestep,
           project_path);
    return refuse_card();
  }
  if (step <= 0.001) return true;
  const struct {
    const char* card;
    double minutes;
  } intervals[] = {
      {"HYD_FREQ", g.hyd_freq <= 0.0 ? 60.0 : g.hyd_freq},
      {"MAP_FREQ", g.map_freq == 0 ? 360.0 : g.map_freq},
  };
  for (const auto& interval : intervals) {
    if (interval.minutes < 0.0) continue;
    // The same product the clock truncates; a NaN fails the test.
    const double steps = (60.0 / step) * interval.minutes;
    if (steps <= INT_MAX) continue;
    printf(
        "Error: %s %.15g minutes in the project file %s counts %.15g time steps of %.15g s; an "
        "output interval counts at most %d steps.\n",
        interval.card, interval.minutes, project_path, steps, step, INT_MAX);
    return refuse_card();
  }
  return true;
}

// The latest time the clock may date: the last a date card can give, 24:59 on the last day of
// the last year. The calendar conversions are exact up to there (their day counts, ints,
// overflow only far beyond it).
double latest_clock_time() {
  const int* last = calendar_date_limits.high;
  return julian_from_date(last[0], last[1], last[2], last[3], last[4], 0.0);
}

// The start of the run as far as the cards tell it. The clock starts at START_DATE and
// START_TIME with uniform rainfall, and in a long-term run given a start year; any other run
// starts with its first event or weather record, read later, a date no earlier than the first
// day of the first year. A missing START_DATE, refused when the clock is set, counts as that day.
double earliest_run_start(const project_cards& c, const grid_time_params& g,
                          const uniform_rain_params& rain) {
  const int* first = calendar_date_limits.low;
  const double first_day = julian_from_date(first[0], first[1], first[2], first[3], first[4], 0.0);
  const bool from_cards =
      !c.tev_given && (c.long_term_given ? g.start_year != 0 : rain.precip_source == 0);
  if (!from_cards) return first_day;
  const double start =
      julian_from_date(g.start_year, g.start_month, g.start_day, g.start_hour, g.start_minute, 0.0);
  return start > first_day ? start : first_day;
}

// The clock dates every step, and an event run counts its steps in an int: the run must end,
// and take its last step, by the latest date of the clock, in at most an int of steps. An event
// run ends TOT_TIME minutes after its start, and any run at its first step past END_TIME; the
// clock passes the end by less than one step, at most TIMESTEP. A run whose end the cards do
// not tell (long-term and TEV runs without END_TIME) is held to its second step; its steps are
// not counted, since its data may end before END_TIME. A TIMESTEP that is not above 0 is left
// to the option checks, which refuse it. False after a message naming the card.
bool run_ends_within_the_clock(const project_cards& c, const grid_time_params& g,
                               const uniform_rain_params& rain, const char* project_path) {
  if (!(g.timestep > 0.0)) return true;
  const double start = earliest_run_start(c, g, rain);
  const bool event_run = !c.long_term_given && !c.tev_given;
  double span_seconds = 0.0;  // from the start to the end of the run
  char end_card[120] = {};    // the card that sets the end, empty when none does
  if (event_run && g.tot_time > 0) {
    span_seconds = g.tot_time * 60.0;
    snprintf(end_card, sizeof end_card, "TOT_TIME %d minutes", g.tot_time);
  }
  if (g.end_year != 0) {
    const double end_time =
        julian_from_date(g.end_year, g.end_month, g.end_day, g.end_hour, g.end_minute, 0.0);
    const double end_seconds = end_time > start ? (end_time - start) * seconds_per_day : 0.0;
    if (end_card[0] == '\0' || end_seconds < span_seconds) {
      span_seconds = end_seconds;
      snprintf(end_card, sizeof end_card, "END_TIME %d %d %d %d %d", g.end_year, g.end_month,
               g.end_day, g.end_hour, g.end_minute);
    }
  }

  const double latest = latest_clock_time();
  const int* last = calendar_date_limits.high;
  const double end = start + span_seconds / seconds_per_day;
  if (end > latest) {
    printf(
        "Error: %s in the project file %s ends the run past %d-%02d-%02d %02d:%02d, the latest "
        "date of the clock.\n",
        end_card, project_path, last[0], last[1], last[2], last[3], last[4]);
    return refuse_card();
  }
  if (end + g.timestep / seconds_per_day > latest) {
    printf(
        "Error: TIMESTEP %.15g s in the project file %s takes the run's last step past "
        "%d-%02d-%02d %02d:%02d, the latest date of the clock.\n",
        g.timestep, project_path, last[0], last[1], last[2], last[3], last[4]);
    return refuse_card();
  }

  // The passes of the loop are counted from 0 and may run one step past the count.
  const double step = clock_step(g);
  if (!event_run || end_card[0] == '\0' || step <= 0.001) return true;
  const double steps = span_seconds / step;
  if (steps <= max_run_steps) return true;
  printf(
      "Error: %s in the project file %s counts %.15g time steps of %.15g s; a run counts at "
      "most %d steps.\n",
      end_card, project_path, steps, step, max_run_steps);
  return refuse_card();
}

// Uniform rainfall falls at RAIN_INTENSITY for RAIN_DURATION minutes, which the clock counts in
// steps of TIMESTEP in an int. An intensity or a duration that is 0 or negative is left to the
// option checks, which refuse it. Only uniform rainfall reads these cards. False after a
// message naming the card.
bool uniform_rain_countable(const grid_time_params& g, const uniform_rain_params& rain,
                            const char* project_path) {
  if (rain.precip_source != 0) return true;
  if (!std::isfinite(rain.rain_intensity)) {
    printf(
        "Error: RAIN_INTENSITY %g in the project file %s is not a number of millimetres per "
        "hour.\n",
        rain.rain_intensity, project_path);
    return refuse_card();
  }
  if (!(g.timestep > 0.0)) return true;
  const double steps = rain.rain_duration * 60.0 / g.timestep;
  if (steps <= INT_MAX) return true;
  printf(
      "Error: RAIN_DURATION %d minutes in the project file %s counts %.15g time steps of %.15g "
      "s; a uniform rainfall counts at most %d steps.\n",
      rain.rain_duration, project_path, steps, g.timestep, INT_MAX);
  return refuse_card();
}

// R7 coupling: the inflow table handed to the reservoir model. False when it cannot be opened.
bool open_r7_inflow(model_state& ms) {
  project_cards& c = ms.cards;
  if (c.r7_input_given || c.r7_fluxes_given) ms.output.r7_input_flag = &c.r7_input_given;
  if (!c.r7_input_given || ms.grid_params.map_type == 4) return true;
  // A later run of the process writes its own table, not the one of the run before.
  file_handle_close(r7_inflow_file);
  if (!file_handle_open(r7_inflow_file, c.r7_input, "w")) {
    raise_file_error(err_file_not_open, "R7 inflow", c.r7_input);
    return false;
  }
  fprintf(r7_inflow_file.fp, "  output from %s\n", "TORVA");
  fprintf(r7_inflow_file.fp, "\n");
  fprintf(r7_inflow_file.fp, "    JDAY     QIN\n");
  return true;
}

void copy_overland_and_contaminants(model_state& ms) {
  const project_cards& c = ms.cards;
  input_state& in = ms.input;
  overland_state& ov = ms.overland;
  transport_state& tr = ms.transport;
  subsurface_state& ss = ms.subsurface;

  in.mapping_table_on = c.mapping_table_given;
  if (in.mapping_table_on) {
    copy_name(in.names.mapping_table, c.mapping_table);
    // Records which tables the file holds; the map-or-table choices below read the flags.
    check_map_tables(in.names.mapping_table, in.table_present);
  }
  in.st_mapping_table_on = c.st_mapping_table_given;
  if (in.st_mapping_table_on) {
    copy_name(in.names.st_mapping_table, c.st_mapping_table);
    check_stream_table_file(in.names.st_mapping_table, in.stream_table_present);
  }
  ov.interception_on = c.interception_coeff_given;
  ov.dike_map_on = c.dike_map_given;
  ov.lowspot_on = c.lowspot_file_given;
  copy_name(in.names.dike_map, c.dike_map);
  copy_name(in.names.lowspot_file, c.lowspot_file);

  ms.output.all_contam_output = c.all_contam_output_given;
  tr.ov_con_trans = c.ov_con_trans_given;
  tr.contam_map_on = c.contam_map_given;
  tr.soil_con_trans = c.soil_con_trans_given;
  tr.soil_static_conc = c.soil_static_conc_given;
  tr.sediment_contam = c.sediment_contam_given;
  if (tr.ov_con_trans == 1) {
    tr.ov_con_active = 1;
    tr.con_active = 1;
  }
  tr.ov_decay_coef = c.ov_decay_coef;
  tr.ov_disp_coef = c.ov_disp_coef;
  tr.ov_mass_load = c.ov_mass_load;
  tr.ov_uptake_rate = c.ov_uptake_rate;
  tr.contam_factor = c.kinetics_timestep_factor;
  ms.units = ms.grid_params.units;

  ov.manning_n_on = c.manning_n_given;
  ov.manning_n = c.manning_n;
  // A uniform MANNING_N leaves the roughness map to the ROUGHNESS card alone.
  ov.roughness_on = c.manning_n_given
                        ? c.roughness_given
                        : (c.roughness_given || table_on(ms, table_roughness) ? 1 : 0);
  ov.retention_on = c.retention_given;
  ov.reten_depth_on = c.reten_depth_given;
  ov.ov_route_option = c.overtype;
  ms.perennial_lakes = 0;
  ov.overland_lake_map = c.overland_lake_map_given;
  copy_name(in.names.overland_lake_map, c.overland_lake_map);
  copy_name(in.names.overland_lake_file, c.overland_lake_file);
  ms.channel.storm_sewer = c.storm_sewer_given;
  copy_name(in.names.storm_sewer, c.storm_sewer);
  copy_name(in.names.grid_pipe, c.grid_pipe);
  ms.channel.superlink_c_opt = c.superlink_c_opt_given;
  ms.channel.high_head_release = c.high_head_release_given;
  ms.channel.superlink_drainmod = c.superlink_drainmod_given;
  ms.channel.superlink_junc_location_on = c.superlink_junc_location_given;
  ms.channel.superlink_node_location_on = c.superlink_node_location_given;
  ms.channel.superlink_junc_flow_on = c.superlink_junc_flow_given;
  ms.channel.superlink_node_flow_on = c.superlink_node_flow_given;
  copy_name(in.names.superlink_junc_location, c.superlink_junc_location);
  copy_name(in.names.superlink_node_location, c.superlink_node_location);
  copy_name(in.names.superlink_junc_flow, c.superlink_junc_flow);
  copy_name(in.names.superlink_node_flow, c.superlink_node_flow);
  in.wetland_table_on = table_on(ms, table_wetlands) ? 1 : 0;

  ms.long_term = c.long_term_given;
  ms.strict_julian_date = c.strict_julian_date_given;
  ss.hmet_surfaways = c.hmet_surfaways_given;
  ss.hmet_samson = c.hmet_samson_given;
  ss.hmet_obu = c.hmet_obu_given;
  if (ss.hmet_surfaways || ss.hmet_samson || ss.hmet_obu)
    copy_name(in.names.hmet_file, c.hmet_file);
  ss.et_penman = c.et_calc_penman_given;
  ss.et_deardorff = c.et_calc_deardorff_given;
  const bool et_table = table_on(ms, table_evapotranspiration);
  ss.albedo_on = c.albedo_given || et_table ? 1 : 0;
  ss.vheight_on = c.vheight_given || et_table ? 1 : 0;
  ss.tcoeff_on = c.tcoeff_given || et_table ? 1 : 0;
  ss.canopy_on = c.canopy_given || et_table ? 1 : 0;
  ss.wilting_point_on = c.wilting_point_given || et_table ? 1 : 0;

  ms.event_min_q = c.event_min_q < 1e-5 ? 0.05 : c.event_min_q;
  tr.soil_depth_cm = c.soil_moist_depth * 100.0;
  tr.layer2_depth_cm = c.top_layer_depth * 100.0;
  tr.layer1_depth_cm = c.mixing_layer_depth * 100.0;
  ss.seasonal_rs = c.seasonal_rs_given;
  ms.calibration.optimize_on = c.optimize_given;
  if (c.optimize_given) copy_name(ms.calibration.optimize_name, c.optimize);
  ms.calibration.optimize_sed = c.optimize_sed_given;
  tr.sediment.soil_erosion = c.soil_erosion_given;
  tr.sediment.adjust_channel_bed = c.adjust_channel_bed_given;
}

void copy_channel(model_state& ms) {
  const project_cards& c = ms.cards;
  channel_state& ch = ms.channel;
  output_state& out = ms.output;
  transport_state& tr = ms.transport;

  out.chan_depth_on = c.chan_depth_given;
  out.chan_discharge_on = c.chan_discharge_given;
  out.chan_stage_on = c.chan_stage_given;
  out.chan_velocity_on = c.chan_velocity_given;
  out.chan_sed_flux_on = c.chan_sed_flux_given;
  ch.max_courant_number = c.max_courant_number;
  switch (ms.grid_params.chan_scheme) {
    case 3:
      ch.chan_explic = 1;
      break;
    case 2:
      ch.chan_implicit = 1;
      ch.chan_drain_init = 1;
      break;
    case 5:
      ch.chan_implicit = 1;
      break;
    case 4:
      ch.chan_mesh = 1;
      break;
    default:  // 1 (Preissmann) and 0 (none) switch no scheme on
      break;
  }
  if (!ch.chan_explic) return;

  ch.overbank_flow = c.overbank_flow_given;
  ch.overland_backwater = c.overland_backwater_given;
  ch.head_bound = c.head_bound_given;
  ch.bound_depth = c.bound_depth;
  ch.bound_ts_on = c.bound_ts_given;
  copy_name(ch.bound_ts, c.bound_ts);
  ch.stream_loss = c.stream_loss_given;
  ch.stream_cell_on = 1;
  copy_name(ms.input.names.stream_cell, c.stream_cell);
  ch.k_river = c.k_river;
  ch.chan_gw_factor = c.m_river;
  ch.m_lake_flag = 0;
  ch.m_lake = c.m_lake;
  ch.hotstart_is_depth = c.hotstart_is_depth_given;
  ch.write_chan_hotstart_on = c.explic_backwater_given || c.write_chan_hotstart_given ? 1 : 0;
  ch.read_chan_hotstart_on = c.explic_hotstart_given || c.read_chan_hotstart_given ? 1 : 0;
  ch.first_order_chan_q = c.first_order_chan_q;
  tr.chan_decay_coef = c.chan_decay_coef;
  tr.chan_disp_coef = c.chan_disp_coef;
  tr.init_chan_conc = c.init_chan_conc;
  out.out_con_location_on = c.out_con_location_given;
  out.out_mass_location_on = c.out_mass_location_given;
  tr.chan_con_trans = c.chan_con_trans_given;
  if (tr.chan_con_trans == 1) tr.con_active = 1;
}

void copy_subsurface(model_state& ms) {
  const project_cards& c = ms.cards;
  subsurface_state& ss = ms.subsurface;
  run_file_names& names = ms.input.names;

  ss.green_ampt = 0;
  ss.inf_redist = 0;
  ss.inf_richards = 0;
  ss.inf_layered_soil = 0;
  switch (ms.grid_params.inf_scheme) {
    case 1:
      ss.green_ampt = 1;
      break;
    case 2:
      ss.inf_redist = 1;
      ss.redistribution_on = 1;
      ss.continuous_redist = c.no_cont_inf_redist_given ? 0 : 1;
      // Water a table above the ground pushes up passes the whole soil-moisture depth: the
      // head difference over that depth is the gradient of its exfiltration.
      ss.exfil_soil_depth = c.soil_moist_depth * 100.0;
      break;
    case 3:
      ss.inf_layered_soil = 1;
      ss.redistribution_on = 1;
      break;
    case 4:
      ss.inf_richards = 1;
      break;
    default:
      break;
  }
  ss.moisture_on = c.moisture_given || c.mapping_table_given ? 1 : 0;
  ss.richards_iter_max = c.richards_iter_max;
  ss.richards_weight = c.richards_weight;
  ss.richards_k_option = c.richards_k_option;
  ss.richards_c_option = c.richards_c_option;
  ss.richards_dtheta_max = c.richards_dtheta_max;
  ss.richards_upper_option = c.richards_upper_option;

  ss.water_table_on = c.water_table_given;
  if (ss.water_table_on) {
    ss.gw_assign_theta = c.gw_assign_theta_given;
    copy_name(names.water_table, c.water_table);
    ss.gw_simulation = c.gw_simulation_given;
    if (ss.gw_simulation) {
      ms.channel.stream_loss = 1;
      ss.gw_lsor_dir = c.gw_lsor_dir;
      ss.gw_time_step = c.gw_timestep;
      ss.gw_lsor_con = c.gw_lsor_con;
      ss.single_unsat_sat = c.single_unsat_sat;
      ss.gw_leakage_rate = c.gw_leakage_rate;
      ss.gw_solve_factor = c.gw_relax_coeff;
      ss.gw_porosity_map_on = c.gw_porosity_map_given;
      ss.gw_unif_porosity_on = c.gw_unif_porosity_given;
      ss.gw_unif_porosity = c.gw_unif_porosity;
      ss.gw_hycond_map_on = c.gw_hycond_map_given;
      ss.gw_unif_hycond_on = c.gw_unif_hycond_given;
      ss.gw_unif_hycond = c.gw_unif_hycond;
      copy_name(names.gw_porosity_map, c.gw_porosity_map);
      copy_name(names.gw_hycond_map, c.gw_hycond_map);
      copy_name(names.gw_fluxboundtable, c.gw_fluxboundtable);
      copy_name(names.gw_boundfile, c.gw_boundfile);
      copy_name(names.gw_output, c.gw_output);
      ss.gw_well_level_on = c.gw_well_level_given;
      copy_name(names.gw_well_level, c.gw_well_level);
      ss.gw_output_on = c.gw_output_given;
      copy_name(names.out_well_location, c.out_well_location);
      copy_name(names.aquifer_bottom, c.aquifer_bottom);
      ss.aquifer_delta_z = c.aquifer_delta_z;
    }
  }

  ss.sacramento = c.sacramento_given;
  if (ss.sacramento) {
    if (c.topo_index_given) {
      ss.topo_index = 1;
      ss.topo_dex = 0;
    } else {
      ss.topo_dex = 1;
    }
    copy_name(names.sacramento, c.sacramento);
  }

  // The Green and Ampt parameters may come from their table where the soil is kept between
  // events or only Green and Ampt reads them.
  const bool ga_table =
      (ss.green_ampt || ss.inf_redist || ms.long_term) && table_on(ms, table_green_ampt);
  ss.conductivity_on = c.conductivity_given || ga_table ? 1 : 0;
  ss.capillary_on = c.capillary_given || ga_table ? 1 : 0;
  ss.porosity_on = c.porosity_given || ga_table ? 1 : 0;
  ss.pore_index_on = c.pore_index_given || ga_table ? 1 : 0;
  ss.residual_sat_on = c.residual_sat_given || ga_table ? 1 : 0;
  ms.overland.area_reduction = c.area_reduction_given;
}

// Uniform rainfall starts the clock at the START_DATE and START_TIME of the cards; a
// precipitation file gives the start with its first event.
void copy_precipitation_and_clock(model_state& ms) {
  const uniform_rain_params& rain = ms.rain_params;
  overland_state& ov = ms.overland;

  ov.uniform_rain = 0;
  ov.precip_file_on = 0;
  ov.rain_inv_distance = 0;
  ov.rain_thiessen = 0;
  if (rain.precip_source == 0) {
    ov.uniform_rain = 1;
    ov.rain_intensity = rain.rain_intensity;
    ov.rain_duration = static_cast<double>(rain.rain_duration);
    const double start = set_clock_to_card_start(ms);
    ms.scan_start_date[0] = ms.cur_year;
    ms.scan_start_date[1] = ms.cur_month;
    ms.scan_start_date[2] = ms.cur_day;
    ms.scan_start_date[3] = ms.cur_hour;
    ms.scan_start_date[4] = ms.cur_minute;
    ms.start_from_cards = 1;
    ms.current_time = start;
    ms.hmet_start_jday = start;
    ms.event_start_jday[1] = start;
    ms.start_time_jday = start;
  } else if (rain.precip_source == 1) {
    ov.precip_file_on = 1;
    ms.start_from_cards = 0;
    if (rain.rain_interpolation == 0) ov.rain_inv_distance = 1;
    if (rain.rain_interpolation == 1) ov.rain_thiessen = 1;
  }
}

void copy_tev_and_volp(model_state& ms) {
  const project_cards& c = ms.cards;
  output_state& out = ms.output;

  ms.tev = c.tev_given;
  out.volp = c.volp_given;
  ms.tev_event_num = c.tev_event_num;
  ms.tev_event_num_given = c.tev_event_num_given;
  out.volp_first = c.volp_first_given;
  exchange_name(out.volp_exchange_file, c.volp);

  exchange_name(out.moist_to_volp_file, c.moist_to_volp);
  exchange_name(out.ksat_to_volp_file, c.ksat_to_volp);
  exchange_name(out.rough_to_volp_file, c.rough_to_volp);
  exchange_name(out.poros_to_volp_file, c.poros_to_volp);
  exchange_name(out.erosivity_to_volp_file, c.erosivity_to_volp);
  exchange_name(out.crop_fact_to_volp_file, c.crop_fact_to_volp);
  exchange_name(out.net_erosion_to_volp_file, c.net_erosion_to_volp);
  exchange_name(out.moist_from_volp_file, c.moist_from_volp);
  exchange_name(out.ksat_from_volp_file, c.ksat_from_volp);
  exchange_name(out.rough_from_volp_file, c.rough_from_volp);
  exchange_name(out.erosivity_from_volp_file, c.erosivity_from_volp);
  exchange_name(out.crop_fact_from_volp_file, c.crop_fact_from_volp);
  exchange_name(out.et_demand_from_volp_file, c.et_demand_from_volp);
  out.moist_to_volp = c.moist_to_volp_given;
  out.ksat_to_volp = c.ksat_to_volp_given;
  out.rough_to_volp = c.rough_to_volp_given;
  out.poros_to_volp = c.poros_to_volp_given;
  out.erosivity_to_volp = c.erosivity_to_volp_given;
  out.crop_fact_to_volp = c.crop_fact_to_volp_given;
  out.net_erosion_to_volp = c.net_erosion_to_volp_given;
  out.moist_from_volp = c.moist_from_volp_given;
  out.ksat_from_volp = c.ksat_from_volp_given;
  out.rough_from_volp = c.rough_from_volp_given;
  out.erosivity_from_volp = c.erosivity_from_volp_given;
  out.crop_fact_from_volp = c.crop_fact_from_volp_given;
  out.et_demand_from_volp = c.et_demand_from_volp_given;
}

void copy_output_switches(model_state& ms) {
  const project_cards& c = ms.cards;
  output_state& out = ms.output;

  switch (ms.grid_params.map_type) {
    case 0:
      out.map_ascii = 1;
      break;
    case 1:
      out.map_dataset = 1;
      break;
    case 2:
      out.map_dataset = 1;
      out.map_dataset_alt = 1;
      break;
    default:
      break;
  }
  out.map_depth = c.depth_given;
  out.map_rain = c.dis_rain_given;
  out.map_gw_recharge_cum = c.gw_recharge_cum_given;
  out.map_gw_recharge_inc = c.gw_recharge_inc_given;
  out.map_inf_depth = c.inf_depth_given;
  out.map_surf_moist = c.surf_moist_given;
  out.map_chan_depth = c.chan_depth_given;
  out.map_discharge = c.discharge_given;
  out.map_chan_discharge = c.chan_discharge_given;
  out.map_chan_sed_flux = c.chan_sed_flux_given;
  out.map_theta_locations = c.in_theta_location_given;
  out.map_ov_conc = c.ov_con_map_given;
  if (ms.grid_params.inf_scheme != 0) out.map_infil_rate = c.rate_of_infil_given;
  out.include_channel_depth = c.include_channel_depth_given;
  out.hyd_location_on = c.in_hyd_location_given;
  out.gwflux_location_on = c.in_gwflux_location_given;
  out.dep_location_on = c.out_dep_location_given;
  ms.overland.ov_point_source = c.ov_point_source_given;
  out.sig_outlet_hydro = c.sig_outlet_hydro_given;
  out.lake_output = c.lake_output_given;
  out.sourcefile = c.sourcefile_given;
  ms.subsurface.gw_fluxboundtable = ms.grid_params.gw_fluxboundtable_given;
}

void copy_run_file_names(model_state& ms) {
  const project_cards& c = ms.cards;
  run_file_names& n = ms.input.names;

  copy_name(n.elevation, c.elevation);
  copy_name(n.watershed_mask, c.watershed_mask);
  copy_name(n.data_file, "data1");
  copy_name(n.moisture, c.moisture);
  copy_name(n.conductivity, c.conductivity);
  copy_name(n.capillary, c.capillary);
  copy_name(n.porosity, c.porosity);
  copy_name(n.pore_index, c.pore_index);
  copy_name(n.residual_sat, c.residual_sat);
  copy_name(n.roughness, c.roughness);
  copy_name(n.precip_file, ms.rain_params.precip_file);
  copy_name(n.links, c.links);
  copy_name(n.nodes, c.nodes);
  // One hotstart file is read for the depths and again for the discharges.
  copy_name(n.read_chan_depth, c.read_chan_hotstart);
  copy_name(n.read_chan_discharge, c.read_chan_hotstart);
  const std::string hotstart = c.write_chan_hotstart;
  copy_name(n.write_chan_discharge, (hotstart + ".qht").c_str());
  copy_name(n.write_chan_depth, (hotstart + ".dht").c_str());
  copy_name(n.channel_input, c.channel_input);
  copy_name(n.section_table, c.section_table);
  copy_name(n.summary, c.summary);
  copy_name(n.outlet_hydro, c.outlet_hydro);
  copy_name(n.sig_outlet_hydro, c.sig_outlet_hydro);
  copy_name(n.lake_output, c.lake_output);
  copy_name(n.vro_hydro, c.vro_hydro);
  ms.output.vro_hydro = c.vro_hydro_given;
  copy_name(n.storage_capacity, c.storage_capacity);
  copy_name(n.interception_coeff, c.interception_coeff);
  copy_name(n.reten_depth, c.reten_depth);
  copy_name(n.out_hyd_location, c.out_hyd_location);
  copy_name(n.out_dep_location, c.out_dep_location);
  copy_name(n.out_con_location, c.out_con_location);
  copy_name(n.out_mass_location, c.out_mass_location);
  copy_name(n.chan_point_input, c.chan_point_input);
  copy_name(n.ov_point_source, c.ov_point_source);
  copy_name(n.in_theta_location, c.in_theta_location);
  copy_name(n.out_theta_location, c.out_theta_location);
  copy_name(n.contam_map, c.contam_map);
  copy_name(n.in_hyd_location, c.in_hyd_location);
  copy_name(n.in_gwflux_location, c.in_gwflux_location);
  copy_name(n.out_gwflux_location, c.out_gwflux_location);
  copy_name(n.albedo, c.albedo);
  copy_name(n.vheight, c.vheight);
  copy_name(n.tcoeff, c.tcoeff);
  copy_name(n.canopy, c.canopy);
  copy_name(n.wilting_point, c.wilting_point);
  copy_name(n.materials, c.materials);
  copy_name(n.soil_type_map, c.soil_type_map);
  copy_name(n.soil_layer_input_file, c.soil_layer_input_file);
}

}  // namespace

void read_run_parameters(model_state& ms, const char* project_path) {
  if (process_info.process_rank == 0)
    printf("reading run parameters from project file: %s\n", project_path);
  read_project_file(project_path, ms.cards, ms.grid_params, ms.rain_params);
  if (ms.grid_params.project_open_failed) {
    raise_error(err_project_file_not_found);
    return;
  }
  project_cards& c = ms.cards;
  const grid_time_params& g = ms.grid_params;
  if (!clock_cards_are_dates(g, project_path) || !output_intervals_countable(g, project_path) ||
      !run_ends_within_the_clock(c, g, ms.rain_params, project_path) ||
      !uniform_rain_countable(g, ms.rain_params, project_path))
    return;

  if (g.end_year != 0) {
    ms.end_time_given = 1;
    ms.end_time =
        julian_from_date(g.end_year, g.end_month, g.end_day, g.end_hour, g.end_minute, 0.0);
  }
  if (c.pause_given) pause_on_exit = 1;

  // The run owns the nutrient container from here on.
  ms.transport.nutrients = c.nutrients_given;
  if (c.nutrients_given && c.nsm != nullptr) {
    ms.transport.nsm.reset(c.nsm);
    c.nsm = nullptr;
  }

  // Nothing is opened to write before every output is known to spare the inputs.
  if (!outputs_spare_inputs(c, g, ms.rain_params, project_path)) return;
  if (!open_r7_inflow(ms)) return;

  if (c.flood_grid_given) {
    ms.output.flood_grid = 1;
    copy_name(ms.input.names.flood_grid, c.flood_grid);
    ms.overland.max_depth_on = 1;  // the overland step keeps each cell's largest depth for it
  }
  if (c.flood_stream_given) {
    ms.output.flood_stream = 1;
    copy_name(ms.input.names.flood_stream, c.flood_stream);
  }
  ms.overland.ov_boundary = c.ov_boundary_given;
  if (c.flush_buffer_given) {
    ms.output.flush_buffer_on = 1;
    ms.output.flush_buffer = c.flush_buffer;
  }

  if (g.map_type == 4) {
    raise_error(err_zenf_not_compiled);
    return;
  }

  copy_overland_and_contaminants(ms);
  copy_channel(ms);
  copy_subsurface(ms);
  copy_precipitation_and_clock(ms);
  copy_tev_and_volp(ms);
  copy_output_switches(ms);
  copy_run_file_names(ms);

  ms.output.daily.daily_on = c.daily_output_given;
  copy_name(ms.input.names.daily_output, c.daily_output);
  ms.input.soil_map_constant = 0.15;
  ms.overland.uniform_retention = ms.overland.retention_on ? c.retention : 0.0;
  ms.super_quiet = c.super_quiet_given;
  if (!ms.super_quiet && process_info.process_rank == 0)
    printf("\nfinished reading project file\n");
}

double set_clock_to_card_start(model_state& ms) {
  const grid_time_params& g = ms.grid_params;
  ms.cur_year = g.start_year;
  ms.cur_month = g.start_month;
  ms.cur_day = g.start_day;
  ms.cur_hour = g.start_hour;
  ms.cur_minute = g.start_minute;
  ms.cur_second = 0;
  ms.cur_second_real = 0.0;
  ms.start_hhmm = ms.cur_hour * 100 + ms.cur_minute;
  ms.start_yyyymmdd = (ms.cur_year * 100 + ms.cur_month) * 100 + ms.cur_day;
  return julian_from_date(ms.cur_year, ms.cur_month, ms.cur_day, ms.cur_hour, ms.cur_minute, 0.0);
}
