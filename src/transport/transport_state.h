// Sediment, contaminant and nutrient transport: the member record of the run's model_state that
// holds the transport options, the constituent mass-balance arrays, the sediment records and the
// nutrient sub-model.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/core/file_handle.h"
#include "framework/core/guarded_array.h"
#include "framework/core/link_node_array.h"
#include "framework/core/process_clock.h"
#include "framework/core/raw_arrays.h"
#include "transport/contaminants/chan_contam_state.h"
#include "transport/contaminants/contam_state.h"
#include "transport/contaminants/olake_contam_state.h"
#include "transport/contaminants/sed_contam_state.h"
#include "transport/nutrients/nsm_model_state.h"
#include "transport/transport_records_state.h"

// The six sediment output files of sediment_member::output_file, and their names in
// sediment_member::output_name.
inline constexpr int sed_out_suspended = 0;      // VOL_SED_SUSP
inline constexpr int sed_out_flux = 1;           // MAX_SED_FLUX
inline constexpr int sed_out_net_volume = 2;     // NET_SED_VOLUME
inline constexpr int sed_out_outlet = 3;         // OUTLET_SED_FLUX: outlet sediment series
inline constexpr int sed_out_outlet_tss = 4;     // OUTLET_SED_TSS
inline constexpr int sed_out_tss_locations = 5;  // OUT_TSS_LOC

struct transport_state {
  int ov_con_trans = 0;             // overland contaminant transport on
  int chan_con_trans = 0;           // channel contaminant transport on
  int soil_con_trans = 0;           // soil-layer contaminant transport on
  int sediment_contam = 0;          // sediment-bound contaminants on
  int soil_static_conc = 0;         // SOIL_STATIC_CONC: soil concentrations held fixed
  int contam_map_on = 0;            // CONTAM_MAP: initial contaminant map given
  int ov_con_active = 0;            // overland constituent steps active
  int con_active = 0;               // constituent transport active: the end-of-run summary
                                    // gets its transport block
  int chan_sediment = 0;            // sediment carried into and along the channels
  double ov_decay_coef = 0.0;       // 1/s: overland contaminant decay coefficient
  double ov_disp_coef = 0.0;        // m2/s: overland dispersion coefficient
  double ov_mass_load = 0.0;        // g: overland contaminant mass load
  double ov_uptake_rate = 0.0;      // 1/s: overland uptake rate
  double chan_decay_coef = 0.0;     // 1/s: channel contaminant decay coefficient
  double chan_disp_coef = 0.0;      // m2/s: channel dispersion coefficient
  double init_chan_conc = 0.0;      // g/m3: initial channel concentration
  int num_contaminants = 0;         // constituents 1..num_contaminants
  double contam_factor = 1.0;       // kinetics time-step factor of the contaminant steps
  int contam_uniform_pending = -1;  // uniform contaminant values still to be set; -1 unset
  int ov_contam_sweep_parity = 1;   // 1 or 2: sweep direction of the overland mass update
  double layer1_depth_cm = 40.0;    // cm: mixing layer of the soil constituents
  double layer2_depth_cm = 40.0;    // cm: top layer of the soil constituents
  double soil_depth_cm = 40.0;      // cm: soil-moisture depth of the soil constituents
  char con_output_name[1024] = "con_output";  // channel-contaminant output file name
  file_handle con_output_file;  // channel-contaminant output, opened "w" under that name

