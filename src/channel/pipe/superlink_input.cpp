// The pipe network's readers: the superlink network file (CONNECT, SJUNC, SLINK blocks of NODE
// and PIPE records) and the grid-pipe file of the tile drains, called by the tile-pipe grid
// set-up at start-up; the division of the pipes into computational segments; and the ties of
// the outlets to their channel nodes, called by the input driver after the channel network.
#include "channel/pipe/superlink_input.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "channel/channel_steps.h"
#include "channel/pipe/superlink_state.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"

namespace {

// Largest pipe count of one superlink (the network's limit on nodes per superlink).
constexpr int max_pipes_per_superlink = 1000;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The first word of a line, lower-cased; the rest stays in `line`.
std::string record_word(std::string& line) {
  std::string word;
  if (!next_token(line, word)) return {};
  return lower(word);
}

struct junction_record {
  bool seen = false;
  double ground = 0.0, bottom = 0.0, area = 0.0;
  int inlet = 0, row = 0, col = 0;
  double side = 0.0, dia = 0.0;
};

struct node_record {
  bool seen = false;
  double ground = 0.0, invert = 0.0, area = 0.0;
  int inlet = 0, row = 0, col = 0;
  double side = 0.0, dia = 0.0;
};

struct pipe_record {
  bool seen = false;
  int type = 0;
  double diameter = 0.0, width = 0.0, slope = 0.0, n = 0.0, length = 0.0;
  double conductivity = 0.0, spacing = 0.0;
};

struct link_record {
  bool connected = false;
  int us = 0, ds = 0;
  bool has_block = false;
  int pipes = 0;
  std::vector<node_record> nodes;  // 1..pipes + 1
  std::vector<pipe_record> pipe;   // 1..pipes
  std::vector<double> segments;    // computational segment lengths of the divided superlink,
                                   // pipe after pipe (empty: one segment per pipe)
  std::vector<int> pipe_segments;  // 1..pipes: segments of each pipe when divided
};

// Reading state of the network file: its lines, the line at hand and the file's name.
struct network_reader {
  std::vector<std::string> lines;
  std::size_t at = 0;  // index of the line being read
  const char* file = "";
  int line_number() const { return static_cast<int>(at) + 1; }
};

// A record whose fields are missing or wrong: the message names the file, the line and what
// is wrong, and the run stops.
void bad_record(const network_reader& r, const char* record, const char* what) {
  stop_with_message("Error: in the superlink network file %s, line %d: the %s record %s.\n", r.file,
                    r.line_number(), record, what);
}

bool take_fields(std::string& rest, int* ints[], const char* const int_kinds, double* doubles[],
                 int count) {
  int ii = 0, di = 0;
  for (int f = 0; f < count; ++f) {
    if (int_kinds[f] == 'i') {
      if (!take_int(rest, *ints[ii++])) return false;
    } else {
      if (!take_double(rest, *doubles[di++])) return false;
    }
  }
  return true;
}

// A record number within 1..count.
bool number_in_range(const network_reader& r, const char* record, const char* what, int value,
                     int count) {
  if (value >= 1 && value <= count) return true;
  char text[160];
  std::snprintf(text, sizeof text, "names %s %d, outside 1..%d", what, value, count);
  bad_record(r, record, text);
  return false;
}

bool read_junction(network_reader& r, std::string& rest, std::vector<junction_record>& js) {
  int number = 0;
  junction_record j;
  int* ints[] = {&j.inlet, &j.row, &j.col};
  double* doubles[] = {&j.ground, &j.bottom, &j.area, &j.side, &j.dia};
  if (!take_int(rest, number) || !take_fields(rest, ints, "dddiiidd", doubles, 8)) {
    bad_record(r, "SJUNC",
               "needs its number, ground and bottom elevations, plan area, inlet type, grid "
               "row and column, grate side length and grate diameter");
    return false;
  }
  const int count = static_cast<int>(js.size()) - 1;
  if (!number_in_range(r, "SJUNC", "superjunction", number, count)) return false;
  if (js[number].seen) {
    bad_record(r, "SJUNC", "repeats a superjunction already given");
    return false;
  }
  if (j.area < 0.0 || j.inlet < 0 || j.side < 0.0 || j.dia < 0.0) {
    bad_record(r, "SJUNC", "has a negative plan area, inlet type or grate size");
    return false;
  }
  if (j.bottom > j.ground)
    printf("WARNING: ground elevation less than node bottom. superjunction %d\n", number);
  else if (j.ground - j.bottom < 2.0)
    printf("Warning: ground elevation less than 2.0m above node bottom. superjunction %d\n",
           number);
  j.seen = true;
  js[number] = j;
  return true;
}

bool read_node(network_reader& r, std::string& rest, int link, link_record& l) {
  int number = 0;
  node_record n;
  int* ints[] = {&n.inlet, &n.row, &n.col};
  double* doubles[] = {&n.ground, &n.invert, &n.area, &n.side, &n.dia};
  if (!take_int(rest, number) || !take_fields(rest, ints, "dddiiidd", doubles, 8)) {
    bad_record(r, "NODE",
               "needs its number, ground elevation, invert, plan area, inlet type, grid row "
               "and column, grate side length and grate diameter");
    return false;
  }
  if (!number_in_range(r, "NODE", "node", number, l.pipes + 1)) return false;
  if (l.nodes[number].seen) {
    bad_record(r, "NODE", "repeats a node already given");
    return false;
  }
  if (n.area < 0.0 || n.inlet < 0 || n.side < 0.0 || n.dia < 0.0) {
    bad_record(r, "NODE", "has a negative plan area, inlet type or grate size");
    return false;
  }
  if (n.invert > n.ground)
    printf("WARNING: ground elevation less than node bottom. superlink %d, node %d\n", link,
           number);
  else if (n.ground - n.invert < 2.0)
    printf("Warning: ground elevation less than 2.0m above node bottom. superlink %d, node %d\n",
           link, number);
  n.seen = true;
  l.nodes[number] = n;
  return true;
}

// A PIPE record; `number` receives its number (0 when it could not be read).
bool read_pipe(network_reader& r, std::string& rest, int link, link_record& l, int& number) {
  number = 0;
  pipe_record p;
  int* ints[] = {&p.type};
  double* doubles[] = {&p.diameter, &p.width,        &p.slope,  &p.n,
                       &p.length,   &p.conductivity, &p.spacing};
  if (!take_int(rest, number) || !take_fields(rest, ints, "iddddddd", doubles, 8)) {
    number = 0;
    bad_record(r, "PIPE",
               "needs its number, section type, diameter, width, slope, Manning n, length, "
               "conductivity and drain spacing");
    return false;
  }
  if (!number_in_range(r, "PIPE", "pipe", number, l.pipes)) return false;
  if (l.pipe[number].seen) {
    bad_record(r, "PIPE", "repeats a pipe already given");
    return false;
  }
  if (p.type < 1 || p.type > 3) {
    printf("Error: pipe cross-section type not valid: node %d link %d.\n", number, link);
    stop_now();
    return false;
  }
  if (p.n < 1e-8) {
    printf("Error: pipe roughness value not valid: node %d link %d.\n", number, link);
    stop_now();
    return false;
  }
  if (p.conductivity > 1e-8 && p.spacing < 1e-8) {
    printf(
        "Error: drain spacing cannot be zero if pipe conductivity greater than zero: node %d "
        "link %d.\n",
        number, link);
    stop_now();
    return false;
  }
  if (p.slope < 0.0) printf("Warning: pipe slope is negative: node %d link %d\n", number, link);
  if (p.length < 1e-8) {
    printf("Error: pipe length is zero or negative: node %d link %d.\n", number, link);
    stop_now();
    return false;
  }
  // The sections need a size: a pipe of no diameter (or a box or arch of no width) carries
  // nothing and would divide by zero in its geometry.
  if (p.diameter <= 0.0 || (p.type != 1 && p.width <= 0.0) || p.conductivity < 0.0) {
    bad_record(r, "PIPE",
               "needs a diameter above 0, a width above 0 for arch and box sections and a "
               "conductivity of 0 or more");
    return false;
  }
  p.seen = true;
  l.pipe[number] = p;
  return true;
}

// The SLINK block of superlink `link`: NODE and PIPE records up to the PIPE numbered with the
// superlink's pipe count; another record (blank lines pass) ends the block early.
bool read_block(network_reader& r, int link, link_record& l) {
  while (r.at + 1 < r.lines.size()) {
    std::string rest = r.lines[r.at + 1];
    const std::string word = record_word(rest);
    if (word.empty() && rest.empty()) {
      ++r.at;
      continue;
    }
    if (word != "node" && word != "pipe") return true;
    ++r.at;
    if (word == "node") {
      if (!read_node(r, rest, link, l)) return false;
    } else {
      int number = 0;
      if (!read_pipe(r, rest, link, l, number)) return false;
      if (number == l.pipes) return true;
    }
  }
  return true;
}

// Every superlink needs its CONNECT record, its SLINK block with all nodes and pipes, and every
// superjunction its SJUNC record.
bool network_complete(const char* file, const std::vector<junction_record>& js,
                      const std::vector<link_record>& ls) {
  for (std::size_t j = 1; j < js.size(); ++j) {
    if (!js[j].seen) {
      stop_with_message(
          "Error: the superlink network file %s gives no SJUNC record for superjunction "
          "%d.\n",
          file, static_cast<int>(j));
      return false;
    }
  }
  for (std::size_t s = 1; s < ls.size(); ++s) {
    const link_record& l = ls[s];
    const int link = static_cast<int>(s);
    if (!l.connected || !l.has_block) {
      stop_with_message(
          "Error: the superlink network file %s gives no %s record for superlink %d.\n", file,
          l.connected ? "SLINK" : "CONNECT", link);
      return false;
    }
    for (int k = 1; k <= l.pipes + 1; ++k) {
      if (!l.nodes[k].seen) {
        stop_with_message(
            "Error: the superlink network file %s gives no NODE record for node %d of "
            "superlink %d.\n",
            file, k, link);
        return false;
      }
      if (k <= l.pipes && !l.pipe[k].seen) {
        stop_with_message(
            "Error: the superlink network file %s gives no PIPE record for pipe %d of "
            "superlink %d.\n",
            file, k, link);
        return false;
      }
    }
  }
  return true;
}

bool allocate_network(channel_state& ch, superlink_state& sl, int junctions, int links,
                      int node_rows) {
  const int cols = junctions > links ? junctions : links;
  bool ok = true;
  for (auto [a, name] : {std::pair{&sl.bound, "bound"},
                         {&sl.us_sjunc, "us_sjunc"},
                         {&sl.ds_sjunc, "ds_sjunc"},
                         {&sl.nnodes, "nnodes"},
                         {&sl.num_nodes, "num_nodes"},
                         {&ch.superlink_cnodes, "superlink_cnodes"},
                         {&ch.superjunct_i, "superjunct_i"},
                         {&ch.superjunct_j, "superjunct_j"}})
    ok = ok && allocate_reported(*a, cols, name);
  for (auto [a, name] : {std::pair{&sl.As_sjunc, "As_sjunc"},
                         {&sl.grate_sidelength_sjunc, "grate_sidelength_sjunc"},
                         {&sl.grate_dia_sjunc, "grate_dia_sjunc"},
                         {&sl.ground_elev, "ground_elev"},
                         {&sl.junc_bottom, "junc_bottom"},
                         {&sl.sjunc_head, "sjunc_head"},
                         {&sl.Q_junc, "Q_junc"},
                         {&sl.us_Zinv, "us_Zinv"},
                         {&sl.ds_Zinv, "ds_Zinv"},
                         {&sl.superlink_chan_outflow, "superlink_chan_outflow"},
                         {&sl.superlink_lost_outflow, "superlink_lost_outflow"}})
    ok = ok && allocate_reported(*a, cols, name);
  for (auto [a, name] : {std::pair{&sl.sec_type, "sec_type"},
                         {&ch.inlet_type, "inlet_type"},
                         {&ch.superlink_node_i, "superlink_node_i"},
                         {&ch.superlink_node_j, "superlink_node_j"}})
    ok = ok && allocate_reported(*a, node_rows, cols, name);
  ok = ok && allocate_reported(sl.otc_node, 2, cols, "otc_node") &&
       allocate_reported(sl.otc_pipe, 2, cols, "otc_pipe") &&
       allocate_reported(sl.file_cnode, node_rows, cols, "file_cnode");
  for (auto [a, name] : {std::pair{&sl.diameter, "diameter"},
                         {&sl.width, "width"},
                         {&sl.S0, "S0"},
                         {&sl.M_n, "M_n"},
                         {&sl.dx, "dx"},
                         {&sl.dxc, "dxc"},
                         {&sl.superlink_pipe_conductivity, "superlink_pipe_conductivity"},
                         {&sl.drain_spacing, "drain_spacing"},
                         {&sl.node_ground_elev, "node_ground_elev"},
                         {&sl.slink_node_Zinv, "slink_node_Zinv"},
                         {&sl.As, "As"},
                         {&sl.grate_sidelength_node, "grate_sidelength_node"},
                         {&sl.grate_dia_node, "grate_dia_node"},
                         {&sl.slink_node_depth, "slink_node_depth"},
                         {&sl.Q_node, "Q_node"}})
    ok = ok && allocate_reported(*a, node_rows, cols, name);
  sl.node_rows = node_rows;
  return ok;
}

// Fills the network arrays from the records: each superlink's computational nodes are its
// file nodes, or, for a divided superlink, its file nodes with the interior nodes of each pipe
// laid along it between them.
void fill_network(channel_state& ch, superlink_state& sl, const std::vector<junction_record>& js,
                  const std::vector<link_record>& ls) {
  for (std::size_t j = 1; j < js.size(); ++j) {
    const junction_record& r = js[j];
    sl.ground_elev[j] = r.ground;
    sl.junc_bottom[j] = r.bottom;
    sl.As_sjunc[j] = r.area;
    ch.inlet_type[0][j] = r.inlet;
    ch.superjunct_i[j] = r.row;
    ch.superjunct_j[j] = r.col;
    sl.grate_sidelength_sjunc[j] = r.side;
    sl.grate_dia_sjunc[j] = r.dia;
    sl.bound[j] = r.inlet >= 11 ? 1 : 0;
  }
  for (std::size_t s = 1; s < ls.size(); ++s) {
    const link_record& l = ls[s];
    sl.us_sjunc[s] = l.us;
    sl.ds_sjunc[s] = l.ds;
    sl.nnodes[s] = l.pipes;
    for (int k = 1; k <= l.pipes; ++k) sl.dx[k][s] = l.pipe[k].length;
    auto set_node = [&](int at, const node_record& n) {
      sl.node_ground_elev[at][s] = n.ground;
      sl.slink_node_Zinv[at][s] = n.invert;
      sl.As[at][s] = n.area;
      ch.inlet_type[at][s] = n.inlet;
      ch.superlink_node_i[at][s] = n.row;
      ch.superlink_node_j[at][s] = n.col;
      sl.grate_sidelength_node[at][s] = n.side;
      sl.grate_dia_node[at][s] = n.dia;
    };
    auto set_segment = [&](int at, const pipe_record& p, double length) {
      sl.sec_type[at][s] = p.type;
      sl.diameter[at][s] = p.diameter;
      sl.width[at][s] = p.width;
      sl.S0[at][s] = p.slope;
      sl.M_n[at][s] = p.n;
      sl.superlink_pipe_conductivity[at][s] = p.conductivity;
      sl.drain_spacing[at][s] = p.spacing;
      sl.dxc[at][s] = length;
    };
    const int segments = static_cast<int>(l.segments.size());
    if (segments == 0) {
      for (int k = 1; k <= l.pipes + 1; ++k) set_node(k, l.nodes[k]);
      for (int k = 1; k <= l.pipes; ++k) set_segment(k, l.pipe[k], l.pipe[k].length);
      for (int k = 1; k <= l.pipes + 1; ++k) sl.file_cnode[k][s] = k;
      sl.num_nodes[s] = l.pipes;
    } else {
      // Each pipe's segments in turn: its file nodes at their ends, the interior nodes laid
      // along it with the invert and ground between those of its two file nodes.
      int at = 1;  // computational node at the upstream end of pipe k
      int used = 0;
      for (int k = 1; k <= l.pipes; ++k) {
        const node_record& first = l.nodes[k];
        const node_record& last = l.nodes[k + 1];
        sl.file_cnode[k][s] = at;
        set_node(at, first);
        const double length = l.pipe[k].length;
        double along = 0.0;
        for (int i = 0; i < l.pipe_segments[k]; ++i, ++at) {
          const double piece = l.segments[used++];
          set_segment(at, l.pipe[k], piece);
          along += piece;
          if (i + 1 == l.pipe_segments[k]) break;
          const double f = along / length;
          sl.slink_node_Zinv[at + 1][s] = first.invert + f * (last.invert - first.invert);
          sl.node_ground_elev[at + 1][s] = first.ground + f * (last.ground - first.ground);
        }
        ++at;
      }
      sl.file_cnode[l.pipes + 1][s] = at;
      set_node(at, l.nodes[l.pipes + 1]);
      sl.num_nodes[s] = segments;
      sl.otc_node[1][s] = 1, sl.otc_node[2][s] = l.pipes + 1;
      sl.otc_pipe[1][s] = 1, sl.otc_pipe[2][s] = l.pipes;
    }
    ch.superlink_cnodes[s] = sl.num_nodes[s];
    sl.us_Zinv[s] = sl.slink_node_Zinv[1][s];
    sl.ds_Zinv[s] = sl.slink_node_Zinv[sl.num_nodes[s] + 1][s];
  }
}

// The grid-pipe file: GRIDPIPEFILE, PIPECELLS n, then per pipe cell CELLIJ i j, NUMPIPES m and
// m SPIPE records (superlink, pipe, share of the pipe in the cell).
int read_grid_pipe_file(model_state& ms, file_handle& h, const std::vector<link_record>& ls) {
  superlink_state& sl = ms.superlink;
  const char* file = h.path;
  std::string line;
  int line_number = 0;
  auto next_line = [&]() {
    if (!read_text_line(line, h)) return false;
    ++line_number;
    return true;
  };
  std::string word;
  std::string first;
  if (next_line()) first = line;
  if (!next_token(first, word) || word != "GRIDPIPEFILE") {
    printf("The gridpipe file format is invalid\n");
    stop_with_message("Error: the grid-pipe file %s does not begin with GRIDPIPEFILE.\n", file);
    return -9;
  }
  int cells = 0;
  if (!next_line() || grid_pipe_card_code(line) != 0) {
    printf("The second card in the grid-pipe file must be PIPECELLS\n");
    printf("File format error, program terminating.\n");
    stop_now();
    return -9;
  }
  if (!take_int(line, cells) || cells <= 0) {
    printf("The number of PIPECELLS in the gridpipe (.gpi) file\n");
    printf("must be greater than 0.  File format error, program terminating\n");
    stop_now();
    return -9;
  }
  struct cell_entry {
    int row = 0, col = 0, cell = 0, declared = -1;
    std::vector<int> link, node;
    std::vector<double> pct;
  };
  std::vector<cell_entry> entries;
  int numpipes_seen = 0;
  auto fail = [&](const char* what) {
    stop_with_message("Error: in the grid-pipe file %s, line %d: %s.\n", file, line_number, what);
    return -9;
  };
  while (next_line()) {
    const int code = grid_pipe_card_code(line);
    if (code == 1) {
      cell_entry e;
      if (static_cast<int>(entries.size()) >= cells)
        return fail("more CELLIJ records than the PIPECELLS count");
      if (!take_int(line, e.row) || !take_int(line, e.col))
        return fail("a CELLIJ record needs the grid row and column");
      if (e.row < 1 || e.row > ms.rows || e.col < 1 || e.col > ms.cols || ms.index_map.empty() ||
          ms.index_map[e.row][e.col] <= 0)
        return fail("a CELLIJ record names a grid position outside the watershed");
      e.cell = ms.index_map[e.row][e.col];
      entries.push_back(std::move(e));
    } else if (code == 2) {
      int m = 0;
      if (!take_int(line, m) || m < 1)
        return fail("a NUMPIPES record needs a pipe count of 1 or more");
      if (numpipes_seen >= cells) return fail("more NUMPIPES records than the PIPECELLS count");
      ++numpipes_seen;
      if (static_cast<int>(entries.size()) >= numpipes_seen)
        entries[numpipes_seen - 1].declared = m;
      else
        return fail("a NUMPIPES record comes before the CELLIJ record of its cell");
    } else if (code == 3) {
      if (entries.empty()) return fail("an SPIPE record comes before any CELLIJ record");
      int link = 0, node = 0;
      double pct = 0.0;
      if (!take_int(line, link) || !take_int(line, node) || !take_double(line, pct))
        return fail("an SPIPE record needs the superlink, the pipe and the share of the cell");
      if (link < 1 || link >= static_cast<int>(ls.size()))
        return fail("an SPIPE record names a superlink the network does not hold");
      if (node < 1 || node > ls[link].pipes)
        return fail("an SPIPE record names a pipe its superlink does not hold");
      if (pct < 0.0 || pct > 1.0)
        return fail("an SPIPE record gives a share of the pipe outside 0..1");
      cell_entry& e = entries.back();
      e.link.push_back(link);
      e.node.push_back(node);
      e.pct.push_back(pct);
    } else if (code == 0) {
      return fail("PIPECELLS is given twice");
    }
  }
  if (static_cast<int>(entries.size()) != cells) {
    stop_with_message(
        "Error: the grid-pipe file %s names %d pipe cells in PIPECELLS but gives %d CELLIJ "
        "records.\n",
        file, cells, static_cast<int>(entries.size()));
    return -9;
  }
  int widest = 0;
  for (std::size_t p = 0; p < entries.size(); ++p) {
    const cell_entry& e = entries[p];
    const int given = static_cast<int>(e.link.size());
    if (e.declared != given) {
      stop_with_message(
          "Error: pipe cell %d of the grid-pipe file %s declares %d pipes in NUMPIPES but gives "
          "%d SPIPE records.\n",
          static_cast<int>(p) + 1, file, e.declared < 0 ? 0 : e.declared, given);
      return -9;
    }
    if (given > widest) widest = given;
  }
  sl.pipe_cell_count = cells;
  sl.pipe_cell_max_pipes = widest;
  if (!allocate_reported(sl.gpi_ncellsingrid, cells, "gpi_ncellsingrid") ||
      !allocate_reported(sl.gpi_link, cells, widest, "gpi_link") ||
      !allocate_reported(sl.gpi_node, cells, widest, "gpi_node") ||
      !allocate_reported(sl.gpi_gnum, cells, widest, "gpi_gnum") ||
      !allocate_reported(sl.gpi_pct, cells, widest, "gpi_pct")) {
    stop_now();
    return -9;
  }
  for (int p = 1; p <= cells; ++p) {
    const cell_entry& e = entries[p - 1];
    sl.gpi_ncellsingrid[p] = static_cast<int>(e.link.size());
    for (int k = 1; k <= sl.gpi_ncellsingrid[p]; ++k) {
      sl.gpi_link[p][k] = e.link[k - 1];
      sl.gpi_node[p][k] = e.node[k - 1];
      sl.gpi_gnum[p][k] = e.cell;
      sl.gpi_pct[p][k] = e.pct[k - 1];
    }
  }
  if (!ms.super_quiet) printf("Finished reading gridpipe file.\n");
  return 0;
}

}  // namespace

