// Dissolved constituents in the channel lakes: each lake is one fully mixed store that takes the
// constituents its inflowing links, the overland water over its shores and the rain on it
// bring, decays them, and gives them to its outlet with its water. Called by the channel
// constituent set-up, sources and routing (channel_contam.cpp) and by the overland constituent
// transport for the lake cells.
#pragma once

#include "transport/contaminants/chan_contam_kernels.h"

struct model_state;

// Creates the lake tables and fills every lake with INIT_CHAN_CONC over its starting volume;
// nothing without perennial lakes. False after an allocation failure (the run stopped).
bool init_lake_contaminants(model_state& ms);

// Gathers one decay interval (s) of every decaying constituent in every lake.
void lake_contam_decay(model_state& ms, double interval);

// Before constituent c is routed: the channel nodes a rising lake took since the last routing
// give the lake their mass (and what waited to be applied to them), the nodes it gave back take
// the lake's concentration with their water. Then the lakes' work copies and net source rates
// from their pending amounts over the routing step dt (s).
void lake_contam_prepare(model_state& ms, int c, double dt);

// After constituent c is routed: the lakes' masses back from the work copies, a lake left
// negative emptied and that booked, and the lakes' books of the step (kg).
void lake_contam_finish(model_state& ms, int c, const chan_lake_work& lakes);

// After every constituent is routed: the rain gathered on the lakes starts again, and each
// lake's volume is kept as the next routing's start.
void lake_contam_end_routing(model_state& ms);

// The lake work the routing reads and moves for the constituent being routed.
chan_lake_work lake_route_work(model_state& ms);

// The channel lake that holds cell (1..cell_count), 0 for none or without carried lakes.
int contam_lake_of_cell(const model_state& ms, int cell);
