// Input-reading driver. Not built yet: no grid is read.
#include "input/read_maps.h"

#include "framework/model_state.h"

void read_maps(model_state&) {}
