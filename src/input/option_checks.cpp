// Option conflict checks. Not built yet: the check finds no conflict.
#include "input/option_checks.h"

#include "framework/model_state.h"

void check_project_options(model_state&) {}
