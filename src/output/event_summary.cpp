// The event runoff summary, written by finish_event_balance once the event's books are closed:
// how the event ran, its peak, every term of its water budget, its balance error, the Richards
// and groundwater blocks, its warnings and the inputs, processes and outputs of the run.
#include "output/event_summary.h"

#include <cmath>
#include <cstring>
#include <string>

#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "output/lake_contam_event_summary.h"
#include "output/nsm_summary.h"
#include "output/sediment_summary.h"

void summary_print_line(FILE* fp, const char* label, double value, int column, char fill, int point,
                        const char* format, int extra_newlines) {
  if (fp == nullptr) return;
  char text[128];
  snprintf(text, sizeof text, format, value);
  const char* dot = strchr(text, '.');
  const int d = dot != nullptr ? static_cast<int>(dot - text) : static_cast<int>(strlen(text));
  const int label_len = static_cast<int>(strlen(label));
  fprintf(fp, "%s ", label);
  for (int i = label_len + 1; i < column; ++i) fputc(fill, fp);
  const int blanks = (point - d > 0 ? point - d : 0) + 1;
  for (int i = 0; i < blanks; ++i) fputc(' ', fp);
  fputs(text, fp);
  for (int i = 0; i <= extra_newlines; ++i) fputc('\n', fp);
}

