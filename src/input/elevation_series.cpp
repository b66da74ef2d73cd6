// Elevation series and channel pumps: the reader of the ELEV_SERIES_FILE card, the linear and
// step lookups that the channel structures and pumps call at every routing step, and the
// PUMPTO card parser called by the channel input reader.
#include "input/elevation_series.h"

#include <cstdio>
#include <cstring>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/linked_list.h"
#include "framework/core/text_tokens.h"

elevation_series* elev_series_list_head = nullptr;
pump_spec* chan_pump_list_head = nullptr;

namespace {

bool is_end_line(const std::string& line) {
  return strncmp(line.c_str(), "END_ES", 6) == 0;
}

// Reads one block; a malformed one has printed its message and set the code.
series_block read_block(file_handle& h) {
  if (h.fp == nullptr) return series_block::end_of_file;
  std::string line;
  do {
    if (read_text_line(line, h) == 0) return series_block::end_of_file;
  } while (strncmp(line.c_str(), "TORVA_ES", 8) != 0);

  elevation_series* s = elev_series_new();
  if (read_text_line(line, h) == 0) {
    printf("Error: elevation series block without a name at the end of file %s\n", h.path);
    raise_own_message();
    return series_block::malformed;
  }
  std::string name;
  next_token(line, name);
  str_strip_quotes(name);
  copy_text(s->name, sizeof s->name, name.c_str());

  // Pairs up to END_ES or the end of the file, read in one pass: the arrays hold exactly the
  // pairs that were read. Blank lines hold no pair.
  while (read_text_line(line, h) != 0 && !is_end_line(line)) {
    if (series_blank_line(line)) continue;
    // Each of the two is read whole as a finite number; what follows them is not read.
    double x = 0.0, y = 0.0;
    std::string rest = line;
    if (!take_double(rest, x) || !take_double(rest, y)) {
      printf("Error: bad pair %d in elevation series [%s] of file %s: %s\n", s->count + 1, s->name,
             h.path, line.c_str());
      printf("       A pair holds x and y.\n");
      raise_own_message();
      return series_block::malformed;
    }
    s->x.push_back(x);
    s->y.push_back(y);
    ++s->count;
  }
  return series_block::done;
}

// The faults every lookup shares: a null or empty series (fatal). Returns true when `s` can be
// looked up.
bool lookup_ready(elevation_series* s, loop_fault* fault, long loop_index) {
  if (s == nullptr) {
    series_lookup_fault(fault, loop_index, true,
                        "Error: attempting to extract a value from an elevation series that "
                        "does not exist.\n");
    return false;
  }
  if (s->count <= 0) {
    char message[400];
    snprintf(message, sizeof message,
             "Error: attempting to extract a value from an elevation series [%s] with no "
             "entries.\n",
             s->name);
    series_lookup_fault(fault, loop_index, true, message);
    return false;
  }
  return true;
}

// A failed bracket search (only an x that is not a number, or pairs that are not numbers,
// gets here): reported, no code.
double no_bracket(elevation_series* s, loop_fault* fault, long loop_index) {
  char message[400];
  snprintf(message, sizeof message,
           "Error: something is really messed up with your elevation series [%s].\n", s->name);
  series_lookup_fault(fault, loop_index, false, message);
  return 0.0;
}

}  // namespace

elevation_series* elev_series_new() {
  auto* s = new elevation_series;
  list_append(elev_series_list_head, s);
  return s;
}

void free_elev_series_and_pumps() {
  list_free(elev_series_list_head);
  list_free(chan_pump_list_head);
}

int read_elev_series(file_handle& h) {
  return read_block(h) == series_block::done ? 1 : 0;
}

void read_elev_series_file(const char* name) {
  read_series_file(name, read_block, "Error: Elevation series file not found [%s]\n",
                   "%d elevation series read from file %s\n");
}

elevation_series* elev_series_find(const char* name) {
  if (name == nullptr || name[0] == '\0') return nullptr;
  // A query is compared as a stored name would be: cut to the name buffer.
  std::size_t len = strlen(name);
  if (len > ts_name_size - 1) len = ts_name_size - 1;
  for (elevation_series* s = elev_series_list_head; s != nullptr; s = s->next)
    if (strncmp(s->name, name, len) == 0) return s;
  return nullptr;
}

double elev_series_interp(double x, elevation_series* s, loop_fault* fault, long loop_index) {
  if (!lookup_ready(s, fault, loop_index)) return 0.0;
  const int n = s->count;
  const double* xs = s->x.data();
  const double* ys = s->y.data();
  if (n == 1) return ys[0];
  if (x < xs[0]) return ys[0];
  if (x >= xs[n - 1]) return ys[n - 1];
  // The bracket is the last pair at or below x, limited to the last interval: pairs that share
  // an x give way to the later one, and every interval used is longer than zero.
  int i = 0;
  while (i < n - 2 && xs[i + 1] <= x) ++i;
  if (!(xs[i] <= x && x < xs[i + 1])) return no_bracket(s, fault, loop_index);
  const double w = (x - xs[i]) / (xs[i + 1] - xs[i]);
  return (1.0 - w) * ys[i] + w * ys[i + 1];
}

double elev_series_step(double x, elevation_series* s, loop_fault* fault, long loop_index) {
  if (!lookup_ready(s, fault, loop_index)) return 0.0;
  const int n = s->count;
  const double* xs = s->x.data();
  const double* ys = s->y.data();
  if (n == 1) return ys[0];
  if (x <= xs[0]) return ys[0];
  if (x >= xs[n - 1]) return ys[n - 1];
  // The lower pair of the first bracket: no interval length is used.
  for (int i = 0; i < n - 1; ++i)
    if (xs[i] <= x && x <= xs[i + 1]) return ys[i];
  return no_bracket(s, fault, loop_index);
}

pump_spec* read_pump_spec(const std::string& rest, int link, int link_type) {
  std::string line = rest;
  int a = 0;
  int b = 0;
  next_token_int(line, a);
  next_token_int(line, b);
  if (link_type == 4) b = 1;
  std::string word;
  std::string name;
  next_token(line, word);
  next_token(line, name);

  int flow_type;
  if (strncmp(word.c_str(), "ELEV", 4) == 0) {
    flow_type = pump_flow_elev;
  } else if (strncmp(word.c_str(), "TS", 2) == 0) {
    flow_type = pump_flow_ts;
  } else {
    printf(
        "\n\nError in the channel input file: Flow type for pump is incorrectly\n"
        "defined for link %d. Must be ELEV or TS.\n",
        link);
    stop_now();
    return nullptr;
  }

  auto* p = new pump_spec;
  p->pumpto_a = a;
  p->pumpto_b = b;
  p->flow_type = flow_type;
  // A PUMPTO card without a series name finds no series (an empty name would match any).
  if (flow_type == pump_flow_ts) {
    p->series = ts_find(name.c_str());
  } else {
    p->rating = elev_series_find(name.c_str());
  }
  p->next = chan_pump_list_head;
  chan_pump_list_head = p;
  return p;
}
