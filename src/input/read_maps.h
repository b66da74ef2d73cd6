// Input-reading driver: reads the grid maps, mapping tables and per-process inputs of a run in
// a fixed order, stopping at the first failure.
#pragma once

struct model_state;

void read_maps(model_state& ms);
