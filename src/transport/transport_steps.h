// Steps of sediment, contaminant and nutrient transport that the run driver calls: the
// soil-layer set-up at start-up and the constituent steps of the time loop.
#pragma once

struct model_state;

void contam_soil_layer_init(model_state& ms);      // start-up
void soil_contam_partition_step(model_state& ms);  // time loop 11
void sed_contam_overland_step(model_state& ms);    // time loop 14
void overland_contam_processes(model_state& ms);   // time loop 15
// Part of the overland processes: the water the aquifer gave each cell's surface since the last
// run carries the constituents up (exfil_contam.cpp).
void exfiltration_mass(model_state& ms);
// Whether exfiltration_mass has water to carry up at all (an aquifer or a held table under a
// soil that exfiltrates, with the run's exfiltrated depths held).
bool exfiltration_exchanges(const model_state& ms);
void overland_contam_mass_update(model_state& ms);  // time loop 16
void channel_sed_contam_step(model_state& ms);      // time loop 22
void channel_contam_sources(model_state& ms);       // time loop 23
void channel_lake_contam_routing(model_state& ms);  // time loop 24
// Overland erosion, transport and settling of every size class over one overland step of dt
// seconds; called by the overland flow step once it has moved the water.
void overland_sediment_step(model_state& ms, double dt);
// Channel sediment: the arrays and bed stocks, set up after the channel network at start-up, and
// the sediment pass of a channel step of dt seconds, called by the channel routing step after its
// hydraulics.
void alloc_channel_sediment(model_state& ms);
void channel_sediment_step(model_state& ms, double dt);

// Start-up services called by the input-reading driver.
void init_sediment_overland(model_state& ms);     // overland sediment set-up
void init_contaminant_overland(model_state& ms);  // overland contaminant set-up
// The channel constituent tables, made once (the constituent outputs may ask before the channel
// constituent set-up); a hydraulic structure on the network stops the run, as the constituents
// cannot cross it yet.
void alloc_channel_contaminants(model_state& ms);
// Nutrient sub-model set-up (NUTRIENTS), in the driver's order.
void read_aquatic_env(model_state& ms);              // aquatic environment file
void nsm_overland_alloc(model_state& ms);            // overland nutrient arrays
void nsm_assign_grid_constituents(model_state& ms);  // initial overland and soil values
void nsm_assign_gw_tables(model_state& ms);          // groundwater constituent tables
void nsm_overland_set_params(model_state& ms);       // overland nutrient parameters
void nsm_assign_mapped_params(model_state& ms);      // nutrient parameter tables
// The stream medium of the nutrient sub-model: its water chemistry and result tables, made once
// the channel constituent tables exist (the nutrient outputs may ask before the channel
// constituent set-up), and the species' initial stream values (ST_INIT_<species>), set after the
// channel constituents' own start.
void nsm_streams_alloc(model_state& ms);
void nsm_assign_stream_constituents(model_state& ms);
// The channel un-ionised ammonia, then total nitrogen, total Kjeldahl nitrogen and total
// phosphorus of every node (g), into the stream medium's result tables; called by the nutrient
// outputs.
void nsm_streams_results(model_state& ms);
// The lake medium of the nutrient sub-model (with channel constituents and perennial lakes): its
// water chemistry and result arrays, made once; then, for the outputs and the summary, each
// lake's species, un-ionised ammonia, total nitrogen, total Kjeldahl nitrogen and total
// phosphorus (g) from the lake constituent tables.
void nsm_lakes_alloc(model_state& ms);
void nsm_lakes_results(model_state& ms);
// The nutrient species join the constituent list as numbers first..first + 8 (and, with soil
// transport, the soil pools are allocated); called by contam_alloc.
void nsm_join_constituents(model_state& ms, int first);
// The nutrient exchange of the top soil layer's pools with the overland water of every cell over
// dt seconds; called by the overland constituent processes at their kinetics interval.
void nsm_overland_step(model_state& ms, double dt);
// The nutrient soil step: the pools take what the water infiltrated and give what the water took
// up; called by the soil constituent step.
void nsm_soil_step(model_state& ms);
// Fills the water content of the nutrient soil layers (the carrier layers' THETA).
void fill_nsm_layer_moisture(model_state& ms);
// Fills THETA, the water content of every cell's carrier layers, from the layered soil's water;
// called by the soil constituent step and the nutrient layers' moisture.
void fill_layered_theta(model_state& ms);
// The overland un-ionised ammonia, then total nitrogen and total phosphorus of every cell (g),
// into the nutrient container's result arrays; called by the nutrient outputs.
void nsm_overland_results(model_state& ms);
// The books of one element (nitrogen or phosphorus) of the nutrient species and soil pools over
// the run, in kg: what the water and the soil held at the start, what the rain brought and what
// the transport had to restore to emptied cells; what left through the outlet (and, without the
// soil column, into the ground); what the water and the soil hold now; and in a channel network
// the channels' own books.
struct nsm_element_books {
  double water_init = 0.0;
  double soil_init = 0.0;
  double rain = 0.0;
  int water_table = 0;  // a water table or an aquifer lies under the soil
  double exfil = 0.0;   // brought up by the aquifer's water seeping onto the surface
  double restored = 0.0;
  double out = 0.0;
  double water_final = 0.0;
  double soil_final = 0.0;
  // In a channel network: what the channels held at the start, what left through the channel
  // outlet, what the routing restored to nodes it left negative, what the channels hold now
  // (with what the plane handed them that the routing has not applied yet).
  int channels = 0;
  // In a channel network whose channels carry no constituents: what the stream cells' water
  // handed the channels, out of the books there.
  int untracked_streams = 0;
  double lost_to_stream = 0.0;
  double chan_init = 0.0;
  double chan_out = 0.0;
  double chan_restored = 0.0;
  double chan_final = 0.0;
  // Net of the channels' other bounds (negative out of the channels): the exchange with the
  // ground through the stream beds (stream loss) and the loads of the channel point sources.
  double chan_ground = 0.0;
  double chan_point = 0.0;
  int ground_on = 0;  // the stream beds exchange with the ground
  int points_on = 0;  // channel point sources bring or take constituents
  // With channel or overland lakes: what they held at the start, the rain on them, what their
  // outlets carried out of the network, what was added back to lakes left negative, and what
  // they hold now (with what waits to be applied to them).
  int lakes = 0;
  double lake_init = 0.0;
  double lake_rain = 0.0;
  double lake_out = 0.0;
  double lake_restored = 0.0;
  double lake_final = 0.0;
  double error_percent = 0.0;  // (in - out - held) / in x 100; 0 when nothing came in
};
// The event books of the nutrient species and pools (kg): taken at each event's start, formed
// at its end for the event summary.
void nsm_event_snapshot(model_state& ms);
struct nsm_event_species_books {
  double ov_init = 0.0, ov_final = 0.0, ov_point = 0.0, ov_precip = 0.0, ov_uptake = 0.0;
  double ov_infil = 0.0, ov_out = 0.0, ov_qlat = 0.0, ov_neg = 0.0, ov_exfil = 0.0;
  double chan_init = 0.0, chan_final = 0.0, chan_in = 0.0, chan_out = 0.0, chan_restored = 0.0;
  double chan_ground = 0.0, chan_point = 0.0;  // net, negative out of the channels
  // With lakes: what the overland water gave the lakes over their shores (net) and the overland
  // lakes spilled back to it; what the channel lakes' outlets gave the channels and the channels
  // gave the lakes (the links ending in one and the nodes a rising lake took).
  int lakes = 0;
  double ov_to_lakes = 0.0, ov_from_lakes = 0.0, chan_from_lakes = 0.0, chan_to_lakes = 0.0;
};
nsm_event_species_books nsm_event_species(const model_state& ms, int species);  // 1..9
struct nsm_event_pool_books {
  double init = 0.0, final_mass = 0.0;
  double infil = 0.0;      // what the partner species infiltrated into the pool
  double from_soil = 0.0;  // what the pool gave the partner species in the water
};
nsm_event_pool_books nsm_event_pool(const model_state& ms, int pool);  // 1..13
// Display name of water name k (0..11) or, with `soil`, of pool k (0..12); null for any other k
// (the nutrient kernels' own, for the summaries).
const char* nsm_constituent_name(int k, bool soil);
nsm_element_books nsm_nitrogen_books(const model_state& ms);
nsm_element_books nsm_phosphorus_books(const model_state& ms);
// Per-constituent and per-cell contaminant arrays: constituents 1..num_constituents over cells
// 1..num_cells.
void contam_alloc(model_state& ms, int num_constituents, int num_cells, int overland, int soil);

