// Output steps called by the run driver. The output writers are not built yet: each step leaves
// the model state unchanged.
#include "output/output_steps.h"

#include "framework/model_state.h"

void open_map_datasets(model_state&) {}
void write_linknode_run_headers(model_state&) {}
void setup_contam_map_outputs(model_state&) {}
void setup_contam_channel_outputs(model_state&) {}
void read_volp_exchange_start(model_state&) {}
void init_xy_output(model_state&) {}
void write_volp_exchange_end(model_state&) {}
void finish_event_balance(model_state&) {}
void write_series_outputs(model_state&) {}
void write_output_maps(model_state&) {}
void write_run_summary(model_state&) {}
void read_analyzer_file(model_state&, const char*) {}
void read_theta_locations(model_state&) {}
