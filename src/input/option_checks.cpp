// Option conflict checks: start-up step right after the run parameters and before any run file
// is opened. Refuses a grid or clock that cannot run and card combinations the model cannot
// simulate, with the code of the first conflict, and switches off options the methods ignore.
// Then refuses every card whose process or input this version of the model cannot run yet.
#include "input/option_checks.h"

#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/model_state.h"

namespace {

// Position of the groundwater table (porosity and conductivity) in input_state::table_present.
constexpr int table_groundwater = 14;
// Position of the evapotranspiration table.
constexpr int table_evapotranspiration = 7;

bool table_on(const model_state& ms, int index) {
  return ms.input.mapping_table_on != 0 && ms.input.table_present[index] != 0;
}

// Prints the step's own message and leaves code 4000 for the driver.
void refuse(const char* message) {
  printf("%s", message);
  raise_own_message();
}

// The grid and the clock the run needs; nothing can be read or routed without them. False
// after the first missing value.
bool grid_and_clock_can_run(const model_state& ms) {
  const grid_time_params& g = ms.grid_params;
  if (g.rows <= 0) {
    refuse("Error: the project file gives no positive number of rows (ROWS).\n");
    return false;
  }
  if (g.cols <= 0) {
    refuse("Error: the project file gives no positive number of columns (COLS).\n");
    return false;
  }
  if (!(g.gridsize > 0.0)) {
    refuse("Error: the project file gives no positive cell size (GRIDSIZE).\n");
    return false;
  }
  if (!(g.timestep > 0.0)) {
    refuse("Error: the project file gives no positive time step (TIMESTEP).\n");
    return false;
  }
  // An event run lasts TOT_TIME minutes; long-term and TEV runs end with their data.
  if (!ms.long_term && !ms.tev && g.tot_time <= 0) {
    refuse("Error: the project file gives no positive simulation length in minutes (TOT_TIME).\n");
    return false;
  }
  return true;
}

// The soil the constituents' mixing layer sits in: one Green and Ampt layer, alone or kept
// between storms by redistribution, whose surface water content the layer takes.
bool single_layer_green_ampt(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  if (ss.inf_layered_soil || ss.inf_richards) return false;
  return ss.green_ampt != 0 || ss.inf_redist != 0;
}

// Tests 6 of the long-term run: infiltration and evapotranspiration inputs. Returns the code
// of the first conflict, or 0.
int long_term_conflict(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  if (!ss.inf_redist && !ss.inf_richards && !ss.inf_layered_soil)
    return err_long_term_needs_redistribution;
  // Richards columns and the evapotranspiration table bring their own values.
  if (ss.inf_richards || table_on(ms, table_evapotranspiration)) return 0;
  if (!ss.albedo_on) return err_albedo_missing;
  if (ss.et_penman) {
    if (!ss.vheight_on) return err_vegetation_height_missing;
    if (!ss.tcoeff_on) return err_transmission_coeff_missing;
    if (!ss.canopy_on) return err_stomatal_resistance_missing;
    if (!ss.wilting_point_on) return err_wilting_point_missing;
  }
  return 0;
}

// Tests 10: the aquifer's porosity and conductivity, and Sacramento. The warnings of a
// porosity or conductivity not given are reported at once. Returns the code of the first conflict,
// or 0.
int groundwater_conflict(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const bool gw_table = table_on(ms, table_groundwater);
  if (ss.gw_porosity_map_on && ss.gw_unif_porosity_on) return err_gw_porosity_map_and_uniform;
  if (!ss.gw_porosity_map_on && !ss.gw_unif_porosity_on && !gw_table) {
    report_error_now(warn_gw_porosity_missing);
  }
  if (ss.gw_hycond_map_on && ss.gw_unif_hycond_on) return err_gw_hycond_map_and_uniform;
  if (!ss.gw_hycond_map_on && !ss.gw_unif_hycond_on && !gw_table) {
    report_error_now(warn_gw_hycond_missing);
  }
  if (ss.sacramento) return err_groundwater_and_sacramento;
  return 0;
}

// Tests 11 and 12: the TEV framework and the exchange with VOLP.
int tev_conflict(const model_state& ms) {
  if (ms.tev) {
    printf("Running TORVA in TEV environment\n");
    if (ms.output.volp)
      printf("TORVA will share data with VOLP through file: %s\n", ms.output.volp_exchange_file);
    if (ms.tev_event_num_given)
      printf("This is an event call of TORVA by TEV, tev_event_num=%d\n", ms.tev_event_num);
    if (!ms.output.volp) return err_tev_model_missing;
    if (ms.tev_event_num_given && ms.tev_event_num < 0) return err_tev_event_num_missing;
    if (ms.subsurface.gw_simulation) return err_tev_groundwater_unsupported;
    return 0;
  }
  if (ms.output.volp) return err_volp_without_tev;
  return 0;
}

int first_conflict(model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const overland_state& ov = ms.overland;

  if (ov.manning_n_on && ov.roughness_on) return err_roughness_map_and_uniform;
  if (ms.long_term && ss.et_penman && ss.et_deardorff) return err_et_penman_and_deardorff;
  if (ss.hmet_surfaways + ss.hmet_samson + ss.hmet_obu >= 2) return err_hmet_formats_several;
  if (ms.long_term && !ss.et_penman && !ss.et_deardorff) return err_et_method_missing;
  // No precipitation card at all is uniform rainfall of intensity 0.
  if (ov.uniform_rain && (!(ov.rain_intensity > 0.0) || !(ov.rain_duration > 0.0)))
    return err_precipitation_missing;
  if (ms.long_term) {
    if (const int code = long_term_conflict(ms)) return code;
  }

  // Layered soil and Richards read no Green and Ampt parameter map.
  if (ss.inf_layered_soil || ss.inf_richards) {
    subsurface_state& s = ms.subsurface;
    s.moisture_on = 0;
    s.conductivity_on = 0;
    s.capillary_on = 0;
    s.porosity_on = 0;
    s.pore_index_on = 0;
    s.residual_sat_on = 0;
  }
  if (ss.inf_richards && ss.gw_simulation && ss.aquifer_delta_z < 0.0)
    return err_aquifer_delta_z_missing;

  if (ms.channel.chan_implicit) return err_channel_implicit_unsupported;
  if (ms.channel.chan_explic) {
    if (ms.transport.sediment.soil_erosion) ms.transport.chan_sediment = 1;
  } else {
    ms.output.map_chan_discharge = 0;
  }

  if (ss.gw_simulation) {
    if (const int code = groundwater_conflict(ms)) return code;
  }
  return tev_conflict(ms);
}

// A card that turns on a process or an input this version cannot run: the run stops at start-up
// rather than going on without it.
struct unsupported_input {
  const char* card;  // the card (or cards) that turn it on
  const char* what;  // what the card asks for
  bool (*on)(const model_state& ms);
};

// In the order of the subsystems: soils and weather, groundwater, channels and pipes, transport,
// coupling with other models, and the outputs whose input lists are not read.
constexpr unsupported_input unsupported_inputs[] = {
    // The model's definition gives the overland point sources a rate per cell but their file no
    // format, so nothing can fill the rates: a run would go on adding no water from its sources.
    {"OV_POINT_SOURCE",
     "overland point sources (their file has no defined format, so no rate can be read from it)",
     [](const model_state& ms) { return ms.overland.ov_point_source != 0; }},
    {"SOIL_EROSION", "size classes carried as overland constituents (a value of 10 or more)",
     [](const model_state& ms) {
       return ms.transport.sediment.soil_erosion != 0 && ms.cards.soil_erosion >= 10;
     }},
    // The model's definition gives the Richards columns no carrier layers for the constituents:
    // over them the overland constituents (and the nutrient species) leave the water with the
    // depth the columns take in and come up with the water a table gives the surface.
    {"SOIL_CON_TRANS",
     "soil contaminant transport without a Green and Ampt soil (GREEN_AMPT, INF_REDIST or "
     "INF_LAYERED_SOIL; the model's definition gives Richards columns no constituent layers)",
     [](const model_state& ms) {
       return ms.transport.soil_con_trans != 0 && !single_layer_green_ampt(ms) &&
              ms.subsurface.inf_layered_soil == 0;
     }},
};

// A card that only means something together with another process: the run stops at start-up
// with an input error saying what the card needs and why.
struct card_needing_process {
  const char* message;  // the whole message, naming the card and what it needs
  bool (*on)(const model_state& ms);
};

// The channels carry the nutrient species: channel constituents on the explicit network.
bool channel_nutrients(const model_state& ms) {
  return ms.channel.chan_explic != 0 && ms.cards.chan_con_trans_given != 0;
}

constexpr card_needing_process cards_needing_processes[] = {
    {"Error: INIT_SWE_DEPTH needs a long-term run (LONG_TERM): snow melts by the hourly weather "
     "that only long-term runs read.\n",
     [](const model_state& ms) { return ms.cards.init_swe_kind != 0 && !ms.long_term; }},
    // Richards columns keep a moisture per node; the redistribution soil its surface moisture;
    // the layered soil its two zones between the storms of a long-term run.
    {"Error: IN_THETA_LOCATION needs a soil that keeps its moisture (INF_RICHARDS, INF_REDIST, "
     "or INF_LAYERED_SOIL in a long-term run): single-layer Green and Ampt, the layered soil of "
     "an event run and runs without infiltration keep no surface moisture to write.\n",
     [](const model_state& ms) {
       const subsurface_state& ss = ms.subsurface;
       return ms.cards.in_theta_location_given != 0 && ss.inf_richards == 0 && ss.inf_redist == 0 &&
              !(ss.inf_layered_soil != 0 && ms.long_term);
     }},
    // The map is what the soil-moisture hotstart reader puts back: the redistribution soil's
    // surface moisture, the top layer of the layered soil, the top node of a Richards column.
    {"Error: WRITE_SM_HOTSTART needs a soil that keeps its moisture (INF_REDIST, "
     "INF_LAYERED_SOIL or INF_RICHARDS): single-layer Green and Ampt and runs without "
     "infiltration keep none to write.\n",
     [](const model_state& ms) {
       const subsurface_state& ss = ms.subsurface;
       return ms.cards.write_sm_hotstart_given != 0 && ss.inf_redist == 0 &&
              ss.inf_layered_soil == 0 && ss.inf_richards == 0;
     }},
    {"Error: OPTIMIZE_SED needs channel sediment routing (SOIL_EROSION with CHAN_EXPLIC): a "
     "sediment calibration scores the wash load the channels carry out of the outlet.\n",
     [](const model_state& ms) {
       return ms.calibration.optimize_sed != 0 && ms.transport.chan_sediment == 0;
     }},
    {"Error: LAKE_PUMP needs channel routing (CHAN_EXPLIC): lake pumps draw from the lakes of "
     "the channel network.\n",
     [](const model_state& ms) {
       return ms.cards.lake_pump_given != 0 && ms.channel.chan_explic == 0;
     }},
    {"Error: XYBDYINPUT_STFLOW needs channel routing (CHAN_EXPLIC): a stream inflow enters the "
     "channel node nearest its point.\n",
     [](const model_state& ms) {
       return ms.cards.xy_input.st_flow_given != 0 && ms.channel.chan_explic == 0;
     }},
    {"Error: XYBDYINPUT_STTIMESERIES needs channel routing (CHAN_EXPLIC): a stream inflow enters "
     "the channel node it names.\n",
     [](const model_state& ms) {
       return ms.cards.xy_input.st_series_given != 0 && ms.channel.chan_explic == 0;
     }},
    {"Error: FLOOD_STREAM needs channel routing (CHAN_EXPLIC): the stream flood depths are those "
     "of the channel nodes.\n",
     [](const model_state& ms) {
       return ms.cards.flood_stream_given != 0 && ms.channel.chan_explic == 0;
     }},
    // The stream species are channel constituents of the explicit network: without them the
    // channels carry no nutrients to start, show or add up.
    {"Error: ST_INIT_<species> and OUT_ST_<species> need the nutrients carried in the channels "
     "(CHAN_CON_TRANS with CHAN_EXPLIC): the stream species are channel constituents.\n",
     [](const model_state& ms) {
       const nsm_model* nsm = ms.transport.nsm.get();
       if (ms.transport.nutrients == 0 || nsm == nullptr || channel_nutrients(ms)) return false;
       for (int k = 0; k < nsm_species_count; ++k)
         if (nsm->st_init[k].mode != 0 || nsm->st_out[k].on != 0) return true;
       return false;
     }},
    {"Error: TOTAL_CHAN_N, TOTAL_CHAN_KN and TOTAL_CHAN_P need the nutrients carried in the "
     "channels (CHAN_CON_TRANS with CHAN_EXPLIC): the totals add up the channel nodes' "
     "species.\n",
     [](const model_state& ms) {
       return ms.transport.nutrients != 0 && !channel_nutrients(ms) &&
              (ms.cards.total_chan_n_given != 0 || ms.cards.total_chan_kn_given != 0 ||
               ms.cards.total_chan_p_given != 0);
     }},
    // The channel constituents are the overland constituents (or the nutrient species) the
    // plane's water hands to the channels, and they move along the explicit network's links.
    {"Error: CHAN_CON_TRANS needs overland contaminant transport (OV_CON_TRANS or NUTRIENTS): "
     "the channels carry on the constituents the overland water brings them.\n",
     [](const model_state& ms) {
       return ms.cards.chan_con_trans_given != 0 && ms.transport.ov_con_trans == 0 &&
              ms.transport.nutrients == 0;
     }},
    {"Error: CHAN_CON_TRANS needs channel routing (CHAN_EXPLIC): the channel constituents move "
     "along the links of the channel network.\n",
     [](const model_state& ms) {
       return ms.cards.chan_con_trans_given != 0 && ms.channel.chan_explic == 0;
     }},
    {"Error: SOIL_CON_TRANS needs overland contaminant transport (OV_CON_TRANS or NUTRIENTS): "
     "the soil column takes in and gives back the constituents of the overland water.\n",
     [](const model_state& ms) {
       return ms.transport.soil_con_trans != 0 && ms.transport.ov_con_trans == 0 &&
              ms.transport.nutrients == 0;
     }},
    // The bound phase rides on the overland sediment and comes from the soil column's sorbed
    // mass; in a channel network the wash load carries it on with the channel constituents
    // (without them it is lost to the stream); the lakes hold, settle and pass it on with their
    // sediment.
    {"Error: SEDIMENT_CONTAM needs overland erosion (SOIL_EROSION): the bound phase rides on the "
     "overland sediment.\n",
     [](const model_state& ms) {
       return ms.transport.sediment_contam != 0 && ms.transport.sediment.soil_erosion == 0;
     }},
    {"Error: SEDIMENT_CONTAM needs overland and soil contaminant transport (OV_CON_TRANS and "
     "SOIL_CON_TRANS): the bound phase comes from the soil column's sorbed mass and joins the "
     "overland constituents.\n",
     [](const model_state& ms) {
       return ms.transport.sediment_contam != 0 &&
              (ms.transport.ov_con_trans == 0 || ms.transport.soil_con_trans == 0);
     }},
};

}  // namespace

