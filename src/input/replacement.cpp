// Calibration parameter replacement: the list of replacement parameters read from the parameter
// list file and the value file (project cards REPLACE_PARAMS and REPLACE_VALS, or a calibration
// trial), the substitution the line reader applies to every input line, and the two summary
// reports the run driver writes during start-up.
#include "input/replacement.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/core/console.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/linked_list.h"
#include "framework/core/text_tokens.h"

replace_param* replace_list = nullptr;
int replace_active = 0;
int replace_count = 0;
int replace_line_index = 0;

namespace {

// Width and precision of a replacement format are kept to four digits, so that a value can
// never be printed into an absurdly long field.
constexpr std::size_t max_format_digits = 4;

void print_bad_line(const std::string& line) {
  printf("Error: Improperly formatted line in the replacement parameter file\nline:%s\n",
         line.c_str());
}

void print_bad_format(const std::string& line) {
  print_bad_line(line);
  printf("---> The format must be a C-style format in quotes, such as \"%%4.2lf\"\n");
}

// Reads up to `max_digits` decimal digits of `fmt` from `i` into `value` (-1 when there are
// none). False when more digits follow.
bool read_format_digits(const std::string& fmt, std::size_t& i, std::size_t max_digits,
                        int& value) {
  const std::size_t start = i;
  value = 0;
  while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i]))) {
    if (i - start == max_digits) return false;
    value = value * 10 + (fmt[i] - '0');
    ++i;
  }
  if (i == start) value = -1;
  return true;
}

// Checks that `fmt` is exactly one printf conversion (flags from "-+ #0", an optional width, an
// optional precision, then d, i, f, lf, e, g or s) and stores its pieces and the value type in
// `entry`. Flags whose meaning is undefined for the conversion are refused with it.
bool parse_conversion(const std::string& fmt, replace_param& entry) {
  std::size_t i = 0;
  if (fmt.empty() || fmt[0] != '%') return false;
  ++i;
  std::string flags;
  while (i < fmt.size() && fmt[i] != '\0' && std::strchr("-+ #0", fmt[i]) != nullptr) {
    flags.push_back(fmt[i]);
    ++i;
  }
  int width = -1;
  if (!read_format_digits(fmt, i, max_format_digits, width)) return false;
  int precision = -1;
  if (i < fmt.size() && fmt[i] == '.') {
    ++i;
    if (!read_format_digits(fmt, i, max_format_digits, precision)) return false;
    if (precision < 0) precision = 0;  // "%.f": an empty precision is precision 0
  }
  const std::string rest = fmt.substr(i);
  char conversion = 0;
  int type = -1;
  if (rest == "d" || rest == "i") {
    conversion = rest[0];
    type = 0;
  } else if (rest == "f" || rest == "lf" || rest == "e" || rest == "g") {
    conversion = rest.back();
    type = 1;
  } else if (rest == "s") {
    conversion = 's';
    type = 2;
  } else {
    return false;
  }
  const bool has_hash = flags.find('#') != std::string::npos;
  const bool has_zero = flags.find('0') != std::string::npos;
  if (type == 0 && has_hash) return false;
  if (type == 2 && (has_hash || has_zero)) return false;
  entry.param_flags = flags;
  entry.param_width = width;
  entry.param_precision = precision;
  entry.param_conversion = conversion;
  entry.param_type = type;
  return true;
}

