// The water books of the summaries as the run's output record holds them: the event budget and
// the run totals. Volumes in m3; errors as noted. Fields of processes this version does not
// simulate (channels, perennial lakes, pipes, groundwater, Sacramento) stay 0 unless their steps
// set them.
#pragma once

struct event_budget {
  // Stores at the event start (taken by the event initialisation) and at its end.
  double event_vol_ov_init = 0.0;     // overland water at the start
  double vol_ov_final = 0.0;          // overland water at the end
  double event_vol_chan_init = 0.0;   // channel water at the start
  double vol_chan_final = 0.0;        // channel water at the end
  double event_vol_lake_init = 0.0;   // perennial-lake water at the start
  double event_vol_lake_final = 0.0;  // perennial-lake water at the end
  double event_vol_snow_init = 0.0;   // liquid-equivalent snow at the start
  double event_vol_snow_final = 0.0;  // liquid-equivalent snow at the end
  double event_vol_drain_init = 0.0;  // pipe-network water at the start
  double event_vol_drain_final = 0.0;
  double event_vol_sac_init = 0.0;  // Sacramento subsurface water at the start
  double event_vol_sac_final = 0.0;
  double event_vol_soil_init = 0.0;  // Richards soil water at the start
  double vol_soil_final = 0.0;       // Richards soil water at the end

  // The event's fluxes.
  double event_vol_rain = 0.0;          // rain reaching the overland plane (net of the canopy)
  double event_vol_interception = 0.0;  // rain held by the canopy
  double event_vol_precip_lake = 0.0;   // rain on perennial lakes
  double event_vol_ov_to_lake = 0.0;    // overland flow into perennial lakes
  double event_vol_ov_from_lake = 0.0;  // overland flow out of perennial lakes
  double event_vol_infiltrated = 0.0;
  double event_vol_exfiltrated = 0.0;
  double event_vol_discharge = 0.0;    // outlet discharge volume
  double event_peak_discharge = 0.0;   // m3/s: peak outlet discharge
  double event_vol_direct_evap = 0.0;  // direct evaporation (Sacramento: its ET)
  double event_vol_gw_recharge = 0.0;  // recharge to groundwater
  double event_vol_gw_to_chan = 0.0;   // groundwater into channels
  double event_vol_chan_to_gw = 0.0;   // channels into groundwater
  double event_vol_gw_to_lake = 0.0;   // groundwater into lakes
  double event_vol_lake_to_gw = 0.0;   // lakes into groundwater
  double event_vol_stream_source = 0.0;
  double event_vol_stream_sink = 0.0;
  double event_vol_lake_source = 0.0;
  double event_vol_lake_sink = 0.0;
  double event_vol_lake_evap = 0.0;
  double event_vol_ov_source = 0.0;      // overland point sources
  double event_vol_ov_pumped = 0.0;      // water the overland pumps took
  double event_vol_lake_pumped = 0.0;    // water the lake pumps took
  double event_vol_gw_to_tile = 0.0;     // groundwater into tile drains
  double event_vol_slope_out = 0.0;      // lost to slope boundaries
  double event_vol_head_out = 0.0;       // lost to head boundaries
  double event_vol_head_in = 0.0;        // gained from head boundaries
  double event_vol_xy_ov_in = 0.0;       // gained through overland XY stage boundaries
  double event_vol_richards_net = 0.0;   // net Richards infiltration
  double event_vol_volp_soil = 0.0;      // Richards soil water VOLP's moisture gave (< 0: took)
  double event_richards_error = 0.0;     // percent
  double event_vol_sac_baseflow = 0.0;   // Sacramento base flow of the event
  double event_vol_sac_infil = 0.0;      // infiltration handed to the Sacramento model
  double event_vol_total_evap = 0.0;     // total evaporation of the event
  double event_vol_ov_to_drain = 0.0;    // overland into pipes
  double event_vol_drain_to_ov = 0.0;    // pipes onto the overland
  double event_vol_drain_to_chan = 0.0;  // pipes into channels
  double event_vol_gw_to_unsat = 0.0;    // groundwater to the unsaturated zone
  double event_vol_xy_gw_gain = 0.0;     // groundwater gained through XY boundaries
  double event_vol_xy_gw_loss = 0.0;     // groundwater lost through XY boundaries
  double event_recharge_depth = 0.0;     // cm: per-cell recharge depths summed in the event
  int soil_nodes_start = 0;              // Richards soil nodes counted at the start
  int soil_nodes_end = 0;                // Richards soil nodes counted at the end

  // The balance.
  double event_mass_in = 0.0;           // inputs + initial stores
  double event_mass_out = 0.0;          // outputs + final stores
  double event_balance_error = 0.0;     // fraction; -1: no input water
  double event_ov_cleanup_error = 0.0;  // removed by the overland clean-up of small depths
  double basin_theta_final = 0.0;       // final basin-average soil water content (fraction)
  double first_rain_minutes = 0.0;      // min: elapsed time of the event's first rain

