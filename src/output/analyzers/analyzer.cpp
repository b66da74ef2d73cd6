// Analyzers: the control-file reader that makes them at start-up, the reading of one control
// line, the event filter with its timed firing, and the notification of the run's list by the
// run driver (start-up, each step, the end of the run) and the end-of-event decision.
#include "output/analyzers/analyzer.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "framework/core/error_state.h"
#include "framework/core/linked_list.h"
#include "framework/core/text_tokens.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "output/analyzers/stream_analyzers.h"
#include "output/output_steps.h"

namespace {

bool starts_with(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// Event letters t E e S s c as bits; other characters are passed over.
unsigned event_bits(const std::string& letters) {
  unsigned bits = 0;
  for (char c : letters) {
    switch (c) {
      case 't':
        bits |= analyzer_step_done;
        break;
      case 'E':
        bits |= analyzer_event_started;
        break;
      case 'e':
        bits |= analyzer_event_ended;
        break;
      case 'S':
        bits |= analyzer_startup_done;
        break;
      case 's':
        bits |= analyzer_normal_end;
        break;
      case 'c':
        bits |= analyzer_error_end;
        break;
      default:
        break;
    }
  }
  return bits;
}

// Output letters t v s f c d as bits; t and v clear each other, the later one wins.
unsigned output_bits(const std::string& letters) {
  unsigned bits = 0;
  for (char c : letters) {
    switch (c) {
      case 't':
        bits = (bits & ~static_cast<unsigned>(out_table)) | out_list;
        break;
      case 'v':
        bits = (bits & ~static_cast<unsigned>(out_list)) | out_table;
        break;
      case 's':
        bits |= out_console;
        break;
      case 'f':
        bits |= out_file;
        break;
      case 'c':
        bits |= out_count;
        break;
      case 'd':
        bits |= out_values;
        break;
      default:
        break;
    }
  }
  return bits;
}

void bad_field(const analyzer_line_source& where, const char* field, const std::string& word,
               const char* kind) {
  stop_with_message("Error: %s on line %ld of the analyzer file %s: \"%.60s\" is not %s.\n", field,
                    where.line, where.file, word.c_str(), kind);
}

}  // namespace

unsigned analyzer_parse_operator(const std::string& token) {
  struct op_prefix {
    const char* prefix;
    unsigned code;
  };
  static constexpr op_prefix table[] = {
      {"<=", op_less_equal}, {">=", op_greater_equal}, {"==", op_equal},
      {"<", op_less},        {">", op_greater},        {"+", op_add},
      {"-", op_subtract},    {"*", op_multiply},       {"\\", op_divide}};
  for (const op_prefix& p : table)
    if (starts_with(token, p.prefix)) return p.code;
  return op_none;
}

int analyzer_parse_type(const std::string& token) {
  static constexpr const char* types[] = {"2DG", "1DS", "2DS", "NSM_OV", "NSM_ST", "NSM_SL"};
  for (int k = 0; k < 6; ++k)
    if (starts_with(token, types[k])) return k;
  return -1;
}

bool stream_analyzer::configure(model_state& ms, std::string& line,
                                const analyzer_line_source& where) {
  std::string word;
  next_token(line, word);
  create_op(ms, word);

  word.clear();
  next_token(line, word);
  event_mask = event_bits(word);

  word.clear();
  next_token(line, word);
  op_code = analyzer_parse_operator(word);

  threshold = 0.0;
  if (next_token(line, word) && !parse_double(word, threshold)) {
    bad_field(where, "the threshold", word, "a number");
    return false;
  }

  word.clear();
  next_token(line, word);
  output_flags = output_bits(word);

  if ((event_mask & analyzer_step_done) != 0) {
    int seconds = 0;
    if (next_token(line, word) && (!parse_int(word, seconds) || seconds < 0)) {
      bad_field(where, "the firing interval", word, "a whole number of seconds, 0 or more");
      return false;
    }
    interval = seconds / seconds_per_day;
    model_time = &ms.current_time;
    tolerance = ms.time_tolerance;
    last_time = ms.current_time - interval;
    next_time = ms.current_time;
  }

  if ((output_flags & out_file) != 0) {
    if (!next_token(line, word)) {
      stop_with_message(
          "Error: the output letter f on line %ld of the analyzer file %s is not followed by an "
          "output file name.\n",
          where.line, where.file);
      return false;
    }
    output_name = word;
    if (!file_handle_open(output_file, output_name.c_str(), "w")) {
      stop_with_message(
          "Error: unable to open the analyzer output file %.200s named on line %ld "
          "of the analyzer file %s.\n",
          output_name.c_str(), where.line, where.file);
      return false;
    }
  }
  return true;
}

void stream_analyzer::on_event(model_state&, int event_bit) {
  const unsigned m = event_mask & static_cast<unsigned>(event_bit);
  // The timed event, at the first step at or after the next firing time (reached within the
  // clock's tolerance, so that rounding of the step sum never puts a firing a step late).
  if ((m & analyzer_step_done) != 0 && model_time != nullptr &&
      *model_time >= next_time - tolerance) {
    last_time = *model_time;
    next_time = *model_time + interval;
    evaluate(static_cast<unsigned>(event_bit));
    return;
  }
  // The other events whenever they come. The start of a precipitation event (E) is accepted in
  // the file but fires nothing: the report has no words for it.
  constexpr unsigned fired =
      analyzer_event_ended | analyzer_startup_done | analyzer_normal_end | analyzer_error_end;
  if ((m & fired) != 0) evaluate(static_cast<unsigned>(event_bit));
}

void stream_analyzer::evaluate(unsigned event) {
  if (!op_) return;
  switch (op_code) {
    case op_less:
      op_->less(threshold);
      break;
    case op_greater:
      op_->greater(threshold);
      break;
    case op_equal:
      op_->equal(threshold);
      break;
    case op_less_equal:
      op_->less_equal(threshold);
      break;
    case op_greater_equal:
      op_->greater_equal(threshold);
      break;
    default:
      return;
  }
  op_->report(output_flags, event, output_file);
}

void stream_analyzer::close_output() {
  file_handle_close(output_file);
}

void read_analyzer_file(model_state& ms, const char* path) {
  file_handle in;
  if (path == nullptr || !file_handle_open(in, path, "r")) return;
  analyzer_line_source where{path, 0};
  int count = 0;
  std::string line, word;
  while (read_text_line(line, in)) {
    where.line = in.lines_read;
    if (!line.empty() && line[0] == '#') continue;
    word.clear();
    if (!next_token(line, word)) continue;
    stream_analyzer* a = nullptr;
    switch (analyzer_parse_type(word)) {
      case 1:
        a = new (std::nothrow) stanalyzer_1dst;
        break;
      case 2:
        a = new (std::nothrow) stanalyzer_2dst;
        break;
      default:
        continue;
    }
    if (a == nullptr) {
      stop_with_message("Error allocating memory for variable %s\n", "analyzer");
      break;
    }
    list_append<analyzer>(ms.output.analyzer_list, a);
    ++count;
    if (!a->configure(ms, line, where) || run_error.error_fatal) break;
  }
  if (!run_error.error_fatal && !ms.super_quiet) printf("Set up %d analyzers...\n", count);
  file_handle_close(in);
}

void analyzers_notify(model_state& ms, int event_bit) {
  for (analyzer* a = ms.output.analyzer_list; a != nullptr; a = a->next) a->on_event(ms, event_bit);
}

void analyzers_free_all(analyzer*& head) {
  list_free(head);
}

void notify_analyzers_event_start(model_state& ms) {
  analyzers_notify(ms, analyzer_event_started);
}
