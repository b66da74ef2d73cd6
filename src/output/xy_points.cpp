// XY output points: the point file and inset mask readers, the weights of the cells around each
// point and the crossings of the channel links with the inset mask's edge.
#include "output/xy_points.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"

namespace {

// The largest inset mask read: far beyond any nested model's grid, small enough to hold.
constexpr long long max_inset_cells = 50'000'000;

// The next non-blank line of the file into `line` (its number in `line_no`); false at the end.
bool next_line(file_handle& file, std::string& line, long& line_no) {
  while (read_text_line(line, file) != 0) {
    ++line_no;
    std::string probe = line, word;
    if (next_token(probe, word) != 0) return true;
  }
  return false;
}

// The first token of `rest` as a double, consumed; false with the token as typed in `typed`.
bool take_number(std::string& rest, double& value, std::string& typed) {
  std::string copy = rest;
  typed.clear();
  if (next_token(copy, typed) == 0 || !parse_double(typed, value)) return false;
  rest = copy;
  return true;
}

// The centre of grid cell (row, col).
double centre_x(const xy_grid& g, int col) {
  return g.west + (col - 1 + 0.5) * g.cell_size;
}
double centre_y(const xy_grid& g, int row) {
  return g.north - (row - 1 + 0.5) * g.cell_size;
}

double distance_to(double x, double y, double cx, double cy) {
  const double dx = x - cx, dy = y - cy;
  if (std::fabs(dx) < 1e-5 && std::fabs(dy) < 1e-5) return 0.0;
  return std::sqrt(dx * dx + dy * dy);
}

bool inside_mask(const inset_mask& m, int row, int col) {
  return row >= 1 && row <= m.rows && col >= 1 && col <= m.cols && m.at(row, col) != 0;
}

xy_segment make_segment(double x1, double y1, double x2, double y2) {
  xy_segment s{x1, y1, x2, y2, 0.0, 0.0, 0.0};
  const double dx = x2 - x1, dy = y2 - y1;
  if (std::fabs(dx) < 1e-5 && std::fabs(dy) < 1e-5) {
    s.dx = s.dy = std::nan("");
    return s;
  }
  s.length = std::sqrt(dx * dx + dy * dy);
  s.dx = dx / s.length;
  s.dy = dy / s.length;
  return s;
}

// Whether the course from (px, py) to (qx, qy) crosses boundary segment b: the course's
// parameter within [0, 1], the segment's within (0, 1], so that a crossing through a corner of
// the edge counts on one of its two segments only.
bool crosses(double px, double py, double qx, double qy, const xy_segment& b) {
  if (std::max(px, qx) < std::min(b.x1, b.x2) || std::min(px, qx) > std::max(b.x1, b.x2) ||
      std::max(py, qy) < std::min(b.y1, b.y2) || std::min(py, qy) > std::max(b.y1, b.y2))
    return false;
  const double rx = qx - px, ry = qy - py;
  const double sx = b.x2 - b.x1, sy = b.y2 - b.y1;
  const double denom = rx * sy - ry * sx;
  if (denom == 0.0) return false;
  const double wx = b.x1 - px, wy = b.y1 - py;
  const double t = (wx * sy - wy * sx) / denom;
  const double u = (wx * ry - wy * rx) / denom;
  return t >= 0.0 && t <= 1.0 && u > 0.0 && u <= 1.0;
}

}  // namespace

bool read_xy_out_points(file_handle& file, const char* name, std::vector<xy_out_point>& points) {
  points.clear();
  std::string line, typed;
  long line_no = 0;
  if (!next_line(file, line, line_no)) {
    printf("Error: the XY output point file %s holds no number of points.\n", name);
    return false;
  }
  int count = 0;
  if (next_token_whole(line, count, typed) != 1 || count < 0) {
    printf(
        "Error: line %ld of the XY output point file %s must give the number of points as a "
        "whole number not below 0; \"%s\" is not one.\n",
        line_no, name, typed.c_str());
    return false;
  }
  while (static_cast<int>(points.size()) < count && next_line(file, line, line_no)) {
    xy_out_point p;
    const char* field = "x";
    bool ok = take_number(line, p.x, typed);
    if (ok) {
      field = "y";
      ok = take_number(line, p.y, typed);
    }
    if (ok) {
      field = "id";
      typed.clear();
      ok = next_token_whole(line, p.id, typed) == 1;
    }
    if (!ok) {
      printf(
          "Error: line %ld of the XY output point file %s must give a point's x, y and id; its "
          "%s \"%s\" is not a %s.\n",
          line_no, name, field, typed.c_str(), field[0] == 'i' ? "whole number" : "number");
      return false;
    }
    points.push_back(p);
  }
  if (static_cast<int>(points.size()) < count)
    printf(
        "Warning!!! The number of points specified in the xy output file is more than the "
        "actual points in the file.\n");
  return true;
}

