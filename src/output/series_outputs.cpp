// Time-series outputs of the time loop and the link/node headers written at start-up.
#include "output/series_outputs.h"

#include <cstdio>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/core/process_info.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "output/datasets.h"
#include "output/grid_writer.h"
#include "output/map_output.h"
#include "output/nsm_outputs.h"
#include "output/r7_link.h"
#include "output/xy_output.h"

namespace {

// Stream dataset slots of stream_ts_numbers.
enum stream_slot {
  slot_depth = 0,
  slot_flow = 1,
  slot_velocity = 2,
  slot_stage = 3,
  slot_sed_flux = 4
};

// Element [n][l] of a [node][link] table, 0.0 where the table does not reach.
double table_value(const raw_array2d<double>& table, int n, int l) {
  if (table.empty() || n < 0 || l < 0 || n > table.row_count() || l > table.col_count()) return 0.0;
  return table[n][l];
}

// Node n of link l of a channel array, 0.0 where the array does not reach.
double node_value(const link_node_array<double>& a, int n, int l) {
  return a.has(l, n) ? a(l, n) : 0.0;
}

// One line of the outlet hydrograph and, when asked for, one of its six-digit twin.
void write_outlet_hydrograph(model_state& ms) {
  const double q = ms.qout_cfs ? ms.cfs_factor * ms.outlet_q : ms.outlet_q;
  double time = ms.strict_julian_date ? ms.current_time : ms.elapsed_minutes;
  const char* line = ms.strict_julian_date
                         ? (ms.qout_cfs ? "%16.8lf %10.3lf\n" : "%16.8lf %9.3lf\n")
                         : (ms.qout_cfs ? "%8.2lf %10.3lf\n" : "%8.2lf %9.3lf\n");
  if (ms.long_term) {
    time = ms.output.series.ts_stamp;
    line = "%16.8lf %11.4lf\n";
  }
  FILE* outlet = ms.channel.outlet_hydro_file.fp;
  if (outlet != nullptr) {
    fprintf(outlet, line, time, q);
    ++ms.output.hydro_line_count;
  }
  FILE* sig = ms.output.sig_outlet_hydro_file.fp;
  if (ms.output.sig_outlet_hydro && sig != nullptr) fprintf(sig, "%8.2lf %12.6lf\n", time, q);
}

// Every line of the step's hydrographs and the summary so far has reached its file; false, with
// the run stopped and the file named, when a write failed.
bool hydrographs_written(model_state& ms) {
  input_state& in = ms.input;
  for (file_handle* h :
       {&ms.output.summary_file, &ms.channel.outlet_hydro_file, &ms.output.sig_outlet_hydro_file,
        &in.out_hyd_location_file, &in.out_gwflux_location_file, &in.out_dep_location_file,
        &in.out_con_location_file, &in.out_mass_location_file, &in.out_theta_location_file,
        &in.superlink_junc_flow_file, &in.superlink_node_flow_file})
    if (!file_handle_write_check(*h)) return false;
  return true;
}

// The time that begins a location line.
void append_location_time(std::string& line, const model_state& ms) {
  if (ms.long_term)
    append_fixed(line, ms.output.series.ts_stamp, 16, 8);
  else
    append_fixed(line, ms.elapsed_minutes, 14, 8);
  line.push_back(' ');
}

// One line of a location series: the time and "%12.6lf " per location of the list
// (links[1..count], nodes[1..count]) with the table's value at the location.
void write_location_line(file_handle& file, const model_state& ms, int count,
                         const raw_array1d<int>& links, const raw_array1d<int>& nodes,
                         const link_node_array<double>& table, double factor) {
  if (file.fp == nullptr) return;
  std::string line;
  append_location_time(line, ms);
  for (int i = 1; i <= count; ++i) {
    const bool listed = i <= links.count() && i <= nodes.count();
    const double v = listed ? node_value(table, nodes[i], links[i]) * factor : 0.0;
    append_fixed(line, v, 12, 6);
    line.push_back(' ');
  }
  line.push_back('\n');
  fputs(line.c_str(), file.fp);
}

// Flat index of node n of link l in a [flat node] table of node stride `stride`; -1 where the
// table has no such row.
int flat_node(int stride, int l, int n, int rows) {
  if (stride <= 0 || l < 0 || n < 0) return -1;
  const long flat = static_cast<long>(l) * stride + n;
  return flat <= rows ? static_cast<int>(flat) : -1;
}

// Value [row][col] of a table, 0.0 where the table does not reach (negative rows included).
double cell_of(const raw_array2d<double>& table, int row, int col) {
  if (table.empty() || row < 0 || col < 0 || row > table.row_count() || col > table.col_count())
    return 0.0;
  return table[row][col];
}

// Value of constituent k at node n of link l of a [constituent][flat node] table.
double constituent_at(const raw_array2d<double>& table, int stride, int k, int l, int n) {
  if (table.empty()) return 0.0;
  const int flat = flat_node(stride, l, n, table.col_count());
  return flat < 0 ? 0.0 : cell_of(table, k, flat);
}

// Value of position p at node n of link l of a [flat node][position] table.
double position_at(const raw_array2d<double>& table, int stride, int l, int n, int p) {
  if (table.empty()) return 0.0;
  const int flat = flat_node(stride, l, n, table.row_count());
  return flat < 0 ? 0.0 : cell_of(table, flat, p);
}

// The time of the sediment series lines: minutes, the Julian day with STRICT_JULIAN_DATE, the
// long-term stamp under LONG_TERM.
double sediment_time(const model_state& ms) {
  if (ms.long_term) return ms.output.series.ts_stamp;
  return ms.strict_julian_date ? ms.current_time : ms.elapsed_minutes;
}

// The reservoir model's inflow line: day of the year with the hour and minute as its fraction,
// and the outlet discharge in single precision.
void write_r7_inflow_line(const model_state& ms) {
  const int* on = ms.output.r7_input_flag;
  if (on == nullptr || *on == 0 || r7_inflow_file.fp == nullptr) return;
  const double day = ms.day_of_year + ms.cur_hour / 24.0 + ms.cur_minute / minutes_per_day;
  fprintf(r7_inflow_file.fp, "%-8.1lf %-7.1f\n", day,
          static_cast<double>(static_cast<float>(ms.outlet_q)));
}

// The outlet sediment series: with channel sediment routing the wash load and the sand leaving
// the outlet node (and its TSS); without it the overland step's outlet volume as a rate.
void write_outlet_sediment(const model_state& ms) {
  const transport_state& tr = ms.transport;
  if (!tr.sediment.soil_erosion) return;
  FILE* fp = tr.sediment.output_file[sed_out_outlet].fp;
  const double cfs = ms.qout_cfs ? ms.cfs_factor : 1.0;
  const double time = sediment_time(ms);
  if (!tr.chan_sediment) {
    if (fp != nullptr && ms.timestep > 0.0)
      fprintf(fp, "%16.8lf %16.10lf\n", time, tr.ov_outlet_sed_vol / ms.timestep * cfs);
    return;
  }
  if (fp != nullptr) {
    if (!ms.long_term && !ms.qout_cfs) {
      fprintf(fp, "%16.10lf", time);
    } else {
      fprintf(fp, "%16.8lf", time);
      if (ms.qout_cfs && ms.strict_julian_date) fputc(' ', fp);
    }
    const raw_array1d<double>& wash = tr.outlet_wash_flux;
    for (int k = 1; k <= tr.num_fine_classes; ++k)
      fprintf(fp, " %16.10lf", (k <= wash.count() && !wash.empty() ? wash[k] : 0.0) * cfs);
    const raw_array1d<double>& sand = tr.outlet_sand_flux;
    for (int k = 1; k <= tr.num_sand_classes + 1; ++k)
      fprintf(fp, " %16.10lf", (k <= sand.count() && !sand.empty() ? sand[k] : 0.0) * cfs);
    fputc('\n', fp);
  }
  FILE* tss = tr.sediment.output_file[sed_out_outlet_tss].fp;
  const channel_state& ch = ms.channel;
  if (tr.outlet_sed_tss_on && tss != nullptr) {
    const int link = ch.chan_link_count;
    // The outlet node: the last computational node of the last link.
    const int node = link >= 1 && link <= ch.nx.count() && !ch.nx.empty() ? ch.nx[link] : 0;
    fprintf(tss, "%16.4lf %16.4lf \n", time,
            position_at(tr.chan_sed_conc, tr.sed_node_stride, link, node, 0));
  }
}

// A location line built by `field`, which appends the fields of location i.
template <class Fields>
void write_fields_line(FILE* fp, const model_state& ms, int count, Fields field) {
  if (fp == nullptr) return;
  std::string line;
  append_location_time(line, ms);
  for (int i = 1; i <= count; ++i) field(line, i);
  line.push_back('\n');
  fputs(line.c_str(), fp);
}

void append_field(std::string& line, double value, int width, int precision) {
  append_fixed(line, value, width, precision);
  line.push_back(' ');
}

int list_entry(const raw_array1d<int>& list, int i) {
  return !list.empty() && i >= 1 && i <= list.count() ? list[i] : 0;
}

// Pipe-network and constituent series at the locations of their lists.
void write_pipe_and_constituent_locations(model_state& ms) {
  const channel_state& ch = ms.channel;
  const series_outputs_state& so = ms.output.series;
  const transport_state& tr = ms.transport;
  input_state& in = ms.input;
  const double cfs = ms.qout_cfs ? ms.cfs_factor : 1.0;
  if (ch.superlink_junc_flow_on) {
    write_fields_line(in.superlink_junc_flow_file.fp, ms, ch.sjunc_location_count,
                      [&](std::string& line, int i) {
                        const int j = list_entry(ch.sjunc, i);
                        const raw_array1d<double>& q = so.superjunction_flow;
                        const bool kept = !q.empty() && j >= 1 && j <= q.count();
                        append_field(line, (kept ? q[j] : 0.0) * cfs, 12, 6);
                      });
  }
  if (ch.superlink_node_flow_on) {
    write_fields_line(in.superlink_node_flow_file.fp, ms, ch.sl_location_count,
                      [&](std::string& line, int i) {
                        int link = list_entry(ch.sl_link, i);
                        if (!so.junction_superlink.empty())
                          link = list_entry(so.junction_superlink, link);
                        const int node = list_entry(ch.sl_node, i);
                        append_field(line, cell_of(so.superlink_flow, node, link) * cfs, 12, 6);
                      });
  }
  if (ms.output.out_con_location_on) {
    write_fields_line(
        in.out_con_location_file.fp, ms, ch.hyd_location_count, [&](std::string& line, int i) {
          const int l = list_entry(ch.hlink, i), n = list_entry(ch.hnode, i);
          for (int k = 1; k <= tr.num_contaminants; ++k)
            append_field(line, constituent_at(tr.chan_con_conc, tr.con_node_stride, k, l, n), 12,
                         6);
        });
  }
  if (ms.output.out_mass_location_on) {
    write_fields_line(
        in.out_mass_location_file.fp, ms, ch.hyd_location_count, [&](std::string& line, int i) {
          const int l = list_entry(ch.hlink, i), n = list_entry(ch.hnode, i);
          for (int k = 1; k <= tr.num_contaminants; ++k) {
            append_field(line, constituent_at(tr.chan_con_mass, tr.con_node_stride, k, l, n), 12,
                         6);
            if (tr.sediment_contam)
              append_field(line, constituent_at(tr.chan_bound_mass, tr.con_node_stride, k, l, n),
                           12, 6);
          }
        });
  }
}

// Sediment at the channel locations of the IN_SED_LOC list: per location the flux of every fine
// position, then of every sand position and the bed stock; the TSS there to its own file.
void write_sediment_locations(model_state& ms) {
  const channel_state& ch = ms.channel;
  const transport_state& tr = ms.transport;
  if (!tr.chan_sediment || !tr.sed_locations_on || !ch.chan_explic) return;
  const double cfs = ms.qout_cfs ? ms.cfs_factor : 1.0;
  const int positions = tr.num_fine_classes + tr.num_sand_classes + 1;
  write_fields_line(
      tr.out_sed_loc_file.fp, ms, ch.sed_location_count, [&](std::string& line, int i) {
        const int l = list_entry(ch.slink, i), n = list_entry(ch.snode, i);
        for (int p = 1; p <= positions; ++p)
          append_field(line, position_at(tr.qsmax, tr.sed_node_stride, l, n, p) * cfs, 16, 10);
      });
  FILE* tss = tr.sediment.output_file[sed_out_tss_locations].fp;
  if (!tr.out_tss_loc_on || tss == nullptr) return;
  std::string line;
  append_location_time(line, ms);
  for (int i = 1; i <= ch.sed_location_count; ++i) {
    const int l = list_entry(ch.slink, i), n = list_entry(ch.snode, i);
    append_fixed(line, position_at(tr.chan_sed_conc, tr.sed_node_stride, l, n, 0), 16, 4);
  }
  line.push_back('\n');
  fputs(line.c_str(), tss);
}

// Per node the flux of all sediment positions x 1,000,000 into qsmax_total, for the channel
// sediment-flux record.
void form_channel_sediment_flux(transport_state& tr) {
  link_node_array<double>& sum = tr.qsmax_total;
  const int positions = tr.num_fine_classes + tr.num_sand_classes + 1;
  for (int l = 1; l <= sum.link_count(); ++l)
    for (int n = 1; n <= sum.node_count(l); ++n) {
      double total = 0.0;
      for (int p = 1; p <= positions; ++p)
        total += position_at(tr.qsmax, tr.sed_node_stride, l, n, p);
      sum(l, n) = total * 1000000.0;
    }
}

void clear_channel_sediment_flux(link_node_array<double>& sum) {
  for (int l = 1; l <= sum.link_count(); ++l)
    for (int n = 1; n <= sum.node_count(l); ++n) sum(l, n) = 0.0;
}

// Both link/node records of every constituent with outputs.
void write_constituent_records(model_state& ms) {
  output_state& out = ms.output;
  if (out.con_output_count <= 0 || !ms.transport.chan_con_trans) return;
  guarded_array2d<linknode_output>& objects = out.con_linknode_outputs;
  if (objects.width() < 2) return;
  // The lakes' stores are made by the channel constituent set-up, after the objects: their lake
  // links take each lake's concentration and dissolved mass from them as the records are
  // written.
  const transport_state& tr = ms.transport;
  const bool lakes = tr.lake_mass.row_count() >= out.con_output_count &&
                     tr.chan_contam.lake_conc.row_count() >= out.con_output_count;
  for (int k = 1; k <= out.con_output_count && k <= objects.row_count(); ++k) {
    if (lakes) {
      objects[k][1].lake_source = tr.chan_contam.lake_conc[k];
      objects[k][2].lake_source = tr.lake_mass[k];
    }
    linknode_output_write_step(objects[k][1]);
    linknode_output_write_step(objects[k][2]);
  }
}

void write_location_series(model_state& ms) {
  const channel_state& ch = ms.channel;
  const series_outputs_state& so = ms.output.series;
  input_state& in = ms.input;
  const double cfs = ms.qout_cfs ? ms.cfs_factor : 1.0;
  if (ms.output.hyd_location_on)
    write_location_line(in.out_hyd_location_file, ms, ch.hyd_location_count, ch.hlink, ch.hnode,
                        ch.qp, cfs);
  if (ms.output.gwflux_location_on)
    write_location_line(in.out_gwflux_location_file, ms, so.gwflux_location_count, so.gwflux_link,
                        so.gwflux_node, so.stream_gw_exchange, 1.0);
  if (ms.output.dep_location_on)
    write_location_line(in.out_dep_location_file, ms, ch.hyd_location_count, ch.hlink, ch.hnode,
                        ch.chan_depth, 1.0);
}

// The two soil zones of a cell in a long-term run: the upper zone's water over its depth and
// the lower zone's over the rest of the unsaturated soil; 999.99 for a lower zone the soil does
// not reach. A cell without unsaturated soil (its water table at the surface) is saturated.
void append_two_zones(std::string& line, const subsurface_state& ss, int cell) {
  const auto at = [cell](const raw_array1d<double>& a) {
    return !a.empty() && cell >= 1 && cell <= a.count() ? a[cell] : 0.0;
  };
  double top_depth = ss.zone_depth_upper;
  double porosity = at(ss.porosity_cell);
  if (ss.inf_layered_soil) {
    const int id =
        !ss.soiltype.empty() && cell >= 1 && cell <= ss.soiltype.count() ? ss.soiltype[cell] : -1;
    top_depth = id >= 0 && id < max_soil_types ? ss.soil_types[id].layer_depth[0] : 0.0;
    porosity = id >= 0 && id < max_soil_types ? ss.soil_types[id].layer_porosity[0] : 0.0;
  }
  const double wetted = at(ss.wt_depth_cm);
  double upper = porosity;
  double lower = 999.99;
  if (top_depth > wetted) {
    if (wetted > 0.0) upper = at(ss.zone_water_upper) / wetted;
  } else {
    if (top_depth > 0.0) upper = at(ss.zone_water_upper) / top_depth;
    if (wetted > top_depth) lower = at(ss.zone_water_lower) / (wetted - top_depth);
  }
  append_fixed(line, upper, 12, 6);
  line.push_back(' ');
  append_fixed(line, lower, 12, 6);
  line.push_back(' ');
}

void write_theta_line(model_state& ms) {
  FILE* fp = ms.input.out_theta_location_file.fp;
  const series_outputs_state& so = ms.output.series;
  if (fp == nullptr || !ms.output.map_theta_locations) return;
  std::string line;
  if (ms.long_term)
    append_fixed(line, so.ts_stamp, 16, 8);
  else
    append_fixed(line, ms.elapsed_minutes, 14, 8);
  line.push_back(' ');
  const bool richards = ms.grid_params.inf_scheme == 4;
  const bool two_zones =
      ms.long_term && (ms.subsurface.inf_redist || ms.subsurface.inf_layered_soil);
  const raw_array1d<double>& moisture = ms.subsurface.surf_moist;
  for (int i = 1; i <= so.theta_locations; ++i) {
    const int cell = so.theta_cell[i];
    if (richards) {
      for (int k = 1; k <= so.theta_layer_count[i]; ++k) {
        append_fixed(line, table_value(ms.subsurface.THETA, cell, so.theta_layers[i][k]), 12, 6);
        line.push_back(' ');
      }
    } else if (two_zones) {
      append_two_zones(line, ms.subsurface, cell);
    } else {
      const bool kept = !moisture.empty() && cell >= 1 && cell <= moisture.count();
      append_fixed(line, kept ? moisture[cell] : 0.0, 12, 6);
      line.push_back(' ');
    }
  }
  line.push_back('\n');
  fputs(line.c_str(), fp);
}

void write_lake_line(model_state& ms) {
  FILE* fp = ms.output.lake_output_file.fp;
  if (fp == nullptr || !ms.output.lake_output || !ms.perennial_lakes) return;
  if (ms.long_term) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double seconds = 0.0;
    date_from_julian(ms.current_time, year, month, day, hour, minute, seconds);
    fprintf(fp, "%4d %2d %2d %2d %2d ", year, month, day, hour, minute);
  } else {
    fprintf(fp, "%14.8lf ", ms.elapsed_minutes);
  }
  // Each channel lake's water-surface elevation and its volume, from the lakes' own arrays.
  const channel_state& ch = ms.channel;
  for (int k = 1; k <= ch.num_lakes; ++k) {
    const double stage = !ch.lake_elev.empty() && k <= ch.lake_elev.count() ? ch.lake_elev[k] : 0.0;
    const double volume =
        !ch.lake_volume.empty() && k <= ch.lake_volume.count() ? ch.lake_volume[k] : 0.0;
    fprintf(fp, "%9.3lf  %9.3lf ", stage, volume);
  }
  fputc('\n', fp);
}

