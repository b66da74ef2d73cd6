// The run's list of active wells, emptied at the end of every run.
#include "subsurface/wells.h"

#include "framework/core/linked_list.h"

well_record* active_well_list = nullptr;

void wells_free_all() {
  list_free(active_well_list);
}
