// End-of-run water balances, written by write_run_summary once when a run ends normally: the
// run's final stores, its groundwater and Sacramento checks, "SIMULATION TOTALS" with the
// global and surface balances, the lake and drain balances, then the files finished at the end
// of the run with the VRO hydrograph file among them.
#include "output/run_balances.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "output/contam_summary.h"
#include "output/event_accounting.h"
#include "output/nsm_summary.h"
#include "output/output_steps.h"
#include "output/run_end_files.h"
#include "output/sediment_summary.h"
#include "output/vro_hydrograph.h"
#include "output/water_budget.h"
#include "subsurface/sacramento_steps.h"
#include "subsurface/subsurface_steps.h"

namespace {

bool simple_soil(const subsurface_state& ss) {
  return ss.inf_redist || ss.inf_layered_soil;
}

// Infiltrated water that the soil zones of the simple soil do not hold yet, but which is in the
// soil all the same. The zone account takes infiltration only in long-term runs, at its own
// updates: there the water infiltrated since its last update is still pending. In an event run
// the account takes none, so all the water the run infiltrated is stored over the soil depth.
double infiltration_not_in_zones(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  // Water the wetting front of the redistribution soil handed to VOLP between events has left.
  if (!ms.long_term) return ss.inf_volume_total + ms.output.volp_front_volume;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count && has(ss.inf_depth_longterm, c); ++c)
    sum += ss.inf_depth_longterm[c] * area;
  return sum;
}

// Water in the aquifer over the cells, with what the Richards columns owe it.
double aquifer_store(const model_state& ms) {
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) sum += gw_aquifer_water(ms, c);
  return sum + gw_richards_owed(ms);
}

// Stream-bed and lake-bed seepage waiting for the groundwater step (m3, positive into the
// aquifer).
double seepage_in_transit(const model_state& ms) {
  const raw_array1d<double>& v = ms.groundwater.chan_seepage;
  const raw_array1d<double>& lake = ms.groundwater.lake_seepage;
  const bool lakes = ms.perennial_lakes && ms.channel.lake_loss;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count && has(v, c); ++c) sum -= v[c];
  for (int c = 1; lakes && c <= ms.cell_count && has(lake, c); ++c) sum -= lake[c];
  return sum;
}

// Water of the Richards soil columns: water content x node thickness over nodes 1 to the
// cell's node count - 1.
double richards_store(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    const int nodes = has(ss.numcells, c) ? ss.numcells[c] : 0;
    for (int n = 1; n <= nodes - 1; ++n) {
      if (ss.THETA.empty() || ss.DZ.empty() || c > ss.THETA.row_count() ||
          n > ss.THETA.col_count() || c > ss.DZ.row_count() || n > ss.DZ.col_count())
        break;
      sum += ss.THETA[c][n] * ss.DZ[c][n] / 100.0 * area;
    }
  }
  return sum;
}

// Depth of the simple soil (m) of a cell: the unsaturated depth of the redistribution soil, or
// twice the layer-1 thickness of the cell's soil type for layered soil.
double simple_soil_depth(const subsurface_state& ss, int c) {
  if (!ss.inf_layered_soil) return ss.init_unsat_depth_cm / 100.0;
  const int id = has(ss.soiltype, c) ? ss.soiltype[c] : -1;
  if (id < 0 || id >= max_soil_types) return 0.0;
  return 2.0 * ss.soil_types[id].layer_depth[0] / 100.0;
}

// Water held between the bottom of the simple soil and a water table below it: the depth
// between them times the water content the moving table leaves in the soil.
double soil_above_table(const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const double area = ms.gridsize * ms.gridsize;
  double sum = 0.0;
  for (int c = 1; c <= ms.cell_count; ++c) {
    if (!has(ms.cell_elev, c) || !has(ss.elevgw, c) || !has(ss.gw_inf_redist_theta, c)) continue;
    const double to_table = ms.cell_elev[c] - ss.elevgw[c];
    const double soil = simple_soil_depth(ss, c);
    if (to_table > soil) sum += (to_table - soil) * ss.gw_inf_redist_theta[c] * area;
  }
  return sum;
}

