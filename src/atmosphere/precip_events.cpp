// Precipitation events on the grid, time-loop steps 2 and 4: start_precip_event reads each event
// of the precipitation file when it is due, turns gauge depths into intensities and builds the
// nearest-gauge table; update_precip_record puts each record's intensities into rain_cell at the
// record's time (inverse-distance weighting or nearest gauge) and drives uniform rainfall.
#include "atmosphere/precip_events.h"

#include <cmath>
#include <cstdio>

#include "atmosphere/atmosphere_steps.h"
#include "atmosphere/precip_file.h"
#include "atmosphere/radar.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/core/parallel_team.h"
#include "framework/core/process_info.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "output/output_steps.h"

namespace {

// Beyond this distance (map units) no gauge counts as a cell's nearest one.
constexpr double nearest_search_start = 1000000.0;
constexpr double nearest_search_limit = 900000.0;

double squared(double v) {
  return v * v;
}

double record_time(const rain_event_record& record) {
  const int* d = record.value;
  return julian_from_date(d[0], d[1], d[2], d[3], d[4], 0.0);
}

// Records the file gave the current event: a RATES event counts one more than it read.
int records_read(const overland_state& ov) {
  return ov.precip_rates ? ov.precip_record_count - 1 : ov.precip_record_count;
}

std::span<double> cells_of(raw_array1d<double>& a) {
  return {a.data(), a.element_count()};
}

// Sets every element 1..count of the array (when it is there) to value.
void fill_cells(raw_array1d<double>& a, int count, double value) {
  for (int i = 1; i <= count && i <= a.count(); ++i) a[i] = value;
}

// Sizes the per-cell rainfall intensities at first need; false after a failed allocation
// (message printed, the run stopped).
bool rain_cells_ready(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!ov.rain_cell.empty() && ov.rain_cell.count() >= ms.cell_count) return true;
  alloc_1d_double(ov.rain_cell, ms.cell_count, "rain_cell");
  if (ov.rain_cell.empty() && ms.cell_count > 0) {
    stop_now();
    return false;
  }
  return true;
}

// Makes `a` hold at least elements 1..n; false (message printed, run stopped) when it cannot.
template <class T>
bool sized(raw_array1d<T>& a, int n, const char* name) {
  if (!a.empty() && a.count() >= n) return true;
  if (!a.allocate(n)) {
    raw_report_alloc_failure(name);
    stop_now();
    return false;
  }
  return true;
}

// The event's gauge coordinates as plain arrays, for the gauge kernels.
bool copy_gauges(model_state& ms) {
  overland_state& ov = ms.overland;
  const int gauges = ov.precip_gage_count;
  if (!sized(ov.gauge_east, gauges, "gauge_east") ||
      !sized(ov.gauge_north, gauges, "gauge_north") ||
      !sized(ov.gauge_record, gauges, "gauge_record"))
    return false;
  for (int g = 1; g <= gauges; ++g) {
    ov.gauge_east[g] = ov.precip_gage_x[g];
    ov.gauge_north[g] = ov.precip_gage_y[g];
  }
  return true;
}

// Maps the cells of the grid to the radar cells of the event's first radar file. False when the
// run stops (message printed, code reported).
bool map_radar_event(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!sized(ov.torva_to_precip, ms.cell_count, "torva_to_precip")) return false;
  radar_grid_record& radar = ov.radar_grid;
  // The model grid the frames fall on.
  radar.model_west = ms.map_west;
  radar.model_north = ms.map_north;
  radar.model_cell_size = ms.gridsize;
  radar.model_rows = ms.rows;
  radar.model_cols = ms.cols;
  radar.model_cell_count = ms.cell_count;
  const char* first = ov.radar_filenames.size() > 1 ? ov.radar_filenames[1].c_str() : "";
  return map_radar_cells(first, radar, ms.index_map,
                         {ov.torva_to_precip.data(), ov.torva_to_precip.element_count()}) == 0;
}

