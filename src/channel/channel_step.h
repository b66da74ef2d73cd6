// Channel step and lateral exchange with cells: when the channel is due, water moves between the
// grid cells and the channel nodes that cross them, the network is routed, the maxima and the
// run's channel totals are kept and the next channel time is chosen. The step itself,
// `channel_routing_step`, is declared in channel_steps.h for the run driver.
#pragma once

struct model_state;

// Moves water between every stream cell and the channel nodes that lie in it over a step of
// `dt` seconds: overland water into the channel over a weir or by Manning's law, and, with
// OVERBANK_FLOW, channel water over the bank onto the cell. Changes qlat (per unit length,
// m2/s), the cells' overland depths and the touched nodes' sections; returns the exchanged
// volume (m3, positive into the channel). A grid-stream entry naming a link, node or cell
// outside the network or the grid prints a message naming it and reports code 4000 at once.
// Stream cells that each own their grid cell exchange in parallel when there are at least
// chan_lateral_parallel_min_stream_cells of them, their entries' discharges then booked in entry
// order, so that the result is the same bits on any number of threads.
double chan_lateral_inflow(model_state& ms, double dt);

// Below this many stream cells, waking the threads takes longer than the exchange itself (some
// 0.1 to 0.2 ms where they sleep between parallel loops, against about 0.1 microseconds a
// stream cell).
inline constexpr int chan_lateral_parallel_min_stream_cells = 4096;

// The layout of the parallel exchange, made once the grid-stream table is read and checked:
// sets gst_rows_own_cells and allocates gst_lateral_q when every stream cell's entries name one
// grid cell of 1..cell_count and no grid cell has two stream cells. False when the memory
// cannot be had (the allocator has printed its message).
bool chan_lateral_exchange_setup(model_state& ms);