namespace {

void line(FILE* fp, const char* label, double value) {
  fprintf(fp, "%s%9.1lf\n", label, value);
}

void header(FILE* fp, const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double seconds = 0.0;
  date_from_julian(ms.event_start_time, year, month, day, hour, minute, seconds);
  if (!ms.long_term) {
    fprintf(fp, "         TORVA EVENT RUNOFF SIMULATION SUMMARY\n");
    fprintf(fp, "            Event began on %2.2d/%2.2d/%4.4d at %2.2d:%2.2d\n", month, day, year,
            hour, minute);
    return;
  }
  fprintf(fp, "       TORVA LONG-TERM RUNOFF SIMULATION SUMMARY- EVENT %ld\n",
          static_cast<long>(ms.event_number));
  fprintf(fp, "Event began on strict Julian date:                    %16.8lf\n",
          ms.event_start_time);
  fprintf(fp, "Event ended on strict Julian date:                    %16.8lf\n", ms.current_time);
  fprintf(fp, "Event began on %2.2ld/%2.2ld/%4.4ld at %2.2ld:%2.2ld  GMT %3.1f hours.\n\n",
          static_cast<long>(month), static_cast<long>(day), static_cast<long>(year),
          static_cast<long>(hour), static_cast<long>(minute), ms.gmt_offset);
  if (ss.hmet_samson) {
    // The station's name is the header text up to its first character that is not a capital.
    std::string station;
    for (const char* p = ss.hmet_station; *p >= 'A' && *p <= 'Z'; ++p) station.push_back(*p);
    fprintf(fp, "TORVA used NCDC/SAMSON hydrometeorological data from the %s station\n",
            station.c_str());
  }
  if (ss.hmet_surfaways) fprintf(fp, "TORVA used NCDC/Surface Airways hydrometeorological data.\n");
  fprintf(fp, "Hydrometeorology data began on: %2.2d/%2.2d/%4d at %2d:00\n", ms.hmet_first_date[1],
          ms.hmet_first_date[2], ms.hmet_first_date[0], ms.hmet_first_date[3]);
  fprintf(fp, "and ended on:                   %2.2d/%2.2d/%4d at %2d:00\n", ms.hmet_last_date[1],
          ms.hmet_last_date[2], ms.hmet_last_date[0], ms.hmet_last_date[3]);
  fprintf(fp, "The following number of hydromet. data points were repaired:%d\n",
          ss.hmet_repair_count);
  if (ss.et_penman) fprintf(fp, "Penman-Montieth evapotranspiration was calculated.\n");
  if (ss.et_deardorff) fprintf(fp, "Deardorff bare-soil evaporation was calculated.\n");
  if (ss.sacramento) fprintf(fp, "Sacramento soil moisture accounting was used.\n");
  fprintf(fp, "\n");
}

void rainfall_lines(FILE* fp, const model_state& ms) {
  const overland_state& ov = ms.overland;
  if (ov.uniform_rain)
    fprintf(fp, "   With uniform rainfall of %6.1lf mm/h for %6.1lf minutes.\n\n",
            ov.rain_intensity, ov.rain_duration);
  if (ov.precip_gages || ov.precip_rates || ov.precip_accum) fprintf(fp, "With raingage data ");
  if (ov.precip_radar) fprintf(fp, "With radar-rainfall estimates ");
  if (ov.precip_file_on && ov.rain_inv_distance)
    fprintf(fp, "using inverse-distance squared interpolation.\n\n");
  if (ov.precip_file_on && ov.rain_thiessen)
    fprintf(fp, "using Thiessen polygon interpolation.\n\n");
}

void budget_lines(FILE* fp, const model_state& ms) {
  const event_budget& b = ms.output.budget;
  const bool chan = ms.channel.chan_explic != 0;
  const bool lakes = ms.perennial_lakes != 0;
  const bool pipes = ms.channel.superlink_count > 0;
  const bool sac = ms.subsurface.sacramento != 0;
  const subsurface_state& ss = ms.subsurface;
  fprintf(fp, "Note: all volumes in cubic meters.\n");
  if (lakes) line(fp, "initial volume in lakes               ", b.event_vol_lake_init);
  line(fp, "initial volume of overland flow:      ", b.event_vol_ov_init);
  if (chan) line(fp, "initial volume in channels:           ", b.event_vol_chan_init);
  if (pipes)
    fprintf(fp, "initial volume in sub-surface drains: %9.1lf\n \n", b.event_vol_drain_init);
  fprintf(fp, "initial liquid-equiv. volume of snow: %9.1lf\n \n", b.event_vol_snow_init);
  line(fp, "volume of rainfall to overland:      ", b.event_vol_rain + b.event_vol_interception);
  line(fp, "volume of interception:              ", b.event_vol_interception);
  if (sac) {
    line(fp, "volume of base flow from Sacramento:   ", b.event_vol_sac_baseflow);
    fprintf(fp, "volume of subsurface at event start:   %11.1lf\n", b.event_vol_sac_init);
    fprintf(fp, "volume of subsurface at event end:     %11.1lf\n", b.event_vol_sac_final);
    line(fp, "volume of et removed water:            ", b.event_vol_direct_evap);
    line(fp, "volume of infil water SAC recieves:    ", b.event_vol_sac_infil);
  }
  line(fp, "volume of direct evaporation:        ", b.event_vol_direct_evap);
  line(fp, "volume of infiltrated water:         ", b.event_vol_infiltrated);
  line(fp, "volume of water exfiltrated:         ", b.event_vol_exfiltrated);
  line(fp, "volume of discharge:                 ", b.event_vol_discharge);
  if (ss.inf_redist || ss.inf_layered_soil)
    line(fp, "volume of groundwater recharge:      ", b.event_vol_gw_recharge);
  if (chan) {
    line(fp, "volume of lateral inflow:            ",
         ms.output.totals.run_vol_lateral - b.start_lateral);
    if (ms.channel.stream_loss && !sac) {
      line(fp, "volume of gw to chan:                ", b.event_vol_gw_to_chan);
      line(fp, "volume of water from chan to gw:     ", b.event_vol_chan_to_gw);
    }
    if (lakes) {
      line(fp, "volume precip to lake:               ", b.event_vol_precip_lake);
      line(fp, "volume overland to lake:             ", b.event_vol_ov_to_lake);
      line(fp, "volume overland from lake:           ", b.event_vol_ov_from_lake);
    }
    if (lakes && (ms.channel.lake_loss || ms.subsurface.gw_simulation)) {
      line(fp, "volume of gw to lakes:               ", b.event_vol_gw_to_lake);
      line(fp, "volume of water from lakes to gw:    ", b.event_vol_lake_to_gw);
    }
    line(fp, "volume of stream point sources:      ", b.event_vol_stream_source);
    line(fp, "volume of stream point sinks:        ", b.event_vol_stream_sink);
    line(fp, "volume of lake point sources:        ", b.event_vol_lake_source);
    line(fp, "volume of lake point sinks:          ", b.event_vol_lake_sink);
    line(fp, "volume of lake evaporation:          ", b.event_vol_lake_evap);
    if (!ms.channel.lake_pumps.empty())
      line(fp, "volume taken by lake pumps:          ", b.event_vol_lake_pumped);
  }
  if (ms.long_term && ss.inf_richards)
    line(fp, "volume of total evaporation:         ", b.event_vol_total_evap);
  line(fp, "volume from overland point sources:  ", b.event_vol_ov_source);
  if (!ms.overland.ov_pumps.empty())
    line(fp, "volume taken by overland pumps:      ", b.event_vol_ov_pumped);
  if (pipes) {
    line(fp, "overland inputs to superlink:        ", b.event_vol_ov_to_drain);
    line(fp, "volume of superlink to overland:     ", b.event_vol_drain_to_ov);
    if (chan) line(fp, "volume of superlink to channels:     ", b.event_vol_drain_to_chan);
    if (ms.channel.superlink_leaky)
      line(fp, "volume of gw to tile drains:         ", b.event_vol_gw_to_tile);
  }
  fprintf(fp, "\n");
  if (lakes) line(fp, "volume remaining in lakes            ", b.event_vol_lake_final);
  line(fp, "volume remaining on surface:         ", b.vol_ov_final);
  if (chan) line(fp, "final volume in channels (cu. m):    ", b.vol_chan_final);
  if (pipes) line(fp, "volume remaining in drains:          ", b.event_vol_drain_final);
  fprintf(fp, "final volume of snow (cu. m):        %9.1lf\n \n", b.event_vol_snow_final);
  if (b.event_vol_snow_final > 0.0)
    fprintf(fp, "********WARNING - YOU HAVE SNOW ACCUMULATION !!!!!!!!!!!!!!!!\n");
}

void balance_lines(FILE* fp, const model_state& ms) {
  const event_budget& b = ms.output.budget;
  fprintf(fp, "mass conservation error:             %9.6lf percent\n",
          b.event_balance_error * 100.0);
  if (b.event_balance_error < 0.0 && b.event_balance_error != -1.0)
    fprintf(fp, "Note: negative mass conservation error indicates mass was gained.\n");
  else
    fprintf(fp, "Note: positive mass conservation error indicates mass was created.\n");
  fprintf(fp, "Mass input + original mass:           %9.6lf m3\n", b.event_mass_in);
  fprintf(fp, "Mass output + final mass:             %9.6lf m3\n", b.event_mass_out);
  fprintf(fp, "mass cleanup error from overland:     %9.6lf m3\n", b.event_ov_cleanup_error);
  fprintf(fp, "\n");
  if (ms.long_term)
    fprintf(fp, "final basin-averaged soil water content: %5.2lf percent\n",
            b.basin_theta_final * 100.0);
  if (b.event_balance_error == -1.0) fprintf(fp, "Note: no rainfall was input.\n");
}

void richards_and_groundwater(FILE* fp, const model_state& ms) {
  const event_budget& b = ms.output.budget;
  const subsurface_state& ss = ms.subsurface;
  if (ss.inf_richards) {
    fprintf(fp, "\n \n Richard's EQ. Computations \n \n");
    fprintf(fp, "volume lost due to dir. evap (cu. m):  %9.1lf\n", b.event_vol_direct_evap);
    fprintf(fp, "net vol infiltrated to soil (cu. m.):  %9.1lf\n", b.event_vol_richards_net);
    fprintf(fp, "vol groundwater recharge (cu. m):      %9.1lf\n", b.event_vol_gw_recharge);
    fprintf(fp, "Initial volume in soils (cu. m.):      %9.1lf\n", b.event_vol_soil_init);
    fprintf(fp, "Final volume in soils (cu. m.):        %9.1lf\n", b.vol_soil_final);
    // Several events exchanged with VOLP: the water its moisture gave the columns at the end.
    if (ms.tev && ms.output.volp && ms.output.moist_from_volp && !ms.tev_event_num_given)
      fprintf(fp, "vol exchanged with VOLP (cu. m.):      %9.1lf\n", b.event_vol_volp_soil);
    fprintf(fp, "Richard equation mass balance error         %5.4lf percent\n",
            b.event_richards_error);
    fprintf(fp, "Number of cells at start of event   %12d\n", b.soil_nodes_start);
    fprintf(fp, "Number of cells at end of event     %12d\n", b.soil_nodes_end);
    fprintf(fp, "net volume of infiltration is infiltration minus evaporation\n");
  }
  if (!ss.gw_simulation) return;
  fprintf(fp, "\n \n GROUNDWATER CALCULATION SUMMARIES FOR EVENT \n \n");
  line(fp,
       "volume of water directly to surface from groundwater (cu. m): ", b.event_vol_exfiltrated);
  line(fp, "beginning vol of water exfiltrated this event (cu. m):        ", b.start_exfiltration);
  // The run's exfiltration so far: the run totals take it only when the run ends.
  line(fp, "total vol of water exfiltrated this run (cu. m):              ", ss.exfil_volume);
  line(fp,
       "vol from gw to unsat this event, w/o recharge (cu. m):        ", b.event_vol_gw_to_unsat);
  line(fp,
       "vol groundwater recharge (cu. m):                             ", b.event_vol_gw_recharge);
  if (ms.channel.chan_explic) {
    line(fp,
         "vol from gw to chan  this event (cu. m):                      ", b.event_vol_gw_to_chan);
    line(fp,
         "vol from chan to gw  this event (cu. m):                      ", b.event_vol_chan_to_gw);
    if (ms.perennial_lakes) {
      line(fp, "vol from gw to lakes this event (cu. m):                      ",
           b.event_vol_gw_to_lake);
      line(fp, "vol from lakes to gw this event (cu. m):                      ",
           b.event_vol_lake_to_gw);
    }
  }
  if (ms.channel.superlink_count > 0)
    line(fp,
         "vol gw to tile dtrains (cu. m):                               ", b.event_vol_gw_to_tile);
  if (ms.cards.xy_input.num_gwpts > 0) {
    line(fp,
         "vol gain for gw from XY boundaries:                           ", b.event_vol_xy_gw_gain);
    line(fp,
         "vol loss for gw from XY boundaries:                           ", b.event_vol_xy_gw_loss);
  }
  fprintf(fp, "\n");
}

void warning_lines(FILE* fp, const model_state& ms) {
  const event_budget& b = ms.output.budget;
  const bool surface = b.vol_ov_final > 0.05 * b.event_vol_rain;
  const bool lookup = ms.output.chan_xsec_overflow != 0;
  const bool balance = std::abs(b.event_balance_error * 100.0) > 2.0;
  fprintf(fp, "THE FOLLOWING WARNINGS ARE GIVEN:\n");
  if (balance) {
    fprintf(fp,
            "-Mass conservation error (absolute) is larger than typical values (<2 percent).\n");
    fprintf(fp, " This indicates a problem with your data set, or that you are using the model\n");
    fprintf(fp, " to simulate an extreme event which violates one or more assumptions made\n");
    fprintf(fp, " in the development of TORVA.  You should first check for errors in the\n");
    fprintf(fp, " channel inputs, including cross-sectional data.  A decrease in the model\n");
    fprintf(fp, " time step may also help alleviate this problem.\n\n");
  }
  if (lookup) {
    fprintf(fp, "-Depths exceeded the range of look-up table X-section data.\n");
    fprintf(fp, " This is usually a source of error, particularly near hydrograph peaks.\n");
  }
  if (!surface && !lookup && !balance) fprintf(fp, "No Warnings.\n");
}

void run_description(FILE* fp, const model_state& ms) {
  const subsurface_state& ss = ms.subsurface;
  const output_state& out = ms.output;
  fprintf(fp, "\n THE FOLLOWING INPUTS WERE READ:\n");
  fprintf(fp, "A VRO Project File was used.\n");
  if (ms.float_grass_maps) fprintf(fp, "Floating point GRASS maps were read.\n");
  if (ms.channel.hyd_location_count > 0)
    fprintf(fp, "Locations where discharge hydrographs are to be written.\n");
  if (out.gwflux_location_on) fprintf(fp, "Point stream/groundwater fluxes were written.\n");

  fprintf(fp, "\n THE FOLLOWING PROCESSES WERE SIMULATED:\n");
  if (ms.channel.chan_explic) fprintf(fp, "Explicit diffusive-wave channel routing.\n");
  if (ms.channel.chan_drain_init)
    fprintf(fp, "This was a channel initialation run using the DRAIN method.\n");
  const overland_state& ov = ms.overland;
  if (ov.interception_on) fprintf(fp, "Interception losses.\n");
  if (ov.roughness_on) fprintf(fp, "Distributed overland roughness.\n");
  if (ov.manning_n_on) fprintf(fp, "Uniform overland roughness.\n");
  if (ss.moisture_on) fprintf(fp, "Distributed initial soil moisture.\n");
  if (ms.perennial_lakes) fprintf(fp, "Lakes were simulated.\n");
  if (ov.reten_depth_on) fprintf(fp, "Spatially varied retention.\n");
  if (ov.retention_on) fprintf(fp, "Uniform retention depth.\n");
  if (ss.inf_redist) fprintf(fp, "Infiltration with redistribution.\n");
  if (ss.green_ampt) fprintf(fp, "Green & Ampt infiltration.\n");
  if (ss.inf_richards) fprintf(fp, "Infiltration by Richards Eq.\n");
  if (ss.inf_layered_soil) fprintf(fp, "G&A Infiltration through layered soils.\n");
  const transport_state& tr = ms.transport;
  if (tr.sediment.soil_erosion) fprintf(fp, "Overland soil erosion.\n");
  if (tr.chan_sediment) fprintf(fp, "Sediment transport in channels using Yang's eqn. for sand.\n");
  if (ss.sacramento)
    fprintf(fp, "Base flow using the Sacramento Soil Moisture Accounting Model.\n");

  fprintf(fp, "\n THE FOLLOWING OUTPUT MAPS WERE WRITTEN EVERY %d TIMESTEP(S):\n", ms.map_freq);
  if (ss.inf_redist) {
    fprintf(fp, "Soil surface moisture maps were output.\n");
    fprintf(fp, "Infiltration rate maps were output.\n");
  }
  if (out.map_dataset && !out.map_dataset_alt) fprintf(fp, "ASCII VRO maps of:\n");
  if (out.map_dataset && out.map_dataset_alt) fprintf(fp, "BINARY VRO maps of:\n");
  if (out.map_depth) fprintf(fp, "     overland flow depth.\n");
  if (out.map_discharge) fprintf(fp, "     discharge.\n");
  if (out.chan_discharge_on) fprintf(fp, "     discharge in channels.\n");
  if (out.map_rain) fprintf(fp, "     distributed rainfall rate.\n");
  if (out.map_inf_depth) fprintf(fp, "     distributed infiltration depth.\n");
  if (out.map_infil_rate) fprintf(fp, "     distributed infiltration rate.\n");
  if (out.map_surf_moist) fprintf(fp, "     distributed surface moisture.\n");
  if (out.map_gw_recharge_cum) fprintf(fp, "     groundwater recharge cumulative.\n");
  if (out.map_gw_recharge_inc) fprintf(fp, "     groundwater recharge incremental.\n");
  if (out.chan_depth_on) fprintf(fp, "     channel depth.\n");
  if (out.chan_discharge_on) fprintf(fp, "     channel discharge.\n");
  if (tr.sediment.soil_erosion && tr.net_sed_volume_on)
    fprintf(fp, "     net volume of erosion/deposition.\n");
  if (tr.sediment.soil_erosion && tr.vol_sed_susp_on)
    fprintf(fp, "     suspended sediment volume.\n");
  if (tr.sediment.soil_erosion && tr.max_sed_flux_on) fprintf(fp, "     sediment flux.\n");
  if (out.chan_sed_flux_on) fprintf(fp, "      channel sediment flux.\n");

  fprintf(fp, "\n THE FOLLOWING ASCII OUTPUT FILES WERE WRITTEN TO EVERY %d TIMESTEP(S):\n",
          ms.hyd_freq_steps);
  fprintf(fp, "     hydrograph at the catchment outlet.\n");
  if (ms.channel.hyd_location_count > 0) fprintf(fp, "     hydrographs at selected locations.\n");
  if (tr.sediment.soil_erosion) fprintf(fp, "     sediment outflow at the catchment outlet.\n");
  if (tr.sed_locations_on) fprintf(fp, "     sediment hydrographs at selected locations.\n");
  if (ms.channel.superlink_junc_flow_on) fprintf(fp, "Flows to/from selected superjunctions.\n");
  if (ms.channel.superlink_node_flow_on) fprintf(fp, "Flows to/from selected superlink nodes.\n");
  if (out.gwflux_location_on) fprintf(fp, "Stream/groundwater exchange fluxes.\n");
}

}  // namespace

