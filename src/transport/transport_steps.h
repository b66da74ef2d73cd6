// Steps of sediment, contaminant and nutrient transport that the run driver calls: the
// soil-layer set-up at start-up and the constituent steps of the time loop.
#pragma once

struct model_state;

void contam_soil_layer_init(model_state& ms);       // start-up
void soil_contam_partition_step(model_state& ms);   // time loop 11
void sed_contam_overland_step(model_state& ms);     // time loop 14
void overland_contam_processes(model_state& ms);    // time loop 15
void overland_contam_mass_update(model_state& ms);  // time loop 16
void channel_sed_contam_step(model_state& ms);      // time loop 22
void channel_contam_sources(model_state& ms);       // time loop 23
void channel_lake_contam_routing(model_state& ms);  // time loop 24
