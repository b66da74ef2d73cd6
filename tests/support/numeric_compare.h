// One numeric compare for the outputs of whole runs: two texts are read field by field (fields
// are separated by blanks), numbers must agree within a relative-plus-absolute tolerance, any
// other text exactly, and lines that may differ between runs (run times) are named and skipped.
// A difference is reported with the file, line, column, both values and the difference.
#pragma once

#include <string>
#include <vector>

namespace torva_test {

struct compare_tolerance {
  double relative = 0.0;  // allowed |a - b| / max(|a|, |b|)
  double absolute = 0.0;  // allowed |a - b| whatever the size of the values
  // A line of the expected text that holds any of these substrings is not compared (nor is the
  // line at the same place in the actual text); the line counts must still agree.
  std::vector<std::string> skip_lines;
};

// True when two numbers agree: both NaN, equal infinities, or |a - b| <= absolute +
// relative * max(|a|, |b|).
bool numbers_agree(double expected, double actual, const compare_tolerance& tol);

// Compares the actual text with the expected one. Returns an empty string when they agree,
// else one line per difference found (at most `max_reports` of them), each naming `file`, the
// line and column (1-based, in the actual text), both values and their difference.
std::string compare_texts(const std::string& file, const std::string& expected,
                          const std::string& actual, const compare_tolerance& tol,
                          int max_reports = 10);

}  // namespace torva_test
