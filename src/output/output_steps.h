// Steps of the output and coupling subsystem that the run driver calls: the output set-up at
// start-up, the exchange with the land-management framework, the event balances, the series and
// map outputs of the time loop and the end-of-run summary.
#pragma once

struct model_state;

void open_map_datasets(model_state& ms);             // start-up
void write_linknode_run_headers(model_state& ms);    // start-up
void setup_contam_map_outputs(model_state& ms);      // start-up, constituent outputs
void setup_contam_channel_outputs(model_state& ms);  // start-up, constituent outputs
// Start-up, by the soil state set-up before it counts the soil's water: VOLP_FIRST's moisture
// into the initial moisture map, the layered soil's top layers or the Richards root zones.
void read_volp_start_moisture(model_state& ms);
void read_volp_exchange_start(model_state& ms);  // start-up
void init_xy_output(model_state& ms);            // start-up
void set_up_r7_link(model_state& ms);            // start-up, R7_FLUXES
// Start-up, ANALYZERS card: reads the analyzer control file, makes its 1DS and 2DS analyzers
// and appends them to ms's list in the order of its lines. A file that does not open makes
// none; a faulty line stops the run with a message naming the file, the line and the field.
void read_analyzer_file(model_state& ms, const char* file_name);
void write_volp_exchange_end(model_state& ms);  // time loop 27
void finish_event_balance(model_state& ms);     // time loop 28
// Opens the event's water books at its first step (called by the event initialisation).
void open_event_books(model_state& ms);
void write_series_outputs(model_state& ms);  // time loop 29
void write_output_maps(model_state& ms);     // time loop 30
void write_run_summary(model_state& ms);     // end of a normal run
// Tells every analyzer of the run that a precipitation event has started (time loop 2).
void notify_analyzers_event_start(model_state& ms);
void read_theta_locations(model_state& ms);  // start-up, by the input-reading driver