  // Overland contaminant mass balance, per constituent 1..num_contaminants (kg).
  guarded_array<double> precip_conc{"precip_conc"};
  guarded_array<double> OV_MASS_INIT{"OV_MASS_INIT"};
  guarded_array<double> OV_MASS_FINAL{"OV_MASS_FINAL"};
  guarded_array<double> OV_MASS_OUT{"OV_MASS_OUT"};
  guarded_array<double> OV_QLAT_MASS{"OV_QLAT_MASS"};
  guarded_array<double> OV_MASS_DECAY{"OV_MASS_DECAY"};
  guarded_array<double> OV_POINT_MASS{"OV_POINT_MASS"};
  guarded_array<double> OV_EXFIL_MASS{"OV_EXFIL_MASS"};
  guarded_array<double> OV_PRECIP_MASS{"OV_PRECIP_MASS"};
  guarded_array<double> OV_INFIL_MASS{"OV_INFIL_MASS"};
  guarded_array<double> OV_MASS_ERROR{"OV_MASS_ERROR"};
  guarded_array<double> OV_LAND_MASS{"OV_LAND_MASS"};
  guarded_array<double> OV_LAND_MASS_INIT{"OV_LAND_MASS_INIT"};
  guarded_array<double> OV_LAND_MASS_FINAL{"OV_LAND_MASS_FINAL"};
  guarded_array<double> OV_UPTAKE_MASS{"OV_UPTAKE_MASS"};
  guarded_array<double> event_ov_mass_init{"event_ov_mass_init"};
  guarded_array<double> event_ov_decay_mass{"event_ov_decay_mass"};
  guarded_array<double> event_ov_uptake_mass{"event_ov_uptake_mass"};
  guarded_array<double> event_ov_infil_mass{"event_ov_infil_mass"};
  guarded_array<double> event_ov_exfil_mass{"event_ov_exfil_mass"};
  guarded_array<double> event_ov_qlat_mass{"event_ov_qlat_mass"};
  guarded_array<double> event_ov_mass_out{"event_ov_mass_out"};
  guarded_array<double> event_ov_point_mass{"event_ov_point_mass"};
  guarded_array<double> event_ov_precip_mass{"event_ov_precip_mass"};
  guarded_array<double> event_ov_land_mass{"event_ov_land_mass"};
  guarded_array<double> event_ov_neg_mass{"event_ov_neg_mass"};
  guarded_array<double> ov_out_dmt{"ov_out_dmt"};
  guarded_array<double> ov_point_dmt{"ov_point_dmt"};
  guarded_array<double> ov_decay_dmt{"ov_decay_dmt"};
  guarded_array<double> ov_infil_dmt{"ov_infil_dmt"};
  guarded_array<double> ov_qlat_dmt{"ov_qlat_dmt"};
  guarded_array<double> ov_uptake_dmt{"ov_uptake_dmt"};
  guarded_array<double> ov_nsm_dmt{"ov_nsm_dmt"};
  guarded_array<double> ov_nsm_dmt_in{"ov_nsm_dmt_in"};
  guarded_array<double> ov_nsm_dmt_out{"ov_nsm_dmt_out"};
  guarded_array<double> ov_precip_dmt{"ov_precip_dmt"};
  guarded_array<double> ov_exit_mass{"ov_exit_mass"};
  guarded_array<double> GLOBAL_MASS_CON_ERROR{"GLOBAL_MASS_CON_ERROR"};
  guarded_array<double> GLOBAL_MASS_DECAY{"GLOBAL_MASS_DECAY"};
  guarded_array<double> GLOBAL_MASS_INIT{"GLOBAL_MASS_INIT"};
  guarded_array<double> GLOBAL_MASS_FINAL{"GLOBAL_MASS_FINAL"};
  guarded_array<double> GLOBAL_POINT_SOURCE{"GLOBAL_POINT_SOURCE"};
  guarded_array<double> GLOBAL_MASS_OUT{"GLOBAL_MASS_OUT"};
  guarded_array<double> GLOBAL_GW_MASS{"GLOBAL_GW_MASS"};
  guarded_array<int> constituent_type{"constituent_type"};  // per constituent: kind
  guarded_array<double> water_soil_partition_coef{"water_soil_partition_coef"};  // per constituent
  // Per constituent 1..num_contaminants (element 0 empty): description and output file name.
  std::vector<std::string> contamdescriptions;
  std::vector<std::string> contamoutputfilenames;

  // Soil constituents, [constituent][cell][layer] (kg and kg/m3).
  guarded_array3d soil_mass;
  guarded_array3d soil_conc;
  raw_array1d<double> ov_sed_vol_eroded;     // per cell: eroded sediment volume (m3)
  raw_array1d<double> ov_sed_vol_deposited;  // per cell: deposited sediment volume (m3)

  sediment_member sediment;                 // sediment options and output files
  std::unique_ptr<ov_sediment_obj> ov_sed;  // overland sediment object; null until set up
  soil_layer_work layer_work;               // work record of the soil-column transport
  contam_tables contam;                     // dissolved constituents: tables and schedules
  chan_contam_tables chan_contam;           // dissolved constituents in the channel network
  olake_contam_tables olake_contam;         // dissolved constituents in the overland lakes
  sed_contam_tables sed_contam;             // constituents bound to the overland sediment
  int nutrients = 0;                        // nutrient sub-model on