bool read_xy_out_mask(file_handle& file, const char* name, inset_mask& mask) {
  mask = inset_mask{};
  static const char* const keys[6] = {"north", "south", "east", "west", "rows", "cols"};
  double edges[4] = {};
  int sizes[2] = {};
  std::string line, word, typed;
  long line_no = 0;
  for (int k = 0; k < 6; ++k) {
    bool ok = next_line(file, line, line_no);
    if (ok) {
      next_token(line, word);
      ok = k < 4 ? take_number(line, edges[k], typed)
                 : next_token_whole(line, sizes[k - 4], typed) == 1 && sizes[k - 4] > 0;
    } else {
      typed.clear();
    }
    if (!ok) {
      printf(
          "Error: line %ld of the XY output mask %s must give the %s of the mask as a %s; "
          "\"%s\" is not one.\n",
          line_no, name, keys[k], k < 4 ? "number" : "whole number above 0", typed.c_str());
      return false;
    }
  }
  mask.north = edges[0];
  mask.south = edges[1];
  mask.east = edges[2];
  mask.west = edges[3];
  mask.rows = sizes[0];
  mask.cols = sizes[1];
  if (!(mask.north > mask.south) || !(mask.east > mask.west)) {
    printf(
        "Error: the XY output mask %s gives north %g, south %g, east %g and west %g, which "
        "enclose no area.\n",
        name, mask.north, mask.south, mask.east, mask.west);
    return false;
  }
  if (static_cast<long long>(mask.rows) * mask.cols > max_inset_cells) {
    printf("Error: the XY output mask %s has %d rows and %d columns, more cells than %lld.\n", name,
           mask.rows, mask.cols, max_inset_cells);
    return false;
  }
  mask.cell_size = (mask.north - mask.south) / mask.rows;
  const std::size_t total = static_cast<std::size_t>(mask.rows) * mask.cols;
  mask.cells.reserve(std::min<std::size_t>(total, 1 << 16));
  line.clear();
  while (mask.cells.size() < total) {
    int value = 0;
    const int got = next_token_whole(line, value, typed);
    if (got == 1) {
      mask.cells.push_back(value);
      continue;
    }
    if (got == -1) {
      printf(
          "Error: line %ld of the XY output mask %s holds \"%s\", which is not a whole number.\n",
          line_no, name, typed.c_str());
      return false;
    }
    if (!next_line(file, line, line_no)) {
      printf("Error: the XY output mask %s ends after %zu of its %zu values.\n", name,
             mask.cells.size(), total);
      return false;
    }
  }
  return true;
}

bool inset_edge_cell(const inset_mask& m, int row, int col) {
  if (!inside_mask(m, row, col)) return false;
  return row == 1 || !inside_mask(m, row - 1, col) || !inside_mask(m, row + 1, col) ||
         !inside_mask(m, row, col - 1) || !inside_mask(m, row, col + 1);
}

std::vector<xy_out_point> inset_edge_points(const inset_mask& m) {
  std::vector<xy_out_point> points;
  int number = 0;
  for (int row = 1; row <= m.rows; ++row)
    for (int col = 1; col <= m.cols; ++col) {
      if (!inside_mask(m, row, col)) continue;
      ++number;
      if (!inset_edge_cell(m, row, col)) continue;
      xy_out_point p;
      p.x = m.west + (col - 1 + 0.5) * m.cell_size;
      p.y = m.north - (row - 1 + 0.5) * m.cell_size;
      p.id = number;
      points.push_back(p);
    }
  return points;
}

std::vector<xy_segment> inset_boundary(const inset_mask& m) {
  std::vector<xy_segment> segments;
  const double s = m.cell_size;
  for (int row = 1; row <= m.rows; ++row)
    for (int col = 1; col <= m.cols; ++col) {
      if (!inset_edge_cell(m, row, col)) continue;
      const double left = m.west + (col - 1) * s, right = left + s;
      const double top = m.north - (row - 1) * s, bottom = top - s;
      if (!inside_mask(m, row - 1, col)) segments.push_back(make_segment(left, top, right, top));
      if (!inside_mask(m, row, col + 1))
        segments.push_back(make_segment(right, top, right, bottom));
      if (!inside_mask(m, row + 1, col))
        segments.push_back(make_segment(right, bottom, left, bottom));
      if (!inside_mask(m, row, col - 1)) segments.push_back(make_segment(left, bottom, left, top));
    }
  return segments;
}

