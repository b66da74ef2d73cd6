// Output, analyzers and model coupling: the member record of the run's model_state that holds
// the summary and output files, the map and link/node outputs, the output switches, the daily
// output and the run's analyzer list.
#pragma once

#include <memory>

#include "framework/core/file_handle.h"
#include "framework/core/guarded_array.h"
#include "output/map_output_state.h"
#include "output/map_outputs_state.h"
#include "output/r7_link_state.h"
#include "output/series_outputs_state.h"
#include "output/water_budget_state.h"

class analyzer;

// The DAILY_OUTPUT option.
struct daily_output_member {
  int daily_on = 0;            // daily output asked for
  int day_count = 0;           // days written
  int last_day = 0;            // day of the last record
  int record_count = 0;        // records of the current day
  long long steps_in_day = 0;  // steps summed into the current day
  long long total_steps = 0;   // steps summed in all
  file_handle daily_file;      // the daily output file
};

struct output_state {
  file_handle summary_file;           // run summary: start-up lines, messages, balances
  file_handle sig_outlet_hydro_file;  // outlet hydrograph of significant flows
  file_handle lake_output_file;       // lake stages and volumes
  int flush_buffer = 5000;            // steps between flushes of the output files
  int flush_buffer_on = 0;            // FLUSH_BUFFER given: the console is flushed too
  int flush_line_count = 0;           // progress lines since the last console flush
  file_handle tev_summary_file;       // TEV precipitation event summary
  event_budget budget;                // the current event's water books
  run_totals totals;                  // the run's water books, closed at its end
  int hydro_line_count = 0;           // outlet hydrograph lines written in the run
  int events_done = 0;                // events whose books were closed
  int chan_xsec_overflow = 0;         // a channel depth left its look-up table in the run
  int event_balance_open = 0;         // 1 from an event's start: its balances take their start
                                      // values there and are closed at the event's end

  // Series and map outputs: their counters, their derived maps and the map datasets.
  series_outputs_state series;
  map_outputs_state maps;

  // Map outputs and their switches.
  map_output depth_map;           // overland depth maps
  map_output rain_map;            // rainfall maps
  map_output infil_map;           // infiltration depth maps
  int map_depth = 0;              // overland depth maps on
  int map_rain = 0;               // rainfall maps on
  int map_gw_recharge_cum = 0;    // cumulative groundwater recharge maps on
  int map_gw_recharge_inc = 0;    // incremental groundwater recharge maps on
  int map_inf_depth = 0;          // infiltration depth maps on
  int map_surf_moist = 0;         // surface moisture maps on
  int map_chan_depth = 0;         // channel depth output on
  int map_chan_sed_flux = 0;      // channel sediment flux output on
  int map_chan_discharge = 0;     // channel discharge output on
  int map_theta_locations = 0;    // water content at locations on
  int map_discharge = 0;          // discharge maps on
  int map_ov_conc = 0;            // overland concentration maps on
  int map_outlet_hydro = 0;       // outlet hydrograph on
  int map_lake_output = 0;        // lake output on
  int map_infil_rate = 0;         // infiltration rate maps on (RATE_OF_INFIL)
  int map_ascii = 0;              // maps written as ASCII grids (MAP_TYPE 0)
  int map_dataset = 0;            // maps written as datasets (MAP_TYPE 1 or 2)
  int map_dataset_alt = 0;        // the second dataset layout (MAP_TYPE 2)
  int include_channel_depth = 0;  // INCLUDE_CHANNEL_DEPTH: depth maps add the channel depth

  // Series outputs asked for by their cards.
  int chan_depth_on = 0;               // CHAN_DEPTH: channel depths written
  int chan_discharge_on = 0;           // CHAN_DISCHARGE: channel discharges written
  int chan_stage_on = 0;               // CHAN_STAGE: channel stages written
  int chan_velocity_on = 0;            // CHAN_VELOCITY: channel velocities written
  int chan_sed_flux_on = 0;            // CHAN_SED_FLUX: channel sediment fluxes written
  int hyd_location_on = 0;             // IN_HYD_LOCATION: hydrographs at locations
  int gwflux_location_on = 0;          // IN_GWFLUX_LOCATION: groundwater fluxes at locations
  int dep_location_on = 0;             // OUT_DEP_LOCATION: depths at locations
  int out_con_location_on = 0;         // OUT_CON_LOCATION: concentrations at locations
  int out_mass_location_on = 0;        // OUT_MASS_LOCATION: masses at locations
  int sig_outlet_hydro = 0;            // SIG_OUTLET_HYDRO: outlet hydrograph of significant flows
  int lake_output = 0;                 // LAKE_OUTPUT: lake stages and volumes written
  int sourcefile = 0;                  // SOURCEFILE given
  int vro_hydro = 0;                   // VRO_HYDRO: hydrograph for the interface written
  int flood_grid = 0;                  // FLOOD_GRID: flood depth map written
  int flood_stream = 0;                // FLOOD_STREAM: stream flood stage written
  const int* r7_input_flag = nullptr;  // R7_INPUT or R7_FLUXES: points at the R7_INPUT flag of
                                       // the cards, else null

