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
  double to_channels = 0.0;  // handed to the channel nodes (channel sediment routing)
  double to_lakes = 0.0;     // carried into the channel lakes, less what they gave back
  // (eroded - deposited - suspended - out - to_channels) / eroded x 100, 0 when nothing was
  // eroded.
  double error_percent() const;
};

// The books of class k (1..num_sed_classes) as the cells hold them now.
sediment_class_books overland_sediment_books(const model_state& ms, int k);

// Writes the summary; `event` selects the event form (a heading line more and "percent" after the
// error). Nothing without soil erosion.
void write_overland_sediment_summary(FILE* fp, const model_state& ms, bool event);

// The channel sediment of a run (channel sediment routing): per class the sediment the channels
// took from the overland plane, the sand and the wash load that came in, left through the outlet
// and remain, with their balance errors (percent). Nothing without channel sediment routing.
struct channel_sediment_books {
  double sand_initial = 0.0, sand_in = 0.0, sand_out = 0.0, sand_final = 0.0;
  double wash_in = 0.0, wash_out = 0.0, wash_final = 0.0;
  double sand_to_lakes = 0.0, wash_to_lakes = 0.0, wash_from_lakes = 0.0;
  double sand_error() const;
  double wash_error() const;
  double overall_error() const;
};
channel_sediment_books channel_sediment_totals(const model_state& ms);
void write_channel_sediment_summary(FILE* fp, const model_state& ms);
// The sediment books of the channel lakes (with perennial lakes): all lakes together, then per
// lake the wash load exchanged with the channels and the overland plane, settled and held, and
// the sand settled on its bed and on its shore cells. Written after the channel summary.
void write_lake_sediment_summary(FILE* fp, const model_state& ms);

// Writes "new_bed_elevations.txt": per node of every link its bed elevation now and at the start.
// False after a reported fault (the file does not open).
bool write_new_bed_elevations(const model_state& ms);