// One record of a stream dataset, numbered by its own file's count.
void write_stream_record(model_state& ms, file_handle& file, int slot,
                         const link_node_array<double>& first,
                         const link_node_array<double>* second, int mode) {
  series_outputs_state& so = ms.output.series;
  const channel_state& ch = ms.channel;
  if (file.fp == nullptr) return;
  if (first.empty() || (second != nullptr && second->empty()) || ch.nx1.empty() || ch.ltype.empty())
    return;
  write_linknode_step(file, ch.chan_link_count, ch.nx1.data(),
                      so.link_out_nodes.empty() ? nullptr : so.link_out_nodes.data(),
                      ch.ltype.data(), so.stream_ts_numbers[slot], first,
                      second != nullptr ? linknode_values(*second) : linknode_values(), mode,
                      ch.lake2link.empty() ? nullptr : ch.lake2link.data(),
                      ch.lake_elev.empty() ? nullptr : ch.lake_elev.data());
  ++so.stream_ts_numbers[slot];
}

void write_stream_records(model_state& ms) {
  channel_state& ch = ms.channel;
  const output_state& out = ms.output;
  if (!ch.chan_explic) return;
  if (out.chan_depth_on)
    write_stream_record(ms, ch.chan_depth_file, slot_depth, ch.yp, &ch.bel, linknode_difference);
  transport_state& tr = ms.transport;
  if (out.chan_sed_flux_on && !tr.qsmax_total.empty()) {
    form_channel_sediment_flux(tr);
    write_stream_record(ms, ch.chan_sed_flux_file, slot_sed_flux, tr.qsmax_total, nullptr,
                        linknode_plain);
    clear_channel_sediment_flux(tr.qsmax_total);
  }
  if (out.chan_discharge_on)
    write_stream_record(ms, ch.chan_discharge_file, slot_flow, ch.qp, nullptr, linknode_plain);
  if (out.chan_velocity_on)
    write_stream_record(ms, ch.chan_velocity_file, slot_velocity, ch.qp, &ch.area, linknode_ratio);
  if (out.chan_stage_on)
    write_stream_record(ms, ch.chan_stage_file, slot_stage, ch.yp, nullptr, linknode_plain);
}