void check_inputs_supported(model_state& ms) {
  for (const card_needing_process& n : cards_needing_processes) {
    if (!n.on(ms)) continue;
    printf("%s", n.message);
    raise_own_message();
    return;
  }
  for (const unsupported_input& u : unsupported_inputs) {
    if (!u.on(ms)) continue;
    printf("Error: %s (the %s card) is not supported by this version.\n", u.what, u.card);
    raise_own_message();
    return;
  }
}

// The groundwater solver's own cards: a relaxation factor outside (0, 2) makes line
// over-relaxation stall or diverge, and a tolerance of 0 or less is never met.
static bool groundwater_solver_can_run(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  if (!ss.gw_simulation) return true;
  if (!(ss.gw_solve_factor > 0.0 && ss.gw_solve_factor < 2.0)) {
    printf(
        "Error: the relaxation factor of the groundwater solver (GW_RELAX_COEFF) is %g; it must "
        "lie above 0 and below 2.\n",
        ss.gw_solve_factor);
    raise_own_message();
    return false;
  }
  if (!(ss.gw_lsor_con > 0.0)) {
    printf(
        "Error: the convergence limit of the groundwater solver (GW_LSOR_CON) is %g m; it must "
        "be above 0.\n",
        ss.gw_lsor_con);
    raise_own_message();
    return false;
  }
  return true;
}

