// Radar rainfall on the grid: the mapping of model cells to radar cells at the start of a radar
// event (start_precip_event), and at each record's time the frame read from its radar grid file
// and copied to the cells' rainfall intensities (update_precip_record).
#include "atmosphere/radar.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "atmosphere/precip_file.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"

namespace {

// Millimetres in an inch: radar frames give inches per hour.
constexpr double mm_per_inch = 25.4;
// Largest intensity a radar cell may give (mm/h), and how near a value must lie to the no-data
// value to count as missing.
constexpr double radar_clip_rate = 100.0;
constexpr double nodata_tolerance = 0.01;

}  // namespace

int map_radar_cells(const char* file_name, radar_grid_record& radar,
                    const raw_array2d<int>& index_map, std::span<int> radar_index) {
  std::string problem;
  if (read_radar_header(radar, file_name, &problem) != 0) {
    printf("Error: unable to read radar header in file %s\n", file_name);
    printf("       %s.\n", problem.c_str());
    stop_now();
    return -1;
  }
  if (radar.values.empty()) {
    printf("Error: precip data not allocated\n");
    stop_now();
    return -1;
  }
  const double dx = radar.model_cell_size;
  const long cells = static_cast<long>(radar_index.size()) - 1;
  const int rows =
      radar.model_rows < index_map.row_count() ? radar.model_rows : index_map.row_count();
  const int cols =
      radar.model_cols < index_map.col_count() ? radar.model_cols : index_map.col_count();
  for (int i = 1; i <= rows; ++i) {
    for (int j = 1; j <= cols; ++j) {
      const int cell = index_map[i][j];
      if (cell <= 0 || cell > cells) continue;
      const double x = (j - 1) * dx + (radar.model_west + 0.5 * dx);
      const double y = (radar.model_north - 0.5 * dx) - (i - 1) * dx;
      const double r =
          y > radar.north_edge ? 0.0 : std::trunc((radar.north_edge - y) / radar.cell_size);
      const double c =
          x < radar.west_edge ? 0.0 : std::trunc((x - radar.west_edge) / radar.cell_size);
      if (r > radar.rows - 1 || c > radar.cols - 1) {
        printf("Error!! p_I=%d, p_J=%d\n", static_cast<int>(std::fmin(r, 2147483647.0)),
               static_cast<int>(std::fmin(c, 2147483647.0)));
        printf(
            "Error: the centre of model cell %d (row %d, column %d) lies outside the radar grid "
            "of the file %s.\n",
            cell, i, j, file_name);
        report_error_now(err_radar_mapping_failed);
        return -2;
      }
      radar_index[cell] = radar.cols * static_cast<int>(r) + static_cast<int>(c) + 1;
    }
  }
  return 0;
}

int read_radar_precip(const char* file_name, radar_grid_record& radar, std::string& problem) {
  file_handle file;
  if (!file_handle_open(file, file_name, "r")) {
    problem = "the file cannot be opened";
    return -1;
  }
  // The header: columns, rows, lower-left x and y, cell size, no-data value.
  double header[6] = {};
  std::string line;
  std::string keyword;
  for (int i = 0; i < 6; ++i) {
    if (read_text_line(line, file) == 0 || next_token(line, keyword) == 0 ||
        !take_double(line, header[i])) {
      file_handle_close(file);
      problem = "line " + std::to_string(i + 1) + " does not hold a keyword and a number";
      return -1;
    }
  }
  // Every frame of the event lies on the grid the cells were mapped to.
  if (header[0] != radar.cols || header[1] != radar.rows || header[2] != radar.xll ||
      header[3] != radar.yll || header[4] != radar.cell_size) {
    file_handle_close(file);
    char text[512];
    snprintf(text, sizeof text,
             "its grid (%g columns, %g rows, lower-left corner %g %g, cell size %g) is not the "
             "grid of the event's first radar file (%d columns, %d rows, lower-left corner %g "
             "%g, cell size %g)",
             header[0], header[1], header[2], header[3], header[4], radar.cols, radar.rows,
             radar.xll, radar.yll, radar.cell_size);
    problem = text;
    return -1;
  }
  const double nodata = header[5];

  // The values, row by row from the north.
  const long total = static_cast<long>(radar.rows) * radar.cols;
  long n = 0;
  bool bad = false;
  double peak = 0.0;
  while (!bad && read_text_line(line, file) != 0) {
    std::string token;
    while (next_token(line, token) != 0) {
      double value = 0.0;
      if (n >= total || !parse_double(token, value)) {
        bad = true;
        break;
      }
      ++n;
      if (std::fabs(value - nodata) < nodata_tolerance || !(value > 0.0)) {
        value = 0.0;
      } else {
        value *= mm_per_inch;
      }
      if (value > radar_clip_rate) {
        printf(
            "Warning: really big precip value (%lf) in cell (%d,%d) from radar rainfall.\n "
            "resetting value to 100.0\n",
            value, static_cast<int>((n - 1) / radar.cols), static_cast<int>((n - 1) % radar.cols));
        value = radar_clip_rate;
      }
      radar.values[static_cast<int>(n)] = value;
      if (value > peak) peak = value;
    }
  }
  file_handle_close(file);
  if (bad || n != total) {
    printf("Error in reading radar precip file %s\n", file_name);
    problem = bad ? "value " + std::to_string(n + 1) +
                        (n >= total ? " is one more than its grid has cells" : " is no number")
                  : "the file holds " + std::to_string(n) + " values for the " +
                        std::to_string(total) + " cells of its grid";
    return -1;
  }
  printf("Peak rainfall rate read: %lf mm/hr\n", peak);
  return 0;
}

int report_radar_peak(const radar_grid_record& radar, std::span<const int> radar_index,
                      std::span<double> rain_cell, int cell_count) {
  const int total = radar.rows * radar.cols;
  double peak = 0.0;
  int result = 0;
  for (int i = 1; i <= cell_count; ++i) {
    const int k = radar_index[i];
    if (k < 1 || k > total || k > radar.values.count()) {
      printf("Error: cellnum=%d, totcells=%d\n", k - 1, total);
      result = -1;
      break;
    }
    const double rate = radar.values[k] < 0.0 ? 0.0 : radar.values[k];
    rain_cell[i] = rate;
    if (rate > peak) peak = rate;
  }
  printf("Peak rainfall applied to watershed: %lf mm/hr\n", peak);
  return result;
}
