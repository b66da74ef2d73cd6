// Coupling with the reservoir model: set-up of the segment link at start-up (called by the
// input-reading driver) and release of the coupling record at the end of the run.
#include "output/r7_link.h"

// The coupling itself is not built yet: the record is left as it was made.
int r7_link_init(r7_data&, const project_cards&, const raw_array2d<int>&, int, int, int, double) {
  return 0;
}

void r7_link_free(std::unique_ptr<r7_data>& r7) {
  r7.reset();
}
