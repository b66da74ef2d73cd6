// Text lines and tokens: reads the lines of every text input of the model (project file,
// mapping tables, series, channel and calibration inputs) and cuts them into tokens, card words
// and numbers. Called by every input reader, from start-up and from the per-event readers.
#include "framework/core/text_tokens.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"

namespace {

// The registered line filter: process-wide, set when calibration replacement is switched on.
line_filter registered_line_filter = nullptr;

}  // namespace

void set_line_filter(line_filter filter) {
  registered_line_filter = filter;
}

void apply_line_filter(std::string& text) {
  if (registered_line_filter != nullptr) registered_line_filter(text);
}

namespace {

// Separators of the tokenisers.
bool is_token_sep(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '\n';
}

// Separators of the words of skip_first_word (a comma belongs to a word there).
bool is_word_sep(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

std::size_t skip_token_seps(const std::string& line, std::size_t i) {
  while (i < line.size() && is_token_sep(line[i])) ++i;
  return i;
}

// Position of the first separator at or after i (line.size() when there is none).
std::size_t find_token_end(const std::string& line, std::size_t i) {
  while (i < line.size() && !is_token_sep(line[i])) ++i;
  return i;
}

// Takes the bare (unquoted) token at the front of line for the numeric forms: sets [start, end)
// and returns false, with line untouched, when only separators are left.
bool bare_token(const std::string& line, std::size_t& start, std::size_t& end) {
  start = skip_token_seps(line, 0);
  if (start == line.size()) return false;
  end = find_token_end(line, start);
  return true;
}

// Deletes the token ending at `end` and the separators after it from the front of line.
void consume_through(std::string& line, std::size_t end) {
  line.erase(0, skip_token_seps(line, end));
}

// "%d" of scanf on a token: leading white space, an optional sign and at least one decimal
// digit; what follows the digits is ignored. A value beyond the range of an int is held at the
// nearest limit. Returns false when nothing converts.
bool scan_decimal_int(const char* s, std::size_t n, int& out) {
  std::size_t i = 0;
  while (i < n && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i >= n || !std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  // Accumulate the magnitude, stopping its growth once it is past every int.
  const long long limit = static_cast<long long>(INT_MAX) + 1;
  long long magnitude = 0;
  for (; i < n && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (s[i] - '0');
  }
  if (negative) {
    out = magnitude >= limit ? INT_MIN : static_cast<int>(-magnitude);
  } else {
    out = magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
  }
  return true;
}

// First token of s lower-cased, as card words are compared; empty when s holds no token.
std::string lower_first_token(const std::string& s) {
  std::string copy = s;
  std::string token;
  next_token(copy, token);
  for (char& c : token) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return token;
}

}  // namespace

int read_text_line(std::string& line, file_handle& h) {
  line.clear();
  FILE* fp = h.fp;
  if (fp == nullptr || feof(fp)) return 0;
  // The whole line is collected, up to the longest line an input may hold, so that no caller
  // ever sees it in pieces. One character more is allowed for a carriage return before the
  // newline.
  bool got_any = false;
  bool too_long = false;
  flockfile(fp);
  for (int c = getc_unlocked(fp); c != EOF; c = getc_unlocked(fp)) {
    got_any = true;
    if (c == '\n') break;
    if (line.size() > max_text_line) {
      too_long = true;
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  const bool failed = ferror(fp) != 0;
  funlockfile(fp);
  if (got_any) ++h.lines_read;
  if (!too_long && line.size() > max_text_line && line.back() != '\r') too_long = true;
  if (too_long) {
    line.clear();
    line.shrink_to_fit();
    stop_with_message("Error: line %ld of the file %s is longer than %zu characters.\n",
                      h.lines_read, h.path, max_text_line);
    return 0;
  }
  // A read failure part-way must not pass a cut line off as a whole one.
  if (!got_any || failed) {
    line.clear();
    return 0;
  }
  // A carriage return that ended the line (files written on Windows) is dropped with it.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  apply_line_filter(line);
  return 1;
}

int next_token(std::string& line, std::string& out) {
  out.clear();
  std::size_t i = skip_token_seps(line, 0);
  if (i == line.size()) return 0;
  bool quoted = false;
  if (line[i] == '"') {
    line[i] = ' ';
    quoted = true;
    ++i;
  }
  const std::size_t start = i;
  std::size_t end;
  std::size_t after;
  if (quoted) {
    const std::size_t close = line.find('"', start);
    if (close == std::string::npos) {
      end = line.size();
      after = end;
    } else {
      line[close] = ' ';
      end = close;
      after = close + 1;
    }
  } else {
    end = find_token_end(line, start);
    after = end;
  }
  // A pair of quotes with nothing between them is no token; the blanks stay in the line.
  if (end == start) return 0;
  out.assign(line, start, end - start);
  consume_through(line, after);
  return 1;
}

int next_token_double(std::string& line, double& out) {
  out = 0.0;
  std::size_t start;
  std::size_t end;
  if (!bare_token(line, start, end)) return 0;
  // The token is converted on its own, terminated copy so that the conversion sees exactly the
  // token and never scans the rest of a long line.
  const std::size_t n = end - start;
  char small[128];
  std::string large;
  const char* text;
  if (n < sizeof small) {
    memcpy(small, line.data() + start, n);
    small[n] = '\0';
    text = small;
  } else {
    large.assign(line, start, n);
    text = large.c_str();
  }
  double value = 0.0;
  if (sscanf(text, "%lf", &value) == 1) out = value;
  consume_through(line, end);
  return 1;
}

int next_token_int(std::string& line, int& out) {
  out = 0;
  std::size_t start;
  std::size_t end;
  if (!bare_token(line, start, end)) return 0;
  int value = 0;
  if (scan_decimal_int(line.data() + start, end - start, value)) out = value;
  consume_through(line, end);
  return 1;
}

bool parse_int(std::string_view text, int& out) {
  // from_chars takes a minus sign but no plus sign.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  const char* last = text.data() + text.size();
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), last, value, 10);
  if (ec != std::errc() || end != last) return false;
  out = value;
  return true;
}

bool parse_double(std::string_view text, double& out) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::chars_format format = std::chars_format::general;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    format = std::chars_format::hex;
    text.remove_prefix(2);
  }
  // The sign was taken above: a second one is no number.
  if (text.empty() || text.front() == '+' || text.front() == '-') return false;
  const char* last = text.data() + text.size();
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), last, value, format);
  if (end != last) return false;
  if (ec == std::errc::result_out_of_range) {
    // The text is a number whose value a double does not hold: too large is refused, and too
    // small reads as the nearest double, as the C library reads it.
    std::string copy(text);
    if (format == std::chars_format::hex) copy.insert(0, "0x");
    value = std::strtod(copy.c_str(), nullptr);
  } else if (ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(value)) return false;
  out = negative ? -value : value;
  return true;
}

