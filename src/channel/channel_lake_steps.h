// Channel lakes as the other subsystems reach them: the end-of-event accounting lets the lakes
// take or give back cells, the map output shows the lake water in the depth map.
#pragma once

struct model_state;

// Moves every channel lake's surface and extent by its volume change since the last adjustment
// (cells taken in along the lake's search list, or given back). Does nothing without channel
// lakes. A taken cell that already belongs to another lake stops the run (code 4000).
void adjust_channel_lakes(model_state& ms);

// Copies `source` into `out` for cells 1..cell_count (both one-based per-cell arrays); with
// channel lakes, every cell a lake holds shows the lake's water-surface elevation less the
// cell's ground.
void channel_lake_depths(model_state& ms, const double* source, double* out);
