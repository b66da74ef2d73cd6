// A small channel network for the set-up and start-up tests: a 3 x 3 watershed of 30 m cells
// (cells 1..9 row by row) with two head links joining at a junction, written as a channel input
// file and a grid-stream file to a test's temporary folder and opened as a run opens them.
//
//   link 1 (trapezoid, 3 nodes) cells 1 and 4    link 2 (rectangle, 2 nodes: one computed) cell 3
//   link 3 (break-point V, 4 nodes) cells 7 and 8, fed by links 1 and 2; the outlet link
#pragma once

#include <string>

#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "support/test_support.h"

namespace torva_test {

inline const std::string channel_network_file =
    "TORVA_CHAN\n"
    "ALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 3\nMAXNODES 4\n"
    "CONNECT 1 3 0\n"
    "CONNECT 2 3 0\n"
    "CONNECT 3 0 2 1 2\n"
    "LINK 1\nNODES 3\nDX 30.0\nTRAPEZOID\nMANNINGS_N 0.035\n"
    "NODE 1\nELEV 101.0\nXSEC\nBOTTOM_WIDTH 2.0\nSIDE_SLOPE 1.0\n"
    "NODE 2\nELEV 100.6\nNODE 3\nELEV 100.2\n"
    "LINK 2\nNODES 2\nDX 30.0\nTRAPEZOID\nMANNINGS_N 0.035\n"
    "NODE 1\nELEV 100.8\nXSEC\nBOTTOM_WIDTH 1.0\nSIDE_SLOPE 0.0\n"
    "NODE 2\nELEV 100.4\n"
    "LINK 3\nNODES 4\nDX 30.0\nBREAKPOINT\nMANNINGS_N 0.03\n"
    "NODE 1\nELEV 100.0\nNPAIRS 3\nNUM_INTERP 10\nX1 0.0 102.0\nX1 4.0 100.0\nX1 8.0 102.0\n"
    "NODE 2\nELEV 99.8\nNODE 3\nELEV 99.6\nNODE 4\nELEV 99.4\n";

// Every computational node over its cell: link 1 nodes 1 and 2 over cells 1 and 4, link 2 node 1
// over cell 3, link 3 node 1 over cell 7, and cell 8 with three entries: link 3 nodes 2 and 3
// and, with no share, link 2 node 1.
inline const std::string channel_grid_stream_file =
    "GRIDSTREAMFILE\n"
    "STREAMCELLS 5\n"
    "CELLIJ 1 1\nNUMNODES 1\nLINKNODE 1 1 1.0\n"
    "CELLIJ 2 1\nNUMNODES 1\nLINKNODE 1 2 1.0\n"
    "CELLIJ 1 3\nNUMNODES 1\nLINKNODE 2 1 1.0\n"
    "CELLIJ 3 1\nNUMNODES 1\nLINKNODE 3 1 1.0\n"
    "CELLIJ 3 2\nNUMNODES 3\nLINKNODE 3 2 0.5\nLINKNODE 3 3 0.5\nLINKNODE 2 1 0.0\n";

// The 3 x 3 grid of the network: every cell active, its land at 102 m, above every bed, except
// cell 8 at 99.6 m, below the averaged beds of link 3 node 2 (99.7 m) and link 2 node 1
// (100.6 m) but above link 3 node 3 (99.5 m).
inline void set_channel_watershed(model_state& ms) {
  ms.rows = 3;
  ms.cols = 3;
  ms.cell_count = 9;
  ms.gridsize = 30.0;
  ms.index_map.allocate(3, 3);
  ms.cell_elev.allocate(9);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) ms.index_map[r][c] = (r - 1) * 3 + c;
  for (int cell = 1; cell <= 9; ++cell) ms.cell_elev[cell] = 102.0;
  ms.cell_elev[8] = 99.6;
}

// Writes the two files (or the given texts) and opens them as the run's channel input and
// grid-stream files, with explicit routing and the grid-stream tables switched on.
inline void open_channel_network(model_state& ms, const temp_dir& dir,
                                 const std::string& network = channel_network_file,
                                 const std::string& grid_stream = channel_grid_stream_file) {
  write_file(dir.file("net.chn"), network);
  write_file(dir.file("net.gst"), grid_stream);
  ms.channel.chan_explic = 1;
  ms.channel.stream_cell_on = 1;
  ms.cards.non_ortho_channels_given = 1;
  snprintf(ms.input.names.channel_input, sizeof ms.input.names.channel_input, "%s", "net.chn");
  file_handle_open(ms.channel.channel_input_file, "net.chn", "r");
  file_handle_open(ms.input.stream_cell_file, "net.gst", "r");
}

}  // namespace torva_test