// Reads the frame of record k and puts it on the cells. False when the run stops: a frame that
// cannot be read is an error naming its file, so the previous frame never falls again as if it
// were the new one.
bool apply_radar_frame(model_state& ms, int k) {
  overland_state& ov = ms.overland;
  const std::size_t at = static_cast<std::size_t>(k);
  const char* name = at < ov.radar_filenames.size() ? ov.radar_filenames[at].c_str() : "";
  printf("Reading radar precip file %s.\n", name);
  std::string problem;
  if (read_radar_precip(name, ov.radar_grid, problem) != 0) {
    stop_with_message(
        "Error: the radar file %s of record %d of the event entitled:\n   %s\nin the "
        "precipitation file %s cannot be read: %s.\n",
        name, k, ov.precip_event_title.c_str(), ms.input.names.precip_file, problem.c_str());
    return false;
  }
  if (ov.torva_to_precip.count() < ms.cell_count ||
      report_radar_peak(ov.radar_grid,
                        {ov.torva_to_precip.data(), ov.torva_to_precip.element_count()},
                        cells_of(ov.rain_cell), ms.cell_count) != 0) {
    stop_with_message("Error: the cells of the grid are not mapped to the radar file %s.\n", name);
    return false;
  }
  return true;
}

void print_event_start(model_state& ms, bool tev_search) {
  const char* file_name = ms.input.names.precip_file;
  FILE* summary = ms.output.summary_file.fp;
  if (tev_search) {
    if (!ms.super_quiet)
      printf("Searching through precip input file for TEV event %d\n", ms.tev_event_num);
    ms.event_number = ms.tev_event_num;
    return;
  }
  if (ms.long_term) {
    printf("reading precip. data for event %3d from file: %s\n", ms.event_number + 1, file_name);
    if (summary != nullptr)
      fprintf(summary, "---reading precip. data for event %3d from file: %s\n", ms.event_number + 1,
              file_name);
  } else {
    if (!ms.super_quiet) printf("reading precip data from file: %s\n", file_name);
    if (summary != nullptr) fprintf(summary, "reading precip data from file: %s\n", file_name);
  }
  if (summary != nullptr) {
    fprintf(summary, "\n\n");
    file_handle_write_check(ms.output.summary_file);
  }
}

// No further event in the file (or a format error the reader has reported).
void no_further_event(model_state& ms) {
  overland_state& ov = ms.overland;
  ov.rain_event_state = 2;
  ov.rain_events[1].value[0] = 1000;
  if (ms.event_number == 0) {
    printf("\n**********************************\n");
    printf("Data was not correctly read from the rainfall input file.\n");
    printf("Verify the file format.\n");
    printf("***********************************\n");
  }
  if (ms.long_term && !ms.quiet) {
    printf("Precip data for event %d was not found in file: %s\n", ms.event_number + 1,
           ms.input.names.precip_file);
    printf("TORVA assumes this means all events have been simulated.\n");
    printf("Program terminating normally.\n");
  }
}

// The event just read becomes the current one. False when the run stops.
bool take_event(model_state& ms, bool tev_search, int tev_event) {
  overland_state& ov = ms.overland;
  // A RATES event counts one record more than it read: its last record's time ends the rain.
  const int read = records_read(ov);
  ov.event_rain_start = record_time(ov.rain_events[1]);
  ov.precip_next_time = ov.event_rain_start;
  ov.event_rain_end = record_time(ov.rain_events[read >= 1 ? read : 1]);
  ov.precip_record = 1;
  ms.event_number = tev_search ? tev_event : ms.event_number + 1;
  ov.rain_event_state = 1;
  ms.event_start_time = ms.current_time;
  ms.event_active = 1;
  ms.event_ended = 0;
  const int next = ms.event_number + 1;
  ms.next_event_time = next >= 1 && next <= max_precip_events ? ms.event_start_jday[next] : 0.0;
  if (read == 1) {
    // Its one record's values would hold until a next record that never comes.
    echo_message(
        "Warning: the event entitled:\n   %s\nin the precipitation file %s has one record; a "
        "record's rain lasts until the next record's time, so the event rains nothing.\n",
        ov.precip_event_title.c_str(), ms.input.names.precip_file);
  }
  if (ov.precip_radar == 2) return map_radar_event(ms);
  if (ov.precip_gage_count < 1) {
    stop_with_message(
        "Error: the event entitled:\n   %s\nin the precipitation file %s has no gauge (NRGAG "
        "%d); an event of gauge records needs at least one gauge.\n",
        ov.precip_event_title.c_str(), ms.input.names.precip_file, ov.precip_gage_count);
    return false;
  }
  return true;
}

}  // namespace

