// Dissolved constituents on the overland plane and in the soil column: the per-constituent,
// per-cell tables that the contaminant set-up creates and the soil, overland-process and
// overland-transport steps work on, with the schedules of the overland processes. Held by the
// transport record of the run's model_state.
#pragma once

#include "framework/core/process_clock.h"
#include "framework/core/raw_arrays.h"

struct contam_tables {
  int contam_table_read = 0;       // the CONTAMINANT_TRANSPORT table gave the constituents
  int table_contam_count = -1;     // constituents the table reader found; -1 until it has run
  int num_table_contaminants = 0;  // constituents of type 1 (the table's)
  int soil_contam_layers = 0;      // soil layers carrying constituents, 1..soil_contam_layers
  double kinetics_timestep_factor = 1.0;  // decay and exchange every this many overland intervals
  double soil_moist_depth_cm = 0;         // cm: soil-moisture depth of the soil constituents
  double top_layer_depth_cm = 0;          // cm: top layer
  double mixing_layer_depth_cm = 0;       // cm: mixing layer (soil layer 1)
  // How far apart in the numbering neighbouring cells lie (ov_constit_reach), found by the first
  // overland transport step: the cells' connectivity is fixed for the run. 0 until then.
  int ov_link_reach = 0;

  // Per constituent 1..num_contaminants, per cell 1..cell_count. Masses in g, concentrations in
  // g/m3 of water (overland) unless said; rates per second after the set-up.
  raw_array2d<double> ov_land_conc;           // land-store concentration seen by the exchange
  raw_array2d<double> ov_disp_coef;           // m2/s: overland dispersion coefficient
  raw_array2d<double> ov_decay_coef;          // 1/s: first-order decay coefficient
  raw_array2d<double> ov_uptake_rate;         // 1/s: water-soil exchange rate
  raw_array2d<double> gw_contam_conc;         // g/m3: groundwater entering the soil from below
  raw_array2d<double> contam_partition_coef;  // L/kg: soil-water partition coefficient Kd
  raw_array2d<double> ov_precip_acc;          // g: rain load not yet booked by the transport
  raw_array2d<double> ov_infil_acc;           // g: carried down by infiltration, not yet applied
  raw_array2d<double> ov_decay_acc;           // g: decayed, not yet applied
  raw_array2d<double> ov_exchange_acc;        // g: soil to water (negative: water to soil)
  raw_array2d<double> ov_exit_acc;            // g: left through the outlet cell, not yet applied
  // Soil column (soil transport on): per constituent and cell.
  raw_array2d<double> soil_decay_coef;      // 1/s
  raw_array2d<double> soil_infil_mass;      // g: entered the soil column since the soil step
  raw_array2d<double> soil_uptake_mass;     // g: left layer 1 into the water since the soil step
  raw_array3d<double> soil_frac_dissolved;  // [constituent][cell][layer]: share in pore water

  // Per cell 1..cell_count.
  raw_array1d<double> ov_depth_prev;         // m: overland depth at the end of the last transport
                                             // step (the initial depth before the first)
  raw_array1d<double> ov_infil_water;        // m3: infiltrated since the last infiltration-mass run
  raw_array1d<double> infil_seen;            // m: infiltrated depth of the run already counted
  raw_array1d<double> exfil_seen;            // m: exfiltrated depth of the run already counted
  raw_array2d<double> theta;                 // [cell][layer]: water content of the carrier layers
  raw_array1d<double> soil_layer_thickness;  // per layer 1..soil_contam_layers (m)
  raw_array1d<double> soil_layer_bottom;     // per layer: depth of the layer's bottom (m)
  // The layered soil: per cell its carrier layers (2 or 3), their thicknesses (m) and porosities
  // [cell][layer], and the drainage out of the bottom of the soil's layer 1 and layer 2 that the
  // soil step has already passed on (cm of the run's cumulative drainage).
  raw_array1d<int> carrier_layers;
  raw_array2d<double> carrier_thickness;
  raw_array2d<double> carrier_porosity;
  raw_array1d<double> drain_top_seen;
  raw_array1d<double> drain_bottom_seen;
  raw_array1d<double> drain_top;     // m: the soil step's drainage out of layer 1, per cell
  raw_array1d<double> drain_bottom;  // m: and out of layer 2
  // Work arrays of the transport passes, per cell: mass (g), concentration (g/m3), net source
  // rate (g/s), the face fluxes into the cell from its upstream neighbour of
  // the pass (first and corrector, g/s), the predicted concentration.
  raw_array1d<double> work_mass;
  raw_array1d<double> work_conc;
  raw_array1d<double> work_source;
  raw_array1d<double> face_flux;
  raw_array1d<double> face_flux_corr;
  raw_array1d<double> pred_conc;
  // The overland processes' per-block parts [block][constituent]: the mass the cells of each
  // block of 1024 that dried gave the soil (g), added in block order; kept between steps.
  raw_array2d<double> block_dried;

  // Per constituent 1..num_contaminants: mass handed to the land store by cells that dried
  // during a transport step (g; the step's term, booked into OV_LAND_MASS).
  raw_array1d<double> ov_land_dmt;
  raw_array1d<double> global_precip_mass;  // kg: rain load of the run
  raw_array1d<double> neg_mass_total;      // kg: added back to cells the transport left negative
  // Soil run totals and step terms per constituent (kg for the totals, g for the step terms).
  raw_array1d<double> soil_infil_total;
  raw_array1d<double> soil_uptake_total;  // from the soil into the overland water
  raw_array1d<double> soil_decay_total;
  raw_array1d<double> soil_decay_step;
  // Water rising from the aquifer through the mixing layer onto the surface (kg): what the
  // aquifer's water brought into the layer, and what it carried from the layer up into the
  // overland water.
  raw_array1d<double> soil_seep_up_total;
  raw_array1d<double> soil_exfil_total;
  raw_array1d<double> soil_seep_down_total;  // kg: left the bottom of the column to groundwater

  // Schedules of the overland processes (Julian days) and their elapsed times (s).
  process_clock rain_clock;      // rainfall load
  process_clock infil_clock;     // infiltration mass
  process_clock kinetics_clock;  // decay and water-soil exchange
  double rain_elapsed = 0.0;
  double infil_elapsed = 0.0;
  double kinetics_elapsed = 0.0;
  double outlet_elapsed = 0.0;
  double outlet_last = 0.0;       // Julian days: last run of the outlet mass
  double ov_outlet_volume = 0.0;  // m3: water out of the outlet cell since the outlet mass ran
  int clocks_ready = 0;           // the schedules have been taken from the transport clock
  double soil_last = 0.0;         // Julian days: last soil step
  int soil_clock_ready = 0;       // the soil step has taken its start time
};
