// One numeric compare for the outputs of whole runs, used by the end-to-end cases: numbers
// within a tolerance, text exactly, named lines skipped, and every difference located.
#include "support/numeric_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace torva_test {

namespace {

// One blank-separated field of a line: its text, its 1-based column, and its value when the
// field is a number (a trailing comma or semicolon is kept apart as `tail`, compared as text).
struct field {
  std::string text;
  int column = 0;
  bool is_number = false;
  double value = 0.0;
  std::string tail;
};

bool parse_number(const std::string& s, double& value) {
  if (s.empty()) return false;
  const char* begin = s.c_str();
  char* end = nullptr;
  value = std::strtod(begin, &end);
  return end == begin + s.size();
}

std::vector<field> split_fields(const std::string& line) {
  std::vector<field> fields;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) break;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    field f;
    f.text = line.substr(start, i - start);
    f.column = static_cast<int>(start) + 1;
    if (parse_number(f.text, f.value)) {
      f.is_number = true;
    } else if (f.text.size() > 1 && (f.text.back() == ',' || f.text.back() == ';') &&
               parse_number(f.text.substr(0, f.text.size() - 1), f.value)) {
      f.is_number = true;
      f.tail = f.text.substr(f.text.size() - 1);
    }
    fields.push_back(f);
  }
  return fields;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool skipped(const std::string& line, const compare_tolerance& tol) {
  return std::any_of(tol.skip_lines.begin(), tol.skip_lines.end(),
                     [&](const std::string& s) { return line.find(s) != std::string::npos; });
}

std::string format_double(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

}  // namespace

bool numbers_agree(double expected, double actual, const compare_tolerance& tol) {
  if (std::isnan(expected) || std::isnan(actual)) return std::isnan(expected) && std::isnan(actual);
  if (std::isinf(expected) || std::isinf(actual)) return expected == actual;
  const double scale = std::max(std::fabs(expected), std::fabs(actual));
  return std::fabs(expected - actual) <= tol.absolute + tol.relative * scale;
}

std::string compare_texts(const std::string& file, const std::string& expected,
                          const std::string& actual, const compare_tolerance& tol,
                          int max_reports) {
  const std::vector<std::string> want = split_lines(expected);
  const std::vector<std::string> got = split_lines(actual);
  std::ostringstream report;
  int reports = 0;
  auto add = [&](std::size_t line, int column, const std::string& what) {
    if (reports++ < max_reports)
      report << file << ":" << line + 1 << ":" << column << ": " << what << "\n";
  };

  const std::size_t common = std::min(want.size(), got.size());
  for (std::size_t n = 0; n < common; ++n) {
    if (skipped(want[n], tol)) continue;
    const std::vector<field> a = split_fields(want[n]);
    const std::vector<field> b = split_fields(got[n]);
    const std::size_t fields = std::min(a.size(), b.size());
    for (std::size_t k = 0; k < fields; ++k) {
      const field& x = a[k];
      const field& y = b[k];
      if (x.is_number && y.is_number) {
        if (!numbers_agree(x.value, y.value, tol))
          add(n, y.column,
              "expected " + x.text + ", got " + y.text + ", difference " +
                  format_double(y.value - x.value));
        else if (x.tail != y.tail)
          add(n, y.column, "expected \"" + x.text + "\", got \"" + y.text + "\"");
      } else if (x.text != y.text) {
        add(n, y.column, "expected \"" + x.text + "\", got \"" + y.text + "\"");
      }
    }
    if (a.size() != b.size()) {
      const int column = fields < b.size() ? b[fields].column : static_cast<int>(got[n].size()) + 1;
      add(n, column,
          "expected " + std::to_string(a.size()) + " fields, got " + std::to_string(b.size()) +
              " (line \"" + got[n] + "\")");
    }
  }
  if (want.size() != got.size())
    add(common, 1,
        "expected " + std::to_string(want.size()) + " lines, got " + std::to_string(got.size()));
  if (reports > max_reports)
    report << file << ": " << reports - max_reports << " further differences\n";
  return report.str();
}

}  // namespace torva_test