  // Exchange with VOLP inside the TEV framework (names below the "exchange/" folder).
  int volp = 0;                        // VOLP: data shared with VOLP
  int volp_first = 0;                  // VOLP_FIRST
  char volp_exchange_file[1024] = {};  // "exchange/" + the VOLP name
  int moist_to_volp = 0;               // each flag: its card was given
  int ksat_to_volp = 0;
  int rough_to_volp = 0;
  int poros_to_volp = 0;
  int erosivity_to_volp = 0;
  int crop_fact_to_volp = 0;
  int net_erosion_to_volp = 0;
  int moist_from_volp = 0;
  int ksat_from_volp = 0;
  int rough_from_volp = 0;
  int erosivity_from_volp = 0;
  int crop_fact_from_volp = 0;
  int et_demand_from_volp = 0;
  char moist_to_volp_file[1024] = {};  // each name: "exchange/" + the card's file name
  char ksat_to_volp_file[1024] = {};
  char rough_to_volp_file[1024] = {};
  char poros_to_volp_file[1024] = {};
  char erosivity_to_volp_file[1024] = {};
  char crop_fact_to_volp_file[1024] = {};
  char net_erosion_to_volp_file[1024] = {};
  char moist_from_volp_file[1024] = {};
  char ksat_from_volp_file[1024] = {};
  char rough_from_volp_file[1024] = {};
  char erosivity_from_volp_file[1024] = {};
  char crop_fact_from_volp_file[1024] = {};
  char et_demand_from_volp_file[1024] = {};

  // Hotstart files.
  file_handle read_ov_hotstart_file;   // overland depth hotstart to read
  file_handle write_ov_hotstart_file;  // overland depth hotstart to write
  file_handle read_sm_hotstart_file;   // soil moisture hotstart to read
  file_handle write_sm_hotstart_file;  // soil moisture hotstart to write

  daily_output_member daily;  // DAILY_OUTPUT

  // Constituent outputs, [constituent 1..con_output_count][kind]: kind 1 the concentration,
  // kind 2 the mass.
  int con_output_count = 0;  // constituents with outputs: bounds the constituent output loops
  guarded_array2d<map_output> con_map_outputs;
  int all_contam_output = 0;  // constituent map and link/node outputs on
  guarded_array2d<linknode_output> con_linknode_outputs;
  // Nutrient maps: per species 0..8 the mass (0) and concentration (1) maps, then the overland
  // total nitrogen (0) and total phosphorus (1) maps; an object not set up writes nothing.
  map_output nsm_species_maps[9][2];
  map_output nsm_total_maps[2];
  // Nutrient link/node datasets: per species 0..8 the channel mass (0) and concentration (1),
  // then the channel total nitrogen (0), total Kjeldahl nitrogen (1) and total phosphorus (2).
  linknode_output nsm_species_linknode[9][2];
  linknode_output nsm_total_linknode[3];
  analyzer* analyzer_list = nullptr;  // head of the run's analyzers, in notification order
  file_handle total_chan_n_file;      // total nitrogen in the channels
  file_handle total_chan_p_file;      // total phosphorus in the channels
  file_handle total_chan_kn_file;     // Kjeldahl nitrogen in the channels

  std::unique_ptr<r7_data> r7;       // coupling with the reservoir model; null when off
  double volp_soil_volume = 0.0;     // m3: soil water VOLP's moisture grids gave (< 0: took)
  double volp_front_volume = 0.0;    // m3: of which the redistribution soil's fronts gave (< 0)
  raw_array1d<double> volp_scratch;  // per cell 1..cell_count: scratch values of the VOLP
                                     // exchange grids
};
