// Opening the run files: start-up step after the option checks. Every input and output file
// that the project names is opened into its handle of the model state, in a fixed order, the
// summary file early so that it receives the error messages from then on.
#pragma once

struct model_state;

// Opens the run files. A file that cannot be opened raises err_file_not_open (a location-output
// code for the location outputs) with the file's role and name, left for the driver, and ends
// the step, unless its parameter can come from
// a table of the mapping-table file or the file is a hotstart input.
void open_run_files(model_state& ms);

// Opens the channel outputs of the nutrient sub-model (total nitrogen and phosphorus, and the
// concentration and mass series of every water-column constituent asked for).
void open_nsm_channel_outputs(model_state& ms);