void final_stores(model_state& ms) {
  run_totals& t = ms.output.totals;
  const subsurface_state& ss = ms.subsurface;
  const channel_state& ch = ms.channel;
  const double area = ms.gridsize * ms.gridsize;
  if (ms.perennial_lakes) {
    t.run_vol_lake_final = 0.0;
    for (int lake = 1; lake <= ch.num_lakes && has(ch.lake_volume, lake); ++lake)
      t.run_vol_lake_final += ch.lake_volume[lake];
  }
  // Long-term runs: the direct evaporation the cells took since the last event end.
  if (ms.long_term && (simple_soil(ss) || ss.inf_richards)) {
    for (int c = 1; c <= ms.cell_count && has(ss.et_cum_cell, c); ++c)
      t.run_vol_direct_evap += ss.et_cum_cell[c] / 100.0 * area;
  }
  t.vol_ov_final = 0.0;
  for (int c = 1; c <= ms.cell_count && has(ms.overland.ov_depth, c); ++c) {
    if (ms.perennial_lakes && has(ms.channel.lake_mask, c) && ms.channel.lake_mask[c] > 0) continue;
    t.vol_ov_final += ms.overland.ov_depth[c] * area;
  }
  t.vol_soil_final = 0.0;
  t.run_vol_simple_soil_final = 0.0;
  if (ss.gw_simulation) {
    // Seepage the stream and lake beds passed since the last groundwater step has left the
    // channels and lakes but not yet moved the heads: it is the aquifer's water, taken in as its
    // input.
    const double in_transit = seepage_in_transit(ms);
    t.run_vol_gw_final = aquifer_store(ms) + in_transit;
    t.run_vol_gw_inputs += in_transit;
  }
  if (ss.inf_richards) {
    t.vol_soil_final = richards_store(ms);
  } else if (simple_soil(ss)) {
    for (int c = 1; c <= ms.cell_count && has(ss.soil_water_total, c); ++c) {
      t.run_vol_simple_soil_final += ss.soil_water_total[c] / 100.0 * area;
      t.vol_soil_final += ss.soil_water_total[c] / 100.0 * area;
    }
    const double pending = infiltration_not_in_zones(ms);
    t.run_vol_simple_soil_final += pending;
    t.vol_soil_final += pending;
    // With the saturated groundwater the aquifer's books hold the water kept below the soil.
    if (ss.water_table_on && !ss.gw_simulation) t.vol_soil_final += soil_above_table(ms);
  }
  // The channels' water when the run ends: an event run ends with its event's books; in a
  // long-term run the channels may go on routing (their beds passing water) after the last event
  // has closed its books.
  t.vol_chan_final = !ms.channel.chan_explic ? 0.0
                     : ms.long_term          ? channel_store(ms)
                                             : ms.output.budget.vol_chan_final;
  if (ms.snow_present) {
    t.run_vol_snow_final = 0.0;
    for (int c = 1; c <= ms.cell_count && has(ss.swe, c); ++c)
      t.run_vol_snow_final += ss.swe[c] * area;
  }
  // The overland boundary cells' running totals of the run.
  t.run_vol_slope_out = ms.overland.bdy_normal_out;
  t.run_vol_head_out = ms.overland.bdy_head_out;
  t.run_vol_head_in = ms.overland.bdy_head_in + ms.overland.bdy_flow_in;
  if (ms.overland.boundary_type.count() > 0)
    t.run_vol_bound_net = t.run_vol_slope_out + t.run_vol_head_out - t.run_vol_head_in;
}

// The share of a storage in its capacity, in percent; 0 for a capacity that is not positive.
double percent_of(double storage, double capacity) {
  return capacity > 0.0 ? storage / capacity * 100.0 : 0.0;
}

void sacramento_storages(FILE* fp, double uztwc, double uzfwc, double lztwc, double lzfpc,
                         double lzfsc, const sac_basin_params& p, const char* last_end) {
  fprintf(fp, "uztwc:  %10.3lf mm, %8.2lf%%\n", uztwc, percent_of(uztwc, p.uztwm));
  fprintf(fp, "uzfwc:  %10.3lf mm, %8.2lf%%\n", uzfwc, percent_of(uzfwc, p.uzfwm));
  fprintf(fp, "lztwc:  %10.3lf mm, %8.2lf%%\n", lztwc, percent_of(lztwc, p.lztwm));
  fprintf(fp, "lzfpc:  %10.3lf mm, %8.2lf%%\n", lzfpc, percent_of(lzfpc, p.lzfpm));
  fprintf(fp, "lzfsc:  %10.3lf mm, %8.2lf%%%s", lzfsc, percent_of(lzfsc, p.lzfsm), last_end);
}

