// Channel network set-up at start-up: the channel input file, the network's state arrays, the
// initial channel state and output locations, the grid-stream tables that tie nodes to cells,
// and the short-link and thalweg diagnostics. Called once by the grid-input reader.
#include "channel/network_setup.h"

#include <cstdio>
#include <vector>

#include "channel/channel_input.h"
#include "channel/channel_lakes.h"
#include "channel/channel_startup.h"
#include "channel/channel_step.h"
#include "channel/channel_steps.h"
#include "channel/lake_pumps.h"
#include "channel/stream_points.h"
#include "framework/core/console.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "subsurface/sacramento_steps.h"

namespace {

constexpr int bit_lake = 32;
constexpr int bit_structure = 64;

// A per-node array of the network: links 1..chan_link_count with nodes 1..nx1 of each.
template <class T>
bool allocate_nodes(const channel_state& ch, link_node_array<T>& a, const char* name) {
  if (a.allocate(ch.chan_link_count, ch.nx1.data())) return true;
  raw_report_alloc_failure(name);
  return false;
}

// The state arrays of the network that the set-up allocates before the initial state is read.
bool allocate_state_arrays(channel_state& ch) {
  return allocate_nodes(ch, ch.chan_depth, "chan_depth") && allocate_nodes(ch, ch.area, "area") &&
         allocate_nodes(ch, ch.area_old, "area_old") && allocate_nodes(ch, ch.conv, "conv") &&
         allocate_nodes(ch, ch.dconv, "dconv") && allocate_nodes(ch, ch.stdummy, "stdummy") &&
         allocate_nodes(ch, ch.topw, "topw");
}

// Every grid-stream entry names a node of the network and a cell of the watershed.
bool check_grid_stream_entries(const model_state& ms) {
  const channel_state& ch = ms.channel;
  for (int c = 1; c <= ch.gst_stream_cells; ++c) {
    for (int k = 1; k <= ch.gst_ncellsingrid[c]; ++k) {
      const int link = ch.gst_link[c][k];
      const int node = ch.gst_node[c][k];
      if (link < 1 || link > ch.chan_link_count || node < 1 || node > ch.nx1[link]) {
        stop_with_message(
            "Error in the grid-stream file: entry %d of stream cell %d is LINKNODE "
            "%d %d, a link or node that the channel network does not have.\n",
            k, c, link, node);
        return false;
      }
      const int cell = ch.gst_gnum[c][k];
      if (cell < 1 || cell > ms.cell_count) {
        stop_with_message(
            "Error in the grid-stream file: stream cell %d lies outside the "
            "watershed (its CELLIJ position holds cell number %d).\n",
            c, cell);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

void setup_channel_network(model_state& ms) {
  channel_state& ch = ms.channel;
  if (!ch.chan_explic) return;
  const char* name = ms.input.names.channel_input;
  if (process_info.process_rank == 0) log_printf("reading channel input data from file %s\n", name);
  if (ms.output.summary_file.is_open())
    fprintf(ms.output.summary_file.fp, "reading channel input data from file %s\n", name);

  ch.lake_loss = read_chan_input(ms);
  if (run_error.error_code != 0 || run_error.error_fatal) return;
  if (!channel_lakes_setup(ms)) return;
  // A leaking lake bed passes water at the aquifer's conductivity, or without an aquifer at the
  // soil's saturated conductivity: a run that holds neither cannot move it.
  if (ch.lake_loss && ch.num_lakes > 0 && !ms.subsurface.gw_simulation &&
      ms.subsurface.ks_cell.count() < ms.cell_count) {
    stop_with_message(
        "Error: the beds of the channel lakes leak (an MLAKE card of the channel input file %s), "
        "but no conductivity is given for them: neither groundwater simulation nor a soil "
        "conductivity map.\n",
        name);
    return;
  }

  if (!allocate_nodes(ch, ch.yp_max_flood, "yp_max_flood")) return stop_now();
  // Channel sediment, constituents and the nutrient sub-model are refused at start-up, so their
  // set-ups have nothing to allocate here.
  if (ch.num_lakes > 0) {
    double volume = 0.0;
    for (int lake = 1; lake <= ch.num_lakes; ++lake) volume += ch.lake_volume[lake];
    ch.lake_vol_start = volume;
  }
  if (!allocate_state_arrays(ch)) return stop_now();

  read_channel_initial_state(ms);
  if (run_error.error_fatal) return;

  if ((ch.stream_loss || ms.transport.chan_con_trans) && !allocate_nodes(ch, ch.qriv, "qriv"))
    return stop_now();
  if (ch.stream_loss) {
    if (!allocate_nodes(ch, ch.qriv_start, "qriv_start")) return stop_now();
    if (!ch.cell_seepage.allocate(ms.cell_count)) {
      raw_report_alloc_failure("cell_seepage");
      return stop_now();
    }
  }
  if (ch.num_lakes > 0 && ch.lake_loss && !ch.lake_source.allocate(ms.cell_count)) {
    raw_report_alloc_failure("lake_source");
    return stop_now();
  }

  read_hydrograph_locations(ms);
  if (run_error.error_fatal) return;
  read_sediment_locations(ms);
  if (run_error.error_fatal) return;
  read_superjunction_locations(ms);
  if (run_error.error_fatal) return;
  read_superlink_locations(ms);
  if (run_error.error_fatal) return;
  read_gwflux_locations(ms);
  if (run_error.error_fatal) return;
  place_stream_inflow_points(ms);
  if (run_error.error_fatal) return;
  read_lake_pumps(ms);
  if (run_error.error_fatal) return;

  ch.head_link_count = 0;
  for (int link = 1; link <= ch.chan_link_count; ++link)
    if (ch.ndep[link] == 0) ++ch.head_link_count;
  if (!allocate_nodes(ch, ch.con_vect, "con_vect") || !allocate_nodes(ch, ch.qlat, "qlat"))
    return stop_now();

  printf("Setting up the grid-stream data... ");
  init_grid_stream(ms);
  if (run_error.error_fatal) return;
  printf("done.\n");
  init_sacramento_weights(ms);
  if (run_error.error_code != 0) return;
  // The orthogonal layout (cconnect) needs the link and node maps; explicit routing always runs
  // with the non-orthogonal grid-stream tables, so the table from the maps is not built here.

  write_short_links(ch.chan_link_count, ch.nx);
  write_bad_thalweg(ch, ms.cell_elev);
}

void init_grid_stream(model_state& ms) {
  channel_state& ch = ms.channel;
  if (!ch.stream_cell_on) return;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (ch.ltype[link] & (bit_structure | bit_lake)) continue;
    if (ch.dx[link] < 0.0001) {
      stop_with_message(
          "\nYour channel node spacing is %f in link %d\nYou must specify a "
          "realistic value.  Program terminated.\n",
          ch.dx[link], link);
      return;
    }
  }
  if (!check_grid_stream_entries(ms)) return;

  const int cells = ch.gst_stream_cells;
  const int width = ch.gst_width;
  if (cells < 1 || width < 1) return;  // no stream cell: nothing to tie
  if (!ch.gst_row.allocate(cells, width) || !ch.gst_col.allocate(cells, width)) {
    raw_report_alloc_failure("gst_row");
    return stop_now();
  }
  if (!chan_lateral_exchange_setup(ms)) return stop_now();
  if (ms.subsurface.gw_simulation || ch.stream_loss || ms.transport.chan_con_trans == 1) {
    if (!ch.gst_qriv.allocate(cells, width) || !ch.gst_qriv_vol.allocate(cells, width) ||
        !allocate_nodes(ch, ch.gst_Vp, "gst_Vp")) {
      raw_report_alloc_failure("gst_qriv");
      return stop_now();
    }
  }
  if (ch.num_lakes > 0 && ch.lake_loss && !ch.lake_cell_loss.allocate(ms.cell_count)) {
    raw_report_alloc_failure("lake_cell_loss");
    return stop_now();
  }

  // The grid position of every cell number, found in one sweep of the index map; where a cell
  // number stands at several positions the last one in row order holds.
  std::vector<int> row_of(static_cast<std::size_t>(ms.cell_count) + 1, 0);
  std::vector<int> col_of(static_cast<std::size_t>(ms.cell_count) + 1, 0);
  for (int r = 1; r <= ms.rows; ++r)
    for (int c = 1; c <= ms.cols; ++c) {
      const int cell = ms.index_map[r][c];
      if (cell < 1 || cell > ms.cell_count) continue;
      row_of[cell] = r;
      col_of[cell] = c;
    }
  for (int s = 1; s <= cells; ++s)
    for (int k = 1; k <= ch.gst_ncellsingrid[s]; ++k) {
      const int cell = ch.gst_gnum[s][k];
      ch.gst_row[s][k] = row_of[cell];
      ch.gst_col[s][k] = col_of[cell];
    }
}

void cconnect(int cell_count, int rows, int cols, const raw_array2d<int>& index_map,
              const raw_array1d<int>& cell_node, const raw_array1d<int>& cell_link,
              link_node_array<int>& con_vect) {
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) {
      const int cell = index_map[r][c];
      if (cell > cell_count) {
        printf("Warning in cconnect, vect>GNUM\n");
        continue;
      }
      if (cell < 1 || cell_node[cell] == 0) continue;
      const int link = cell_link[cell];
      const int node = cell_node[cell];
      if (con_vect.has(link, node)) con_vect(link, node) = cell;
    }
}

void write_short_links(int link_count, const raw_array1d<int>& nx) {
  file_handle h;
  if (!file_handle_open(h, "short_links.out", "w")) return;
  fprintf(h.fp, "Links with 1 node:\n");
  for (int link = 1; link <= link_count; ++link)
    if (nx[link] == 1) fprintf(h.fp, "%d\n", link);
  file_handle_close(h);  // compares the stream copies first
}

void write_bad_thalweg(const channel_state& ch, const raw_array1d<double>& cell_elev) {
  file_handle h;
  if (!file_handle_open(h, "bad_thalweg.out", "w")) return;
  fprintf(h.fp, "Problem    link    node    thalweg     cell    elev\n");
  fprintf(h.fp,
          "--> problem codes: 0=thalweg>cell elev, 1= difference <0.5, 2= difference<1.0, "
          "3=difference>3.5\n");
  for (int s = 1; s <= ch.gst_stream_cells; ++s)
    for (int k = 1; k <= ch.gst_ncellsingrid[s]; ++k) {
      const int link = ch.gst_link[s][k];
      const int node = ch.gst_node[s][k];
      const int cell = ch.gst_gnum[s][k];
      if (!ch.bel.has(link, node) || cell < 1 || cell > cell_elev.count()) continue;
      const double bed = ch.bel(link, node);
      if (bed > cell_elev[cell])
        fprintf(h.fp, "0     %4d    %4d   %lf   %d   %lf\n", link, node, bed, cell,
                cell_elev[cell]);
    }
  file_handle_close(h);  // compares the stream copies first
}