  // Schedules of the constituent steps, copies of the water schedules they follow.
  process_clock ov_con_clock;        // overland constituents (the overland schedule)
  process_clock ov_con_infil_clock;  // overland constituents (the infiltration schedule)
  process_clock chan_con_clock;      // channel constituents
  process_clock soil_con_clock;      // soil-layer constituents
  process_clock nsm_clock;           // nutrient sub-model
  process_clock gw_con_clock;        // groundwater constituents
  std::unique_ptr<nsm_model> nsm;    // nutrient sub-model; null unless NUTRIENTS

  // Sediment values the series and map outputs read, kept by the overland sediment step, the
  // channel sand transport and the channel wash-load transport (allocated by their set-ups; an
  // empty array writes nothing). Class positions: 1..num_fine_classes
  // the fine classes, then num_sand_classes sand positions, then one position for the bed stock
  // (num_sed_classes + 1); position 0 holds a total where said.
  int num_fine_classes = 0;              // fine (wash-load) classes
  int num_sand_classes = 0;              // sand (bed-material) classes
  int vol_sed_susp_on = 0;               // VOL_SED_SUSP: suspended-sediment output on
  int max_sed_flux_on = 0;               // MAX_SED_FLUX: sediment-flux output on
  int net_sed_volume_on = 0;             // NET_SED_VOLUME: net erosion/deposition output on
  int outlet_sed_tss_on = 0;             // OUTLET_SED_TSS: outlet TSS series on
  int sed_locations_on = 0;              // IN_SED_LOC with OUT_SED_LOC: sediment location series on
  int out_tss_loc_on = 0;                // OUT_TSS_LOC: TSS at the sediment locations on
  file_handle out_sed_loc_file;          // OUT_SED_LOC: sediment series at the locations
  double ov_outlet_sed_vol = 0.0;        // m3: sediment the overland step routed out of the outlet
                                         // cell in its last step (no channels)
  raw_array1d<double> outlet_wash_flux;  // per fine position 0..num_fine_classes: wash load
                                         // leaving the outlet node (m3/s), 0 the sum
  raw_array1d<double> outlet_sand_flux;  // per sand position 1..num_sand_classes + 1: sand
                                         // leaving the outlet node (m3/s)
  int sed_node_stride = 0;               // largest node count of a link: flat node index of
                                         // node n of link l is l x sed_node_stride + n
  raw_array2d<double> qsmax;             // [flat node][position 0..num_sed_classes + 1]:
                                         // sediment flux leaving the node (m3/s), 0 the sum
  raw_array2d<double> chan_sed_conc;     // [flat node][class 0..num_sed_classes]: suspended
                                         // sediment (g/m3), 0 the total (TSS)
  link_node_array<double> qsmax_total;   // (link, node): all classes' flux x 1,000,000 of the
                                         // channel sediment-flux record, cleared once written
  raw_array2d<double> ch_sand_vol;       // [flat node][position 1..num_sed_classes + 1]: sand
                                         // of each class in the bed and the bed stock (m3)
  raw_array2d<double> ch_wash_vol;       // [flat node][class 1..num_sed_classes]: wash load in
                                         // suspension (m3)
  raw_array1d<int> sed_lake_flag;        // per class: 1 when the class's sediment on lake cells
                                         // belongs to the overland books
  // The event's sediment books, formed by the end-of-event accounting (m3).
  raw_array2d<double> sed_event_totals;  // [class][slot 1..4]: the cells' vol_sed slots summed:
                                         // 1 eroded (negative), 2 in suspension, 3 deposited,
                                         // 4 routed out through the outlet
  // Channel sediment routing (chan_sediment): per flat node [flat][class 1..num_sed_classes]
  // the sediment the node's stream cells handed it in the step (m3), the bed elevations at
  // start-up (m), the run's books per class (m3) and the work arrays of the wash-load step.
  raw_array2d<double> qlat_sed;
  link_node_array<double> org_bel;        // (link, node): bed elevation at start-up (m)
  link_node_array<double> stock_start;    // (link, node): sand of the node at start-up (m3)
  link_node_array<double> org_bottom;     // (link, node): bottom width at start-up (m); the bed
                                          // follows erosion and deposition from this section
  link_node_array<double> bp_bed_change;  // (link, node) of erodible break-point links: sand
                                          // the node lost since its section was last shaped
                                          // (m3, negative when it gained)
  double init_chan_sand_vol = 0.0;        // m3: sand in the channel beds at start-up
  raw_array1d<double> sed_to_chan;        // per class: sediment handed to the channels (m3)
  raw_array1d<double> sand_out;           // per class: sand that left through the outlet (m3)
  raw_array1d<double> wash_out;           // per class: wash load that left through the outlet
  raw_array1d<double> sand_capacity;      // per flat node: sand capacity of the step (m3/s)
  raw_array2d<double> wash_work[4];       // [flat][class]: saved volumes, saved concentrations,
                                          // predictor fluxes, corrector fluxes
  raw_array2d<double> wash_conc;          // [flat][class]: volume concentration of the node
  // Routing order of the channel sediment, rebuilt every channel step (lakes take and give back
  // nodes): per row (flat node, or lake row lake_row0 + lake) the row its downstream face
  // delivers to (0 out of the network), and the rows that deliver to each row, listed
  // feed_list[feed_start[row] .. feed_start[row + 1] - 1].
  int lake_row0 = 0;               // row of lake 0: lake n is held in row lake_row0 + n
  raw_array1d<int> sed_down;       // per row: receiving row, 0 none
  raw_array1d<int> feed_start;     // per row 0..rows + 1
  raw_array1d<int> feed_list;      // delivering rows, grouped by receiver
  raw_array1d<int> fine_position;  // per class: its fine position 1..num_fine_classes, else 0
  // Sediment in the channel lakes: the lakes' rows of ch_wash_vol hold their suspended wash
  // load and the lakes' rows of ch_sand_vol the sand the channels carried into them (m3).
  raw_array2d<double> lake_sed_books;  // [lake][slot]: run totals (m3) of the wash load 1 from
                                       // the channels, 2 to the channels, 3 net from the
                                       // overland plane, 4 settled on the lake bed, and 5 the
                                       // overland sand settled on the lake's shore cells
  raw_array1d<double> sed_to_lakes;    // per class: net overland sediment into lakes (m3)
  // Sediment in the overland lakes (OVERLAND_LAKE_MAP), [lake 1..olake_count][class
  // 1..num_sed_classes] (m3): what the lake holds in suspension (0 the lake's sum), what the
  // plane handed it net of what the lake's water carried back out, and what settled on its bed.
  raw_array2d<double> olake_sed;
  raw_array2d<double> olake_sed_in;
  raw_array2d<double> olake_sed_settled;
  double wash_to_lakes = 0.0;    // m3: wash load the channels carried into lakes
  double wash_from_lakes = 0.0;  // m3: wash load the lakes gave to the channels
  double chan_sand_final = 0.0;  // sand in the channels at the event end
  double chan_wash_final = 0.0;  // wash load in suspension at the event end
  // Channel constituents, [constituent 1..num_contaminants][flat node], flat node index of node
  // n of link l being l x con_node_stride + n.
  int con_node_stride = 0;                 // largest node count of a link
  raw_array2d<double> chan_con_conc;       // dissolved concentration (g/m3)
  raw_array2d<double> chan_con_mass;       // dissolved mass (g)
  raw_array2d<double> chan_bound_mass;     // sediment-bound mass (g), with SEDIMENT_CONTAM
  raw_array2d<double> chan_tot_node_mass;  // dissolved and sediment-bound mass (g), with
                                           // SEDIMENT_CONTAM
  // Overland and lake constituent stores read by the end-of-event and end-of-run books, kept by
  // the constituent steps: [constituent 1..num_contaminants][cell 1..cell_count] unless said.
  raw_array2d<double> ov_contam_conc;  // dissolved concentration in the overland water (g/m3)
  raw_array2d<double> ov_contam_mass;  // dissolved mass in the overland water (g)
  raw_array2d<double> ov_land_mass;    // mass held by the land surface (g)
  raw_array2d<double> lake_mass;       // [constituent][lake 1..num_lakes]: dissolved mass (g)
  // Final masses per constituent 1..num_contaminants (kg), formed by those books.
  raw_array1d<double> soil_mass_final;        // in the soil layers
  raw_array1d<double> chan_mass_final;        // dissolved in the channels
  raw_array1d<double> chan_total_mass_final;  // dissolved and sediment-bound in the channels
  raw_array1d<double> lake_mass_final;        // dissolved in the perennial lakes

  transport_state() {
    soil_mass.set_name("soil_mass");
    soil_conc.set_name("soil_conc");
  }
};
