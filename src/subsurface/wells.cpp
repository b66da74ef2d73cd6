// The run's list of active wells, emptied at the end of every run.
#include "subsurface/wells.h"

well_record* active_well_list = nullptr;

void wells_free_all() {
  while (active_well_list != nullptr) {
    well_record* w = active_well_list;
    active_well_list = w->next;
    delete w;
  }
}
