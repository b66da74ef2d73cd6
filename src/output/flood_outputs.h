// The flood outputs written when a run ends: the map of each cell's largest overland depth
// (FLOOD_GRID) and the record of each channel node's largest depth (FLOOD_STREAM). The overland
// and channel steps keep the maxima as the run goes; write_run_end_maps calls this once.
#pragma once

struct model_state;

// Writes the flood depth map as the one frame of its dataset, closed with the end mark of its
// format (or, with one grid file per frame, as one ESRI grid under its card's name), and the
// stream flood record: per node the highest water surface of the run less the node's bed.
// Returns false when the flood map's grid file does not open: its message and error 4000 are
// reported and the rest of the run's summary is not written.
bool write_flood_outputs(model_state& ms);