// The Sacramento model's own check of its books, then its storages and fluxes as the run's
// soil and groundwater volumes, and the run's overall and surface errors in its sign
// convention (a surplus of outputs is positive).
void sacramento_block(FILE* fp, model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const sac_basin_params& p = ss.sac_params;
  const sac_run_books& b = ss.sac_books;
  run_totals& t = ms.output.totals;
  const double initial = b.uztwc0 + b.uzfwc0 + b.lztwc0 + b.lzfpc0 + b.lzfsc0;
  const double final_total = p.uzfwc + p.uztwc + p.lztwc + p.lzfsc + p.lzfpc;
  if (fp != nullptr) {
    fprintf(fp, "\n\nSimulation summary for the Sacramento Soil Moisture Accounting Model\n");
    fprintf(fp, "as incorporated in the TORVA\n");
    fprintf(fp, "(TORVA) Model.  Internal SAC-SMA mass conservation check.\n\n");
    fprintf(fp, "Initial state variable values:\n");
    sacramento_storages(fp, b.uztwc0, b.uzfwc0, b.lztwc0, b.lzfpc0, b.lzfsc0, p, "\n");
    fprintf(fp, "Final state variable values:\n");
    sacramento_storages(fp, p.uztwc, p.uzfwc, p.lztwc, p.lzfpc, p.lzfsc, p, "\n\n");
    fprintf(fp, "\nMass Balance Information:\n\n");
    fprintf(fp, "Initial subsurface storage(mm):        %10.3lf\n", initial);
    fprintf(fp, "Input rainfall (mm):                   %10.3lf\n", b.rain);
    fprintf(fp, "PET calculated by TORVA (mm):          %10.3lf\n", b.pet);
    fprintf(fp, "AET calculated by Sacramento (mm):     %10.3lf\n", b.aet);
    fprintf(fp, "Subsurface runoff (mm):                %10.3lf\n", b.runoff);
    fprintf(fp, "Recharge to deep g.w. (mm):            %10.3lf\n", b.deep_recharge);
    fprintf(fp, "Final volume of subsurface water (mm): %10.3lf\n", final_total);
    fprintf(fp, "Residual (neg. means mass created (mm):%10.3lf\n",
            initial + b.rain - b.aet - b.runoff - b.deep_recharge - final_total);
    fprintf(fp, "\n");
    fprintf(fp, "Sacramento simulation total residual water balance: %18.16f mm\n", p.residual);
    const double a = ms.gridsize * ms.gridsize * ms.cell_count / 1000.0;
    fprintf(fp, "\nSacramento storages and fluxes expressed as volumes (m^3):\n");
    fprintf(fp, "Initial volume=   %10.1lf\n", initial * a);
    fprintf(fp, "Volume of ET=     %10.1lf\n", b.aet * a);
    fprintf(fp, "Volume of precip= %10.1lf\n", b.rain * a);
    fprintf(fp, "Volume of outflow=%10.1lf\n", b.runoff * a);
    fprintf(fp, "Final volume=     %10.1lf\n", final_total * a);
    fprintf(fp, "Residual=         %10.1lf\n",
            (initial - b.aet + b.rain - b.runoff - final_total) * a);
  }
  const double basin = ss.sac_basin_area / 1000.0;
  t.run_vol_soil_init = (b.lztwc0 + b.uztwc0) * basin;
  t.run_vol_gw_init = (b.lzfsc0 + b.uzfwc0 + b.lzfpc0) * basin;
  t.vol_soil_final = (p.lztwc + p.uztwc) * basin;
  // The water on its way between the cells, the basin and the channel counts with the free
  // water; what the basin gave the channel is its baseflow into the rivers.
  t.run_vol_gw_final = (p.lzfsc + p.uzfwc + p.lzfpc) * basin + sacramento_water_in_transit(ms);
  t.run_vol_evap = b.aet * basin;
  t.run_vol_river_to_gw = b.channel_loss;
  t.run_vol_gw_to_river = ss.sac_vol_delivered;
  t.run_vol_deep_recharge = b.deep_recharge * basin;
  close_sacramento_balances(t);
}

void groundwater_block(FILE* fp, run_totals& t) {
  t.run_gw_error = balance_ratio(t.run_vol_gw_final - t.run_vol_gw_init - t.run_vol_gw_inputs -
                                     t.run_vol_gw_head_flux - t.run_vol_xy_gain +
                                     t.run_vol_xy_loss + t.run_vol_gw_exfil,
                                 t.run_vol_gw_init, 100.0);
  fprintf(fp, "\n \n");
  fprintf(fp, "GROUNDWATER CALCULATIONS \n\n");
  const std::pair<const char*, double> rows[] = {
      {"GW volume start =                ", t.run_vol_gw_init},
      {"GW volume end =                  ", t.run_vol_gw_final},
      {"Sat/unsat. trickery (into gw) =  ", t.run_vol_gw_unsat},
      {"Exfiltration back on overland =  ", t.run_vol_exfiltration},
      {"Recharge to groundwater =        ", t.run_vol_gw_recharge},
      {"Total inputs to groundwater=     ", t.run_vol_gw_inputs},
      {"Flux across head boundaries=     ", t.run_vol_gw_head_flux},
      {"Leakage to deep aquifer+         ", t.run_vol_gw_leakage},
      {"Pumping                          ", t.run_vol_gw_pumping},
      {"To tile drains                   ", t.run_vol_gw_to_tile},
      {"Gain from XY boundaries          ", t.run_vol_xy_gain},
      {"Loss to XY boundaries            ", t.run_vol_xy_loss}};
  for (const auto& [label, value] : rows) fprintf(fp, "%s%14.2lf \n", label, value);
  fprintf(fp, "Mass Balance error =             %14.2lf %%  \n", t.run_gw_error);
  fprintf(fp, "\n");
  fprintf(fp, "If you have any head boundaries \n");
  fprintf(fp, "Mass balance errors are likely due to flux across boundary \n");
  fprintf(fp, "Which is not exactly calculated \n");
}

// One line of the totals: the label padded to 48 characters, the value as "%14.2lf".
void total(FILE* fp, const char* label, double value) {
  fprintf(fp, "%-48s%14.2lf\n", label, value);
}