// The entry's value printed with its checked conversion; the format handed to printf is built
// here from the stored pieces, never taken from the input.
std::string format_value(const replace_param& entry) {
  std::string fmt = "%" + entry.param_flags;
  if (entry.param_width >= 0) fmt += std::to_string(entry.param_width);
  if (entry.param_precision >= 0) fmt += "." + std::to_string(entry.param_precision);
  int size = -1;
  std::string out;
  for (int pass = 0; pass < 2; ++pass) {
    char* buffer = pass == 0 ? nullptr : out.data();
    const std::size_t capacity = pass == 0 ? 0 : out.size() + 1;
    switch (entry.param_conversion) {
      case 'd':
      case 'i':
        size =
            snprintf(buffer, capacity, (fmt + entry.param_conversion).c_str(), entry.param_ivalue);
        break;
      case 'f':
      case 'e':
      case 'g':
        size =
            snprintf(buffer, capacity, (fmt + entry.param_conversion).c_str(), entry.param_dvalue);
        break;
      case 's':
        size = snprintf(buffer, capacity, (fmt + "s").c_str(), entry.param_svalue.c_str());
        break;
      default:
        return std::string();
    }
    if (size < 0) return std::string();
    if (pass == 0) out.assign(static_cast<std::size_t>(size), '\0');
  }
  return out;
}

// The line filter replacement registers with the line reader: active only while replacement is
// on, so a later run of the process without it reads its lines unchanged.
void replace_filter(std::string& line) {
  if (replace_active) replace_line_params(line);
}

// Reads one line of a replacement input file as it stands: the list and the value file are
// never substituted themselves, even while replacement is on.
int read_plain_line(std::string& line, file_handle& h) {
  const int saved = replace_active;
  replace_active = 0;
  const int got = read_text_line(line, h);
  replace_active = saved;
  return got;
}

// The count at the head of the list file, read as "%d\n" reads it: white space, an optional sign
// and digits (held at the int limits), then every white-space character that follows.
bool read_param_count(FILE* fp, int& n) {
  int c = getc(fp);
  while (c != EOF && std::isspace(c)) c = getc(fp);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = getc(fp);
  }
  if (c == EOF || !std::isdigit(c)) return false;
  long long magnitude = 0;
  for (; c != EOF && std::isdigit(c); c = getc(fp)) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (c - '0');
  }
  while (c != EOF && std::isspace(c)) c = getc(fp);
  if (c != EOF) ungetc(c, fp);
  const long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) {
    n = INT_MAX;
  } else if (value < INT_MIN) {
    n = INT_MIN;
  } else {
    n = static_cast<int>(value);
  }
  return true;
}

}  // namespace

int parse_replace_param_line(const std::string& line) {
  const std::size_t open = line.rfind('[');
  const std::size_t close = line.rfind(']');
  // A "]" before the last "[" closes no tag.
  if (open == std::string::npos || close == std::string::npos || close < open) {
    print_bad_line(line);
    return -1;
  }
  auto* entry = new replace_param;
  std::string after = line.substr(close + 1);
  next_token(after, entry->param_format);
  if (!parse_conversion(entry->param_format, *entry)) {
    print_bad_format(line);
    delete entry;
    return -1;
  }
  entry->param_tag = line.substr(open, close - open + 1);
  entry->param_tag_len = static_cast<int>(entry->param_tag.size());
  list_append<replace_param, &replace_param::param_next>(replace_list, entry);
  return 0;
}

int replace_pair(std::string& line, std::size_t pos, std::size_t* value_len) {
  if (pos >= line.size()) return 0;
  for (replace_param* entry = replace_list; entry != nullptr; entry = entry->param_next) {
    const std::string& tag = entry->param_tag;
    if (tag.empty() || line.compare(pos, tag.size(), tag) != 0) continue;
    const std::string value = format_value(*entry);
    line.replace(pos, tag.size(), value);
    ++replace_count;
    entry->param_used = true;
    if (value_len != nullptr) *value_len = value.size();
    return 1;
  }
  return 0;
}

void replace_line_params(std::string& line) {
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == '[') {
      std::size_t inserted = 0;
      if (replace_pair(line, i, &inserted) == 1) {
        // The scan goes on after the value, so a value holding a tag is never expanded again.
        i += inserted;
        continue;
      }
      printf("Error: unable to match replace pair: %s\n", line.c_str());
    }
    ++i;
  }
}

