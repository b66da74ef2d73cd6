// XY outputs: set-up of the points and files, their rows and their closing, which runs when the
// project's card record is destroyed at the end of the run.
#include "output/xy_output.h"

#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "output/xy_points.h"

namespace {

// Opens `name` to write into `h`; false after a message naming the file and the card.
bool open_output(file_handle& h, const char* name, const char* card) {
  if (file_handle_open(h, name, "w")) return true;
  stop_with_message("Error: the XY output file %s (%s card) could not be opened.\n", name, card);
  return false;
}

// The point header of the overland and groundwater files.
void write_point_header(FILE* fp, const char* title, const std::vector<xy_out_point>& points) {
  fprintf(fp, "%s\n%d\nDATE       TIME \t", title, static_cast<int>(points.size()));
  for (const xy_out_point& p : points) fprintf(fp, "   %12d", p.id);
  fprintf(fp, "\n");
}

// The points of the point file or of the mask's edge; false after a fault (run stopped).
bool read_points(xy_output& out) {
  file_handle h;
  const bool mask = out.point_kind != 0;
  if (out.input_name[0] == '\0' || !file_handle_open(h, out.input_name, "r")) {
    stop_with_message("Error: the XY output %s %s (%s card) could not be opened.\n",
                      mask ? "mask" : "point file", out.input_name,
                      mask ? "XYBDYOUTPUT_MASK" : "XYBDYOUTPUT_PTS");
    return false;
  }
  if (!mask) {
    if (read_xy_out_points(h, out.input_name, out.points)) return true;
    stop_now();
    return false;
  }
  if (!read_xy_out_mask(h, out.input_name, out.inset)) {
    stop_now();
    return false;
  }
  out.points = inset_edge_points(out.inset);
  return true;
}

// The stream crossings of the mask's edge and the stream file, with the channel routing and a
// stream output name; false after a fault (run stopped).
bool set_up_stream_points(model_state& ms, xy_output& out) {
  if (!ms.channel.chan_explic || out.stflow_name[0] == '\0') return true;
  file_handle chan;
  if (!file_handle_open(chan, ms.input.names.channel_input, "r")) {
    stop_with_message(
        "Error: unable to open the .cif file for reading for the stream boundary XY hydrograph "
        "ouput file\n");
    return false;
  }
  out.stream_points = xy_stream_crossings(chan, inset_boundary(out.inset));
  printf("TORVA identified %d stream link/nodes as crossing the inset mask boundary.\n",
         static_cast<int>(out.stream_points.size()));
  for (const xy_out_point& p : out.stream_points) printf("%d,%d\t", p.link, p.node - 1);
  printf("\n");
  if (!open_output(out.stream_file, out.stflow_name, "XYBDYOUTPUT_STFLOW")) return false;
  FILE* fp = out.stream_file.fp;
  fprintf(fp, "XY_STREAM_HYDROGRAPHS\n%d\nX                 \t",
          static_cast<int>(out.stream_points.size()));
  for (const xy_out_point& p : out.stream_points) fprintf(fp, "   %12.3lf", p.x);
  fprintf(fp, "\nY                 \t");
  for (const xy_out_point& p : out.stream_points) fprintf(fp, "   %12.3lf", p.y);
  fprintf(fp, "\n");
  fflush(fp);
  return true;
}

// The discharge at the node before a stream point's node (0 off the link's nodes).
double stream_point_flow(const model_state& ms, const xy_out_point& p) {
  const channel_state& ch = ms.channel;
  const int node = p.node - 1;
  if (p.link < 1 || p.link > ch.chan_link_count || node < 1 || node > ch.nx[p.link]) return 0.0;
  return ch.qp(p.link, node);
}

}  // namespace

void init_xy_output(model_state& ms) {
  if (!ms.cards.xy_output_given) return;
  xy_output& out = ms.cards.xy_output;
  if (!read_points(out)) return;
  if (out.ovdep_name[0] != '\0' && !open_output(out.ov_file, out.ovdep_name, "XYBDYOUTPUT_OVDEP"))
    return;
  // Groundwater heads exist only with the aquifer simulated.
  if (ms.subsurface.gw_simulation && !ms.subsurface.elevgw.empty() && out.gwhead_name[0] != '\0' &&
      !open_output(out.gw_file, out.gwhead_name, "XYBDYOUTPUT_GWHEAD"))
    return;
  xy_grid grid;
  grid.north = ms.map_north;
  grid.west = ms.map_west;
  grid.cell_size = ms.gridsize;
  grid.rows = ms.rows;
  grid.cols = ms.cols;
  grid.index_map = &ms.index_map;
  xy_points_weights(grid, out.points);
  if (out.ov_file.is_open()) write_point_header(out.ov_file.fp, "XY_OV_DEPTH", out.points);
  if (out.gw_file.is_open()) write_point_header(out.gw_file.fp, "XY_GW_HEAD", out.points);
  set_up_stream_points(ms, out);
}

void write_xy_output_step(model_state& ms) {
  xy_output& out = ms.cards.xy_output;
  if (!out.ov_file.is_open() && !out.gw_file.is_open() && !out.stream_file.is_open()) return;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double seconds = 0.0;
  date_from_julian(ms.current_time + 1.1574074074074074e-7, year, month, day, hour, minute,
                   seconds);
  const auto stamp = [&](FILE* fp) {
    fprintf(fp, "%4d %02d %02d %02d %02d\t", year, month, day, hour, minute);
  };
  const auto point_row = [&](file_handle& h, const double* values) {
    if (!h.is_open()) return;
    stamp(h.fp);
    for (const xy_out_point& p : out.points) fprintf(h.fp, "   %12.8lf", xy_point_value(p, values));
    fprintf(h.fp, "\n");
  };
  point_row(out.ov_file, ms.overland.ov_depth.data());
  point_row(out.gw_file, ms.subsurface.elevgw.data());
  if (out.stream_file.is_open()) {
    stamp(out.stream_file.fp);
    for (const xy_out_point& p : out.stream_points)
      fprintf(out.stream_file.fp, "   %12.4lf", stream_point_flow(ms, p));
    fprintf(out.stream_file.fp, "\n");
  }
}

xy_output::~xy_output() {
  xy_output_close(*this);
}

void xy_output_close(xy_output& out) {
  for (file_handle* h : {&out.ov_file, &out.gw_file, &out.stream_file}) {
    if (!h->is_open()) continue;
    fprintf(h->fp, "END_TS\n");
    file_handle_close(*h);
  }
  out.points.clear();
  out.stream_points.clear();
}
