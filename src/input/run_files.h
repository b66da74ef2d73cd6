// Opening the run files: every input and output file that the project names, in a fixed order,
// the summary file first so that it receives the error messages from then on.
#pragma once

struct model_state;

void open_run_files(model_state& ms);
