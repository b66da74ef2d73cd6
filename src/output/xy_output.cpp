// XY outputs: the record the XYBDYOUTPUT_* project cards fill and its closing, which runs when
// the project's card record is destroyed at the end of the run.
#include "output/xy_output.h"

xy_output::~xy_output() {
  xy_output_close(*this);
}

void xy_output_close(xy_output&) {
  // No XY output file is opened by this version of the model: nothing to close.
}
