// The result holder through which a run reports its per-event peaks and volumes to the
// calibration driver that started it (or to itself under the OPTIMIZE card): sized at start-up,
// filled at the end of every event, read by the objective after the run.
#pragma once

#include "calibration/run_result_state.h"

struct model_state;

// Start-up: sizes the run's result holder when results are collected for a driver (or under
// OPTIMIZE), creating one when the run was started without a driver.
void alloc_driver_results(model_state& ms);

// End of start-up of a calibration trial: every entry of the replacement list must have been
// substituted into some input of the project, else the trial values would change nothing; such
// an entry stops the run with a message naming it and the list file. False when it did.
bool check_calibration_replacement(model_state& ms);

// After each channel sediment step of `dt` seconds, with OPTIMIZE_SED: books the step's wash
// load at the outlet and at the sediment locations into the event's peaks and volumes.
void book_sediment_results(model_state& ms, double dt);

// Stores one finished event's outlet and per-location values: slot stride * (event - 1) + 1
// and the slots after it. An event number outside 1..event_count only warns on the console.
void store_event_result(run_result& holder, int event, double peak, double volume,
                        const double* loc_peaks, const double* loc_volumes, int locations);

// Releases the value arrays (the driver's share) and the location arrays (the run's share).
void release_event_values(run_result& holder);
void release_location_values(run_result& holder);