// Constituent cards that act only inside another process: given without it, they would be
// silently ignored, so the run stops naming what the card needs.
static bool constituent_cards_have_their_process(const model_state& ms) {
  const transport_state& tr = ms.transport;
  const project_cards& c = ms.cards;
  const struct {
    bool given;
    const char* message;
  } needs[] = {
      {tr.soil_static_conc != 0 && tr.soil_con_trans == 0,
       "Error: SOIL_STATIC_CONC holds the constituent concentrations of the soil column fixed; it "
       "needs soil constituent transport (SOIL_CON_TRANS), which keeps that column.\n"},
      {tr.contam_map_on != 0 && tr.ov_con_trans == 0,
       "Error: CONTAM_MAP gives the land load of the first overland constituent; it needs "
       "overland contaminant transport (OV_CON_TRANS).\n"},
      {tr.nutrients != 0 && tr.soil_con_trans == 0 &&
           (c.soils_nsm_n != 0 || c.soils_nsm_p != 0 || c.soils_nsm_c != 0),
       "Error: SOILS_NSM_N, SOILS_NSM_P and SOILS_NSM_C fill the nutrient pools of the soil "
       "column; they need soil constituent transport (SOIL_CON_TRANS), which keeps that "
       "column.\n"},
  };
  for (const auto& n : needs) {
    if (!n.given) continue;
    refuse(n.message);
    return false;
  }
  return true;
}

void check_project_options(model_state& ms) {
  if (!grid_and_clock_can_run(ms)) return;
  if (!groundwater_solver_can_run(ms)) return;
  if (!constituent_cards_have_their_process(ms)) return;
  const int code = first_conflict(ms);
  if (code != 0) raise_error(code);
}
