// Opening the run files. Not built yet: no file is opened.
#include "input/run_files.h"

#include "framework/model_state.h"

void open_run_files(model_state&) {}