double precip_interval_seconds(const int* first, const int* next) {
  const double days = julian_from_date(next[0], next[1], next[2], next[3], next[4], 0.0) -
                      julian_from_date(first[0], first[1], first[2], first[3], first[4], 0.0);
  // Whole seconds: the Julian times carry rounding in their last digits.
  return std::round(days * seconds_per_day);
}

int precip_depths_to_rates(guarded_array2d<double>& values, int gauge_count, int record_count,
                           const rain_event_record* records, bool accumulated) {
  for (int k = 1; k < record_count; ++k)
    if (precip_interval_seconds(records[k].value, records[k + 1].value) <= 0.0) return k;
  for (int k = 1; k < record_count; ++k) {
    const double seconds = precip_interval_seconds(records[k].value, records[k + 1].value);
    if (seconds > seconds_per_day) printf("WARNING: you have a long delta t in your precip file\n");
    const double hours = seconds / seconds_per_hour;
    for (int g = 1; g <= gauge_count; ++g) {
      double* row = values[g];
      if (row == nullptr) continue;
      row[k] = accumulated ? (row[k + 1] - row[k]) / hours : row[k + 1] / hours;
    }
  }
  return 0;
}

void precip_idw_parallel(double dx, const raw_array2d<int>& index_map, int gauge_count,
                         double north, double west, std::span<const double> gauge_x,
                         std::span<const double> gauge_y, std::span<const double> values,
                         std::span<double> rain_cell, int rows, int cols) {
  if (index_map.empty() || gauge_count < 1) return;
  const long cells = static_cast<long>(rain_cell.size()) - 1;
  const int last_row = rows < index_map.row_count() ? rows : index_map.row_count();
  const int last_col = cols < index_map.col_count() ? cols : index_map.col_count();
#pragma omp parallel for schedule(static) num_threads(team_size(cells))
  for (int r = 1; r <= last_row; ++r) {
    const double yc = north - (r - 0.5) * dx;
    const int* map_row = index_map[r];
    for (int c = 1; c <= last_col; ++c) {
      const int i = map_row[c];
      if (i <= 0 || i > cells) continue;
      if (gauge_count == 1) {
        rain_cell[i] = values[1];
        continue;
      }
      const double xc = west + (c - 0.5) * dx;
      double weighted = 0.0;
      double weights = 0.0;
      bool direct = false;
      for (int g = 1; g <= gauge_count; ++g) {
        const double d = std::sqrt(squared(gauge_x[g] - xc) + squared(gauge_y[g] - yc));
        if (d < dx) {
          rain_cell[i] = values[g];
          direct = true;
          break;
        }
        const double w = 1.0 / (d * d);
        weighted += values[g] * w;
        weights += w;
      }
      if (!direct) rain_cell[i] = weighted / weights;
    }
  }
}

void gage_values_to_cells(int gauge_count, std::span<const int> nearest,
                          std::span<const double> values, std::span<double> rain_cell,
                          int cell_count) {
  const long cells = static_cast<long>(rain_cell.size()) - 1;
  const int last = cell_count < cells ? cell_count : static_cast<int>(cells);
  if (gauge_count == 1) {
    team_for(team_size(last), 1, last, [&](int i) { rain_cell[i] = values[1]; });
    return;
  }
  if (static_cast<long>(nearest.size()) - 1 < last) return;
  team_for(team_size(last), 1, last, [&](int i) { rain_cell[i] = values[nearest[i]]; });
}