void xy_points_weights(const xy_grid& g, std::vector<xy_out_point>& points) {
  const auto active = [&](int row, int col) {
    return row >= 1 && row <= g.rows && col >= 1 && col <= g.cols && (*g.index_map)[row][col] > 0;
  };
  for (xy_out_point& p : points) {
    p.neighbour_count = 0;
    // The grid position of the point, kept as a double until it is known to lie on the grid:
    // a point far off it has a column or row beyond the range of an int.
    const double col_at = std::trunc((p.x - g.west) / g.cell_size) + 1.0;
    const double row_at = std::trunc((g.north - p.y) / g.cell_size) + 1.0;
    const bool on_grid = col_at >= 1.0 && col_at <= g.cols && row_at >= 1.0 && row_at <= g.rows;
    const int col = on_grid ? static_cast<int>(col_at) : 0;
    const int row = on_grid ? static_cast<int>(row_at) : 0;
    if (on_grid && active(row, col)) {
      const bool right = std::fmod(p.x - g.west, g.cell_size) / g.cell_size >= 0.5;
      const bool lower = std::fmod(g.north - p.y, g.cell_size) / g.cell_size >= 0.5;
      const int r0 = lower ? row : row - 1, c0 = right ? col : col - 1;
      for (int r = r0; r <= r0 + 1; ++r)
        for (int c = c0; c <= c0 + 1; ++c) {
          if (!active(r, c)) continue;
          const int k = p.neighbour_count++;
          p.neighbours[k] = (*g.index_map)[r][c];
          const double d = std::max(distance_to(p.x, p.y, centre_x(g, c), centre_y(g, r)), 0.0001);
          p.weights[k] = 1.0 / (d * d);
        }
    } else {
      printf(
          "Warning... an XY output point (x=%8.2lf, y=%8.2lf) is not located in an active cell. "
          "\n    The result will be the value of the single nearest neighbor.\n",
          p.x, p.y);
      double best = 9e16;
      int cell = 0;
      for (int r = 1; r <= g.rows; ++r)
        for (int c = 1; c <= g.cols; ++c) {
          if (!active(r, c)) continue;
          const double d = distance_to(p.x, p.y, centre_x(g, c), centre_y(g, r));
          if (d < best) {
            best = d;
            cell = (*g.index_map)[r][c];
          }
        }
      if (cell == 0) {
        printf(
            "Error: unable to find nearest neighbor for out-of-bound x/y value. Something is "
            "really messed up with your input. Reverting to cell id 1.\n");
        cell = 1;
      }
      p.neighbour_count = 1;
      p.neighbours[0] = cell;
    }
    if (p.neighbour_count == 1) p.weights[0] = 1.0;
    p.weight_sum = 0.0;
    for (int k = 0; k < p.neighbour_count; ++k) p.weight_sum += p.weights[k];
  }
}

double xy_point_value(const xy_out_point& p, const double* values) {
  if (p.neighbour_count < 1 || !(p.weight_sum > 0.0)) return 0.0;
  double sum = 0.0;
  for (int k = 0; k < p.neighbour_count; ++k) sum += values[p.neighbours[k]] * p.weights[k];
  return sum / p.weight_sum;
}

std::vector<xy_out_point> xy_stream_crossings(file_handle& file,
                                              const std::vector<xy_segment>& boundary) {
  std::vector<xy_out_point> found;
  std::string line, word;
  int link = 0, node = 0;
  bool first = true;
  double px = 0.0, py = 0.0;
  while (read_text_line(line, file) != 0) {
    if (next_token(line, word) == 0) continue;
    if (card_match(word, "LINK") != 0) {
      int value = 0;
      if (take_int(line, value)) link = value;
      first = true;
    } else if (card_match(word, "NODE") != 0) {
      int value = 0;
      if (take_int(line, value)) node = value;
    } else if (card_match(word, "X_Y") != 0) {
      double x = 0.0, y = 0.0;
      if (!take_double(line, x) || !take_double(line, y)) continue;
      if (!first) {
        for (const xy_segment& b : boundary) {
          if (!crosses(px, py, x, y, b)) continue;
          xy_out_point p;
          p.x = 0.5 * (px + x);
          p.y = 0.5 * (py + y);
          p.link = link;
          p.node = node;
          p.priority = node - 1;
          const auto same = std::find_if(found.begin(), found.end(),
                                         [&](const xy_out_point& q) { return q.link == link; });
          if (same == found.end())
            found.push_back(p);
          else if (p.priority > same->priority)
            *same = p;
          break;
        }
      }
      px = x;
      py = y;
      first = false;
    }
  }
  return found;
}
