// The channel and overland lakes' constituent sections of the event runoff summary. Called by
// write_event_summary after the nutrient sections.
#pragma once

#include <cstdio>

struct model_state;

// Per contaminant and nutrient species, for the channel lakes and then for the overland lakes:
// the lakes' dissolved books over the event just closed with their balance error, the bound
// phase's terms with sediment-bound constituents, and each lake's final mass and concentration.
// Nothing without lakes carrying constituents.
void write_lake_contam_event_summary(FILE* fp, const model_state& ms);
