// Steps of the atmosphere that the run driver calls in the time loop: the start of each
// precipitation event, the per-record update of the rainfall intensity on the cells, and the
// rain of each step onto the cells, lakes and stores; the hourly hydromet step's start-up set-up
// and the snowmelt the rainfall step calls during events (the hydromet step itself,
// hydromet_et_step, is declared with the subsurface steps). Each step decides itself whether it
// is due.
#pragma once

#include <span>

#include "atmosphere/snowmelt.h"

struct model_state;

void start_precip_event(model_state& ms);    // time loop 2
void update_precip_record(model_state& ms);  // time loop 4
void apply_rainfall(model_state& ms);        // time loop 5

// Allocates the weather's per-cell arrays and the soil account's, lays a uniform initial snow
// cover and raises the snow flag where snow lies; long-term runs only. False after a fault
// (reported).
bool weather_setup(model_state& ms);

// Frozen-ground index of every cell that is not a lake cell, once per hour: decays by 0.99875
// and grows with frost, the less the deeper the snow (swe in m).
void ltm_cell_decay(int cell_count, double air_temp, std::span<const double> swe,
                    std::span<const int> ov_lake, std::span<const int> lake,
                    std::span<double> cfgi);

// Melts the snow over dt seconds with the hour's weather (with the rain's heat when rain_heat);
// the result's snow flag becomes the run's.
snow_result melt_snow(model_state& ms, double dt, bool rain_heat);