void write_event_summary(model_state& ms) {
  FILE* fp = ms.output.summary_file.fp;
  if (fp == nullptr) return;
  const overland_state& ov = ms.overland;
  if (ms.long_term && ms.event_number >= 2) fprintf(fp, "\n\n%s\n", std::string(78, '-').c_str());
  header(fp, ms);
  rainfall_lines(fp, ms);
  if (ms.units)
    fprintf(fp, "elevation and gridsize were converted from feet to meters\n");
  else
    fprintf(fp, "elevation and gridsize are in meters\n");
  fprintf(fp, "timestep                                   %5.1lf seconds\n", ms.timestep);
  if (ms.long_term)
    fprintf(fp, "initial basin-averaged soil water content: %5.2lf percent\n",
            ms.avg_saturation * 100.0);
  fprintf(fp, "number of timesteps with rain:             %d\n", ov.rain_steps);
  fprintf(fp, "elapsed time when rain began:              %5.2lf\n \n",
          ov.first_rain_minutes - ms.timestep / 60.0);
  const event_budget& b = ms.output.budget;
  if (b.event_peak_discharge > 0.0) {
    fprintf(fp, "peak occured on strict Julian date:       %16.8lf\n", ms.peak_time);
    fprintf(fp, "date/time of peak discharge:              %d/%d/%d  %d:%2.2d:%2.2d\n",
            ms.peak_date[1], ms.peak_date[2], ms.peak_date[0], ms.peak_date[3], ms.peak_date[4],
            ms.peak_date[5]);
  }
  fprintf(fp, "Event peak discharge (cubic meters per second):  %12.4lf\n\n",
          b.event_peak_discharge);
  budget_lines(fp, ms);
  balance_lines(fp, ms);
  richards_and_groundwater(fp, ms);
  write_nsm_event_summary(fp, ms);
  write_lake_contam_event_summary(fp, ms);
  write_overland_sediment_summary(fp, ms, true);
  warning_lines(fp, ms);
  run_description(fp, ms);
}
