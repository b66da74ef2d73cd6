// XY boundary inputs: reads the overland depth, groundwater head and stream hydrograph tables
// (the layout the XY outputs write) and the stream time-series file at their project cards,
// checks the points' cells at start-up and applies the overland and groundwater points.
#include "input/xy_boundary.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "input/time_series.h"

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The point count of the second line: its first token. A line without a token counts 0 points
// (reported by the caller as a file without points); a token that is not a whole number is a
// fault, reported here.
bool read_point_count(file_handle& h, const char* what, const char* name, int& n) {
  n = 0;
  std::string line;
  read_text_line(line, h);
  std::string rest = line;
  std::string token;
  if (next_token(rest, token) == 0 || parse_int(token, n)) return true;
  printf(
      "Error: the second line of the %s xy boundary input file %s must give the number of "
      "points; it reads: %s\n",
      what, name, line.c_str());
  raise_own_message();
  return false;
}

// The series table that follows the header lines: n columns named from `base`. False, after a
// message (the table reader's own for a bad value), when a row is malformed, a date does not
// read or no row precedes END_TS.
bool read_point_series(file_handle& h, int n, const char* base, const char* what, const char* name,
                       time_series*& first) {
  const int code_before = run_error.error_code;
  first = ts_read_columns(h, n, base);
  if (run_error.error_code != code_before) return false;
  if (first == nullptr || first->count == 0) {
    printf("Error: the %s xy boundary input file %s holds no rows of values before END_TS\n", what,
           name);
    raise_own_message();
    return false;
  }
  // The table reader gives a row whose date does not read the time -1.0.
  for (int row = 0; row < first->count; ++row) {
    if (first->times[static_cast<std::size_t>(row)] != -1.0) continue;
    printf(
        "Error: row %d of the %s xy boundary input file %s does not begin with year, month, "
        "day, hour and minute as whole numbers\n",
        row + 1, what, name);
    raise_own_message();
    return false;
  }
  return true;
}

// n coordinates of a line whose first token (X or Y) is skipped.
bool read_coordinates(file_handle& h, int n, const char* axis, const char* name,
                      std::vector<double>& out) {
  out.clear();
  std::string line;
  read_text_line(line, h);
  std::string rest = line;
  std::string token;
  next_token(rest, token);
  double v = 0.0;
  while (static_cast<int>(out.size()) < n && take_double(rest, v)) out.push_back(v);
  if (static_cast<int>(out.size()) == n) return true;
  printf(
      "Error: the stream xy boundary input file %s has %d points, but its %s line holds %d "
      "readable %s coordinates\n",
      name, n, axis, static_cast<int>(out.size()), axis);
  raise_own_message();
  return false;
}

// True when the point may be applied to an array of cells 1..cells; otherwise the run stops.
bool point_applicable(const char* what, int point, int cell, const time_series* series, int cells) {
  if (cell < 1 || cell > cells) {
    printf(
        "Error: %s xy boundary point %d is cell %d, outside the cells 1 to %d it is applied "
        "to\n",
        what, point, cell, cells);
    stop_now();
    return false;
  }
  if (series == nullptr) {
    ts_value(0.0, nullptr);  // reports the missing series and stops the run
    return false;
  }
  return true;
}

bool check_points(const guarded_array<xy_point>& points, int count, const char* what,
                  const char* name, int cell_count) {
  for (int i = 1; i <= count; ++i) {
    const int cell = points[i].cell;
    if (cell >= 1 && cell <= cell_count) continue;
    printf(
        "Error: point %d of the %s xy boundary input file %s is cell %d, but the watershed "
        "has cells 1 to %d only\n",
        i, what, name, cell, cell_count);
    return false;
  }
  return true;
}

}  // namespace

