// Input-reading driver: reads the grid maps, mapping tables and per-process inputs of a run in
// a fixed order, stopping at the first failure.
#pragma once

struct model_state;

void read_maps(model_state& ms);

// With Richards infiltration, groundwater or explicit channels: sizes the previous-head array
// "PHEADOLD" by the largest of cell_count, the channel node total and the Richards node count.
// read_maps calls it once the channel network is set up, when all three counts are known. A
// failed allocation stops the run (its message printed, code 4000 reported).
void size_phead_old(model_state& ms);