// One pipe record: per superlink its value count and "1  %6.5lf   " per value of the table's
// rows 1..count (count = segments + extra).
void write_superlink_record(file_handle& file, int& record, int superlinks,
                            const raw_array1d<int>& segments, const raw_array2d<double>& table,
                            int extra) {
  if (file.fp == nullptr) return;
  std::string out = "TS    ";
  append_int(out, record);
  out.push_back('\n');
  for (int s = 1; s <= superlinks; ++s) {
    const int count = (s <= segments.count() ? segments[s] : 0) + extra;
    append_int(out, count);
    out.append("   ");
    for (int k = 1; k <= count; ++k) {
      out.append("1  ");
      append_fixed(out, table_value(table, k, s), 6, 5);
      out.append("   ");
    }
    out.push_back('\n');
  }
  out.push_back('\n');
  fputs(out.c_str(), file.fp);
  ++record;
}

void write_superlink_records(model_state& ms) {
  channel_state& ch = ms.channel;
  series_outputs_state& so = ms.output.series;
  if (!ch.storm_sewer) return;
  write_superlink_record(ch.pipe_flow_file, so.superlink_ts_numbers[0], ch.superlink_count,
                         so.superlink_segments, so.superlink_flow, 0);
  write_superlink_record(ch.pipe_head_file, so.superlink_ts_numbers[1], ch.superlink_count,
                         so.superlink_segments, so.superlink_head, 1);
  if (ch.superlink_leaky)
    write_superlink_record(ch.pipe_tile_file, so.superlink_ts_numbers[2], ch.superlink_count,
                           so.superlink_segments, ch.superlink_tile_flow, 0);
}

