// Nutrient outputs: the overland species and total nitrogen and phosphorus maps at the map
// interval and the outlet series of the species at the hydrograph interval. Set up by
// open_map_datasets and written by the series and map output steps when nutrients are simulated.
#pragma once

struct model_state;

// The nutrient map objects of the species with an overland map output and of the total maps
// asked for (TOTAL_OV_N, TOTAL_OV_P).
void setup_nsm_total_maps(model_state& ms);
// One line per species with an outlet output: the series time and the concentration of the
// outlet cell's water (g/m3) to its concentration file, the mass the species has lost through
// the outlet so far (kg) to its mass file.
void write_nsm_outlet_series(model_state& ms);
// The total maps (computed first) and the species' mass and concentration maps.
void write_nsm_step_outputs(model_state& ms);
