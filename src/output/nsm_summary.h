// The nutrient section of the end-of-run summary: per species the overland water's books, and
// the books of nitrogen and phosphorus over the water and the soil pools. Called by
// write_run_summary after the constituent summaries.
#pragma once

#include <cstdio>

struct model_state;

void write_nsm_run_summary(FILE* fp, const model_state& ms);