bool take_int(std::string& line, int& out) {
  std::string token;
  return next_token(line, token) != 0 && parse_int(token, out);
}

bool take_double(std::string& line, double& out) {
  std::string token;
  return next_token(line, token) != 0 && parse_double(token, out);
}

bool parse_whole_number(std::string_view text, int& out) {
  // from_chars takes a minus sign but no plus sign.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = first + text.size();
  int value = 0;
  const auto [end, ec] = std::from_chars(first, last, value, 10);
  if (ec != std::errc() || end == first) return false;
  // A decimal point is allowed when only zeros follow it: the value is still whole.
  const char* p = end;
  if (p != last && *p == '.') {
    ++p;
    while (p != last && *p == '0') ++p;
  }
  if (p != last) return false;
  out = value;
  return true;
}

int next_token_whole(std::string& line, int& out, std::string& typed) {
  typed.clear();
  std::size_t start;
  std::size_t end;
  if (!bare_token(line, start, end)) return 0;
  typed.assign(line, start, end - start);
  consume_through(line, end);
  return parse_whole_number(typed, out) ? 1 : -1;
}

int card_match(const std::string& a, const std::string& b) {
  return lower_first_token(a) == lower_first_token(b) ? 1 : 0;
}

const char* skip_first_word(const char* s) {
  if (s == nullptr) return s;
  while (*s != '\0' && is_word_sep(*s)) ++s;
  while (*s != '\0' && !is_word_sep(*s)) ++s;
  while (*s != '\0' && is_word_sep(*s)) ++s;
  return s;
}

int str_drop_leading(std::string& s, std::size_t n) {
  if (s.empty()) return -1;
  s.erase(0, n < s.size() ? n : s.size());
  return 0;
}

int str_drop_leading(char* s, std::size_t n) {
  if (s == nullptr || s[0] == '\0') return -1;
  const std::size_t len = strlen(s);
  if (n >= len) {
    s[0] = '\0';
  } else {
    memmove(s, s + n, len - n + 1);
  }
  return 0;
}

void str_strip_quotes(std::string& s) {
  if (s.empty()) return;
  if (s.front() == '"') s.erase(0, 1);
  if (!s.empty() && s.back() == '"') s.pop_back();
}

void str_strip_quotes(char* s) {
  if (s == nullptr || s[0] == '\0') return;
  if (s[0] == '"') memmove(s, s + 1, strlen(s));
  const std::size_t n = strlen(s);
  if (n > 0 && s[n - 1] == '"') s[n - 1] = '\0';
}

bool copy_text(char* dst, std::size_t dst_size, const char* src) {
  if (dst == nullptr || dst_size == 0) return false;
  if (src == nullptr) src = "";
  const std::size_t n = strlen(src);
  const std::size_t k = n < dst_size ? n : dst_size - 1;
  memcpy(dst, src, k);
  dst[k] = '\0';
  return k == n;
}