int grid_pipe_card_code(std::string& line) {
  std::size_t start = line.find_first_not_of(" \t\n");
  if (start == std::string::npos) {
    line.clear();
    return 4;
  }
  std::size_t end = line.find_first_of(" \t\n", start);
  if (end == std::string::npos) end = line.size();
  const std::string word = lower(line.substr(start, end - start));
  line.erase(0, end);
  if (word == "pipecells") return 0;
  if (word == "cellij") return 1;
  if (word == "numpipes") return 2;
  if (word == "spipe") return 3;
  return 4;
}

std::vector<double> pipe_segment_lengths(double length) {
  if (!(length > 10.0)) return {length};
  if (length <= 20.0) return {0.5 * length, 0.5 * length};
  // Stages laid from both ends: each adds a pair of segments of its size while the rest
  // allows; a rest too short for the next stage is shared by the last pair or becomes one
  // middle segment.
  std::vector<double> ends = {10.0};
  double rest = length - 20.0;
  struct stage {
    double share_below;   // a rest below this is shared by the last pair
    double middle_below;  // a rest below this (and not shared) is one middle segment
    double next;          // else a pair of this size is added
  };
  const stage stages[] = {{10.0, 40.0, 20.0}, {20.0, 100.0, 50.0}, {50.0, 200.0, 100.0}};
  std::vector<double> middle;
  bool placed = false;
  for (const stage& st : stages) {
    if (rest < st.share_below) {
      ends.back() += 0.5 * rest;
      placed = true;
      break;
    }
    if (rest < st.middle_below) {
      middle.push_back(rest);
      placed = true;
      break;
    }
    ends.push_back(st.next);
    rest -= 2.0 * st.next;
  }
  if (!placed) {
    // Two 100 m segments are laid; 100 m middle segments follow while 100 m remain, and the
    // remainder joins the last of them (or, with none, the two 100 m segments share it).
    if (rest < 100.0) {
      ends.back() += 0.5 * rest;
    } else {
      while (rest >= 100.0) {
        middle.push_back(100.0);
        rest -= 100.0;
      }
      middle.back() += rest;
    }
  }
  std::vector<double> out(ends.begin(), ends.end());
  out.insert(out.end(), middle.begin(), middle.end());
  out.insert(out.end(), ends.rbegin(), ends.rend());
  return out;
}

