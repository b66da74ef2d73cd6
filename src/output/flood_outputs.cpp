// The flood outputs of a run's end: the largest overland depth of every cell as one map frame and
// the largest channel depth of every node as one link/node record. Called by write_run_end_maps.
#include "output/flood_outputs.h"

#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "output/datasets.h"
#include "output/grid_writer.h"
#include "output/run_end_files.h"

namespace {

// The flood depth map: a frame of its dataset at the elapsed minutes, then the dataset's end mark
// in its own format; with MAP_TYPE 0 (no datasets) one ESRI grid in the file its card names.
bool write_flood_grid(model_state& ms) {
  if (!ms.output.flood_grid) return true;
  const overland_state& ov = ms.overland;
  if (ov.max_depth.count() < ms.cell_count) return true;  // the overland step never ran
  map_outputs_state& mo = ms.output.maps;
  file_handle& dataset = mo.dataset_file[dataset_flood_grid];
  const int map_type = ms.grid_params.map_type;
  if (dataset.is_open()) {
    const bool binary = map_type == 2;
    write_map_dataset_step(dataset, ms.elapsed_minutes, ms.map_rows, ms.map_cols, ms.index_map,
                           ov.max_depth.data(), binary);
    write_dataset_end_mark(dataset, binary);
    return true;
  }
  if (map_type != 0) return true;
  const char* name = ms.input.names.flood_grid;
  file_handle grid;
  if (!make_output_folders(name) || !file_handle_open(grid, name, "w")) {
    stop_with_message("Can't open flood depth map for writing: %s\n", name);
    return false;
  }
  write_ascii_grid(grid, ms.index_map, ms.map_north, ms.map_south, ms.map_east, ms.map_west,
                   ms.map_rows, ms.map_cols, ov.max_depth.data(), ms.gridsize);
  file_handle_close(grid);
  return true;
}

// The stream flood record: per node the highest stage of the run less the bed, written like the
// stream depth records (same node counts, lake and structure fields).
void write_flood_stream(model_state& ms) {
  channel_state& ch = ms.channel;
  if (!ms.output.flood_stream || ch.flood_stream_file.fp == nullptr) return;
  if (ch.yp_max_flood.empty() || ch.bel.empty() || ch.nx1.empty() || ch.ltype.empty()) return;
  const series_outputs_state& so = ms.output.series;
  write_linknode_step(ch.flood_stream_file, ch.chan_link_count, ch.nx1.data(),
                      so.link_out_nodes.empty() ? nullptr : so.link_out_nodes.data(),
                      ch.ltype.data(), 0, ch.yp_max_flood, ch.bel, linknode_difference,
                      ch.lake2link.empty() ? nullptr : ch.lake2link.data(),
                      ch.lake_elev.empty() ? nullptr : ch.lake_elev.data());
  file_handle_write_check(ch.flood_stream_file);
}

}  // namespace

bool write_flood_outputs(model_state& ms) {
  write_flood_stream(ms);
  return write_flood_grid(ms);
}
