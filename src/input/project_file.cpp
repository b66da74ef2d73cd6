// Project file: reads the cards of a run's project file into the run-parameter records, one
// line at a time through the card table. Called first by read_run_parameters at start-up, and
// (the project-folder pre-scan) by the calibration input reader before any run.
#include "input/project_file.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "framework/core/console.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "input/elevation_series.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "input/xy_boundary.h"
#include "output/xy_output_state.h"
#include "transport/nutrients/nsm_model_state.h"

namespace {

// read_and_echo: the type of a value that is echoed and not kept.
constexpr int echo_int = 0;
constexpr int echo_double = 1;

// XYBDYOUTPUT_OVDEP / _GWHEAD / _STFLOW: which output name of the XY output object.
constexpr int xy_output_ovdep = 0;
constexpr int xy_output_gwhead = 1;
constexpr int xy_output_stflow = 2;

// ---- Where a card's value goes -----------------------------------------------------------

int* int_slot(const card_field& f, card_context& ctx) {
  if (auto p = std::get_if<int project_cards::*>(&f)) return &(ctx.cards.*(*p));
  if (auto p = std::get_if<int grid_time_params::*>(&f)) return &(ctx.grid.*(*p));
  if (auto p = std::get_if<int uniform_rain_params::*>(&f)) return &(ctx.rain.*(*p));
  return nullptr;
}

double* double_slot(const card_field& f, card_context& ctx) {
  if (auto p = std::get_if<double project_cards::*>(&f)) return &(ctx.cards.*(*p));
  if (auto p = std::get_if<double grid_time_params::*>(&f)) return &(ctx.grid.*(*p));
  if (auto p = std::get_if<double uniform_rain_params::*>(&f)) return &(ctx.rain.*(*p));
  return nullptr;
}

// A name field and its size; {nullptr, 0} when the field is no name.
struct name_slot {
  char* text = nullptr;
  std::size_t size = 0;
};

name_slot name_field(const card_field& f, card_context& ctx) {
  if (auto p = std::get_if<card_name project_cards::*>(&f))
    return {ctx.cards.*(*p), sizeof(card_name)};
  if (auto p = std::get_if<char(project_cards::*)[series_name_size]>(&f))
    return {ctx.cards.*(*p), series_name_size};
  if (auto p = std::get_if<card_name uniform_rain_params::*>(&f))
    return {ctx.rain.*(*p), sizeof(card_name)};
  return {};
}

void set_flag(const card_field& f, card_context& ctx) {
  if (int* slot = int_slot(f, ctx)) *slot = 1;
}

void store_name(const card_field& f, card_context& ctx, const std::string& token) {
  const name_slot slot = name_field(f, ctx);
  if (slot.text != nullptr) copy_text(slot.text, slot.size, token.c_str());
}

// The card's keyword as it is written in a project file, for messages.
std::string card_word(const card_entry& e) {
  std::string word = e.keyword == nullptr ? "" : e.keyword;
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word;
}

// The next token of the card as a whole number into `slot`. An absent value stores 0; a value
// that is not a whole number ("10abc", "10.9", "1e12", one beyond the range of an int) stops the
// reading with a message naming the card and the value as typed, and returns false.
bool take_whole(const card_entry& e, card_context& ctx, int& slot) {
  std::string typed;
  int value = 0;
  const int got = next_token_whole(ctx.rest, value, typed);
  if (got < 0) {
    printf("Error: the %s card needs a whole number, and \"%s\" is not one.\n",
           card_word(e).c_str(), typed.c_str());
    raise_own_message();
    return false;
  }
  slot = got == 1 ? value : 0;
  return true;
}

// The next token as a number into the field, converted after the field's type; an absent or
// unreadable value stores 0. A whole-number field takes only a whole number.
void store_number(const card_entry& e, card_context& ctx) {
  if (int* slot = int_slot(e.field, ctx)) {
    take_whole(e, ctx, *slot);
  } else if (double* slot = double_slot(e.field, ctx)) {
    next_token_double(ctx.rest, *slot);
  }
}

// ---- Reading values -----------------------------------------------------------------------

// A card argument that may be a number or a file name counts as a number only when the whole
// token is a finite number: a map named "5yr_swe.asc" or "infil.asc" stays a map.
bool token_is_number(const std::string& token, double& value) {
  return parse_double(token, value);
}

// "%d" of a token: leading blanks, a sign and at least one digit; what follows the digits is
// ignored and a value beyond an int is held at the limit. False when nothing converts.
bool token_scans_int(const std::string& token, int& value) {
  std::string copy = token;
  std::size_t i = 0;
  while (i < copy.size() && std::isspace(static_cast<unsigned char>(copy[i]))) ++i;
  if (i < copy.size() && (copy[i] == '+' || copy[i] == '-')) ++i;
  if (i >= copy.size() || !std::isdigit(static_cast<unsigned char>(copy[i]))) return false;
  return next_token_int(copy, value) == 1;
}

std::string lower_case(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ---- Option words -------------------------------------------------------------------------

struct option_word {
  const char* word;
  int value;
};

// Compares the token's first four characters, lower-cased, with those of each word; returns
// the value of the first that agrees, or `otherwise`.
int choose_by_prefix(const std::string& token, const option_word (&words)[2], int otherwise) {
  const std::string low = lower_case(token.substr(0, 5));
  for (const option_word& w : words)
    if (strncmp(low.c_str(), w.word, 4) == 0) return w.value;
  return otherwise;
}

void choose_overtype(const card_entry& e, card_context& ctx) {
  int* slot = int_slot(e.field, ctx);
  std::string token;
  next_token(ctx.rest, token);
  int number = 0;
  if (token_scans_int(token, number)) {
    *slot = number;
    return;
  }
  static constexpr option_word words[] = {{"explicit", 1}, {"ade", 2}, {"ade-pc", 3}};
  const std::string low = lower_case(token);
  for (const option_word& w : words)
    if (low == w.word) *slot = w.value;
}

void choose_richards_k(const card_entry& e, card_context& ctx) {
  int* slot = int_slot(e.field, ctx);
  std::string token;
  next_token(ctx.rest, token);
  *slot = choose_by_prefix(token, {{"geometric", 2}, {"arithmetic", 1}}, *slot);
}

void choose_richards_c(const card_entry& e, card_context& ctx) {
  int* slot = int_slot(e.field, ctx);
  std::string token;
  next_token(ctx.rest, token);
  *slot = choose_by_prefix(token, {{"havercamp", 2}, {"brooks", 1}}, *slot);
}

void choose_richards_upper(const card_entry& e, card_context& ctx) {
  int* slot = int_slot(e.field, ctx);
  std::string token;
  next_token(ctx.rest, token);
  *slot = choose_by_prefix(token, {{"green_ampt", 2}, {"average", 3}}, 0);
}

// CALIB_COMP_DATA: the rest of the line, case-sensitive, over five characters.
void choose_calib_comp_data(const card_entry& e, card_context& ctx) {
  int* slot = int_slot(e.field, ctx);
  if (strncmp(ctx.rest.c_str(), "DAILY", 5) == 0) {
    *slot = 0;
  } else if (strncmp(ctx.rest.c_str(), "EVENT", 5) == 0) {
    *slot = 1;
  } else {
    *slot = 2;
    raise_error(err_calib_comp_data_invalid);
  }
}

// CALIB_OBJ_FUNC: the rest of the line must be the word itself, nothing after it.
void choose_calib_obj_func(const card_entry& e, card_context& ctx) {
  int* slot = int_slot(e.field, ctx);
  if (ctx.rest == "RMSE") {
    *slot = 0;
  } else if (ctx.rest == "HMLE") {
    *slot = 1;
  } else {
    *slot = 2;
    raise_error(err_calib_obj_func_invalid);
  }
}

// ---- Cards with their own handling --------------------------------------------------------

// UNITS (kept) and the channel values of older projects (echoed only).
void read_and_echo(const card_entry& e, card_context& ctx) {
  int* slot = int_slot(e.field, ctx);
  if (slot != nullptr || e.value == echo_int) {
    int v = 0;
    next_token_int(ctx.rest, v);
    if (slot != nullptr) *slot = v;
    printf(e.text, v);
  } else {
    double v = 0.0;
    next_token_double(ctx.rest, v);
    printf(e.text, v);
  }
}

void read_start_time(const card_entry& e, card_context& ctx) {
  if (take_whole(e, ctx, ctx.grid.start_hour)) take_whole(e, ctx, ctx.grid.start_minute);
}

void read_start_date(const card_entry& e, card_context& ctx) {
  if (take_whole(e, ctx, ctx.grid.start_year) && take_whole(e, ctx, ctx.grid.start_month))
    take_whole(e, ctx, ctx.grid.start_day);
}

void read_end_time(const card_entry& e, card_context& ctx) {
  if (take_whole(e, ctx, ctx.grid.end_year) && take_whole(e, ctx, ctx.grid.end_month) &&
      take_whole(e, ctx, ctx.grid.end_day) && take_whole(e, ctx, ctx.grid.end_hour))
    take_whole(e, ctx, ctx.grid.end_minute);
}

// RETEN_DEPTH <map>, or a number written where RETENTION was meant.
void read_reten_depth(const card_entry& e, card_context& ctx) {
  std::string token;
  if (next_token(ctx.rest, token) == 1) {
    store_name(e.field, ctx, token);
    double depth = 0.0;
    if (token_is_number(token, depth)) {
      printf(
          "Warning: Incorrect use of RETEN_DEPTH card\n  Usage: RETEN_DEPTH <filename>-or-\n"
          "RETENTION <value>  -or-\nRETEN_DEPTH \n  Using %lf for the uniform retention "
          "depth\n\n",
          depth);
      ctx.cards.retention = depth;
      ctx.cards.retention_given = 1;
      return;
    }
  }
  set_flag(e.flag, ctx);
}

void read_tev_event_num(const card_entry& e, card_context& ctx) {
  int* slot = int_slot(e.field, ctx);
  if (next_token_int(ctx.rest, *slot) == 0) *slot = -1;
  set_flag(e.flag, ctx);
}

// INIT_SWE_DEPTH <uniform depth or map>.
void read_init_swe_depth(const card_entry& e, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  double depth = 0.0;
  if (token_is_number(token, depth)) {
    ctx.cards.init_swe_depth = depth;
    ctx.cards.init_swe_kind = 3;
  } else {
    store_name(e.field, ctx, token);
    ctx.cards.init_swe_kind = 1;
  }
}

void read_series_file(const card_entry&, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  read_time_series_file(token.c_str());
}

void read_elevation_file(const card_entry&, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  read_elev_series_file(token.c_str());
}

void read_replacement_params(const card_entry&, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  read_replace_params(token.c_str());
}

void read_replacement_values(const card_entry&, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  read_replace_vals(token.c_str());
}

// REPLACE_LINE <n>: the value file's lines are counted from 1 on the card, from 0 inside.
void set_replacement_line(const card_entry& e, card_context& ctx) {
  int n = 0;
  if (!take_whole(e, ctx, n)) return;
  replace_line_index = n > INT_MIN ? n - 1 : INT_MIN;
}

void set_output_folder(const card_entry&, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  set_output_dir(token.c_str());
}

void set_project_folder(const card_entry& e, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  store_name(e.field, ctx, token);
  if (!token.empty()) set_project_dir(token.c_str(), 0);
}

void set_super_quiet(const card_entry& e, card_context& ctx) {
  set_flag(e.field, ctx);
  console_silent = true;
}

void set_thread_count(const card_entry& e, card_context& ctx) {
  int n = 0;
  if (!take_whole(e, ctx, n)) return;
  if (n < 1) {
    printf("Error: unable to set the thread level to %d.\n", n);
    return;
  }
  // The parallel loops and the run-time line both follow the count the card sets.
  omp_set_num_threads(n);
  process_info.num_threads = n;
  printf("Setting the thread level to %d.\n", n);
}

// NUTRIENTS: the container is made once; a repeated card keeps it and what the cards between
// them put into it.
void create_nutrient_model(const card_entry& e, card_context& ctx) {
  set_flag(e.field, ctx);
  if (ctx.cards.nsm == nullptr) ctx.cards.nsm = new nsm_model();
}

// The nutrient container for a nutrient card; null, with err_nutrients_card_late naming the card
// group, when NUTRIENTS has not come yet.
nsm_model* nutrient_model(const card_entry& e, card_context& ctx) {
  if (ctx.cards.nsm == nullptr) {
    raise_file_error(err_nutrients_card_late, e.text, nullptr);
  }
  return ctx.cards.nsm;
}

void read_aq_env(const card_entry& e, card_context& ctx) {
  nsm_model* nsm = nutrient_model(e, ctx);
  if (nsm == nullptr) return;
  std::string token;
  next_token(ctx.rest, token);
  copy_text(nsm->aq_env_file, sizeof nsm->aq_env_file, token.c_str());
}

// An initial value: a uniform number (mode 3), a map (mode 1) or, with no argument, the
// mapping table (mode 2).
void read_init_setting(nsm_init_setting& setting, card_context& ctx) {
  std::string token;
  if (next_token(ctx.rest, token) == 0) {
    setting.mode = 2;
    return;
  }
  double v = 0.0;
  if (token_is_number(token, v)) {
    setting.mode = 3;
    setting.value = v;
  } else {
    setting.mode = 1;
    copy_text(setting.map_file, sizeof setting.map_file, token.c_str());
  }
}

void read_nsm_ov_init(const card_entry& e, card_context& ctx) {
  if (nsm_model* nsm = nutrient_model(e, ctx)) read_init_setting(nsm->ov_init[e.value], ctx);
}

void read_nsm_st_init(const card_entry& e, card_context& ctx) {
  if (nsm_model* nsm = nutrient_model(e, ctx)) read_init_setting(nsm->st_init[e.value], ctx);
}

void read_output_switch(nsm_output_switch& out, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  out.on = 1;
  copy_text(out.base_name, sizeof out.base_name, token.c_str());
}

void read_nsm_ov_output(const card_entry& e, card_context& ctx) {
  if (nsm_model* nsm = nutrient_model(e, ctx)) read_output_switch(nsm->ov_out[e.value], ctx);
}

void read_nsm_st_output(const card_entry& e, card_context& ctx) {
  if (nsm_model* nsm = nutrient_model(e, ctx)) read_output_switch(nsm->st_out[e.value], ctx);
}

void read_nsm_hyd_output(const card_entry& e, card_context& ctx) {
  if (nsm_model* nsm = nutrient_model(e, ctx)) read_output_switch(nsm->hyd_out[e.value], ctx);
}

// NO2_KM .. DP_KOC: slot e.value of the block of 12 soil coefficients, made on the first card
// with every slot 0 until its card comes.
void read_soil_coefficient(const card_entry& e, card_context& ctx) {
  if (ctx.cards.nsm_soil_coeffs == nullptr) ctx.cards.nsm_soil_coeffs = new double[12]();
  next_token_double(ctx.rest, ctx.cards.nsm_soil_coeffs[e.value]);
}

void read_xy_output_points(const card_entry& e, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  ctx.cards.xy_output_given = 1;
  ctx.cards.xy_output.point_kind = e.value;
  copy_text(ctx.cards.xy_output.input_name, sizeof ctx.cards.xy_output.input_name, token.c_str());
}

void read_xy_output_name(const card_entry& e, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  xy_output& out = ctx.cards.xy_output;
  char* name = e.value == xy_output_ovdep    ? out.ovdep_name
               : e.value == xy_output_gwhead ? out.gwhead_name
                                             : out.stflow_name;
  copy_text(name, sizeof out.ovdep_name, token.c_str());
}

void read_xy_input_points(const card_entry& e, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  xy_input& xy = ctx.cards.xy_input;
  if (e.value == 0) {
    read_xy_bdy_file(xy, token.c_str(), "overland", "XY_OV_DEPTH", xy.ov_series, xy.ovpts,
                     xy.num_ovpts);
  } else {
    read_xy_bdy_file(xy, token.c_str(), "groundwater", "XY_GW_HEAD", xy.gw_series, xy.gwpts,
                     xy.num_gwpts);
  }
}

void read_xy_input_stream_flow(const card_entry&, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  ctx.cards.xy_input.st_flow_given = 1;
  read_xy_stream_bdy_file(ctx.cards.xy_input, token.c_str());
}

void read_xy_input_stream_series(const card_entry&, card_context& ctx) {
  std::string token;
  next_token(ctx.rest, token);
  ctx.cards.xy_input.st_series_given = 1;
  read_xy_stream_ts_file(ctx.cards.xy_input, token.c_str());
}

// ---- The card table -----------------------------------------------------------------------

using K = card_kind;
using C = project_cards;
using G = grid_time_params;
using R = uniform_rain_params;

// One row per keyword, in code order. The codes are fixed: 169 is the code of the lines that
// ask for nothing (VRO, METRIC and SIMULATION_INPUT among them), 110, 111, 114, 150, 151, 153
// and 334 are the recognised cards without effect (LAKE, LAKE_ELEV, RADAR_INTENSITY,
// LAKES_MASK, LAKES_ELEVATION, FLINE, NTR_SUM), and 56 and 333 belong to no keyword. The other
// codes are given in order, skipping those, through the card groups: file names with a flag,
// file names, names that may be absent, numbers, numbers with a flag, flags, method choices,
// and the cards with their own handling. M_RIVER and M_LAKE only store their number, so they
// are read as numeric cards; START_TIME, a numeric card of two values, has its own handler.
constexpr card_entry card_table[] = {
    {"mapping_table", 0, K::file_name_flag, &C::mapping_table, &C::mapping_table_given},
    {"albedo", 1, K::file_name_flag, &C::albedo, &C::albedo_given},
    {"vheight", 2, K::file_name_flag, &C::vheight, &C::vheight_given},
    {"tcoeff", 3, K::file_name_flag, &C::tcoeff, &C::tcoeff_given},
    {"canopy", 4, K::file_name_flag, &C::canopy, &C::canopy_given},
    {"wilting_point", 5, K::file_name_flag, &C::wilting_point, &C::wilting_point_given},
    {"hmet_surfaways", 6, K::file_name_flag, &C::hmet_file, &C::hmet_surfaways_given},
    {"hmet_samson", 7, K::file_name_flag, &C::hmet_file, &C::hmet_samson_given},
    {"hmet_obu", 8, K::file_name_flag, &C::hmet_file, &C::hmet_obu_given},
    {"bound_ts", 9, K::file_name_flag, &C::bound_ts, &C::bound_ts_given},
    {"explic_backwater", 10, K::file_name_flag, &C::write_chan_hotstart,
     &C::explic_backwater_given},
    {"explic_hotstart", 11, K::file_name_flag, &C::read_chan_hotstart, &C::explic_hotstart_given},
    {"in_sed_loc", 12, K::file_name_flag, &C::in_sed_loc, &C::in_sed_loc_given},
    {"vol_sed_susp", 13, K::file_name_flag, &C::vol_sed_susp, &C::vol_sed_susp_given},
    {"max_sed_flux", 14, K::file_name_flag, &C::max_sed_flux, &C::max_sed_flux_given},
    {"net_sed_volume", 15, K::file_name_flag, &C::net_sed_volume, &C::net_sed_volume_given},
    {"outlet_sed_tss", 16, K::file_name_flag, &C::outlet_sed_tss, &C::outlet_sed_tss_given},
    {"out_tss_loc", 17, K::file_name_flag, &C::out_tss_loc, &C::out_tss_loc_given},
    {"adjust_elev", 18, K::file_name_flag, &C::adjust_elev, &C::adjust_elev_given},
    {"optimize", 19, K::file_name_flag, &C::optimize, &C::optimize_given},
    {"water_table", 20, K::file_name_flag, &C::water_table, &C::water_table_given},
    {"in_theta_location", 21, K::file_name_flag, &C::in_theta_location,
     &C::in_theta_location_given},
    {"initial_depth", 22, K::file_name_flag, &C::initial_depth, &C::initial_depth_given},
    {"storage_capacity", 23, K::file_name_flag, &C::storage_capacity, &C::storage_capacity_given},
    {"interception_coeff", 24, K::file_name_flag, &C::interception_coeff,
     &C::interception_coeff_given},
    {"roughness", 25, K::file_name_flag, &C::roughness, &C::roughness_given},
    {"conductivity", 26, K::file_name_flag, &C::conductivity, &C::conductivity_given},
    {"contam_map", 27, K::file_name_flag, &C::contam_map, &C::contam_map_given},
    {"capillary", 28, K::file_name_flag, &C::capillary, &C::capillary_given},
    {"porosity", 29, K::file_name_flag, &C::porosity, &C::porosity_given},
    {"pore_index", 30, K::file_name_flag, &C::pore_index, &C::pore_index_given},
    {"residual_sat", 31, K::file_name_flag, &C::residual_sat, &C::residual_sat_given},
    {"lake_output", 32, K::file_name_flag, &C::lake_output, &C::lake_output_given},
    {"precip_file", 33, K::file_name_flag, &R::precip_file, &R::precip_source},
    {"discharge", 34, K::file_name_flag, &C::discharge, &C::discharge_given},
    {"depth", 35, K::file_name_flag, &C::depth, &C::depth_given},
    {"inf_depth", 36, K::file_name_flag, &C::inf_depth, &C::inf_depth_given},
    {"surf_moist", 37, K::file_name_flag, &C::surf_moist, &C::surf_moist_given},
    {"rate_of_infil", 38, K::file_name_flag, &C::rate_of_infil, &C::rate_of_infil_given},
    {"dis_rain", 39, K::file_name_flag, &C::dis_rain, &C::dis_rain_given},
    {"gw_recharge_cum", 40, K::file_name_flag, &C::gw_recharge_cum, &C::gw_recharge_cum_given},
    {"gw_recharge_inc", 41, K::file_name_flag, &C::gw_recharge_inc, &C::gw_recharge_inc_given},
    {"chan_depth", 42, K::file_name_flag, &C::chan_depth, &C::chan_depth_given},
    {"chan_sed_flux", 43, K::file_name_flag, &C::chan_sed_flux, &C::chan_sed_flux_given},
    {"chan_discharge", 44, K::file_name_flag, &C::chan_discharge, &C::chan_discharge_given},
    {"chan_stage", 45, K::file_name_flag, &C::chan_stage, &C::chan_stage_given},
    {"chan_velocity", 46, K::file_name_flag, &C::chan_velocity, &C::chan_velocity_given},
    {"in_hyd_location", 47, K::file_name_flag, &C::in_hyd_location, &C::in_hyd_location_given},
    {"in_gwflux_location", 48, K::file_name_flag, &C::in_gwflux_location,
     &C::in_gwflux_location_given},
    {"sig_outlet_hydro", 49, K::file_name_flag, &C::sig_outlet_hydro, &C::sig_outlet_hydro_given},
    {"vro_hydro", 50, K::file_name_flag, &C::vro_hydro, &C::vro_hydro_given},
    {"gw_fluxboundtable", 51, K::file_name_flag, &C::gw_fluxboundtable,
     &G::gw_fluxboundtable_given},
    {"gw_flux_boundtable", 51, K::file_name_flag, &C::gw_fluxboundtable,
     &G::gw_fluxboundtable_given},
    {"gw_output", 52, K::file_name_flag, &C::gw_output, &C::gw_output_given},
    {"gw_porosity_map", 53, K::file_name_flag, &C::gw_porosity_map, &C::gw_porosity_map_given},
    {"gw_hycond_map", 54, K::file_name_flag, &C::gw_hycond_map, &C::gw_hycond_map_given},
    {"gw_well_level", 55, K::file_name_flag, &C::gw_well_level, &C::gw_well_level_given},
    {"volp", 57, K::file_name_flag, &C::volp, &C::volp_given},
    {"moist_to_volp", 58, K::file_name_flag, &C::moist_to_volp, &C::moist_to_volp_given},
    {"ksat_to_volp", 59, K::file_name_flag, &C::ksat_to_volp, &C::ksat_to_volp_given},
    {"rough_to_volp", 60, K::file_name_flag, &C::rough_to_volp, &C::rough_to_volp_given},
    {"poros_to_volp", 61, K::file_name_flag, &C::poros_to_volp, &C::poros_to_volp_given},
    {"erosivity_to_volp", 62, K::file_name_flag, &C::erosivity_to_volp,
     &C::erosivity_to_volp_given},
    {"crop_fact_to_volp", 63, K::file_name_flag, &C::crop_fact_to_volp,
     &C::crop_fact_to_volp_given},
    {"net_erosion_to_volp", 64, K::file_name_flag, &C::net_erosion_to_volp,
     &C::net_erosion_to_volp_given},
    {"moist_from_volp", 65, K::file_name_flag, &C::moist_from_volp, &C::moist_from_volp_given},
    {"ksat_from_volp", 66, K::file_name_flag, &C::ksat_from_volp, &C::ksat_from_volp_given},
    {"rough_from_volp", 67, K::file_name_flag, &C::rough_from_volp, &C::rough_from_volp_given},
    {"erosivity_from_volp", 68, K::file_name_flag, &C::erosivity_from_volp,
     &C::erosivity_from_volp_given},
    {"crop_fact_from_volp", 69, K::file_name_flag, &C::crop_fact_from_volp,
     &C::crop_fact_from_volp_given},
    {"et_demand_from_volp", 70, K::file_name_flag, &C::et_demand_from_volp,
     &C::et_demand_from_volp_given},
    {"out_dep_location", 71, K::file_name_flag, &C::out_dep_location, &C::out_dep_location_given},
    {"out_con_location", 72, K::file_name_flag, &C::out_con_location, &C::out_con_location_given},
    {"out_mass_location", 73, K::file_name_flag, &C::out_mass_location,
     &C::out_mass_location_given},
    {"ov_point_source", 74, K::file_name_flag, &C::ov_point_source, &C::ov_point_source_given},
    {"ov_con_map", 75, K::file_name_flag, &C::ov_con_map, &C::ov_con_map_given},
    {"dike_map", 76, K::file_name_flag, &C::dike_map, &C::dike_map_given},
    {"embankment", 76, K::file_name_flag, &C::dike_map, &C::dike_map_given},
    {"lowspot_file", 77, K::file_name_flag, &C::lowspot_file, &C::lowspot_file_given},
    {"write_chan_hotstart", 78, K::file_name_flag, &C::write_chan_hotstart,
     &C::write_chan_hotstart_given},
    {"read_chan_hotstart", 79, K::file_name_flag, &C::read_chan_hotstart,
     &C::read_chan_hotstart_given},
    {"write_ov_hotstart", 80, K::file_name_flag, &C::write_ov_hotstart,
     &C::write_ov_hotstart_given},
    {"ov_init_depth", 81, K::file_name_flag, &C::ov_init_depth, &C::ov_init_depth_given},
    {"read_ov_hotstart", 81, K::file_name_flag, &C::ov_init_depth, &C::ov_init_depth_given},
    {"read_sm_hotstart", 82, K::file_name_flag, &C::read_sm_hotstart, &C::read_sm_hotstart_given},
    {"write_sm_hotstart", 83, K::file_name_flag, &C::write_sm_hotstart,
     &C::write_sm_hotstart_given},
    {"overland_lake_map", 84, K::file_name_flag, &C::overland_lake_map,
     &C::overland_lake_map_given},
    {"sacramento", 85, K::file_name_flag, &C::sacramento, &C::sacramento_given},
    {"sacramento_pars", 85, K::file_name_flag, &C::sacramento, &C::sacramento_given},
    {"storm_sewer", 86, K::file_name_flag, &C::storm_sewer, &C::storm_sewer_given},
    {"pipe_flow", 87, K::file_name_flag, &C::pipe_flow, &C::pipe_flow_given},
    {"pipe_head", 88, K::file_name_flag, &C::pipe_head, &C::pipe_head_given},
    {"pipe_tile", 89, K::file_name_flag, &C::pipe_tile, &C::pipe_tile_given},
    {"superlink_junc_location", 90, K::file_name_flag, &C::superlink_junc_location,
     &C::superlink_junc_location_given},
    {"superlink_node_location", 91, K::file_name_flag, &C::superlink_node_location,
     &C::superlink_node_location_given},
    {"superlink_junc_flow", 92, K::file_name_flag, &C::superlink_junc_flow,
     &C::superlink_junc_flow_given},
    {"superlink_node_flow", 93, K::file_name_flag, &C::superlink_node_flow,
     &C::superlink_node_flow_given},
    {"flood_grid", 94, K::file_name_flag, &C::flood_grid, &C::flood_grid_given},
    {"flood_stream", 95, K::file_name_flag, &C::flood_stream, &C::flood_stream_given},
    {"lake_pump", 96, K::file_name_flag, &C::lake_pump, &C::lake_pump_given},
    {"r7_input", 97, K::file_name_flag, &C::r7_input, &C::r7_input_given},
    {"sourcefile", 98, K::file_name_flag, &C::sourcefile, &C::sourcefile_given},
    {"ov_pump", 99, K::file_name_flag, &C::ov_pump, &C::ov_pump_given},
    {"fyssi", 100, K::file_name_flag, &C::fyssi, &C::fyssi_given},
    {"daily_output", 101, K::file_name_flag, &C::daily_output, &C::daily_output_given},
    {"st_mapping_table", 102, K::file_name_flag, &C::st_mapping_table, &C::st_mapping_table_given},
    {"analyzers", 103, K::file_name_flag, &C::analyzers, &C::analyzers_given},
    {"total_ov_n", 104, K::file_name_flag, &C::total_ov_n, &C::total_ov_n_given},
    {"total_ov_p", 105, K::file_name_flag, &C::total_ov_p, &C::total_ov_p_given},
    {"total_chan_n", 106, K::file_name_flag, &C::total_chan_n, &C::total_chan_n_given},
    {"total_chan_kn", 107, K::file_name_flag, &C::total_chan_kn, &C::total_chan_kn_given},
    {"total_chan_p", 108, K::file_name_flag, &C::total_chan_p, &C::total_chan_p_given},
    {"snow_swe_file", 109, K::file_name_flag, &C::snow_swe_file, &C::snow_swe_file_given},
    {"lake", 110, K::ignored},
    {"lake_elev", 111, K::ignored},
    {"soil_type_map", 112, K::file_name, &C::soil_type_map},
    {"soil_erodability", 113, K::file_name, &C::soil_erodability},
    {"radar_intensity", 114, K::ignored},
    {"crop_management", 115, K::file_name, &C::crop_management},
    {"conservation_practice", 116, K::file_name, &C::conservation_practice},
    {"sand_map", 117, K::file_name, &C::sand_map},
    {"silt_map", 118, K::file_name, &C::silt_map},
    {"outlet_sed_flux", 119, K::file_name, &C::outlet_sed_flux},
    {"out_sed_loc", 120, K::file_name, &C::out_sed_loc},
    {"soil_layer_input_file", 121, K::file_name, &C::soil_layer_input_file},
    {"aquifer_bottom", 122, K::file_name, &C::aquifer_bottom},
    {"out_theta_location", 123, K::file_name, &C::out_theta_location},
    {"watershed_mask", 124, K::file_name, &C::watershed_mask},
    {"elevation", 125, K::file_name, &C::elevation},
    {"links", 126, K::file_name, &C::links},
    {"nodes", 127, K::file_name, &C::nodes},
    {"channel_input", 128, K::file_name, &C::channel_input},
    {"dis_profile", 129, K::file_name, &C::dis_profile},
    {"dis_profile_out", 130, K::file_name, &C::dis_profile_out},
    {"wat_surf_profile", 131, K::file_name, &C::wat_surf_profile},
    {"wat_surf_profile_out", 132, K::file_name, &C::wat_surf_profile_out},
    {"out_hyd_location", 133, K::file_name, &C::out_hyd_location},
    {"out_gwflux_location", 134, K::file_name, &C::out_gwflux_location},
    {"materials", 135, K::file_name, &C::materials},
    {"section_table", 136, K::file_name, &C::section_table},
    {"summary", 137, K::file_name, &C::summary},
    {"outlet_hydro", 138, K::file_name, &C::outlet_hydro},
    {"cell_hydro", 139, K::file_name, &C::cell_hydro},
    {"out_well_location", 140, K::file_name, &C::out_well_location},
    {"chan_point_input", 141, K::file_name, &C::chan_point_input},
    {"stream_cell", 142, K::file_name, &C::stream_cell},
    {"overland_lake_file", 143, K::file_name, &C::overland_lake_file},
    {"grid_pipe", 144, K::file_name, &C::grid_pipe},
    {"zenf_file", 145, K::file_name, &C::zenf_file},
    {"zenf_base_grid", 146, K::file_name, &C::zenf_base_grid},
    {"zenf_base_stream", 147, K::file_name, &C::zenf_base_stream},
    {"zenf_datasetgroup", 148, K::file_name, &C::zenf_datasetgroup},
    {"r7_nodes_to_segs", 149, K::file_name, &C::r7_nodes_to_segs},
    {"lakes_mask", 150, K::ignored},
    {"lakes_elevation", 151, K::ignored},
    {"r7_segment_map", 152, K::file_name, &C::r7_segment_map},
    {"fline", 153, K::ignored},
    {"r7_segment_fluxes", 154, K::file_name, &C::r7_segment_fluxes},
    {"calib_obs_data", 155, K::file_name, &C::calib_obs_data},
    {"moisture", 156, K::file_name_optional, &C::moisture, &C::moisture_given,
     name_keep_when_absent},
    {"area_reduction", 157, K::file_name_optional, &C::area_reduction, &C::area_reduction_given,
     name_empty_when_absent},
    {"gw_boundfile", 158, K::file_name_optional, &C::gw_boundfile, &C::gw_boundfile_given,
     name_ignored_when_absent},
    {"gridsize", 159, K::number, &G::gridsize},
    {"rows", 160, K::number, &G::rows},
    {"cols", 161, K::number, &G::cols},
    {"tot_time", 162, K::number, &G::tot_time},
    {"timestep", 163, K::number, &G::timestep},
    {"outslope", 164, K::number, &G::outslope},
    {"outrow", 165, K::number, &G::outrow},
    {"outcol", 166, K::number, &G::outcol},
    {"hyd_freq", 167, K::number, &G::hyd_freq},
    {"map_freq", 168, K::number, &G::map_freq},
    {"vro", 169, K::ignored},
    {"metric", 169, K::ignored},
    {"simulation_input", 169, K::ignored},
    {"map_type", 170, K::number, &G::map_type},
    {"latitude", 171, K::number, &G::latitude},
    {"longitude", 172, K::number, &G::longitude},
    {"start_time", 173, K::number, {}, {}, 0, nullptr, read_start_time},
    {"st_time_step", 174, K::number, &G::st_time_step},
    {"rain_intensity", 175, K::number, &R::rain_intensity},
    {"rain_duration", 176, K::number, &R::rain_duration},
    {"event_min_q", 177, K::number, &C::event_min_q},
    {"soil_moist_depth", 178, K::number, &C::soil_moist_depth},
    {"top_layer_depth", 179, K::number, &C::top_layer_depth},
    {"mixing_layer_depth", 180, K::number, &C::mixing_layer_depth},
    {"bound_depth", 181, K::number, &C::bound_depth},
    {"k_river", 182, K::number, &C::k_river},
    {"sand_size", 183, K::number, &C::sand_size},
    {"silt_size", 184, K::number, &C::silt_size},
    {"clay_size", 185, K::number, &C::clay_size},
    {"water_temp", 186, K::number, &C::water_temp},
    {"sed_porosity", 187, K::number, &C::sed_porosity},
    {"richards_weight", 188, K::number, &C::richards_weight},
    {"richards_dtheta_max", 189, K::number, &C::richards_dtheta_max},
    {"aquifer_delta_z", 190, K::number, &C::aquifer_delta_z},
    {"gw_timestep", 191, K::number, &C::gw_timestep},
    {"gw_lsor_con", 192, K::number, &C::gw_lsor_con},
    {"single_unsat_sat", 193, K::number, &C::single_unsat_sat},
    {"gw_leakage_rate", 194, K::number, &C::gw_leakage_rate},
    {"gw_relax_coeff", 195, K::number, &C::gw_relax_coeff},
    {"chan_decay_coef", 196, K::number, &C::chan_decay_coef},
    {"chan_disp_coef", 197, K::number, &C::chan_disp_coef},
    {"init_chan_conc", 198, K::number, &C::init_chan_conc},
    {"ov_decay_coef", 199, K::number, &C::ov_decay_coef},
    {"ov_disp_coef", 200, K::number, &C::ov_disp_coef},
    {"ov_uptake_rate", 201, K::number, &C::ov_uptake_rate},
    {"kinetics_timestep_factor", 202, K::number, &C::kinetics_timestep_factor},
    {"soil_kinetics_timestep_factor", 203, K::number, &C::soil_kinetics_timestep_factor},
    {"ov_mass_load", 204, K::number, &C::ov_mass_load},
    {"max_courant_number", 205, K::number, &C::max_courant_number},
    {"first_order_chan_q", 206, K::number, &C::first_order_chan_q},
    {"chan_ph", 207, K::number, &C::chan_ph},
    {"richards_iter_max", 208, K::number, &C::richards_iter_max},
    {"suppress_printing", 209, K::number, &C::suppress_printing},
    {"gw_lsor_dir", 210, K::number, &C::gw_lsor_dir},
    {"x_freq", 211, K::number, &C::x_freq},
    {"xwin_width", 212, K::number, &C::xwin_width},
    {"xwin_height", 213, K::number, &C::xwin_height},
    {"zenf_compression", 214, K::number, &C::zenf_compression},
    {"manning_n", 215, K::number_flag, &C::manning_n, &C::manning_n_given},
    {"gmt", 216, K::number_flag, &G::gmt, &G::gmt_given},
    {"soil_erosion", 217, K::number_flag, &C::soil_erosion, &C::soil_erosion_given},
    {"retention", 218, K::number_flag, &C::retention, &C::retention_given},
    {"unif_area_reduction", 219, K::number_flag, &C::unif_area_reduction,
     &C::unif_area_reduction_given},
    {"gw_unif_porosity", 220, K::number_flag, &C::gw_unif_porosity, &C::gw_unif_porosity_given},
    {"gw_unif_hycond", 221, K::number_flag, &C::gw_unif_hycond, &C::gw_unif_hycond_given},
    {"flush_buffer", 222, K::number_flag, &C::flush_buffer, &C::flush_buffer_given},
    {"init_elev_head", 223, K::number_flag, &C::init_elev_head, &C::init_elev_head_given},
    {"include_channel_depth", 224, K::flag, &C::include_channel_depth_given},
    {"long_term", 225, K::flag, &C::long_term_given},
    {"et_calc_penman", 226, K::flag, &C::et_calc_penman_given},
    {"et_calc_deardorff", 227, K::flag, &C::et_calc_deardorff_given},
    {"overbank_flow", 228, K::flag, &C::overbank_flow_given},
    {"head_bound", 229, K::flag, &C::head_bound_given},
    {"overland_backwater", 230, K::flag, &C::overland_backwater_given},
    {"stream_loss", 231, K::flag, &C::stream_loss_given},
    {"adjust_channel_bed", 232, K::flag, &C::adjust_channel_bed_given},
    {"strict_julian_date", 233, K::flag, &C::strict_julian_date_given},
    {"optimize_sed", 234, K::flag, &C::optimize_sed_given},
    {"seasonal_rs", 235, K::flag, &C::seasonal_rs_given},
    {"interception", 236, K::flag, &C::interception_coeff_given, &C::storage_capacity_given},
    {"no_cont_inf_redist", 237, K::flag, &C::no_cont_inf_redist_given},
    {"gw_simulation", 238, K::flag, &C::gw_simulation_given},
    {"gw_assign_theta", 239, K::flag, &C::gw_assign_theta_given},
    {"tev", 240, K::flag, &C::tev_given},
    {"volp_first", 241, K::flag, &C::volp_first_given},
    {"chan_con_trans", 242, K::flag, &C::chan_con_trans_given},
    {"ov_con_trans", 243, K::flag, &C::ov_con_trans_given},
    {"all_contam_output", 244, K::flag, &C::all_contam_output_given},
    {"soil_con_trans", 245, K::flag, &C::soil_con_trans_given},
    {"soil_contam", 245, K::flag, &C::soil_con_trans_given},
    {"soil_static_conc", 246, K::flag, &C::soil_static_conc_given},
    {"sediment_contam", 247, K::flag, &C::sediment_contam_given},
    {"xwindows", 248, K::flag, &C::xwindows_given},
    {"xrain", 249, K::flag, &C::xrain_given},
    {"xgwrecharge", 250, K::flag, &C::xgwrecharge_given},
    {"xdepth", 251, K::flag, &C::xdepth_given},
    {"xinfdep", 252, K::flag, &C::xinfdep_given},
    {"xchan", 253, K::flag, &C::xchan_given},
    {"xbig", 254, K::flag, &C::xbig_given},
    {"xsurf", 255, K::flag, &C::xsurf_given},
    {"non_ortho_channels", 256, K::flag, &C::non_ortho_channels_given},
    {"hotstart_is_depth", 257, K::flag, &C::hotstart_is_depth_given},
    {"topo_index", 258, K::flag, &C::topo_index_given},
    {"superlink_c_opt", 259, K::flag, &C::superlink_c_opt_given},
    {"high_head_release", 260, K::flag, &C::high_head_release_given},
    {"superlink_drainmod", 261, K::flag, &C::superlink_drainmod_given},
    {"pause", 262, K::flag, &C::pause_given},
    {"ov_boundary", 263, K::flag, &C::ov_boundary_given},
    {"use_wells", 264, K::flag, &C::use_wells_given},
    {"stream_info", 265, K::flag, &C::stream_info_given},
    {"r7_fluxes", 266, K::flag, &C::r7_fluxes_given},
    {"qout_cfs", 267, K::flag, &G::qout_cfs},
    {"quiet", 268, K::flag, &G::quiet},
    {"chan_preiss", 269, K::method_choice, &G::chan_scheme, {}, 1},
    {"chan_drain", 270, K::method_choice, &G::chan_scheme, {}, 2},
    {"chan_explic", 271, K::method_choice, &G::chan_scheme, &C::non_ortho_channels_given, 3},
    {"diffusive_wave", 271, K::method_choice, &G::chan_scheme, &C::non_ortho_channels_given, 3},
    {"chan_mesh", 272, K::method_choice, &G::chan_scheme, {}, 4},
    {"chan_backwater", 273, K::method_choice, &G::chan_scheme, {}, 5},
    {"green_ampt", 274, K::method_choice, &G::inf_scheme, {}, 1},
    {"inf_redist", 275, K::method_choice, &G::inf_scheme, {}, 2},
    {"inf_layered_soil", 276, K::method_choice, &G::inf_scheme, {}, 3},
    {"inf_richards", 277, K::method_choice, &G::inf_scheme, {}, 4},
    {"precip_unif", 278, K::method_choice, &R::precip_source, {}, 0},
    {"rain_inv_distance", 279, K::method_choice, &R::rain_interpolation, {}, 0},
    {"rain_thiessen", 280, K::method_choice, &R::rain_interpolation, {}, 1},
    {"soils_nsm_n", 281, K::method_choice, &C::soils_nsm_n, {}, 2},
    {"soils_nsm_p", 282, K::method_choice, &C::soils_nsm_p, {}, 2},
    {"soils_nsm_c", 283, K::method_choice, &C::soils_nsm_c, {}, 2},
    {"overtype", 284, K::method_choice, &C::overtype, {}, 0, nullptr, choose_overtype},
    {"richards_k_option",
     285,
     K::method_choice,
     &C::richards_k_option,
     {},
     0,
     nullptr,
     choose_richards_k},
    {"richards_c_option",
     286,
     K::method_choice,
     &C::richards_c_option,
     {},
     0,
     nullptr,
     choose_richards_c},
    {"richards_upper_option",
     287,
     K::method_choice,
     &C::richards_upper_option,
     {},
     0,
     nullptr,
     choose_richards_upper},
    {"calib_comp_data",
     288,
     K::method_choice,
     &C::calib_comp_data,
     {},
     0,
     nullptr,
     choose_calib_comp_data},
    {"calib_obj_func",
     289,
     K::method_choice,
     &C::calib_obj_func,
     {},
     0,
     nullptr,
     choose_calib_obj_func},
    {"units", 290, K::own, &G::units, {}, 0, "Units flag = %d\n", read_and_echo},
    {"start_date", 291, K::own, {}, {}, 0, nullptr, read_start_date},
    {"end_time", 292, K::own, {}, {}, 0, nullptr, read_end_time},
    {"reten_depth", 293, K::own, &C::reten_depth, &C::reten_depth_given, 0, nullptr,
     read_reten_depth},
    {"m_river", 294, K::number, &C::m_river},
    {"m_lake", 295, K::number, &C::m_lake},
    {"tev_event_num", 296, K::own, &C::tev_event_num, &C::tev_event_num_given, 0, nullptr,
     read_tev_event_num},
    {"alpha", 297, K::own, {}, {}, echo_double, "Alpha = %lf\n", read_and_echo},
    {"beta", 298, K::own, {}, {}, echo_double, "Beta = %lf\n", read_and_echo},
    {"theta", 299, K::own, {}, {}, echo_double, "Theta = %lf\n", read_and_echo},
    {"channel_gridsize",
     300,
     K::own,
     {},
     {},
     echo_double,
     "Channel grid size = %lf\n",
     read_and_echo},
    {"q_min", 301, K::own, {}, {}, echo_double, "Minimum channel flow = %lf\n", read_and_echo},
    {"channel_deltat", 302, K::own, {}, {}, echo_int, "Channel time step = %d\n", read_and_echo},
    {"drain_time", 303, K::own, {}, {}, echo_int, "Drainage time = %d\n", read_and_echo},
    {"n_links", 304, K::own, {}, {}, echo_int, "Number of links = %d\n", read_and_echo},
    {"max_nodes", 305, K::own, {}, {}, echo_int, "Number of nodes = %d\n", read_and_echo},
    {"init_swe_depth", 306, K::own, &C::init_swe_map, {}, 0, nullptr, read_init_swe_depth},
    {"time_series_file", 307, K::own, {}, {}, 0, nullptr, read_series_file},
    {"elev_series_file", 308, K::own, {}, {}, 0, nullptr, read_elevation_file},
    {"replace_params", 309, K::own, {}, {}, 0, nullptr, read_replacement_params},
    {"replace_vals", 310, K::own, {}, {}, 0, nullptr, read_replacement_values},
    {"replace_line", 311, K::own, {}, {}, 0, nullptr, set_replacement_line},
    {"replace_folder", 312, K::own, {}, {}, 0, nullptr, set_output_folder},
    {"output_folder", 312, K::own, {}, {}, 0, nullptr, set_output_folder},
    {"project_folder", 313, K::own, &C::project_folder, {}, 0, nullptr, set_project_folder},
    {"project_path", 313, K::own, &C::project_folder, {}, 0, nullptr, set_project_folder},
    {"super_quiet", 314, K::own, &C::super_quiet_given, {}, 0, nullptr, set_super_quiet},
    {"num_threads", 315, K::own, {}, {}, 0, nullptr, set_thread_count},
    {"nutrients", 316, K::own, &C::nutrients_given, {}, 0, nullptr, create_nutrient_model},
    {"aq_env", 317, K::own, {}, {}, 0, "AQ_ENV", read_aq_env},
    {"ov_init_no2", 318, K::own, {}, {}, 0, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_init_no3", 319, K::own, {}, {}, 1, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_init_nh4", 320, K::own, {}, {}, 2, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_init_on", 321, K::own, {}, {}, 3, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_init_op", 322, K::own, {}, {}, 4, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_init_dp", 323, K::own, {}, {}, 5, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_init_alg", 324, K::own, {}, {}, 6, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_init_cbod", 325, K::own, {}, {}, 7, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_init_do", 326, K::own, {}, {}, 8, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_doc_init", 327, K::own, {}, {}, 9, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_doc_foc", 328, K::own, {}, {}, 10, "OV_INIT_XXX", read_nsm_ov_init},
    {"ov_dispersion", 329, K::own, {}, {}, 11, "OV_INIT_XXX", read_nsm_ov_init},
    {"st_init_no2", 330, K::own, {}, {}, 0, "ST_INIT_XXX", read_nsm_st_init},
    {"st_init_no3", 331, K::own, {}, {}, 1, "ST_INIT_XXX", read_nsm_st_init},
    {"st_init_nh4", 332, K::own, {}, {}, 2, "ST_INIT_XXX", read_nsm_st_init},
    {"ntr_sum", 334, K::ignored},
    {"st_init_on", 335, K::own, {}, {}, 3, "ST_INIT_XXX", read_nsm_st_init},
    {"st_init_op", 336, K::own, {}, {}, 4, "ST_INIT_XXX", read_nsm_st_init},
    {"st_init_dp", 337, K::own, {}, {}, 5, "ST_INIT_XXX", read_nsm_st_init},
    {"st_init_alg", 338, K::own, {}, {}, 6, "ST_INIT_XXX", read_nsm_st_init},
    {"st_init_cbod", 339, K::own, {}, {}, 7, "ST_INIT_XXX", read_nsm_st_init},
    {"st_init_do", 340, K::own, {}, {}, 8, "ST_INIT_XXX", read_nsm_st_init},
    {"out_ov_no2", 341, K::own, {}, {}, 0, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_ov_no3", 342, K::own, {}, {}, 1, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_ov_nh4", 343, K::own, {}, {}, 2, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_ov_on", 344, K::own, {}, {}, 3, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_ov_op", 345, K::own, {}, {}, 4, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_ov_dp", 346, K::own, {}, {}, 5, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_ov_alg", 347, K::own, {}, {}, 6, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_ov_cbod", 348, K::own, {}, {}, 7, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_ov_do", 349, K::own, {}, {}, 8, "OUT_OV_XXX", read_nsm_ov_output},
    {"out_st_no2", 350, K::own, {}, {}, 0, "OUT_ST_XXX", read_nsm_st_output},
    {"out_st_no3", 351, K::own, {}, {}, 1, "OUT_ST_XXX", read_nsm_st_output},
    {"out_st_nh4", 352, K::own, {}, {}, 2, "OUT_ST_XXX", read_nsm_st_output},
    {"out_st_on", 353, K::own, {}, {}, 3, "OUT_ST_XXX", read_nsm_st_output},
    {"out_st_op", 354, K::own, {}, {}, 4, "OUT_ST_XXX", read_nsm_st_output},
    {"out_st_dp", 355, K::own, {}, {}, 5, "OUT_ST_XXX", read_nsm_st_output},
    {"out_st_alg", 356, K::own, {}, {}, 6, "OUT_ST_XXX", read_nsm_st_output},
    {"out_st_cbod", 357, K::own, {}, {}, 7, "OUT_ST_XXX", read_nsm_st_output},
    {"out_st_do", 358, K::own, {}, {}, 8, "OUT_ST_XXX", read_nsm_st_output},
    {"out_hyd_no2", 359, K::own, {}, {}, 0, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"out_hyd_no3", 360, K::own, {}, {}, 1, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"out_hyd_nh4", 361, K::own, {}, {}, 2, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"out_hyd_on", 362, K::own, {}, {}, 3, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"out_hyd_op", 363, K::own, {}, {}, 4, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"out_hyd_dp", 364, K::own, {}, {}, 5, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"out_hyd_alg", 365, K::own, {}, {}, 6, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"out_hyd_cbod", 366, K::own, {}, {}, 7, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"out_hyd_do", 367, K::own, {}, {}, 8, "OUT_HYD_XXX", read_nsm_hyd_output},
    {"no2_km", 368, K::own, {}, {}, 0, nullptr, read_soil_coefficient},
    {"no3_km", 369, K::own, {}, {}, 1, nullptr, read_soil_coefficient},
    {"nh4_km", 370, K::own, {}, {}, 2, nullptr, read_soil_coefficient},
    {"on_km", 371, K::own, {}, {}, 3, nullptr, read_soil_coefficient},
    {"op_km", 372, K::own, {}, {}, 4, nullptr, read_soil_coefficient},
    {"dp_km", 373, K::own, {}, {}, 5, nullptr, read_soil_coefficient},
    {"no2_koc", 374, K::own, {}, {}, 6, nullptr, read_soil_coefficient},
    {"no3_koc", 375, K::own, {}, {}, 7, nullptr, read_soil_coefficient},
    {"nh4_koc", 376, K::own, {}, {}, 8, nullptr, read_soil_coefficient},
    {"on_koc", 377, K::own, {}, {}, 9, nullptr, read_soil_coefficient},
    {"op_koc", 378, K::own, {}, {}, 10, nullptr, read_soil_coefficient},
    {"dp_koc", 379, K::own, {}, {}, 11, nullptr, read_soil_coefficient},
    {"xybdyoutput_pts", 380, K::own, {}, {}, 0, nullptr, read_xy_output_points},
    {"xybdyoutput_mask", 381, K::own, {}, {}, 1, nullptr, read_xy_output_points},
    {"xybdyoutput_ovdep", 382, K::own, {}, {}, xy_output_ovdep, nullptr, read_xy_output_name},
    {"xybdyoutput_gwhead", 383, K::own, {}, {}, xy_output_gwhead, nullptr, read_xy_output_name},
    {"xybdyoutput_stflow", 384, K::own, {}, {}, xy_output_stflow, nullptr, read_xy_output_name},
    {"xybdyinput_ovdep", 385, K::own, {}, {}, 0, nullptr, read_xy_input_points},
    {"xybdyinput_gwhead", 386, K::own, {}, {}, 1, nullptr, read_xy_input_points},
    {"xybdyinput_stflow", 387, K::own, {}, {}, 0, nullptr, read_xy_input_stream_flow},
    {"xybdyinput_sttimeseries", 388, K::own, {}, {}, 0, nullptr, read_xy_input_stream_series},
};

// ---- Checks of the table, made by the compiler --------------------------------------------

constexpr bool same_text(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// Orders keywords by their characters, so that a keyword given twice sorts beside its twin.
constexpr bool text_before(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
}

// The keywords are sorted and neighbours compared, rather than every pair: the compiler's
// evaluation of every pair of the 397 keywords was half the compile time of this file.
constexpr bool keywords_lower_case_and_unique() {
  std::array<const char*, std::size(card_table)> keywords{};
  std::size_t n = 0;
  for (const card_entry& e : card_table) {
    for (const char* p = e.keyword; *p != '\0'; ++p)
      if (*p >= 'A' && *p <= 'Z') return false;
    keywords[n++] = e.keyword;
  }
  std::sort(keywords.begin(), keywords.end(), text_before);
  for (std::size_t i = 1; i < keywords.size(); ++i)
    if (same_text(keywords[i - 1], keywords[i])) return false;
  return true;
}

// Every code 0..388 but 56 and 333 has a keyword; synonyms are handled alike. One pass over the
// table: each row is compared with the first row of its code.
constexpr bool codes_complete_and_synonyms_alike() {
  std::array<const card_entry*, card_code_max + 1> first{};
  for (const card_entry& e : card_table) {
    if (e.code < 0 || e.code > card_code_max) return false;
    const card_entry* f = first[static_cast<std::size_t>(e.code)];
    if (f == nullptr) {
      first[static_cast<std::size_t>(e.code)] = &e;
    } else if (e.kind != f->kind || e.field != f->field || e.flag != f->flag ||
               e.value != f->value || e.own != f->own) {
      return false;
    }
  }
  for (int code = 0; code <= card_code_max; ++code)
    if ((first[static_cast<std::size_t>(code)] == nullptr) != (code == 56 || code == 333))
      return false;
  return true;
}

constexpr int code_of(const char* keyword) {
  for (const card_entry& e : card_table)
    if (same_text(e.keyword, keyword)) return e.code;
  return -1;
}

static_assert(std::size(card_table) == 397, "397 keywords");
static_assert(keywords_lower_case_and_unique());
static_assert(codes_complete_and_synonyms_alike());
static_assert(code_of("project_folder") == card_code_project_folder);
static_assert(code_of("project_path") == card_code_project_folder);
static_assert(code_of("vro") == card_code_none && code_of("metric") == card_code_none &&
              code_of("simulation_input") == card_code_none);

const card_entry* find_keyword(const std::string& word) {
  // The cards by keyword, made once (the first card of a keyword, as a search of the table
  // finds): every line of the project is looked up, every run of a calibration again.
  static const std::unordered_map<std::string, const card_entry*> by_keyword = [] {
    std::unordered_map<std::string, const card_entry*> m;
    for (const card_entry& e : card_table) m.emplace(e.keyword, &e);
    return m;
  }();
  const auto found = by_keyword.find(word);
  return found != by_keyword.end() ? found->second : nullptr;
}

const card_entry* find_code(int code) {
  for (const card_entry& e : card_table)
    if (e.code == code) return &e;
  return nullptr;
}

// True for a card whose own handler reads the file its first argument names, there and then.
bool reads_file_at_once(const card_entry& e) {
  for (card_handler h :
       {read_series_file, read_elevation_file, read_replacement_params, read_replacement_values,
        read_xy_input_points, read_xy_input_stream_flow, read_xy_input_stream_series})
    if (e.own == h) return true;
  return false;
}

// Applies one card to the records.
void apply_card(const card_entry& e, card_context& ctx) {
  if (e.own != nullptr) {
    if (reads_file_at_once(e)) {
      // Kept so that no output of the run is opened over it.
      std::string rest = ctx.rest;
      std::string token;
      if (next_token(rest, token) == 1) ctx.cards.files_read.emplace_back(e.keyword, token);
    }
    e.own(e, ctx);
    return;
  }
  std::string token;
  switch (e.kind) {
    case K::file_name_flag:
      next_token(ctx.rest, token);
      store_name(e.field, ctx, token);
      set_flag(e.flag, ctx);
      break;
    case K::file_name:
      next_token(ctx.rest, token);
      store_name(e.field, ctx, token);
      break;
    case K::file_name_optional:
      if (!ctx.rest.empty()) {
        next_token(ctx.rest, token);
        store_name(e.field, ctx, token);
        set_flag(e.flag, ctx);
      } else if (e.value != name_ignored_when_absent) {
        if (e.value == name_empty_when_absent) store_name(e.field, ctx, token);
        set_flag(e.flag, ctx);
      }
      break;
    case K::number:
      store_number(e, ctx);
      break;
    case K::number_flag:
      store_number(e, ctx);
      set_flag(e.flag, ctx);
      break;
    case K::flag:
      set_flag(e.field, ctx);
      set_flag(e.flag, ctx);
      break;
    case K::method_choice:
      if (int* slot = int_slot(e.field, ctx)) *slot = e.value;
      set_flag(e.flag, ctx);
      break;
    case K::own:
    case K::ignored:
      break;
  }
}

// A first line that names the format: exactly one of the two words, nothing after it.
bool valid_first_line(const std::string& line) {
  return line == "TORVAPROJECT" || line == "BRENLOPROJECT";
}

}  // namespace

std::span<const card_entry> project_card_table() {
  return card_table;
}

int project_card_code(std::string& line) {
  std::string word;
  if (next_token(line, word) == 0 || word[0] == '#') return card_code_none;
  word = lower_case(word);
  const card_entry* e = find_keyword(word);
  if (e == nullptr) {
    if (process_info.process_rank == 0)
      printf("Warning: unknown card found in the project file: %s\n", word.c_str());
    return card_code_none;
  }
  return e->code;
}

void read_project_file(const char* path, project_cards& cards, grid_time_params& grid,
                       uniform_rain_params& rain) {
  grid.project_open_failed = 0;
  if (path == nullptr) path = "";
  file_handle project;
  if (!file_handle_open(project, path, "r")) {
    // On standard output, like the code's message that follows it.
    printf("Error opening project file named: %s\n", path);
    grid.project_open_failed = 1;
    return;
  }

  std::string line;
  if (read_text_line(line, project) == 0 || !valid_first_line(line)) {
    printf("File Does not Appear to be a Valid TORVA/BRENLO Project file\n");
    printf("Perhaps you Should Issue a 'dos2unix' Command if you are on a Unix machine?\n");
    printf("TORVA Terminating....\n");
    file_handle_close(project);
    // Reported at once: nothing has been read, and read_run_parameters goes on after it.
    stop_now();
    return;
  }

  reset_run_parameter_records(cards, grid, rain);
  card_context ctx{cards, grid, rain, line};
  while (read_text_line(line, project) == 1) {
    const int code = project_card_code(line);
    if (code < 0 || code > card_code_max) continue;
    const card_entry* e = find_code(code);
    if (e == nullptr) continue;
    const int pending = run_error.error_code;
    apply_card(*e, ctx);
    // A card that set an error code ends the reading; the caller reports the code.
    if (run_error.error_code != 0 && run_error.error_code != pending) break;
  }
  file_handle_close(project);
}

void prescan_project_folder(const char* path) {
  if (path == nullptr) path = "";
  file_handle project;
  if (!file_handle_open(project, path, "r")) {
    printf("Error opening project file named: %s\n", path);
    return;
  }
  std::string line;
  while (read_text_line(line, project) == 1) {
    if (project_card_code(line) != card_code_project_folder) continue;
    std::string folder;
    next_token(line, folder);
    // set_project_dir ends the folder with a separator.
    if (!folder.empty()) set_project_dir(folder.c_str(), 0);
    file_handle_close(project);
    return;
  }
  file_handle_close(project);
  // No folder card: the folder part of the project file's own path. The slash and the
  // backslash both separate folders.
  const char* last = nullptr;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/') last = p;
  if (last != nullptr) set_project_dir(path, static_cast<int>(last - path + 1));
}
