// The channel and overland lakes' constituent books over one event: at each event's start (the
// event set-up) the lakes' stocks and run totals of every constituent are taken; at the event's
// end the event summary forms each term as its change since then.
#pragma once

// The number of values taken per constituent at an event's start (the columns of
// chan_contam_tables::lake_event_start).
constexpr int lake_event_term_count = 17;
// The same for the overland lakes (the columns of olake_contam_tables::event_start).
constexpr int olake_event_term_count = 10;
