// The result holder through which a run reports its per-event peaks and volumes to the
// calibration driver that started it (or to itself under the OPTIMIZE card): sized at start-up,
// filled at the end of every event, read by the objective after the run.
#pragma once

#include "calibration/run_result_state.h"

// Stores one finished event's outlet and per-location values: slot stride * (event - 1) + 1
// and the slots after it. An event number outside 1..event_count only warns on the console.
void store_event_result(run_result& holder, int event, double peak, double volume,
                        const double* loc_peaks, const double* loc_volumes, int locations);

// Releases the value arrays (the driver's share) and the location arrays (the run's share).
void release_event_values(run_result& holder);
void release_location_values(run_result& holder);