// Reads one int of the location list; at the end of the file stops the run with its message.
bool read_location_int(FILE* fp, const char* format, int& value, const char* file_name) {
  if (fscanf(fp, format, &value) == 1) return true;
  stop_with_message("End of file reached in file %s, exiting\n", file_name);
  return false;
}

}  // namespace

double long_term_stamp(const model_state& ms) {
  if (ms.strict_julian_date) return ms.current_time;
  const double year_minutes = (ms.cur_year - 1900) % 4 == 0 ? 527040.0 : 525600.0;
  return ms.cur_year +
         (ms.day_of_year * minutes_per_day + ms.cur_hour * 60.0 + ms.cur_minute) / year_minutes;
}

void write_linknode_run_headers(model_state& ms) {
  channel_state& ch = ms.channel;
  const output_state& out = ms.output;
  const int time_step = linknode_run_time_step(ms);
  const int records = linknode_run_record_count(ms);
  const grid_time_params& g = ms.grid_params;
  auto header = [&](file_handle& file, int kind, int links) {
    write_linknode_header(file, kind, links, time_step, records, g.start_day, g.start_month,
                          g.start_year, g.start_hour, g.start_minute);
  };
  const int links = ch.chan_link_count;
  if (ch.chan_explic) {
    if (out.chan_depth_on) header(ch.chan_depth_file, linknode_stream_depth, links);
    if (out.chan_sed_flux_on) header(ch.chan_sed_flux_file, linknode_stream_sed_flux, links);
    if (out.chan_discharge_on) header(ch.chan_discharge_file, linknode_stream_flow, links);
    if (out.chan_stage_on) header(ch.chan_stage_file, linknode_stream_stage, links);
    if (out.chan_velocity_on) header(ch.chan_velocity_file, linknode_stream_velocity, links);
  }
  // The flood depths are one record, written when the run ends.
  if (out.flood_stream)
    write_linknode_header(ch.flood_stream_file, linknode_flood_stream_depth, links, time_step, 1,
                          g.start_day, g.start_month, g.start_year, g.start_hour, g.start_minute);
  if (ch.storm_sewer) {
    header(ch.pipe_flow_file, linknode_superlink_flow, ch.superlink_count);
    header(ch.pipe_head_file, linknode_superlink_head, ch.superlink_count);
    if (ch.superlink_leaky)
      header(ch.pipe_tile_file, linknode_superlink_tile_flow, ch.superlink_count);
  }
}

