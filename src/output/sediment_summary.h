// The overland sediment summary of the summary file: per size class the volume eroded from the
// surface, deposited on it, still in suspension and routed through the outlet, with the class's
// balance error. Written by the event runoff summary after its groundwater block and by the
// end-of-run summary after the water balances.
#pragma once

#include <cstdio>

struct model_state;

// One class's books (m3), summed over the cells: eroded is the volume taken from the parent soil
// (positive), deposited the loose deposit, suspended the sediment still carried by the water and
// out the volume routed through the outlet.
struct sediment_class_books {
  double eroded = 0.0;
  double deposited = 0.0;
  double suspended = 0.0;
  double out = 0.0;
  // (eroded - deposited - suspended - out) / eroded x 100, 0 when nothing was eroded.
  double error_percent() const;
};

// The books of class k (1..num_sed_classes) as the cells hold them now.
sediment_class_books overland_sediment_books(const model_state& ms, int k);

// Writes the summary; `event` selects the event form (a heading line more and "percent" after the
// error). Nothing without soil erosion.
void write_overland_sediment_summary(FILE* fp, const model_state& ms, bool event);