void read_xy_bdy_file(xy_input& xy, const char* file_name, const char* kind_word,
                      const char* header_word, time_series*& first_series,
                      guarded_array<xy_point>& points, int& point_count) {
  const char* name = file_name != nullptr ? file_name : "";
  const char* kind = kind_word != nullptr ? kind_word : "";
  const char* header = header_word != nullptr ? header_word : "";
  file_handle h;
  if (!file_handle_open(h, name, "r")) {
    printf("Error: unable to open %s xy boundary input file.\n", kind);
    return;
  }
  std::string line;
  read_text_line(line, h);
  if (std::strncmp(line.c_str(), header, std::strlen(header)) != 0) {
    printf(
        "Error: file used for %s xy boundary input file is not of appropriate type. File "
        "header does not match %s.\n",
        kind, header);
    file_handle_close(h);
    return;
  }
  // From here on the file replaces any points of an earlier card of this kind.
  point_count = 0;
  first_series = nullptr;

  int n = 0;
  if (!read_point_count(h, kind, name, n)) {
    file_handle_close(h);
    return;
  }
  if (n < 1) {
    printf("Warning: No points in %s xy boundary input file.\n", kind);
    file_handle_close(h);
    return;
  }

  // Third line: DATE and TIME, then the cell number of each point.
  read_text_line(line, h);
  std::string rest = line;
  std::string token;
  next_token(rest, token);
  next_token(rest, token);
  std::vector<int> cells;
  while (static_cast<int>(cells.size()) < n && next_token(rest, token) != 0) {
    int cell = 0;
    if (!parse_int(token, cell) || cell < 1) {
      printf(
          "Error: point %d of the %s xy boundary input file %s has the cell number [%s]; "
          "cell numbers are whole numbers from 1\n",
          static_cast<int>(cells.size()) + 1, kind, name, token.c_str());
      raise_own_message();
      file_handle_close(h);
      return;
    }
    cells.push_back(cell);
  }
  if (static_cast<int>(cells.size()) < n) {
    printf(
        "Error: the %s xy boundary input file %s has %d points, but its third line holds %d "
        "cell numbers after DATE and TIME\n",
        kind, name, n, static_cast<int>(cells.size()));
    raise_own_message();
    file_handle_close(h);
    return;
  }

  time_series* first = nullptr;
  if (!read_point_series(h, n, header, kind, name, first)) {
    file_handle_close(h);
    return;
  }
  file_handle_close(h);
  if (!points.grow(n)) {
    printf("Error: no room for the %d points of the %s xy boundary input file %s\n", n, kind, name);
    raise_own_message();
    return;
  }
  time_series* s = first;
  for (int i = 1; i <= n; ++i, s = s->next) {
    points[i].cell = cells[static_cast<std::size_t>(i) - 1];
    points[i].series = s;
  }
  first_series = first;
  point_count = n;
  if (&points == &xy.ovpts) copy_text(xy.ov_file, sizeof xy.ov_file, name);
  if (&points == &xy.gwpts) copy_text(xy.gw_file, sizeof xy.gw_file, name);
}

void read_xy_stream_bdy_file(xy_input& xy, const char* file_name) {
  const char* name = file_name != nullptr ? file_name : "";
  const char* what = "stream";
  file_handle h;
  if (!file_handle_open(h, name, "r")) {
    printf("Error: unable to open stream xy boundary input file.\n");
    return;
  }
  std::string line;
  read_text_line(line, h);
  std::string token;
  next_token(line, token);
  if (lower(token) != "xy_stream_hydrographs") {
    printf(
        "Error: file used for stream xy boundary input file is not of appropriate type. File "
        "header does not match XY_STREAM_HYDROGRAPHS.\n");
    file_handle_close(h);
    return;
  }
  xy.st_series = nullptr;

  int n = 0;
  if (!read_point_count(h, what, name, n)) {
    file_handle_close(h);
    return;
  }
  if (n < 1) {
    printf("Warning: No points in the stream xy boundary input file.\n");
    file_handle_close(h);
    return;
  }
  std::vector<double> x;
  std::vector<double> y;
  time_series* first = nullptr;
  if (!read_coordinates(h, n, "X", name, x) || !read_coordinates(h, n, "Y", name, y) ||
      !read_point_series(h, n, "XY_STREAM_HYDROGRAPHS", what, name, first)) {
    file_handle_close(h);
    return;
  }
  file_handle_close(h);

  // The points follow those read before, so that no stream point of an earlier card is lost.
  const int base = xy.stpts.upper();
  if (!xy.stpts.grow(n)) {
    printf("Error: no room for the %d points of the stream xy boundary input file %s\n", n, name);
    raise_own_message();
    return;
  }
  time_series* s = first;
  for (int i = 1; i <= n; ++i, s = s->next) {
    xy_stream_point& p = xy.stpts[base + i];
    p.x = x[static_cast<std::size_t>(i) - 1];
    p.y = y[static_cast<std::size_t>(i) - 1];
    p.series = s;
  }
  xy.st_series = first;
  xy.num_stpts = xy.stpts.upper();
}

int xy_st_ts_keyword(std::string& line) {
  std::string word;
  if (next_token(line, word) == 0) return 0;
  word = lower(word);
  if (word == "torva_xy_st_bdy_ts") return 1;
  if (word == "torva_ts") return 2;
  if (word == "linknode") return 4;
  if (word == "timeseries") return 6;
  if (word == "xy") return 3;
  if (word == "end_ts") return 5;
  return 0;
}

