// The channel lakes' constituent books over one event: at each event's start (the event set-up)
// the lakes' stocks and run totals of every constituent are taken; at the event's end the event
// summary forms each term as its change since then.
#pragma once

struct model_state;

// The number of values taken per constituent at an event's start (the columns of
// chan_contam_tables::lake_event_start).
constexpr int lake_event_term_count = 16;

// One constituent's books over the event (kg) in the channel lakes. The dissolved stocks include
// the overland water's hand-over that waits to be applied; `nodes` is net of what the nodes a
// falling lake gave back took with them; `released` is what the lakes' partitioning gave their
// water (negative: took from it); `bed` is what the ground's water brought up through the lakes'
// beds less what passed down through them.
struct lake_event_books {
  double init = 0.0, final_mass = 0.0;
  double precip = 0.0, from_chan = 0.0, nodes = 0.0, ov = 0.0, bed = 0.0, restored = 0.0;
  double released = 0.0;
  double outflow = 0.0, pump = 0.0, decay = 0.0;
  double error = 0.0;  // percent of what came in, 0 when nothing came in
  // With sediment-bound constituents: what the lakes' wash load held bound at the start and
  // holds now, what the plane's sediment handed the lakes over their shores (net) and what
  // settled with the wash load onto the lakes' beds.
  bool bound = false;
  double bound_init = 0.0, bound_final = 0.0, bound_from_ov = 0.0, settled = 0.0;
};

// Takes the lakes' stocks and run totals of every constituent; nothing without channel lakes
// carrying constituents.
void lake_contam_event_snapshot(model_state& ms);

// The books of constituent c (1..num_contaminants) since the last snapshot.
lake_event_books lake_contam_event(const model_state& ms, int c);
