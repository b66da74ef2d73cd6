// Run parameters: reads the project file and copies every card value into the run's
// model_state, deriving the names and values that the steps use.
#pragma once

struct model_state;

void read_run_parameters(const char* project_path, model_state& ms);
