// Channel point sources: the record of the timed point inflows to channel nodes read from the
// channel point-source file, a member of the channel record. The channel start-up fills it, the
// point-source step changes the flows when a record falls due, and the node volume balance of
// the routing adds the flows to their nodes.
#pragma once

#include <string>

#include "framework/core/file_handle.h"
#include "framework/core/raw_arrays.h"

struct chan_point_state {
  int chan_point_on = 0;            // 1 once the point-source file is read: the flows are in force
  int chan_point_count = 0;         // point sources 1..chan_point_count (NUMPT)
  int chan_point_records = 0;       // timed records of the file (NRPDS)
  int chan_point_records_read = 0;  // timed records read so far in this run
  double chan_point_next_time = 0.0;  // Julian day of the next record, 0 when none is due
  int next_year = 0;                  // date of the next record's INPUT header
  int next_month = 0;
  int next_day = 0;
  int next_hour = 0;
  int next_minute = 0;
  int node_stride = 0;  // MAXNODES + 1: address = link x node_stride + node
  // Per flat node address link x node_stride + node, 0..(links + 1) x node_stride: the point
  // inflow of the node (m3/s), 0 where no point source lies.
  raw_array1d<double> chan_point_flow;
  raw_array1d<int> chan_point_address;  // per point source 1..chan_point_count: its address
  // [constituent 1..][address]: concentration of the point inflow (g/m3); allocated only when
  // channel constituents are simulated.
  raw_array2d<double> chan_point_conc;
  int chan_point_constituents = 0;  // constituents read per value group, 0 without transport
  // What the sources handed their nodes since the channel constituents last took it, booked by
  // the channel routing at every accepted sub-step with the flows and concentrations in force
  // there (a later record changes both only after the routing): [constituent][source
  // 1..chan_point_count] the mass the inflows brought (g), and [source] the water the
  // withdrawals took (m3, negative), which leaves at the node's own concentration. Allocated
  // only when channel constituents are simulated.
  raw_array2d<double> chan_point_mass;
  raw_array1d<double> chan_point_withdrawn;

  // The file, read word by word across lines; the words of the current line not yet taken and
  // the number of that line (1 for the first), for the messages.
  file_handle chan_point_file;
  std::string pending_words;
  int line_number = 0;
};

// The point inflow of node `node` of link `link` (m3/s): 0 while no point-source file is in
// force. The node must lie in the network (link 1..links, node 1..MAXNODES).
inline double chan_point_inflow(const chan_point_state& p, int link, int node) {
  return p.chan_point_on ? p.chan_point_flow[static_cast<long>(link) * p.node_stride + node] : 0.0;
}
