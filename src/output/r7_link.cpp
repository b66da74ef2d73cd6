// Release of the reservoir-model coupling record at the end of the run.
#include "output/r7_link.h"

void r7_link_free(std::unique_ptr<r7_data>& r7) {
  r7.reset();
}
