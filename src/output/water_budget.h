// The water books of the summaries: the event budget closed at every event's end and the run
// totals closed at the end of the run. Volumes in m3; errors as noted. Fields of processes this
// version does not simulate (channels, perennial lakes, pipes, groundwater, Sacramento) stay 0
// unless their steps set them.
#pragma once

#include "output/water_budget_state.h"

// The event's balance error in the form the run's options call for: without channels, with
// channels, or with the Sacramento model (opposite sign). Sets event_mass_in, event_mass_out
// (not in the Sacramento form) and event_balance_error: -1 when no water came in.
enum class event_balance_form { overland, channel, sacramento };
void close_event_balance(event_budget& b, event_balance_form form);

// (inputs - outputs) / denominator * scale, or 0 when the denominator is not positive.
double balance_ratio(double numerator, double denominator, double scale);