int find_neighbor_all(int gauge_count, const raw_array2d<int>& index_map,
                      std::span<const double> gauge_x, std::span<const double> gauge_y,
                      double north, double west, std::span<int> nearest, double dx, int rows,
                      int cols) {
  if (index_map.empty()) return 0;
  const long cells = static_cast<long>(nearest.size()) - 1;
  const int last_row = rows < index_map.row_count() ? rows : index_map.row_count();
  const int last_col = cols < index_map.col_count() ? cols : index_map.col_count();
  int failures = 0;
#pragma omp parallel reduction(+ : failures) num_threads(team_size(static_cast<long>(last_row) * last_col))
  {
    bool stopped = false;  // this worker met a cell without a gauge in reach
#pragma omp for schedule(static)
    for (int r = 1; r <= last_row; ++r) {
      if (stopped) continue;
      const double yc = north - (r - 0.5) * dx;
      const int* map_row = index_map[r];
      for (int c = 1; c <= last_col && !stopped; ++c) {
        const int i = map_row[c];
        if (i <= 0 || i > cells) continue;
        const double xc = west + (c - 0.5) * dx;
        double best = nearest_search_start;
        for (int g = 1; g <= gauge_count; ++g) {
          const double d = std::sqrt(squared(gauge_x[g] - xc) + squared(gauge_y[g] - yc));
          if (d < best) {
            best = d;
            nearest[i] = g;
          }
        }
        if (best > nearest_search_limit) {
          failures += 1;
          stopped = true;
        }
      }
    }
  }
  return failures;
}

void start_precip_event(model_state& ms) {
  overland_state& ov = ms.overland;
  // TEV looks for the one event it asked for once: after that event's rain the search must not
  // start the event again.
  const bool tev_search = ms.tev && ms.tev_event_num_given && ov.precip_events_read == 0;

  // 1. Only when the next event is due (or TEV looks for its event) and one is left.
  if (ov.rain_event_state != 0) return;
  const int next = ms.event_number + 1;
  const double start = next >= 1 && next <= max_precip_events ? ms.event_start_jday[next] : 0.0;
  if (!(std::fabs(ms.current_time - start) < ms.time_tolerance || tev_search)) return;
  if (ms.event_number >= ov.num_events) return;

  // 2. Every analyzer hears of the event's start.
  notify_analyzers_event_start(ms);

  // 3. The rain of the event may fall from now on.
  ov.ov_end_checks_off = 1;
  ov.rain_active = 1;
  if (ov.precip_file_on != 1) return;

  print_event_start(ms, tev_search);

  // 4. The event to read: TEV's event, or the one after the events passed over at a given start.
  int tev_event = tev_search ? ms.tev_event_num : 1;
  if (!tev_search && ms.start_date_given && ov.precip_events_read == 0)
    tev_event = ms.event_number + 1;
  int result = 0;
  for (int n = 1; n <= tev_event; ++n) {
    result = read_precip_event(ms, ms.input.raingage_file);
    if (result != 1) break;
    if (ov.precip_rates) ov.precip_record_count += 1;
  }
  ov.precip_events_read += 1;
  ov.uniform_rain_steps = 1;

  // 5. The result of the last read.
  if (result == -1) {
    stop_with_message(
        "Unexpected end of file in rain gauge data file.\nCheck the format of the data file.\n"
        "Program terminated.");
    return;
  }
  if (result == 0) {
    no_further_event(ms);
    return;
  }
  if (!take_event(ms, tev_search, tev_event)) return;

  // 6. Depths per interval, or cumulative depths, become intensities.
  if (ov.precip_gages || ov.precip_accum) {
    const int same_time =
        precip_depths_to_rates(ov.precip_values, ov.precip_gage_count, ov.precip_record_count,
                               ov.rain_events, ov.precip_accum != 0);
    if (same_time > 0) {
      const int* d = ov.rain_events[same_time].value;
      stop_with_message(
          "Error: records %d and %d of the event entitled:\n   %s\nin the precipitation file %s "
          "are both dated %d/%d/%d %d:%02d; a depth needs an interval of time to fall in.\n",
          same_time, same_time + 1, ov.precip_event_title.c_str(), ms.input.names.precip_file, d[1],
          d[2], d[0], d[3], d[4]);
      return;
    }
  }

  // 7. The gauges of the event; with nearest-gauge rainfall, each cell's nearest gauge.
  if (!copy_gauges(ms)) return;
  if (ov.precip_gage_count >= 2 && ov.rain_thiessen) {
    if (!sized(ov.nearest, ms.cell_count, "nearest")) return;
    const int failures = find_neighbor_all(
        ov.precip_gage_count, ms.index_map, {ov.gauge_east.data(), ov.gauge_east.element_count()},
        {ov.gauge_north.data(), ov.gauge_north.element_count()}, ms.map_north, ms.map_west,
        {ov.nearest.data(), ov.nearest.element_count()}, ms.gridsize, ms.rows, ms.cols);
    if (failures > 0)
      stop_with_message(
          "Failure to identify closest raingauge in find_neighbor\n"
          "check rain gage data file, particularly gage coordinates\n");
  }
}