  // Event-start values of the run's running totals, whose differences are the event's share.
  double start_outlet_volume = 0.0;   // overland outlet volume of the run
  double start_interception = 0.0;    // canopy total of the run
  double start_exfiltration = 0.0;    // exfiltration total of the run
  double start_ov_source = 0.0;       // overland point sources of the run
  double start_ov_pumped = 0.0;       // overland pumping of the run
  double start_lake_pumped = 0.0;     // lake pumping of the run
  double start_chan_source = 0.0;     // channel point sources of the run
  double start_precip_lake = 0.0;     // rain on channel lakes of the run
  double start_slope_out = 0.0;       // left through normal-depth boundary cells in the run
  double start_head_out = 0.0;        // removed by stage boundaries in the run
  double start_head_in = 0.0;         // added by stage and inflow boundaries in the run
  double start_lateral = 0.0;         // lateral inflow into the channels in the run
  double start_lake_evap = 0.0;       // evaporation from the channel lakes in the run
  double start_volp_soil = 0.0;       // soil water VOLP's moisture grids gave in the run
  int start_rain_steps = 0;           // steps with rain of the run
  double start_ov_to_drain = 0.0;     // overland water into the pipes in the run
  double start_drain_to_ov = 0.0;     // pipe water spilled onto the cells in the run
  double start_drain_to_chan = 0.0;   // pipe water passed to the channels in the run
  double start_gw_to_tile = 0.0;      // groundwater into the tile drains in the run
  double start_drain_lost = 0.0;      // pipe water that left the system in the run
  double start_drain_made = 0.0;      // water the pipes' depth floors added in the run
  double event_vol_drain_lost = 0.0;  // pipe water that left the system at boundary junctions
  double event_vol_drain_made = 0.0;  // water the pipes' depth floors added
};

struct run_totals {
  double run_vol_ov_init = 0.0, run_vol_chan_init = 0.0, run_vol_soil_init = 0.0;
  double run_vol_gw_init = 0.0, run_vol_lake_init = 0.0, run_vol_simple_soil_init = 0.0;
  double run_vol_precip = 0.0, run_vol_interception = 0.0, run_vol_infiltration = 0.0;
  double run_vol_evap = 0.0, run_vol_direct_evap = 0.0, run_vol_soil_et = 0.0;
  double run_vol_exfiltration = 0.0;
  double run_vol_gw_exfil = 0.0;  // water the aquifer gave the ground where its table reached it
  double run_vol_gw_inputs = 0.0, run_vol_gw_recharge = 0.0, run_vol_gw_leakage = 0.0;
  double run_vol_gw_pumping = 0.0, run_vol_gw_head_flux = 0.0, run_vol_gw_unsat = 0.0;
  double run_vol_downward = 0.0, run_vol_deep_recharge = 0.0;
  double run_vol_ov_source = 0.0, run_vol_chan_source = 0.0;
  double run_vol_ov_pumped = 0.0;    // water the overland pumps took
  double run_vol_lake_pumped = 0.0;  // water the lake pumps took
  double run_vol_slope_out = 0.0, run_vol_head_out = 0.0, run_vol_head_in = 0.0;
  double run_vol_bound_net = 0.0;
  double run_vol_lateral = 0.0, run_vol_discharge = 0.0;
  double run_vol_river_to_gw = 0.0, run_vol_gw_to_river = 0.0;
  double run_vol_precip_lake = 0.0, run_vol_into_lakes = 0.0, run_vol_from_lakes = 0.0;
  double run_vol_ov_to_lakes = 0.0;  // overland water into the channel lakes (part of into_lakes)
  double run_vol_lake_evap = 0.0, run_vol_lake_to_gw = 0.0, run_vol_gw_to_lake = 0.0;
  double run_vol_ov_to_drain = 0.0, run_vol_drain_to_ov = 0.0, run_vol_drain_to_chan = 0.0;
  double run_vol_gw_to_tile = 0.0;
  double run_vol_xy_gain = 0.0, run_vol_xy_loss = 0.0;
  double run_vol_into_ov_lakes = 0.0, run_vol_from_ov_lakes = 0.0, run_vol_ov_lake_init = 0.0;
  double run_vol_ov_lake_final = 0.0, run_vol_ov_lake_evap = 0.0;
  double run_vol_drain_final = 0.0;
  double run_vol_drain_init = 0.0;  // pipe-network water at the run start
  double run_vol_drain_lost = 0.0;  // pipe water that left the system at boundary junctions
  double run_vol_drain_made = 0.0;  // water the pipe network's depth floors added
  double run_vol_snow_init = 0.0;   // snow water at the run start
  double run_vol_volp_soil = 0.0;   // soil water VOLP's moisture grids gave (< 0: took)

  // Closed at the end of the run.
  double vol_ov_final = 0.0, vol_chan_final = 0.0, vol_soil_final = 0.0;
  double run_vol_simple_soil_final = 0.0, run_vol_gw_final = 0.0, run_vol_snow_final = 0.0;
  double run_vol_lake_final = 0.0;
  double run_gw_error = 0.0, run_total_init = 0.0, run_total_final = 0.0;
  double run_overall_error = 0.0, run_surface_error = 0.0, run_simple_soil_error = 0.0;
  double run_water_in = 0.0;  // the stores at the start and every inflow: what the overall
                              // error is measured against
};
