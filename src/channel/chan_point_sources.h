// Channel point sources: the reader of the channel point-source file (the point sources with
// their starting flows, then timed records that change the flows), its set-up at channel
// start-up and the time-loop step (declared in channel_steps.h) that reads the next record when
// its time has come. The routing adds the flows to their nodes (chan_point_inflow).
#pragma once

struct channel_state;
struct chan_point_state;
struct model_state;

// Reads the head of the open point-source file of `pts`: the NUMPT count, one POINT card per
// source ("POINT node link flow", then one concentration per constituent when `constituents` is
// positive), the NRPDS count of timed records and the first record's INPUT header, whose date it
// stores. Card words are matched in any case over their first five letters; other words are
// passed over while a card is sought (at most 10000 words per search). Every point must lie on a
// node 1..nx of a link 1..links of `ch` that holds channel water (no lake, no structure), each
// node at most once. Allocates the address table (and the concentrations); `pts.chan_point_flow`
// and `pts.node_stride` must be set up by the caller.
// Returns 1 when the first record's header was read, 0 when there are no timed records (NRPDS
// 0, or the file ends before NRPDS), -1 when the file ends unexpectedly. A fault of the file
// prints its message naming the file and line and reports code 4000 at once (run_error is then
// fatal and the result 0).
int read_chan_point_source(chan_point_state& pts, const channel_state& ch, int constituents);

// Reads the value group of every point source (its flow into `pts.chan_point_flow` at its
// address, then its concentrations) of the record whose header was read last; when that record
// was not the last (`pts.chan_point_records_read` below NRPDS) reads and stores the next header.
// Returns 1 when a further header was read, 0 when the record read was the last, -1 when the file
// ends unexpectedly; a fault of the file is reported as by read_chan_point_source.
int read_chan_point_input_record(chan_point_state& pts);

// The channel point sources of the channel start-up, when the project names the file: opens it
// (a file that cannot be opened is reported and the run goes on without point inputs), sets up
// the flows and reads the file's head; the first record falls due at the Julian day of its
// header. Called by init_channel_storage after the initial channel storage is booked.
void chan_point_setup(model_state& ms);

// With channel constituents: books what the point sources handed their nodes over an accepted
// routing sub-step of `h` seconds, the inflows' mass at their concentrations and the
// withdrawals' water (chan_point_mass, chan_point_withdrawn). Called by the channel routing.
void book_chan_point_mass(chan_point_state& pts, double h);
