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
void init_contaminant_overland(model_state&) {}
void read_aquatic_env(model_state&) {}
void nsm_overland_alloc(model_state&) {}
void contam_alloc(model_state&, int, int, int, int) {}
void nsm_assign_grid_constituents(model_state&) {}
void nsm_assign_gw_tables(model_state&) {}
void nsm_overland_set_params(model_state&) {}
void nsm_assign_mapped_params(model_state&) {}
