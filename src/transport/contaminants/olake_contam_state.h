// Dissolved constituents in the overland lakes (OVERLAND_LAKE_MAP): each lake is one fully mixed
// store of the overland plane. Held by the transport record of the run's model_state.
#pragma once

#include "framework/core/raw_arrays.h"

struct olake_contam_tables {
  int lakes = 0;  // overland lakes carrying constituents, 0 without them
  // Per constituent 1..num_contaminants and lake 1..lakes.
  raw_array2d<double> mass;     // g: dissolved mass of the lake
  raw_array2d<double> conc;     // g/m3: its concentration
  raw_array2d<double> pending;  // g: brought net by the water over the shores (negative: carried
                                // out by water leaving the lake over them) and by the cells a
                                // rising lake took, not yet applied
  // Per cell 1..cell_count, with channel or overland lakes: the concentration a lake cell holds
  // in the overland transport (g/m3), -1 off the lakes.
  raw_array1d<double> held;
  // Per lake 1..lakes, work of the lake step: the sum of decay coefficient x water over the
  // lake's cells (m3/day).
  raw_array1d<double> decay_weight;
  // Run books (kg), per constituent 1..num_contaminants.
  raw_array1d<double> init_total;     // in the lakes at start-up
  raw_array1d<double> from_ov_total;  // from the overland water (net)
  raw_array1d<double> precip_total;   // rain on the lakes
  raw_array1d<double> spill_total;    // carried over the rims by the spilled water
  raw_array1d<double> decay_total;    // decayed in the lakes
  raw_array1d<double> restored;       // added back to lakes left negative
  // kg, per constituent x term (olake_event_term_count): the lakes' stocks and run totals taken
  // at the event's start, from which the event summary forms the event's books.
  raw_array2d<double> event_start;
};
