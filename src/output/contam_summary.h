// The dissolved-constituent sections of the end-of-run summary: the soil, overland and global
// books of every constituent with their balance errors. Written by the end-of-run summary after
// the sediment summaries.
#pragma once

#include <cstdio>

struct model_state;

// One constituent's run books (kg) and its balance errors (percent of what came in).
struct constituent_books {
  double soil_init = 0.0, soil_final = 0.0, soil_infil = 0.0, soil_uptake = 0.0;
  double soil_decay = 0.0, soil_error = 0.0;
  double ov_init = 0.0, ov_final = 0.0, land_init = 0.0, land_final = 0.0;
  double ov_point = 0.0, ov_precip = 0.0, ov_uptake = 0.0, ov_infil = 0.0, ov_out = 0.0;
  double ov_decay = 0.0, ov_to_land = 0.0, ov_neg = 0.0, ov_error = 0.0;
  double global_init = 0.0, global_final = 0.0, global_point = 0.0, global_precip = 0.0;
  double global_out = 0.0, global_decay = 0.0, global_error = 0.0;
  // Channel constituents: the final mass includes what the overland water handed over and the
  // routing has not applied yet.
  double ov_to_stream = 0.0;
  double chan_init = 0.0, chan_final = 0.0, chan_in = 0.0, chan_out = 0.0, chan_decay = 0.0;
  double chan_restored = 0.0, chan_error = 0.0;
  // Stream loss: the net exchange with the ground through the stream beds (negative out of the
  // channels).
  double chan_gw = 0.0;
  // Channel point sources: their net load (negative where withdrawals took more).
  double chan_point = 0.0;
  // SEDIMENT_CONTAM: the mass bound to the overland suspended sediment now, what erosion took
  // from the soil column and settling gave back to it, what left through the outlet with the
  // sediment, and the sediment source: what the bound phase gave the water by partitioning
  // (negative when it took from the water).
  double bound_final = 0.0, sed_eroded = 0.0, sed_deposited = 0.0, sed_out = 0.0;
  double sed_source = 0.0;
  // SEDIMENT_CONTAM in a channel network: what the stream cells' suspended sediment handed the
  // channels, what is bound to the channels' wash load now, what left through the outlet node
  // with it, and what the channel partitioning gave the channel water (negative: took from it).
  double bound_to_channels = 0.0, chan_bound_final = 0.0, chan_bound_out = 0.0;
  double chan_released = 0.0;
  // SEDIMENT_CONTAM with channel lakes: what the plane's sediment handed the lakes (net), what is
  // bound to the lakes' wash load now, what settled with it onto the lakes' beds and what the
  // lakes' partitioning gave their water (negative: took from it); the same for overland lakes.
  double bound_to_lakes = 0.0, lake_bound_final = 0.0, lake_settled = 0.0, lake_released = 0.0;
  double lake_bound_from_chan = 0.0;  // kg the channels' wash load carried into the lakes (net)
  double bound_to_olakes = 0.0, olake_bound_final = 0.0, olake_settled = 0.0;
  double olake_released = 0.0;
  // Exfiltration: what the aquifer's water brought into the soil column (seepage up), what it
  // carried from the column into the overland water, and what the overland water gained by it.
  double soil_seep_up = 0.0, soil_exfil = 0.0, ov_exfil = 0.0;
  // The layered soil: what the water draining out of the bottom of the column carried down to
  // the groundwater (also in the system's mass out).
  double soil_seep_down = 0.0;
  // Channel lakes: what the lakes held at the start and hold now, what the links ending in them
  // brought, the overland water over their shores, the rain on them and the channel nodes a
  // rising lake took (net of those it gave back) brought; what their outlets gave to the links
  // below and carried out of the network, what decayed, and what was added back to lakes the
  // routing left negative.
  double ov_to_lakes = 0.0;
  double lake_init = 0.0, lake_final = 0.0, lake_from_chan = 0.0, lake_ov = 0.0;
  double lake_precip = 0.0, lake_nodes = 0.0, lake_to_chan = 0.0, lake_out = 0.0;
  double lake_decay = 0.0, lake_restored = 0.0, lake_error = 0.0;
  // Channel lakes that lose water to pumps or through leaking beds: what the pumps and the beds
  // took with it, and what the ground's water brought up through the beds.
  double lake_pump = 0.0, lake_bed_out = 0.0, lake_bed_in = 0.0;
  // Overland lakes: what they held at the start and hold now, what the overland water brought
  // them (net), the rain on them, what their spilled water carried back to the plane, what
  // decayed, and what was added back to lakes left negative.
  double olake_init = 0.0, olake_final = 0.0, olake_from_ov = 0.0, olake_precip = 0.0;
  double olake_spill = 0.0, olake_decay = 0.0, olake_restored = 0.0, olake_error = 0.0;
};

// The books of constituent k (1..num_contaminants) from the run totals and the stores as they
// are now; the soil's final mass includes what infiltration brought down and the water took up
// since the last soil step.
constituent_books constituent_run_books(const model_state& ms, int k);

// Writes the sections; nothing without overland constituent transport.
void write_constituent_run_summary(FILE* fp, const model_state& ms);