// The channel lakes' constituent books over one event (lake_event_books.cpp), one constituent's
// in kg. The dissolved stocks include the overland water's hand-over that waits to be applied;
// `nodes` is net of what the nodes a falling lake gave back took with them; `released` is what the
// lakes' partitioning gave their water (negative: took from it); `bed` is what the ground's water
// brought up through the lakes' beds less what passed down through them.
struct lake_event_books {
  double init = 0.0, final_mass = 0.0;
  double precip = 0.0, from_chan = 0.0, nodes = 0.0, ov = 0.0, bed = 0.0, restored = 0.0;
  double released = 0.0;
  double outflow = 0.0, pump = 0.0, decay = 0.0;
  double error = 0.0;  // percent of what came in, 0 when nothing came in
  // With sediment-bound constituents: what the lakes' wash load held bound at the start and
  // holds now, what the plane's sediment handed the lakes over their shores (net) and what
  // settled with the wash load onto the lakes' beds.
  // `bound_from_chan` is what the channels' wash load brought the lakes bound (the links ending
  // in one and the nodes a rising lake took), net of what the lakes' outlets gave the channels.
  bool bound = false;
  double bound_init = 0.0, bound_final = 0.0, bound_from_ov = 0.0, bound_from_chan = 0.0;
  double settled = 0.0;
};

// The overland lakes' constituent books over one event, one constituent's in kg: the dissolved
// stocks include the overland water's hand-over that waits to be applied; `ov` is what the
// overland water brought over the shores (net) and `spill` what the water over the rims carried
// out; `released` is what the lakes' partitioning gave their water (negative: took from it).
struct olake_event_books {
  double init = 0.0, final_mass = 0.0;
  double precip = 0.0, ov = 0.0, restored = 0.0, released = 0.0;
  double spill = 0.0, decay = 0.0;
  double error = 0.0;  // percent of what came in, 0 when nothing came in
  // With sediment-bound constituents: what the lakes' suspended sediment held bound at the start
  // and holds now, what the plane's sediment handed the lakes (net) and what settled onto their
  // beds.
  bool bound = false;
  double bound_init = 0.0, bound_final = 0.0, bound_from_ov = 0.0, settled = 0.0;
};

// Takes the channel and overland lakes' stocks and run totals of every constituent; nothing
// without lakes carrying constituents.
void lake_contam_event_snapshot(model_state& ms);

// The channel lakes' books of constituent c (1..num_contaminants) since the last snapshot.
lake_event_books lake_contam_event(const model_state& ms, int c);
// The overland lakes' books of constituent c since the last snapshot.
olake_event_books olake_contam_event(const model_state& ms, int c);