void read_theta_locations(model_state& ms) {
  file_handle& file = ms.input.in_theta_location_file;
  series_outputs_state& so = ms.output.series;
  if (!ms.cards.in_theta_location_given || file.fp == nullptr) return;
  FILE* fp = file.fp;
  const char* name = ms.input.names.in_theta_location;
  const bool richards = ms.grid_params.inf_scheme == 4;
  int count = 0;
  int max_layers = 0;
  if (!read_location_int(fp, "%d", count, name)) return;
  if (richards && !read_location_int(fp, "%d", max_layers, name)) return;
  if (count < 0) count = 0;
  if (max_layers < 0) max_layers = 0;
  so.theta_cell.allocate(count);
  so.theta_layer_count.allocate(count);
  if (richards) so.theta_layers.allocate(count, max_layers);
  so.theta_locations = 0;
  for (int i = 1; i <= count; ++i) {
    int row = 0, col = 0;
    if (!read_location_int(fp, "%d", row, name) || !read_location_int(fp, "%d", col, name)) return;
    const bool inside =
        row >= 1 && row <= ms.index_map.row_count() && col >= 1 && col <= ms.index_map.col_count();
    so.theta_cell[i] = inside ? ms.index_map[row][col] : 0;
    if (so.theta_cell[i] <= 0) {
      stop_with_message(
          "Error: soil moisture location %d (row %d, column %d) of file %s lies outside the "
          "watershed.\n",
          i, row, col, name);
      return;
    }
    if (richards) {
      // All the location's layer numbers are read, so that the next location starts where it
      // should; beyond the largest count of the list's head they are not kept.
      int layers = 0;
      if (!read_location_int(fp, "%d", layers, name)) return;
      so.theta_layer_count[i] = layers < max_layers ? layers : max_layers;
      for (int k = 1; k <= layers; ++k) {
        int layer = 0;
        if (!read_location_int(fp, "%d", layer, name)) return;
        // A node the cell's soil column does not hold would write a made-up moisture.
        const raw_array1d<int>& nodes = ms.subsurface.numcells;
        const int cell = so.theta_cell[i];
        const int held = !nodes.empty() && cell <= nodes.count() ? nodes[cell] : 0;
        if (!nodes.empty() && (layer < 1 || layer > held)) {
          stop_with_message(
              "Error: soil moisture location %d (row %d, column %d) of file %s lists node %d; "
              "the soil column of its cell holds nodes 1 to %d\n",
              i, row, col, name, layer, held);
          return;
        }
        if (k <= max_layers) so.theta_layers[i][k] = layer;
      }
    }
    so.theta_locations = i;
  }
}