void totals_block(FILE* fp, const model_state& ms, const run_totals& t) {
  const subsurface_state& ss = ms.subsurface;
  const bool lakes = ms.perennial_lakes != 0;
  const bool pipes = ms.channel.superlink_count > 0;
  const bool sac = ss.sacramento != 0;
  const bool simple = simple_soil(ss) && !ss.gw_simulation;
  fprintf(fp, "\n \n");
  fprintf(fp, "SIMULATION TOTALS");
  fprintf(fp, "\n");
  fprintf(fp, "GLOBAL MASS BALANCE CALCULATIONS \n");
  fprintf(fp, "All volumes are in cubic meters \n \n");
  fprintf(fp, "Initial volume on surface=                      %14.2lf \n", t.run_vol_ov_init);
  fprintf(fp, "Initial volume in channels=                     %14.2lf \n", t.run_vol_chan_init);
  if (simple)
    fprintf(fp, "Initial volume in soil over simple soil depth   %14.2lf \n", t.run_vol_soil_init);
  else
    fprintf(fp, "Initial volume in soils=                        %14.2lf \n", t.run_vol_soil_init);
  fprintf(fp, "Initial volume in groundwater=                  %14.2lf \n", t.run_vol_gw_init);
  if (lakes)
    fprintf(fp, "Initial volume in perennial lakes               %14.2lf \n", t.run_vol_lake_init);
  if (t.run_vol_snow_init > 0.0)
    fprintf(fp, "Initial volume of snow=                         %14.2lf \n", t.run_vol_snow_init);
  fprintf(fp, "\n");
  fprintf(fp, "Final volume on surface=                        %14.2lf\n", t.vol_ov_final);
  if (ms.overland.overland_lake_map)
    fprintf(fp, "Final volume in overland lakes=                 %14.2lf\n",
            t.run_vol_ov_lake_final);
  fprintf(fp, "Final volume in channels=                       %14.2lf\n", t.vol_chan_final);
  if (pipes)
    fprintf(fp, "Final volume in drains=                         %14.2lf\n", t.run_vol_drain_final);
  if (simple)
    fprintf(fp, "Final volume in soil over simple soil depth     %14.2lf\n", t.vol_soil_final);
  else
    fprintf(fp, "Final volume in soils=                          %14.2lf\n", t.vol_soil_final);
  fprintf(fp, "Final volume in groundwater=                    %14.2lf\n", t.run_vol_gw_final);
  fprintf(fp, "Final volume of snow=                           %14.2lf\n", t.run_vol_snow_final);
  if (lakes)
    fprintf(fp, "Final volume in perennial lakes                 %14.2lf\n", t.run_vol_lake_final);
  fprintf(fp, "\n");
  total(fp, "Total amount of precip=", t.run_vol_precip);
  total(fp, "Total amount of interception=", t.run_vol_interception);
  total(fp, "Total amount of infiltration=", t.run_vol_infiltration);
  total(fp, "Total amount of evaporation=", t.run_vol_evap);
  total(fp, "Total direct evaporation=", t.run_vol_direct_evap);
  if (!sac) total(fp, "Total amount of exfiltration=", t.run_vol_exfiltration);
  fprintf(fp, "\n");
  if (!sac && ss.gw_simulation) {
    total(fp, "Total recharge inputs to groundwater=", t.run_vol_gw_recharge);
    total(fp, "Total pumping from groundwater=", t.run_vol_gw_pumping);
  }
  if (!sac) {
    total(fp, "Total downward flux from unsaturated zone=", t.run_vol_downward);
    total(fp, "Total flux of gw across bounds=", t.run_vol_gw_head_flux);
  } else {
    total(fp, "Total recharge to deep g.w.=", t.run_vol_deep_recharge);
  }
  total(fp, "Total overland point sources=", t.run_vol_ov_source);
  if (!ms.overland.ov_pumps.empty()) total(fp, "Total overland pumping=", t.run_vol_ov_pumped);
  fprintf(fp, "%-48s%14.2lf\n\n", "Total channel point sources=", t.run_vol_chan_source);
  // Several events exchanged with VOLP: the soil water its moisture grids gave (or took).
  if (ms.tev && ms.output.volp && ms.output.moist_from_volp && !ms.tev_event_num_given) {
    total(fp, "Soil water exchanged with VOLP=", t.run_vol_volp_soil);
    fprintf(fp, "\n");
  }
  total(fp, "Volume lost to specified slope boundary:", t.run_vol_slope_out);
  total(fp, "Volume lost to specified head boundary:", t.run_vol_head_out);
  total(fp, "Volume gained from specified head boundary:", t.run_vol_head_in);
  fprintf(fp, "\n");
  total(fp, "Total lateral inflow into channels=", t.run_vol_lateral);
  total(fp, "Total amount of discharge=", t.run_vol_discharge);
  if (ms.channel.chan_explic)
    fprintf(fp, "%-48s%14ld\n", "Channel routing sub-steps=", ms.channel.routing_passes);
  if (ms.overland.dry_skip_count > 0)
    fprintf(fp, "%-48s%14d\n", "Dry spells skipped ahead=", ms.overland.dry_skip_count);
  if (ms.channel.stream_loss) {
    total(fp, "Total flux from river to gw=", t.run_vol_river_to_gw);
    if (ss.water_table_on) total(fp, "Total flux from gw to river=", t.run_vol_gw_to_river);
  }
  // The lakes' beds pass water, or the aquifer under them gives its water above the ground.
  if (lakes && (ms.channel.lake_loss || ss.gw_simulation)) {
    total(fp, "Total flux from lakes to gw=", t.run_vol_lake_to_gw);
    total(fp, "Total flux from gw to lakes=", t.run_vol_gw_to_lake);
  }
  if (lakes) {
    fprintf(fp, "\n");
    total(fp, "Volume precip to lakes=", t.run_vol_precip_lake);
    total(fp, "Volume of flow into lakes=", t.run_vol_into_lakes);
    total(fp, "Volume of flow from lakes=", t.run_vol_from_lakes);
    total(fp, "Volume of lake evap=", t.run_vol_lake_evap);
    if (!ms.channel.lake_pumps.empty()) total(fp, "Volume of lake pumping=", t.run_vol_lake_pumped);
  }
  if (pipes) {
    fprintf(fp, "\n");
    total(fp, "Volume of overland to subsurface drains", t.run_vol_ov_to_drain);
    total(fp, "Volume of subsurface drains to overland", t.run_vol_drain_to_ov);
    total(fp, "Volume of subsurface drains to channels", t.run_vol_drain_to_chan);
    total(fp, "Volume of groundwater to tile drains", t.run_vol_gw_to_tile);
    total(fp, "Initial volume in subsurface drains", t.run_vol_drain_init);
    total(fp, "Volume of subsurface drains out of the system", t.run_vol_drain_lost);
    total(fp, "Volume added by the drains' least depths", t.run_vol_drain_made);
  }
  if (t.run_vol_xy_gain != 0.0 || t.run_vol_xy_loss != 0.0) {
    fprintf(fp, "\n");
    total(fp, "Volume gained from XY boundaries", t.run_vol_xy_gain);
    total(fp, "Volume lost to XY boundaries", t.run_vol_xy_loss);
  }
  fprintf(fp, "\n");
  fprintf(fp, "Mass balance error of surface components =              %10.6lf percent\n\n",
          t.run_surface_error);
  if (sac) {
    fprintf(fp, "Overall mass balance error =                    %10.6lf percent\n \n",
            t.run_overall_error);
    fprintf(fp, "*overall mass balance error will not be zero when using the Sacramento\n");
    fprintf(fp, "model because of errors associated with interpolating hourly outflows to\n");
    fprintf(fp, "the channel routing time step, which is generally much less than one\n");
    fprintf(fp, "hour.  However, this error should be less than one percent, except for\n");
    fprintf(fp, "simulations of very short events (only a few hours long).\n \n");
  } else {
    fprintf(fp, "Overall mass balance error =                        %14.6lf percent\n \n",
            t.run_overall_error);
  }
  if (simple_soil(ss))
    fprintf(fp, "Simple soil moisture mass balance =             %19.6lf percent \n\n",
            t.run_simple_soil_error);
}

