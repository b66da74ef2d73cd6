// Run parameters. The project-file reader is not built yet: nothing is read.
#include "input/run_parameters.h"

#include "framework/model_state.h"

void read_run_parameters(const char*, model_state&) {}