void write_series_outputs(model_state& ms) {
  r7_data* r7 = ms.output.r7.get();
  if (r7 != nullptr) {
    const overland_state& ov = ms.overland;
    r7_accumulate_flows(*r7, {ov.ov_flux_x, ov.ov_flux_y, ov.rightcon, ov.belowcon, ms.cell_count,
                              ms.channel.chan_explic != 0, ms.channel.qp});
  }
  if (ms.hyd_freq_steps <= 0 || ms.step_number % ms.hyd_freq_steps != 0) return;
  if (process_info.process_index != 0) return;
  if (ms.long_term) ms.output.series.ts_stamp = long_term_stamp(ms);
  write_r7_inflow_line(ms);
  if (r7 != nullptr)
    r7_write_flows(*r7, ms.day_of_year + ms.cur_hour / 24.0 + ms.cur_minute / minutes_per_day);
  write_outlet_hydrograph(ms);
  write_outlet_sediment(ms);
  write_location_series(ms);
  write_pipe_and_constituent_locations(ms);
  write_theta_line(ms);
  write_lake_line(ms);
  write_sediment_locations(ms);
  write_xy_output_step(ms);
  if (!hydrographs_written(ms)) return;
  write_stream_records(ms);
  write_superlink_records(ms);
  if (ms.transport.nutrients) write_nsm_outlet_series(ms);
  write_constituent_records(ms);
}