void lake_and_drain_balances(FILE* fp, const model_state& ms, const run_totals& t) {
  if (ms.overland.overland_lake_map) {
    fprintf(fp, "Volume of flow into overland lakes:             %14.2lf\n",
            t.run_vol_into_ov_lakes);
    fprintf(fp, "Volume of flow from overland lakes:             %14.2lf\n",
            t.run_vol_from_ov_lakes);
    fprintf(fp, "Volume of evaporation from lakes:               %14.2lf\n",
            t.run_vol_ov_lake_evap);
    fprintf(fp, "Overland lake mass bal error m^3:               %14.2lf\n\n",
            t.run_vol_ov_lake_init + t.run_vol_into_ov_lakes - t.run_vol_ov_lake_final -
                t.run_vol_from_ov_lakes);
  }
  if (ms.perennial_lakes)
    fprintf(fp, "Perennial lake mass bal error m^3=              %14.2lf\n\n",
            t.run_vol_into_lakes + t.run_vol_precip_lake - t.run_vol_from_lakes -
                t.run_vol_lake_final + t.run_vol_lake_init - t.run_vol_lake_evap -
                t.run_vol_lake_pumped);
  if (ms.channel.superlink_count > 0)
    fprintf(fp, "Subsurface drain mass bal error m^3=            %14.2lf\n\n",
            t.run_vol_drain_init + t.run_vol_drain_made + t.run_vol_ov_to_drain +
                t.run_vol_gw_to_tile - t.run_vol_drain_to_ov - t.run_vol_drain_to_chan -
                t.run_vol_drain_lost - t.run_vol_drain_final);
}