int read_superlink_file(model_state& ms, file_handle& network_file, file_handle& grid_pipe_file,
                        int dimension_limit) {
  channel_state& ch = ms.channel;
  superlink_state& sl = ms.superlink;
  ch.superlink_junction_count = ch.superlink_count = ch.superlink_max_nodes = 0;
  ch.superlink_dim = ch.superlink_leaky = 0;
  sl.pipe_cell_count = sl.pipe_cell_max_pipes = 0;

  network_reader r;
  r.file = network_file.path;
  std::string line;
  while (read_text_line(line, network_file)) r.lines.push_back(line);
  if (run_error.error_fatal) return -1;

  // First pass: the counts of superjunctions and superlinks, and the largest pipe count.
  int junctions = 0, links = 0, max_pipes = 0;
  for (r.at = 0; r.at < r.lines.size(); ++r.at) {
    std::string rest = r.lines[r.at];
    const std::string word = record_word(rest);
    if (word == "connect") ++links;
    if (word == "sjunc") ++junctions;
    int number = 0, pipes = 0;
    if (word == "slink" && take_int(rest, number) && take_int(rest, pipes) && pipes > max_pipes)
      max_pipes = pipes;
  }
  if (junctions == 0 || links == 0) {
    stop_with_message(
        "Error: the superlink network file %s holds %d superjunctions (SJUNC) and %d "
        "superlinks (CONNECT): a network needs at least one of each.\n",
        r.file, junctions, links);
    return -1;
  }
  int dimension = junctions > links ? junctions : links;
  if (max_pipes > dimension) dimension = max_pipes;
  if (dimension > dimension_limit) {
    printf("MAX dimension of superlink arrays too big.  Problem with read routine.\n");
    stop_now();
    return 9;
  }
  if (max_pipes > max_pipes_per_superlink) {
    ch.superlink_max_nodes = max_pipes;
    raise_error(err_superlink_nodes_too_many);
    return -1;
  }

  // Second pass: the records, by number.
  std::vector<junction_record> js(junctions + 1);
  std::vector<link_record> ls(links + 1);
  for (r.at = 0; r.at < r.lines.size(); ++r.at) {
    std::string rest = r.lines[r.at];
    const std::string word = record_word(rest);
    if (word == "connect") {
      int number = 0, us = 0, ds = 0;
      if (!take_int(rest, number) || !take_int(rest, us) || !take_int(rest, ds)) {
        bad_record(r, "CONNECT", "needs the superlink and its upstream and downstream junctions");
        return -1;
      }
      if (!number_in_range(r, "CONNECT", "superlink", number, links) ||
          !number_in_range(r, "CONNECT", "superjunction", us, junctions) ||
          !number_in_range(r, "CONNECT", "superjunction", ds, junctions))
        return -1;
      if (ls[number].connected || us == ds) {
        bad_record(r, "CONNECT",
                   ls[number].connected ? "repeats a superlink already connected"
                                        : "joins a superjunction to itself");
        return -1;
      }
      ls[number].connected = true;
      ls[number].us = us;
      ls[number].ds = ds;
    } else if (word == "sjunc") {
      if (!read_junction(r, rest, js)) return -1;
    } else if (word == "slink") {
      int number = 0, pipes = 0;
      if (!take_int(rest, number) || !take_int(rest, pipes) || pipes < 1) {
        bad_record(r, "SLINK", "needs the superlink and its pipe count (1 or more)");
        return -1;
      }
      if (!number_in_range(r, "SLINK", "superlink", number, links)) return -1;
      link_record& l = ls[number];
      if (l.has_block) {
        bad_record(r, "SLINK", "repeats a superlink already given");
        return -1;
      }
      l.has_block = true;
      l.pipes = pipes;
      l.nodes.assign(pipes + 2, node_record{});
      l.pipe.assign(pipes + 1, pipe_record{});
      if (!read_block(r, number, l)) return -1;
    }
  }
  if (!network_complete(r.file, js, ls)) return -1;

  // Outlets onto the channel need the channel network.
  for (int j = 1; j <= junctions; ++j) {
    if (js[j].inlet == 999 && ch.chan_explic == 0) {
      stop_with_message(
          "Error: superjunction %d of the superlink network file %s is an outlet onto the "
          "channel network (inlet type 999), but the project routes no channels.\n",
          j, r.file);
      return -1;
    }
  }

  // Division of the pipes into computational segments: each pipe of a superlink is divided on
  // its own, so every segment keeps the section, slope and roughness of its pipe.
  int node_rows = max_pipes + 1;
  if (ch.superlink_c_opt) {
    for (int s = 1; s <= links; ++s) {
      link_record& l = ls[s];
      std::vector<double> all;
      std::vector<int> counts(l.pipes + 1, 0);
      for (int k = 1; k <= l.pipes; ++k) {
        if (l.pipe[k].length / 10.0 > 2.0 * max_pipes_per_superlink) {
          ch.superlink_max_nodes = max_pipes_per_superlink + 1;
          raise_error(err_superlink_nodes_too_many);
          return -1;
        }
        const std::vector<double> seg = pipe_segment_lengths(l.pipe[k].length);
        counts[k] = static_cast<int>(seg.size());
        all.insert(all.end(), seg.begin(), seg.end());
        if (static_cast<int>(all.size()) > max_pipes_per_superlink) break;
      }
      const int count = static_cast<int>(all.size());
      if (count > l.pipes) {
        l.segments = std::move(all);
        l.pipe_segments = std::move(counts);
      }
      const int used = l.segments.empty() ? l.pipes : count;
      if (used > ch.superlink_max_nodes) ch.superlink_max_nodes = used;
      if (used + 1 > node_rows) node_rows = used + 1;
      if (ch.superlink_max_nodes > max_pipes_per_superlink) {
        raise_error(err_superlink_nodes_too_many);
        return -1;
      }
    }
  } else {
    ch.superlink_max_nodes = max_pipes;
  }
  if (node_rows - 1 > dimension) dimension = node_rows - 1;

  if (!allocate_network(ch, sl, junctions, links, node_rows)) {
    stop_now();
    return -1;
  }
  ch.superlink_junction_count = junctions;
  ch.superlink_count = links;
  ch.superlink_dim = dimension + 2;
  fill_network(ch, sl, js, ls);
  for (int s = 1; s <= links; ++s)
    for (int k = 1; k <= ls[s].pipes; ++k)
      if (ls[s].pipe[k].conductivity > 0.0) ch.superlink_leaky = 1;

  if (!ch.superlink_leaky) return 0;
  if (!grid_pipe_file.is_open()) {
    printf(
        "\n Since you have leaky pipes you must include the GRID_PIPE card and grid pipe input "
        "file in your project file");
    raise_file_error(err_file_not_open, "tile drain grid pipe", ms.input.names.grid_pipe);
    return 0;
  }
  return read_grid_pipe_file(ms, grid_pipe_file, ls);
}

