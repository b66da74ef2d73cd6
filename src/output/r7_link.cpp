// Coupling with the reservoir model: set-up of the segment link at start-up (called by the
// input-reading driver) and release of the coupling record at the end of the run.
#include "output/r7_link.h"

#include <new>

#include "framework/core/error_state.h"
#include "framework/core/raw_arrays.h"
#include "framework/model_state.h"

// The coupling itself is not built yet: the record is left as it was made.
int r7_link_init(r7_data&, const project_cards&, const raw_array2d<int>&, int, int, int, double) {
  return 0;
}

void r7_link_free(std::unique_ptr<r7_data>& r7) {
  r7.reset();
}

void set_up_r7_link(model_state& ms) {
  ms.output.r7.reset(new (std::nothrow) r7_data);
  if (!ms.output.r7) {
    raw_report_alloc_failure("r7_data");
    stop_now();
    return;
  }
  r7_link_init(*ms.output.r7, ms.cards, ms.index_map, ms.rows, ms.cols, ms.cell_count,
               static_cast<double>(ms.day_of_year));
}
