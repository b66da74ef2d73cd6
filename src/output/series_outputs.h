// Time-series outputs: at every hydrograph interval one line of each series file (the reservoir
// model's inflow, the outlet hydrograph and its six-digit twin, the outlet sediment, the series
// at listed channel, pipe and sediment locations, soil moisture at listed cells, the lakes) and
// one record of each stream, pipe and constituent link/node dataset.
#pragma once

#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"
#include "output/series_outputs_state.h"

struct model_state;

// The long-term time stamp: the Julian day with STRICT_JULIAN_DATE, else the decimal year, a
// year being 527040 minutes when (year - 1900) is divisible by 4, else 525600.
double long_term_stamp(const model_state& ms);

// Start-up, after the map datasets: the headers of the stream and pipe link/node datasets.
void write_linknode_run_headers(model_state& ms);

// Start-up, while the maps are read: the soil-moisture location list (IN_THETA_LOCATION).
void read_theta_locations(model_state& ms);

// Time loop: at the steps that are a multiple of the hydrograph interval, in the root process.
void write_series_outputs(model_state& ms);
