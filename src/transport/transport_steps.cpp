// Transport steps called by the run driver. Sediment, contaminant and nutrient transport are not
// built yet: each step leaves the model state unchanged.
#include "transport/transport_steps.h"

#include "framework/model_state.h"

void contam_soil_layer_init(model_state&) {}
void soil_contam_partition_step(model_state&) {}
void sed_contam_overland_step(model_state&) {}
void overland_contam_processes(model_state&) {}
void overland_contam_mass_update(model_state&) {}
void channel_sed_contam_step(model_state&) {}
void channel_contam_sources(model_state&) {}
void channel_lake_contam_routing(model_state&) {}
