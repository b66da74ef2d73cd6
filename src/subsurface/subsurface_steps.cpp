// Subsurface steps called by the run driver that are not built yet: each leaves the model state
// unchanged. Infiltration and the soil tables live in infiltration.cpp and soil_tables.cpp.
#include "subsurface/subsurface_steps.h"

#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/linked_list.h"
#include "framework/model_state.h"
#include "subsurface/wells.h"

void groundwater_step(model_state&) {}

// Well placement is not built: no well becomes active; the well-table list is released.
void wells_from_index_map(model_state&, const raw_array2d<int>&, well_record*& table_wells) {
  list_free(table_wells);
}
