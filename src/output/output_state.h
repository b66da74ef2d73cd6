// Output, analyzers and model coupling: the member record of the run's model_state that holds
// the summary and output files, the map and link/node outputs, the output switches, the daily
// output and the run's analyzer list.
#pragma once

#include <memory>

#include "framework/file_handle.h"
#include "framework/guarded_array.h"
#include "output/map_output.h"
#include "output/r7_link.h"

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

  // Map outputs and their switches.
  map_output depth_map;         // overland depth maps
  map_output rain_map;          // rainfall maps
  map_output infil_map;         // infiltration depth maps
  int map_depth = 0;            // overland depth maps on
  int map_rain = 0;             // rainfall maps on
  int map_gw_recharge_cum = 0;  // cumulative groundwater recharge maps on
  int map_gw_recharge_inc = 0;  // incremental groundwater recharge maps on
  int map_inf_depth = 0;        // infiltration depth maps on
  int map_surf_moist = 0;       // surface moisture maps on
  int map_chan_depth = 0;       // channel depth output on
  int map_chan_sed_flux = 0;    // channel sediment flux output on
  int map_chan_discharge = 0;   // channel discharge output on
  int map_theta_locations = 0;  // water content at locations on
  int map_discharge = 0;        // discharge maps on
  int map_ov_conc = 0;          // overland concentration maps on
  int map_outlet_hydro = 0;     // outlet hydrograph on
  int map_lake_output = 0;      // lake output on

  // Hotstart files.
  file_handle read_ov_hotstart_file;   // overland depth hotstart to read
  file_handle write_ov_hotstart_file;  // overland depth hotstart to write
  file_handle read_sm_hotstart_file;   // soil moisture hotstart to read
  file_handle write_sm_hotstart_file;  // soil moisture hotstart to write

  daily_output_member daily;  // DAILY_OUTPUT

  // Constituent outputs, [constituent][kind].
  guarded_array2d<map_output> con_map_outputs;
  int all_contam_output = 0;  // constituent map and link/node outputs on
  guarded_array2d<linknode_output> con_linknode_outputs;
  analyzer* analyzer_list = nullptr;  // head of the run's analyzers, in notification order
  file_handle total_chan_n_file;      // total nitrogen in the channels
  file_handle total_chan_p_file;      // total phosphorus in the channels
  file_handle total_chan_kn_file;     // Kjeldahl nitrogen in the channels

  std::unique_ptr<r7_data> r7;  // coupling with the reservoir model; null when off
};
