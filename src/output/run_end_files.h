// Files finished when a run ends normally, written by write_run_summary after the run's balances:
// the run total of the optimisation file, the end marks of the map datasets, the adjusted
// elevation map, and (after the VRO hydrograph file) the overland and soil-moisture hotstart
// maps that a later run starts from.
#pragma once

struct file_handle;
struct model_state;

// The end mark of a map dataset: the 4-byte little-endian integer 210 in a binary dataset, the
// line "ENDDS\n" in an ASCII one. A closed file gets nothing.
void write_dataset_end_mark(file_handle& file, bool binary);

// The files written before the VRO hydrograph file: the optimisation file's run line (then
// closed), the end mark of every enabled map dataset and the adjusted elevation map. Returns
// false when the adjusted elevation map does not open: its message and error 4000 are reported
// and the rest of the run's summary is not written.
bool write_run_end_maps(model_state& ms);

// The files finished after the VRO hydrograph file: the hotstart inputs are closed and the
// overland depth and surface soil moisture hotstart maps are written. A hotstart map that does
// not open prints its message and is left out; the run still ends normally.
void write_run_end_hotstarts(model_state& ms);