void write_vro_file(model_state& ms) {
  if (!ms.output.vro_hydro || ms.input.names.vro_hydro[0] == '\0') return;
  file_handle& written = ms.channel.outlet_hydro_file;
  // The outlet hydrograph is closed first so that every line of it is read back.
  std::string outlet_name = written.path;
  if (written.is_open()) file_handle_close(written);
  file_handle outlet;
  file_handle locations;
  file_handle vro;
  const bool with_locations = ms.output.hyd_location_on && ms.channel.hyd_location_count > 0;
  std::string location_name = ms.input.out_hyd_location_file.path;
  if (with_locations && ms.input.out_hyd_location_file.is_open())
    file_handle_close(ms.input.out_hyd_location_file);
  const bool opened =
      !outlet_name.empty() && file_handle_open(outlet, outlet_name.c_str(), "r") &&
      (!with_locations ||
       (!location_name.empty() && file_handle_open(locations, location_name.c_str(), "r")));
  if (!opened || !file_handle_open(vro, ms.input.names.vro_hydro, "w")) {
    printf("\n\nError: Unable to open files to write the VRO hydrograph file.\n Write aborted.\n");
    file_handle_close(outlet);
    file_handle_close(locations);
    return;
  }
  std::vector<std::string> lines;
  if (with_locations) {
    for (int k = 1; k <= ms.channel.hyd_location_count; ++k)
      lines.push_back(std::to_string(has(ms.channel.hlink, k) ? ms.channel.hlink[k] : 0) + " " +
                      std::to_string(has(ms.channel.hnode, k) ? ms.channel.hnode[k] : 0));
  }
  const int date = ms.hmet_start_jday > 0.0 && ms.long_term ? ms.start_yyyymmdd : 0;
  const int time = ms.hmet_start_jday > 0.0 && ms.long_term ? ms.start_hhmm : 0;
  write_vro_hydrograph(outlet, vro, with_locations ? &locations : nullptr, lines, date, time,
                       ms.hyd_freq_steps, ms.output.hydro_line_count);
  file_handle_close(outlet);
  file_handle_close(locations);
  file_handle_close(vro);
}

// A run whose books do not close ends with a warning on the console and leaves the fact in the
// error state, from which the program's exit status tells scripts and calibrations.
void report_unclosed_books(const run_totals& t) {
  if (!run_books_fail(t)) return;
  run_error.error_balance = 1;
  const final_store below = store_below_empty(t);
  if (below.where != nullptr)
    printf(
        "\nWarning: the run ends with %.2lf m3 of water %s, below empty: the run made that water "
        "and its books count it as a store.\n",
        below.volume, below.where);
  if (!(std::fabs(t.run_overall_error) <= max_overall_error_percent))
    printf(
        "\nWarning: the overall mass balance error of the run is %.6lf percent, beyond %.1lf "
        "percent: the run made or lost water that its books do not hold.\n",
        t.run_overall_error, max_overall_error_percent);
  fflush(stdout);
}

}  // namespace

void gather_run_totals(model_state& ms) {
  run_totals& t = ms.output.totals;
  const overland_state& ov = ms.overland;
  const subsurface_state& ss = ms.subsurface;
  t.run_vol_ov_init = ms.ov_vol_initial;
  t.run_vol_soil_init = ms.soil_vol_initial;
  // With a simple soil the run-start soil water is the water over the simple soil depth.
  if (simple_soil(ss)) t.run_vol_simple_soil_init = ms.soil_vol_initial;
  t.run_vol_gw_init = ms.gw_vol_initial;
  t.run_vol_snow_init = ms.weather.snow_vol_initial;
  t.run_vol_volp_soil = ms.output.volp_soil_volume;
  // Long-term runs: the evapotranspiration the soil account took from surface water and soil.
  if (ms.long_term && simple_soil(ss)) t.run_vol_evap = ss.soil_account.et_volume_total;
  // The Richards columns: what they gave the weather from surface water and root zone.
  if (ms.long_term && ss.inf_richards) t.run_vol_evap = ss.evap_total;
  t.run_vol_precip = ov.total_precip_volume;
  t.run_vol_interception = ov.interception_volume;
  t.run_vol_infiltration = ss.inf_volume_total;
  t.run_vol_exfiltration = ss.exfil_volume;
  t.run_vol_ov_source = ov.ov_point_volume_total;
  t.run_vol_ov_pumped = ov.ov_pump_volume_total;
  t.run_vol_lake_pumped = ms.channel.lake_pump_volume_total;
  if (!ms.channel.chan_explic) t.run_vol_discharge = ov.ov_out_volume;
  t.run_vol_precip_lake = ov.lake_precip_volume;
  // The water that drained below the soil over the run, net of what evapotranspiration drew
  // back from the table, as the soil steps keep it per cell.
  if (!ss.recharge_cum.empty()) {
    const double area = ms.gridsize * ms.gridsize;
    t.run_vol_downward = 0.0;
    for (int c = 1; c <= ms.cell_count && has(ss.recharge_cum, c); ++c)
      t.run_vol_downward += ss.recharge_cum[c] / 100.0 * area;
  }
  // Channel lakes: their water at start-up and their evaporation over the run.
  if (ms.perennial_lakes) {
    const channel_state& ch = ms.channel;
    t.run_vol_lake_init = ch.lake_vol_start;
    t.run_vol_lake_evap = 0.0;
    for (int lake = 1; lake <= ch.num_lakes && has(ch.cumulative_lake_evap, lake); ++lake)
      t.run_vol_lake_evap += ch.cumulative_lake_evap[lake];
  }
  // Overland lakes: their water at the start, what the lake steps took in (with the water of
  // the cells they flooded) and what they gave out (with the water spilled over their rims).
  if (ov.overland_lake_map) {
    t.run_vol_ov_lake_init = ms.lake_vol_initial;
    t.run_vol_into_ov_lakes = ov.olake_volume_in;
    t.run_vol_from_ov_lakes = ov.olake_books.olake_volume_out;
  }
}