void read_xy_stream_ts_file(xy_input& xy, const char* file_name) {
  const char* name = file_name != nullptr ? file_name : "";
  file_handle h;
  if (!file_handle_open(h, name, "r")) {
    printf("Error: unable to open stream xy boundary input file.\n");
    return;
  }
  std::string line;
  read_text_line(line, h);
  if (xy_st_ts_keyword(line) != 1) {
    file_handle_close(h);
    printf(
        "Error: incorrectly formatted header for stream xy time series boundary input "
        "file.\n");
    return;
  }

  // One point per TORVA_TS block; the points are added once the whole file has been read.
  std::vector<xy_stream_point> blocks;
  bool in_block = false;
  int line_number = 1;
  while (read_text_line(line, h) != 0) {
    ++line_number;
    const std::string original = line;
    const int keyword = xy_st_ts_keyword(line);
    if (keyword == 2) {
      blocks.emplace_back();
      in_block = true;
      continue;
    }
    if (keyword == 5) {
      in_block = false;
      continue;
    }
    if (keyword != 3 && keyword != 4 && keyword != 6) continue;
    const char* problem = nullptr;
    if (!in_block) {
      problem = "a value line outside a TORVA_TS ... END_TS block";
    } else if (keyword == 3) {
      xy_stream_point& p = blocks.back();
      if (!take_double(line, p.x) || !take_double(line, p.y))
        problem = "XY must be followed by the x and y coordinates";
    } else if (keyword == 4) {
      xy_stream_point& p = blocks.back();
      if (!take_int(line, p.link) || !take_int(line, p.node) || p.link < 1 || p.node < 1)
        problem = "LINKNODE must be followed by a link and a node number, each from 1";
      p.linknode_given = 1;
    } else {
      std::string series_name;
      next_token(line, series_name);
      str_strip_quotes(series_name);
      time_series* s = ts_find(series_name.c_str());
      if (s == nullptr) {
        printf(
            "Error!!! unable to find time series [%s] for the xy boundary stream time series "
            "file.\n",
            series_name.c_str());
        printf(
            "         Perhaps the related TIME_SERIES_FILE card in the project file is below "
            "the XYBDYINPUT_STTIMESERIES card?\n");
      }
      blocks.back().series = s;
    }
    if (problem != nullptr) {
      printf("Error: line %d of the stream xy time series boundary input file %s: %s: %s\n",
             line_number, name, problem, original.c_str());
      raise_own_message();
      file_handle_close(h);
      return;
    }
  }
  file_handle_close(h);
  if (blocks.empty()) return;

  const int base = xy.stpts.upper();
  if (blocks.size() > static_cast<std::size_t>(INT_MAX - 1 - base) ||
      !xy.stpts.grow(static_cast<int>(blocks.size()))) {
    printf("Error: no room for the points of the stream xy time series boundary input file %s\n",
           name);
    raise_own_message();
    return;
  }
  for (std::size_t k = 0; k < blocks.size(); ++k)
    xy.stpts[base + 1 + static_cast<long>(k)] = blocks[k];
  xy.num_stpts = xy.stpts.upper();
}

bool check_xy_bdy_cells(const xy_input& xy, int cell_count) {
  return check_points(xy.ovpts, xy.num_ovpts, "overland", xy.ov_file, cell_count) &&
         check_points(xy.gwpts, xy.num_gwpts, "groundwater", xy.gw_file, cell_count);
}

void apply_xy_ov_bdy(xy_input& xy, raw_array1d<double>& depth, double dx, double& added,
                     double& removed, double t) {
  added = 0.0;
  removed = 0.0;
  const double area = dx * dx;
  for (int i = 1; i <= xy.num_ovpts; ++i) {
    const xy_point& p = xy.ovpts[i];
    if (!point_applicable("overland", i, p.cell, p.series, depth.count())) return;
    const double v = ts_value(t, p.series);
    const double d = v - depth[p.cell];
    if (d < 0.0) {
      removed += -d * area;
    } else {
      added += d * area;
    }
    depth[p.cell] = v;
  }
}

void apply_xy_gw_bdy(xy_input& xy, raw_array1d<double>& head, const raw_array1d<double>& storage,
                     double dx, double& added, double& removed, double t) {
  added = 0.0;
  removed = 0.0;
  const double area = dx * dx;
  const int cells = head.count() < storage.count() ? head.count() : storage.count();
  for (int i = 1; i <= xy.num_gwpts; ++i) {
    const xy_point& p = xy.gwpts[i];
    if (!point_applicable("groundwater", i, p.cell, p.series, cells)) return;
    const double v = ts_value(t, p.series);
    const double d = v - head[p.cell];
    if (d < 0.0) {
      removed += -d * area * storage[p.cell];
    } else {
      added += d * area * storage[p.cell];
    }
    head[p.cell] = v;
  }
}
