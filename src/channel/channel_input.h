// Channel input file: the reader of the channel network (links, connections, nodes with their
// sections and bed elevations, break-point sections, hydraulic structures, lakes, point sources
// and pumps) and of the grid-stream file that ties channel nodes to grid cells (its reader
// lives in grid_stream_input.cpp). The network set-up calls read_chan_input once at start-up
// when channel routing is on.
#pragma once

#include <string>
#include <vector>

struct file_handle;
struct model_state;

// Card codes of the channel input and grid-stream files (1..74; 47, 49 and 55 unused).
enum chan_card : int {
  chan_card_alpha = 1,
  chan_card_beta = 2,
  chan_card_theta = 3,
  chan_card_dx = 4,
  chan_card_links = 5,
  chan_card_maxnodes = 6,
  chan_card_connect = 7,
  chan_card_link = 8,
  chan_card_nodes = 9,
  chan_card_trapezoid = 10,
  chan_card_trapezoid_subsurface = 11,
  chan_card_trapezoid_erode = 12,
  chan_card_trapezoid_subsurface_erode = 13,
  chan_card_breakpoint = 14,
  chan_card_breakpoint_erode = 15,
  chan_card_breakpoint_subsurface = 16,
  chan_card_breakpoint_subsurface_erode = 17,
  chan_card_erodible = 18,
  chan_card_subsurface = 19,
  chan_card_lake = 20,
  chan_card_mlake = 21,
  chan_card_structure = 22,
  chan_card_structtype = 23,
  chan_card_mannings_n = 24,
  chan_card_max_erosion = 25,
  chan_card_gw_bed_conductivity = 26,
  chan_card_gw_bed_thickness = 27,
  chan_card_dispersion_coeff = 28,
  chan_card_decay_coeff = 29,
  chan_card_num_outlets = 30,
  chan_card_node = 31,
  chan_card_elev = 32,
  chan_card_xsec = 33,
  chan_card_bottom_width = 34,
  chan_card_bankfull_depth = 35,
  chan_card_side_slope = 36,
  chan_card_x1 = 37,
  chan_card_x_y = 38,
  chan_card_npairs = 39,
  chan_card_streamcells = 40,
  chan_card_cellij = 41,
  chan_card_numnodes = 42,
  chan_card_linknode = 43,
  chan_card_numstructs = 44,
  chan_card_upinvert = 45,
  chan_card_downinvert = 46,
  chan_card_inlet_disch_coeff = 48,
  chan_card_rev_flow_disch_coeff = 50,
  chan_card_slope = 51,
  chan_card_length = 52,
  chan_card_width = 53,
  chan_card_height = 54,
  chan_card_diameter = 56,
  chan_card_rough_coeff = 57,
  chan_card_a_value = 58,
  chan_card_b_value = 59,
  chan_card_minwse = 60,
  chan_card_initwse = 61,
  chan_card_maxwse = 62,
  chan_card_numpts = 63,
  chan_card_crest_length = 64,
  chan_card_crest_low_elev = 65,
  chan_card_crest_low_loc = 66,
  chan_card_discharge_coeff_forward = 67,
  chan_card_discharge_coeff_reverse = 68,
  chan_card_steep_slope = 69,
  chan_card_shallow_slope = 70,
  chan_card_pointsource = 71,
  chan_card_num_interp = 72,
  chan_card_pumpto = 73,
  chan_card_unknown = 74,
};

// Takes the first word of `line` (leading blanks, tabs and newlines skipped; the word runs to
// the next blank, tab or newline), removes it so that the rest of the line, from the separator
// on, is left, and returns its card code, whatever its case; chan_card_unknown for an unknown
// word or a blank line.
int chan_input_card_code(std::string& line);

// The word of a card code, upper case, for messages ("?" for a code without a word).
std::string chan_card_name(int code);

// True when the channel readers keep their start-up lines off the console (SUPER_QUIET, or a
// process other than the first).
bool chan_input_quiet(const model_state& ms);

// One line of an input file with its number (1 for the first line).
struct numbered_line {
  std::string text;
  int number = 0;
};

// Every line of the file, read whole, with its number; the channel readers make their passes
// over these.
std::vector<numbered_line> read_numbered_lines(file_handle& h);

// Reads the channel input file open in ms.channel.channel_input_file into the network arrays of
// ms.channel and, with the non-orthogonal option on, the grid-stream file open in
// ms.input.stream_cell_file into the grid-stream tables; both files are closed on every return.
// Builds the break-point depth tables, averages the bed elevations over each node's reach and
// sets up the lakes. Returns 1 when some lake has bed losses (an MLAKE card), else 0; a fault
// (printed, with its code in run_error) returns 0 with the code set.
int read_chan_input(model_state& ms);

// Reads the grid-stream file `gst` (left open) into the grid-stream tables of ms.channel. The
// network must have been read (links and node counts). True when read; a fault is printed and
// reported at once, and the tables are then incomplete.
bool read_grid_stream_file(model_state& ms, file_handle& gst);