void close_run_balances(run_totals& t, bool saturated_gw, bool plain_green_ampt,
                        bool simple_soil_on) {
  // The water of overland lakes is surface water of the run at its start and its end.
  t.run_total_init = t.run_vol_chan_init + t.run_vol_ov_init + t.run_vol_soil_init +
                     t.run_vol_gw_init + t.run_vol_lake_init + t.run_vol_ov_lake_init +
                     t.run_vol_snow_init + t.run_vol_drain_init;
  t.run_total_final = t.vol_chan_final + t.vol_ov_final + t.vol_soil_final + t.run_vol_gw_final +
                      t.run_vol_snow_final + t.run_vol_lake_final + t.run_vol_drain_final +
                      t.run_vol_ov_lake_final;
  // Every way water enters the run: rain, point sources on the overland and in the channels,
  // stage and inflow boundary cells (and XY depth points), the aquifer's head and XY boundaries,
  // groundwater into the lakes. Every way it leaves: the outlet, evaporation, normal-depth and
  // stage boundary cells, the aquifer's XY boundaries, the lakes' seepage and evaporation. The
  // boundary cells count on both sides rather than as a net, so that water a boundary brings in
  // is water the error is measured against.
  double inputs = t.run_vol_precip + t.run_vol_gw_head_flux + t.run_vol_ov_source +
                  t.run_vol_chan_source + t.run_vol_head_in + t.run_vol_xy_gain +
                  t.run_vol_drain_made + t.run_vol_volp_soil;
  double outputs = t.run_vol_discharge + t.run_vol_evap + t.run_vol_slope_out + t.run_vol_head_out +
                   t.run_vol_xy_loss + t.run_vol_lake_evap + t.run_vol_ov_pumped +
                   t.run_vol_drain_lost + t.run_vol_lake_pumped;
  // The lakes' beds pass water to and from a simulated aquifer, whose storage is one of the
  // run's stores; without one it leaves the run's stores (or comes from a table they do not
  // hold).
  if (!saturated_gw) {
    inputs += t.run_vol_gw_to_lake;
    outputs += t.run_vol_lake_to_gw;
    // What a fixed water table above the ground pushed onto the surface came from a table the
    // run's stores do not hold (net of what it took back).
    inputs += t.run_vol_exfiltration;
  }
  if (saturated_gw) {
    outputs +=
        t.run_vol_downward - t.run_vol_gw_recharge + t.run_vol_gw_leakage + t.run_vol_gw_pumping;
    // Single-layer Green and Ampt keeps the water it takes in and gives the aquifer none: it
    // leaves the run's stores as infiltration, as it does without the aquifer.
    if (plain_green_ampt) outputs += t.run_vol_infiltration;
  } else {
    outputs +=
        (plain_green_ampt ? t.run_vol_infiltration : t.run_vol_downward) + t.run_vol_river_to_gw;
    inputs += t.run_vol_gw_to_river;
  }
  const double in = t.run_total_init + inputs;
  t.run_water_in = in;
  t.run_overall_error = balance_ratio(in - (t.run_total_final + outputs), in, 100.0);

  // The surface's own books, with the boundary cells on both sides as above.
  const double s = t.run_vol_precip + t.run_vol_gw_to_river + t.run_vol_gw_to_lake +
                   t.run_vol_exfiltration + t.run_vol_ov_source + t.run_vol_chan_source +
                   t.run_vol_drain_to_chan + t.run_vol_drain_to_ov + t.run_vol_head_in;
  const double f = t.vol_chan_final + t.run_vol_snow_final + t.vol_ov_final + t.run_vol_lake_final +
                   t.run_vol_ov_lake_final;
  const double o = t.run_vol_lake_to_gw + t.run_vol_river_to_gw + t.run_vol_direct_evap +
                   t.run_vol_discharge + t.run_vol_infiltration + t.run_vol_slope_out +
                   t.run_vol_head_out + t.run_vol_lake_evap + t.run_vol_ov_to_drain +
                   t.run_vol_ov_pumped + t.run_vol_lake_pumped;
  t.run_surface_error =
      s > 0.0 ? balance_ratio(t.run_vol_lake_init + t.run_vol_chan_init + t.run_vol_ov_init +
                                  t.run_vol_ov_lake_init + t.run_vol_snow_init + s - (o + f),
                              f + s, 100.0)
              : 0.0;
  t.run_simple_soil_error =
      simple_soil_on && t.run_vol_soil_init > 0.0
          ? balance_ratio(t.run_vol_infiltration + t.run_vol_volp_soil +
                              t.run_vol_simple_soil_init - t.run_vol_simple_soil_final -
                              (t.run_vol_evap - t.run_vol_direct_evap - t.run_vol_soil_et) -
                              t.run_vol_downward,
                          t.run_vol_infiltration + t.run_vol_soil_init, 100.0)
          : 0.0;
}

