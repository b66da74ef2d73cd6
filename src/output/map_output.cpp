// Map output objects: the end of a dataset file when the object is destroyed at the end of the
// run. The writers of the frames belong to the output steps.
#include "output/map_output.h"

#include <cstdio>

map_output::~map_output() {
  if (dataset_mode && file.fp != nullptr) fprintf(file.fp, "ENDDS\n");
  file_handle_release(file);
}
