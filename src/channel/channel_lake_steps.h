// Channel lakes as the other subsystems reach them: the end-of-event accounting lets the lakes
// take or give back cells, the map output shows the lake water in the depth map.
#pragma once

struct model_state;

// Moves every channel lake's surface and extent by its volume change since the last adjustment
// (cells taken in along the lake's search list, or given back). Does nothing without channel
// lakes. A taken cell that already belongs to another lake stops the run (code 4000).
void adjust_channel_lakes(model_state& ms);

// Evaporates every channel lake over one hour of weather (wind speed m/s, air temperature C,
// relative humidity %), adds it to `evaporated` (m3) and adjusts the extents. Does nothing
// without channel lakes. False after a fault of the extent (reported, code 4000).
bool evaporate_channel_lakes(model_state& ms, double wind_speed, double air_temp,
                             double relative_humidity, double& evaporated);

// Copies `source` into `out` for cells 1..cell_count (both one-based per-cell arrays); with
// channel lakes, every cell a lake holds shows the lake's water-surface elevation less the
// cell's ground.
void channel_lake_depths(model_state& ms, const double* source, double* out);