final_store store_below_empty(const run_totals& t) {
  // Depths cleaned to zero leave stores a little below empty from round-off only.
  const double tolerance =
      std::fmax(max_overall_error_percent / 100.0 * std::fabs(t.run_water_in), 1e-6);
  const final_store stores[] = {
      {"on the surface", t.vol_ov_final},    {"in the overland lakes", t.run_vol_ov_lake_final},
      {"in the channels", t.vol_chan_final}, {"in the drains", t.run_vol_drain_final},
      {"in the soils", t.vol_soil_final},    {"in the groundwater", t.run_vol_gw_final},
      {"as snow", t.run_vol_snow_final},     {"in the perennial lakes", t.run_vol_lake_final}};
  for (const final_store& s : stores)
    if (s.volume < -tolerance) return s;
  return {nullptr, 0.0};
}

bool run_books_fail(const run_totals& t) {
  return !(std::fabs(t.run_overall_error) <= max_overall_error_percent) ||
         store_below_empty(t).where != nullptr;
}

void close_sacramento_balances(run_totals& t) {
  t.run_total_init = t.run_vol_chan_init + t.run_vol_ov_init + t.run_vol_soil_init +
                     t.run_vol_gw_init + t.run_vol_lake_init + t.run_vol_snow_init;
  t.run_total_final = t.vol_chan_final + t.vol_ov_final + t.vol_soil_final + t.run_vol_gw_final +
                      t.run_vol_snow_final + t.run_vol_lake_final;
  // The overland boundary cells count on both sides, as in the balances without the model.
  const double boundary_in = t.run_vol_head_in;
  const double boundary_out = t.run_vol_slope_out + t.run_vol_head_out;
  t.run_water_in = t.run_vol_precip + t.run_total_init + boundary_in;
  t.run_overall_error =
      balance_ratio(t.run_total_final - t.run_total_init - t.run_vol_precip + t.run_vol_evap +
                        t.run_vol_discharge - t.run_vol_gw_head_flux - t.run_vol_ov_source -
                        t.run_vol_xy_gain + t.run_vol_xy_loss - boundary_in + boundary_out +
                        t.run_vol_ov_pumped + t.run_vol_lake_pumped,
                    t.run_water_in, 100.0);
  t.run_surface_error = balance_ratio(
      t.run_vol_precip + t.run_vol_ov_init + t.run_vol_chan_init +
          (t.run_vol_gw_to_river - t.run_vol_river_to_gw) + t.run_vol_ov_source + boundary_in -
          (t.run_vol_discharge + t.run_vol_direct_evap + t.run_vol_infiltration + t.vol_chan_final +
           t.run_vol_snow_final + t.vol_ov_final + boundary_out + t.run_vol_ov_pumped +
           t.run_vol_lake_pumped),
      // Over everything the surface received: the basin's baseflow into the rivers too, so
      // that a run fed mostly by the basin is not judged against a little rain.
      t.run_vol_precip + boundary_in + t.run_vol_gw_to_river, 100.0);
}

void write_run_summary(model_state& ms) {
  FILE* fp = ms.output.summary_file.fp;
  run_totals& t = ms.output.totals;
  const subsurface_state& ss = ms.subsurface;
  gather_run_totals(ms);
  close_lake_constituents(ms, true);
  final_stores(ms);
  close_channel_constituents(ms, !ms.perennial_lakes);
  if (fp != nullptr && ss.gw_simulation) groundwater_block(fp, t);
  close_run_balances(t, ss.gw_simulation != 0, ss.green_ampt && !ss.inf_redist, simple_soil(ss));
  if (ss.sacramento) sacramento_block(fp, ms);
  if (fp != nullptr) {
    totals_block(fp, ms, t);
    lake_and_drain_balances(fp, ms, t);
    write_overland_sediment_summary(fp, ms, false);
    write_channel_sediment_summary(fp, ms);
    write_constituent_run_summary(fp, ms);
    write_nsm_run_summary(fp, ms);
    fflush(fp);
  }
  if (!write_new_bed_elevations(ms)) return;
  if (!write_run_end_maps(ms)) return;
  write_vro_file(ms);
  write_run_end_hotstarts(ms);
  // The reservoir model's inflow table is complete.
  if (r7_inflow_file.fp != nullptr) file_handle_close(r7_inflow_file);
  report_unclosed_books(t);
}