void init_superlink_channel_connection(model_state& ms) {
  channel_state& ch = ms.channel;
  superlink_state& sl = ms.superlink;
  if (!ch.storm_sewer) return;
  const int junctions = ch.superlink_junction_count;
  if (!allocate_reported(sl.superlink_chan_con_node, junctions, "superlink_chan_con_node") ||
      !allocate_reported(sl.superlink_chan_con_link, junctions, "superlink_chan_con_link")) {
    stop_now();
    return;
  }
  for (int j = 1; j <= junctions; ++j) {
    if (ch.inlet_type[0][j] != 999) continue;
    const int link = ch.superjunct_i[j];
    const int node = ch.superjunct_j[j];
    const bool link_ok = link >= 1 && link <= ch.chan_link_count;
    const bool node_ok = link_ok && node >= 1 && node <= ch.nx[link];
    if (!link_ok || !node_ok) {
      if (!node_ok) printf("Superlink outlet channel node not found, at superjunction %d\n", j);
      if (!link_ok) printf("Superlink outlet channel link not found, at superjunction %d\n", j);
      printf("Check your superlink input file to insure that superlink outlets\n");
      stop_with_message("terminate on stream arcs.\n");
      return;
    }
    sl.superlink_chan_con_link[j] = link;
    sl.superlink_chan_con_node[j] = node;
  }
}
