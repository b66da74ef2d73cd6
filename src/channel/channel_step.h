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

// The exchange between a stream cell's entry and its grid cell, as kernels on plain values.
// The cell: its overland depth and ground elevation (m) and 1/n of its surface.
struct exchange_cell {
  double depth = 0.0;
  double elev = 0.0;
  double inv_n = 0.0;
};
// The channel node: bed, bank-full level and water level (m), and the entry's length of channel
// (its share of the node's spacing, m).
struct exchange_node {
  double bed = 0.0;
  double bank = 0.0;
  double level = 0.0;
  double width = 0.0;
};
// Which laws apply (OVERBANK_FLOW, overland backwater) and the cell size (m).
struct exchange_rules {
  bool overbank = false;
  bool backwater = false;
  double grid = 0.0;
};
// The rate of an exchange (m3/s, of the water it moves) and its direction; water leaving the
// channel frees what lies above the channel surface lowered by `drop` (m).
struct lateral_rate {
  double q = 0.0;
  bool into_channel = true;
  double drop = 0.0;
};

// The exchange's rate: overland water falls into the channel over a weir on both banks, or by
// Manning's law where the cell's surface lies below the channel's water; with OVERBANK_FLOW
// channel water above the bank leaves over the bank weir onto a cell lying lower, or by
// Manning's law onto a cell whose water stands above the bank; with overland backwater the cell
// only drains while its surface lies above both the channel and the bank.
lateral_rate lateral_exchange_rate(const exchange_cell& cell, const exchange_node& node,
                                   const exchange_rules& rules);
// Water into the channel at `q` over dt (s): the cell's `depth` gives it, and a cell that would
// run dry gives its whole depth (q lowered to it).
void take_from_cell(double& depth, double& q, double cell_area, double dt);
// Water out of the channel at `q` over dt: at most a hundredth of the `available` water above
// the lowered surface leaves in one step, and what would stand higher on the cell (ground
// `elev`) than the channel's `level` stays in the channel. `q` becomes the (negative) discharge
// into the channel and `depth` the cell's new depth.
void give_to_cell(double& depth, double& q, double elev, double level, double available,
                  double cell_area, double dt);

// Below this many stream cells, waking the threads takes longer than the exchange itself (some
// 0.1 to 0.2 ms where they sleep between parallel loops, against about 0.1 microseconds a
// stream cell).
inline constexpr int chan_lateral_parallel_min_stream_cells = 4096;

// The layout of the parallel exchange, made once the grid-stream table is read and checked:
// sets gst_rows_own_cells and allocates gst_lateral_q when every stream cell's entries name one
// grid cell of 1..cell_count and no grid cell has two stream cells. False when the memory
// cannot be had (the allocator has printed its message).
bool chan_lateral_exchange_setup(model_state& ms);
