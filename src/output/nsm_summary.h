// The nutrient section of the end-of-run summary: per species the overland water's books, and
// the books of nitrogen and phosphorus over the water and the soil pools; with channel lakes each
// lake's un-ionised ammonia and nitrogen and phosphorus totals at the end of the run. Called by
// write_run_summary after the constituent summaries.
#pragma once

#include <cstdio>

struct model_state;

void write_nsm_run_summary(FILE* fp, model_state& ms);

// The nutrient sections of the event runoff summary: per soil pool the soil column's books, per
// species the overland water's and the channels' books over the event just closed.
void write_nsm_event_summary(FILE* fp, const model_state& ms);