void update_precip_record(model_state& ms) {
  overland_state& ov = ms.overland;

  // 1. The record in force. Each record's values hold from its own time to the next record's;
  // the last record read only closes the series. The rain of an overland step falls on the
  // interval from the step's last update to now, so the record applied is the latest one whose
  // time that interval's start has reached: a record dated at a step's end rains from the step
  // after. When several records are due at once (a step longer than their spacing), the latest
  // of them is applied.
  const int closing = records_read(ov);
  const double rain_from = ms.ov_clock.last;
  if (ov.precip_file_on && ov.precip_record >= 1 && ov.precip_record <= closing &&
      rain_from > ov.precip_next_time - ms.time_tolerance) {
    if (!rain_cells_ready(ms)) return;
    int k = ov.precip_record;
    while (k < closing && k + 1 <= max_rain_records &&
           rain_from > record_time(ov.rain_events[k + 1]) - ms.time_tolerance)
      ++k;
    if (k < closing) {
      if (ov.precip_radar == 2 && !apply_radar_frame(ms, k)) return;
      const int gauges = ov.precip_gage_count;
      if (ov.precip_radar != 2 && gauges >= 1 && ov.gauge_record.count() >= gauges) {
        for (int g = 1; g <= gauges; ++g) {
          const double* row = ov.precip_values[g];
          ov.gauge_record[g] = row != nullptr ? row[k] : 0.0;
        }
        const std::span<const double> values{ov.gauge_record.data(),
                                             ov.gauge_record.element_count()};
        if (ov.rain_inv_distance == 1)
          precip_idw_parallel(ms.gridsize, ms.index_map, gauges, ms.map_north, ms.map_west,
                              {ov.gauge_east.data(), ov.gauge_east.element_count()},
                              {ov.gauge_north.data(), ov.gauge_north.element_count()}, values,
                              cells_of(ov.rain_cell), ms.rows, ms.cols);
        if (ov.rain_thiessen == 1)
          gage_values_to_cells(gauges, {ov.nearest.data(), ov.nearest.element_count()}, values,
                               cells_of(ov.rain_cell), ms.cell_count);
      }
      ov.precip_record = k + 1;
      ov.precip_last_time = ms.current_time;
      ov.precip_next_time = record_time(ov.rain_events[k + 1]);
    } else {
      // 2. The closing record's time has come: the event's rain is over. No rain falls until the
      // next event starts: a long-term run's infiltration may rest once the surface is dry.
      ov.precip_record = closing + 1;
      ov.ov_end_checks_off = 0;
      ov.rain_active = 0;
      if (ov.rain_event_state == 1) ov.rain_event_state = 0;
      if (ov.rain_event_state == 2) ov.rain_event_state = 3;
      fill_cells(ov.rain_cell, ms.cell_count, 0.0);
      if (ov.interception_on) fill_cells(ov.net_rain_cell, ms.cell_count, 0.0);
    }
  }

  // 3. Uniform rainfall: from the first step of the run for its count of applications.
  if (ov.uniform_rain && ov.rain_event_state == 1) {
    if (ms.step_number == 0) {
      if (!rain_cells_ready(ms)) return;
      ov.rain_active = 1;
      ov.ov_end_checks_off = 1;
      ov.uniform_rain_steps = 1;
      fill_cells(ov.rain_cell, ms.cell_count, ov.rain_intensity);
    }
    if (ov.uniform_rain_steps == ov.precip_record_count + 1) {
      fill_cells(ov.rain_cell, ms.cell_count, 0.0);
      if (ov.interception_on) fill_cells(ov.net_rain_cell, ms.cell_count, 0.0);
      ov.rain_active = 0;
      ov.ov_end_checks_off = 0;
      ov.rain_event_state = 3;
    }
  }
}