void print_replace_values(file_handle& summary) {
  FILE* fp = summary.fp;
  if (fp != nullptr) fprintf(fp, "\nUsing replacement values:\n");
  log_printf("\nUsing replacement values:\n");
  for (replace_param* entry = replace_list; entry != nullptr; entry = entry->param_next) {
    const std::string value = format_value(*entry);
    if (fp != nullptr) fprintf(fp, "  %-14s = %s\n", entry->param_tag.c_str(), value.c_str());
    log_printf(" %-14s = %s\n", entry->param_tag.c_str(), value.c_str());
  }
  if (fp != nullptr) fprintf(fp, "\n");
  log_printf("\n");
}

void print_replace_usage(file_handle& summary) {
  FILE* fp = summary.fp;
  if (fp != nullptr) {
    fprintf(fp, "\nTotal times a value was replaced: %d\n\n", replace_count);
    fprintf(fp, "\nWas replacement value used?:\n");
  }
  log_printf("\nTotal times a value was replaced: %d\n\n", replace_count);
  log_printf("\nWas replacement value used?:\n");
  for (replace_param* entry = replace_list; entry != nullptr; entry = entry->param_next) {
    const char* used = entry->param_used ? "Yes\n" : "No\n";
    if (fp != nullptr) fprintf(fp, "  %-14s = %s", entry->param_tag.c_str(), used);
    log_printf(" %-14s = %s", entry->param_tag.c_str(), used);
  }
  if (fp != nullptr) fprintf(fp, "\n");
  log_printf("\n");
  replace_count = 0;
}

int read_replace_params(const char* file_name) {
  replace_free_all();
  file_handle h;
  if (file_name == nullptr || !file_handle_open(h, file_name, "r")) {
    printf("Error: unable to open the replace parameter file.\n");
    return -1;
  }
  int n = 0;
  if (!read_param_count(h.fp, n)) {
    printf("Error: unable to read the number of parameters in the parameter list file\n");
    file_handle_close(h);
    return -1;
  }
  std::string line;
  for (int lines_read = 0; lines_read < n; ++lines_read) {
    if (read_plain_line(line, h) == 0) {
      printf("Error: unexpected end of parameter list file after %d parameters. Expecting %d\n",
             lines_read, n);
      file_handle_close(h);
      return -1;
    }
    // A rejected line has been reported; it still counts as one of the n.
    parse_replace_param_line(line);
  }
  file_handle_close(h);
  return 0;
}

int read_replace_vals(const char* file_name) {
  file_handle h;
  if (file_name == nullptr || !file_handle_open(h, file_name, "r")) {
    printf("Error: unable to open the value file %s", file_name != nullptr ? file_name : "");
    return -1;
  }
  std::string line;
  const long long wanted = static_cast<long long>(replace_line_index) + 1;
  for (long long lines_read = 0; lines_read < wanted; ++lines_read) {
    if (read_plain_line(line, h) == 0) {
      // Values from a line that is not there would silently be zeros: the run must stop.
      printf("Error: the value file %s has no line %lld (counting from 1); it holds %lld lines.\n",
             file_name, wanted, lines_read);
      file_handle_close(h);
      raise_own_message();
      return -1;
    }
  }
  for (replace_param* entry = replace_list; entry != nullptr; entry = entry->param_next) {
    switch (entry->param_type) {
      case 0: {
        int value = 0;
        if (next_token_int(line, value) == 0) value = 0;
        entry->param_ivalue = value;
        break;
      }
      case 1: {
        double value = 0.0;
        if (next_token_double(line, value) == 0) value = 0.0;
        entry->param_dvalue = value;
        break;
      }
      case 2:
        next_token(line, entry->param_svalue);
        break;
      default:
        break;
    }
    entry->param_used = false;
  }
  replace_count = 0;
  file_handle_close(h);
  replace_switch_on();
  return 0;
}

void replace_switch_on() {
  replace_active = 1;
  set_line_filter(replace_filter);
}

void replace_free_all() {
  list_free<replace_param, &replace_param::param_next>(replace_list);
}
