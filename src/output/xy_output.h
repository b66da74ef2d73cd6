// XY outputs: the series of overland depth, groundwater head and stream flow written at chosen
// points (or the cells of a mask) so that a model set inside this one can take them as its XY
// boundary. The XYBDYOUTPUT_* project cards fill the names; the output steps write the files.
#pragma once

#include "output/xy_output_state.h"

// Closes the XY output files of `out`. The output files are not written by this version of the
// model yet, so there is nothing open to close; safe to call any number of times.
void xy_output_close(xy_output& out);
