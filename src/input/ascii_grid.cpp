// ASCII grid map reader: reads the six header lines of a grid map, checks its size against the
// project grid and stores its values per watershed cell or per grid position. Called at start-up
// by the watershed mask and elevation readers and by every other grid-input reader.
#include "input/ascii_grid.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"

namespace {

// Longest part of a bad value that its message shows.
constexpr std::size_t shown_value_chars = 64;
// Room for one token of an integer map; anything longer is no int.
constexpr std::size_t int_token_size = 64;

const char* shown(const char* name) {
  return name != nullptr ? name : "";
}

void fail_end_of_file(const char* map_name) {
  printf("Unexpected end of file in file: %s\n", shown(map_name));
  stop_now();
}

void fail_bad_value(const char* token, std::size_t length, const char* map_name, int row, int col) {
  char text[shown_value_chars + 1];
  const std::size_t n = length < shown_value_chars ? length : shown_value_chars;
  memcpy(text, token, n);
  text[n] = '\0';
  printf("Error: bad value \"%s\" in map %s at row %d column %d\n", text, shown(map_name), row,
         col);
  stop_now();
}

// Separators of the values of a map of doubles (the token rules of every text input).
bool is_value_sep(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '\n';
}

// The token [s, e) as a double, converted as the token rules convert numbers ("%lf"), but only
// when the whole token is the number: "1.5abc" or "x" is no value.
bool parse_double(const char* s, const char* e, double& out) {
  const char* b = s;
  const bool plus = b < e && *b == '+';
  if (plus) ++b;  // from_chars takes no plus sign, and no second sign may follow one
  if (b < e && !(plus && (*b == '+' || *b == '-'))) {
    const auto result = std::from_chars(b, e, out);
    if (result.ec == std::errc() && result.ptr == e) return true;
  }
  // Forms that from_chars does not take (hexadecimal, values beyond the range of a double) are
  // converted by strtod on a terminated copy, as "%lf" converts them.
  const std::size_t n = static_cast<std::size_t>(e - s);
  char small[128];
  std::string large;
  const char* text;
  if (n < sizeof small) {
    memcpy(small, s, n);
    small[n] = '\0';
    text = small;
  } else {
    large.assign(s, n);
    text = large.c_str();
  }
  if (n == 0 || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  const double value = strtod(text, &end);
  if (end == text || *end != '\0') return false;
  out = value;
  return true;
}

// The token [s, e) as an int: an optional sign and decimal digits, the whole token, in range.
bool parse_int(const char* s, const char* e, int& out) {
  const char* b = s;
  if (b < e && *b == '+') ++b;
  if (b < e && *b == '-' && b == s) {
    if (b + 1 >= e || !std::isdigit(static_cast<unsigned char>(b[1]))) return false;
  } else if (b >= e || !std::isdigit(static_cast<unsigned char>(*b))) {
    return false;
  }
  const auto result = std::from_chars(b, e, out);
  return result.ec == std::errc() && result.ptr == e;
}

// Holds the lock of a stream while its characters are read with getc_unlocked.
class stream_lock {
 public:
  explicit stream_lock(FILE* fp) : fp_(fp) { flockfile(fp_); }
  ~stream_lock() { funlockfile(fp_); }
  stream_lock(const stream_lock&) = delete;
  stream_lock& operator=(const stream_lock&) = delete;

 private:
  FILE* fp_;
};

// The next white-space separated token of the stream (the input of "%d"): its first
// buffer-size - 1 characters go into buf, its full length into length. False at the end of the
// file before any token.
bool next_stream_token(FILE* fp, char* buf, std::size_t size, std::size_t& length) {
  int ch = getc_unlocked(fp);
  while (ch != EOF && std::isspace(ch)) ch = getc_unlocked(fp);
  if (ch == EOF) return false;
  length = 0;
  while (ch != EOF && !std::isspace(ch)) {
    if (length < size - 1) buf[length] = static_cast<char>(ch);
    ++length;
    ch = getc_unlocked(fp);
  }
  buf[length < size - 1 ? length : size - 1] = '\0';
  return true;
}

struct value_summary {
  bool nonzero = false;  // some position, inside the watershed or not, holds a non-zero value
  int zero_cells = 0;    // watershed cells whose value is 0.0 (modes 1 and 3)
};

// Modes 1 and 3: one text line per grid row, the values of columns 1..cols in it.
// dest may be null only when the grid holds no watershed cell.
bool read_cell_doubles(file_handle& file, const char* map_name, int rows, int cols,
                       const raw_array2d<int>& grid, raw_array1d<double>* dest,
                       value_summary& summary) {
  std::string line;
  double* out = dest != nullptr ? dest->data() : nullptr;
  int k = 0;
  for (int r = 1; r <= rows; ++r) {
    if (read_text_line(line, file) == 0) {
      fail_end_of_file(map_name);
      return false;
    }
    const char* p = line.data();
    const char* const end = p + line.size();
    const int* grid_row = grid[r];
    for (int c = 1; c <= cols; ++c) {
      while (p < end && is_value_sep(*p)) ++p;
      if (p == end) {
        printf("Error: row %d of map %s holds %d values where %d are expected\n", r,
               shown(map_name), c - 1, cols);
        stop_now();
        return false;
      }
      const char* token = p;
      while (p < end && !is_value_sep(*p)) ++p;
      double value = 0.0;
      if (!parse_double(token, p, value)) {
        fail_bad_value(token, static_cast<std::size_t>(p - token), map_name, r, c);
        return false;
      }
      if (value != 0.0) summary.nonzero = true;
      if (grid_row[c] != 0) {
        // A cell of the watershed takes only a finite value: one NaN or infinity would spread
        // through every sum the cell enters.
        if (!std::isfinite(value)) {
          fail_bad_value(token, static_cast<std::size_t>(p - token), map_name, r, c);
          return false;
        }
        out[++k] = value;
        if (value == 0.0) ++summary.zero_cells;
      }
    }
  }
  return true;
}

// Modes 2 and 4: free-form integer tokens, row by row. Mode 2 stores every position into the
// grid; mode 4 stores the ids of the watershed cells into dest (null only when the grid holds
// no watershed cell) and counts them per id.
bool read_ints(file_handle& file, const char* map_name, int mode, int rows, int cols,
               raw_array2d<int>& grid, raw_array1d<int>* dest, value_summary& summary,
               std::array<int, max_map_category + 1>& counts) {
  stream_lock lock(file.fp);
  char token[int_token_size];
  int k = 0;
  for (int r = 1; r <= rows; ++r) {
    int* grid_row = grid[r];
    for (int c = 1; c <= cols; ++c) {
      std::size_t length = 0;
      if (!next_stream_token(file.fp, token, sizeof token, length)) {
        fail_end_of_file(map_name);
        return false;
      }
      int value = 0;
      if (length >= sizeof token || !parse_int(token, token + length, value)) {
        fail_bad_value(token, length, map_name, r, c);
        return false;
      }
      if (value != 0) summary.nonzero = true;
      if (mode == map_store_grid_int) {
        grid_row[c] = value;
      } else if (grid_row[c] != 0) {
        if (value < 0 || value > max_map_category) {
          printf("Error: category %d in map %s at row %d column %d is outside 0 to %d\n", value,
                 shown(map_name), r, c, max_map_category);
          stop_now();
          return false;
        }
        (*dest)[++k] = value;
        ++counts[static_cast<std::size_t>(value)];
      }
    }
  }
  return true;
}

// Watershed positions (non-zero) of the grid inside rows 1..rows, columns 1..cols.
long count_watershed_positions(const raw_array2d<int>& grid, int rows, int cols) {
  long n = 0;
  for (int r = 1; r <= rows; ++r) {
    const int* row = grid[r];
    for (int c = 1; c <= cols; ++c) n += row[c] != 0 ? 1 : 0;
  }
  return n;
}

// The six header lines, in order; the first that cannot be read stops the header (after its
// message and the report) and leaves the later ones unread.
bool read_header(FILE* fp, const char* map_name, double& north, double& south, double& east,
                 double& west, int& rows, int& cols) {
  char word[8];
  for (int line = 1; line <= 6; ++line) {
    int result = 0;
    switch (line) {
      case 1:
        result = fscanf(fp, "%6s %lf\n", word, &north);
        break;
      case 2:
        result = fscanf(fp, "%6s %lf\n", word, &south);
        break;
      case 3:
        result = fscanf(fp, "%5s %lf\n", word, &east);
        break;
      case 4:
        result = fscanf(fp, "%5s %lf\n", word, &west);
        break;
      case 5:
        result = fscanf(fp, "%5s %d\n", word, &rows);
        break;
      default:
        result = fscanf(fp, "%5s %d\n", word, &cols);
        break;
    }
    if (result == 2) continue;
    if (result == EOF && feof(fp)) {
      fail_end_of_file(map_name);
    } else {
      printf("Error: unreadable header line %d in map %s\n", line, shown(map_name));
      stop_now();
    }
    return false;
  }
  return true;
}

}  // namespace

void read_ascii_map(file_handle& file, const char* map_name, int mode, double& north, double& south,
                    double& east, double& west, int& rows, int& cols, raw_array2d<int>& index_grid,
                    raw_array1d<double>* first, raw_array1d<double>* second,
                    raw_array1d<int>* categories, int expected_rows, int expected_cols) {
  if (file.fp == nullptr) {
    printf("Error: map %s is not open for reading\n", shown(map_name));
    stop_now();
    return;
  }
  // The header is read in sequence: a failed line leaves the later ones unread.
  if (!read_header(file.fp, map_name, north, south, east, west, rows, cols)) return;

  if (rows != expected_rows || cols != expected_cols) {
    if (rows != expected_rows && cols != expected_cols)
      printf("Incorrect number of rows and columns in map: %s\n", shown(map_name));
    else if (rows != expected_rows)
      printf("Incorrect number of rows in map: %s\n", shown(map_name));
    else
      printf("Incorrect number of columns in map: %s\n", shown(map_name));
    stop_now();
    return;
  }
  if (rows <= 0 || cols <= 0) {
    printf("Error: map %s has %d rows and %d columns; a map needs at least one of each\n",
           shown(map_name), rows, cols);
    stop_now();
    return;
  }

  value_summary summary;
  std::array<int, max_map_category + 1> counts{};
  const bool stores = mode >= map_store_cell_double && mode <= map_store_cell_category;
  if (stores) {
    if (index_grid.empty() || index_grid.row_count() < rows || index_grid.col_count() < cols) {
      printf("Error: map %s has more rows or columns than the run's grid holds\n", shown(map_name));
      stop_now();
      return;
    }
    if (mode != map_store_grid_int) {
      const long needed = count_watershed_positions(index_grid, rows, cols);
      long held = 0;
      if (mode == map_store_cell_double && first != nullptr) held = first->count();
      if (mode == map_store_cell_double_2 && second != nullptr) held = second->count();
      if (mode == map_store_cell_category && categories != nullptr) held = categories->count();
      if (held < needed) {
        printf("Error: map %s has %ld watershed cells but its destination holds %ld\n",
               shown(map_name), needed, held);
        stop_now();
        return;
      }
    }
  }

  bool read_ok = true;
  if (mode == map_store_cell_double) {
    read_ok = read_cell_doubles(file, map_name, rows, cols, index_grid, first, summary);
  } else if (mode == map_store_cell_double_2) {
    read_ok = read_cell_doubles(file, map_name, rows, cols, index_grid, second, summary);
  } else if (mode == map_store_grid_int || mode == map_store_cell_category) {
    read_ok = read_ints(file, map_name, mode, rows, cols, index_grid, categories, summary, counts);
  }
  if (!read_ok) return;

  if (mode == map_store_cell_category) {
    for (int id = 1; id <= max_map_category; ++id) {
      const int n = counts[static_cast<std::size_t>(id)];
      if (n > 0) printf("In map %s category %d has %d values\n", shown(map_name), id, n);
    }
  }
  if (!summary.nonzero)
    printf("Warning: Map contains only zero values. Map: %s\n", shown(map_name));
  if (summary.zero_cells > 0)
    printf("Warning: Map contains %d cells with zero values. Map: %s\n", summary.zero_cells,
           shown(map_name));
}

bool input_console_on(const model_state& ms) {
  return ms.super_quiet == 0 && process_info.process_rank == 0;
}

void input_reading_line(model_state& ms, const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (ms.output.summary_file.fp != nullptr) {
    va_list copy;
    va_copy(copy, args);
    vfprintf(ms.output.summary_file.fp, format, copy);
    va_end(copy);
  }
  if (input_console_on(ms)) vprintf(format, args);
  va_end(args);
}
