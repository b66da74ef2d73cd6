// XY outputs: the series of overland depth, groundwater head and stream flow written at chosen
// points (or the edge cells of an inset mask) so that a model set inside this one can take them
// as its XY boundary. The XYBDYOUTPUT_* project cards fill the names; the run's start-up sets
// the points and files up, every time-series output step writes a row to each open file, and
// the end of the run closes each with an END_TS line.
#pragma once

#include "output/xy_output_state.h"

struct model_state;

// Start-up (after the channel network): reads the points or the mask, weights the cells around
// each point, finds the stream crossings of the mask's edge and opens and heads the files. A
// points or mask file that cannot be read, or an output file that cannot be opened, stops the
// run with a message naming it.
void init_xy_output(model_state& ms);

// One row in every open XY output file at the current time.
void write_xy_output_step(model_state& ms);

// Writes "END_TS" to every open XY output file of `out` and closes it; safe to call any number
// of times.
void xy_output_close(xy_output& out);
