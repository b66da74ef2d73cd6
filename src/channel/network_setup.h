// Channel network set-up: reads the channel input file, allocates the network's state arrays,
// reads the initial channel state and the output location lists, ties the channel nodes to grid
// cells through the grid-stream tables and writes the short-link and thalweg diagnostics. Called
// once at start-up by the grid-input reader (setup_channel_network, declared in channel_steps.h).
#pragma once

#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"

struct channel_state;
struct model_state;

// Completes the grid-stream tables read with the channel input file: checks every routed link's
// node spacing, checks every entry's link, node and cell against the network and the grid,
// allocates the exchange tables and finds the grid row and column of every entry's cell. Faults
// are printed and reported at once (code 4000).
void init_grid_stream(model_state& ms);

// Cell table of the orthogonal layout: for every position of the index map whose cell has a
// channel node (cell_link and cell_node per cell 1..cell_count), con_vect(link, node) = the cell.
// Prints "Warning in cconnect, vect>GNUM\n" for a cell number above the cell count (skipped);
// positions whose link or node lies outside con_vect are skipped.
void cconnect(int cell_count, int rows, int cols, const raw_array2d<int>& index_map,
              const raw_array1d<int>& cell_node, const raw_array1d<int>& cell_link,
              link_node_array<int>& con_vect);

// "short_links.out": the links of a single computational node.
void write_short_links(int link_count, const raw_array1d<int>& nx);

// "bad_thalweg.out": the grid-stream entries whose bed lies above the land surface of their cell.
void write_bad_thalweg(const channel_state& ch, const raw_array1d<double>& cell_elev);
