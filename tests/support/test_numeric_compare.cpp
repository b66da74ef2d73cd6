// The numeric compare of whole-run outputs: what agrees, what does not, and how a difference is
// located for the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/numeric_compare.h"

using torva_test::compare_texts;
using torva_test::compare_tolerance;
using torva_test::numbers_agree;

namespace {

TEST(NumericCompare, NumbersAgreeWithinRelativePlusAbsoluteTolerance) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct row {
    double expected, actual, relative, absolute;
    bool agree;
  };
  const row rows[] = {
      {1.0, 1.0, 0.0, 0.0, true},       {100.0, 100.9, 0.01, 0.0, true},  // 0.9 <= 0.01 * 100.9
      {100.0, 101.1, 0.01, 0.0, false},                                   // 1.1 > 0.01 * 101.1
      {0.0, 1e-13, 1e-6, 1e-12, true},  // near zero the absolute part decides
      {0.0, 2e-12, 1e-6, 1e-12, false}, {-5.0, 5.0, 0.5, 0.0, false},  // sign flips are differences
      {nan, nan, 0.0, 0.0, true},       {nan, 1.0, 1.0, 1.0, false},
      {1.0, nan, 1.0, 1.0, false},      {inf, inf, 0.0, 0.0, true},
      {inf, -inf, 1.0, 1.0, false},     {inf, 1e308, 1.0, 1e308, false},
  };
  for (const row& r : rows) {
    compare_tolerance tol;
    tol.relative = r.relative;
    tol.absolute = r.absolute;
    EXPECT_EQ(numbers_agree(r.expected, r.actual, tol), r.agree)
        << r.expected << " vs " << r.actual;
  }
}

TEST(NumericCompare, TextsAgreeOrNameEachDifference) {
  compare_tolerance tol;
  tol.relative = 1e-6;
  tol.absolute = 1e-9;
  tol.skip_lines = {"total time"};
  struct row {
    const char* what;
    const char* expected;
    const char* actual;
    const char* report;  // "" when the texts agree
  };
  const row rows[] = {
      {"same text", "a 1.0 b\n", "a 1.0 b\n", ""},
      {"widths and formats of numbers may differ", "q   1.50\n", "q 1.5000001\n", ""},
      {"number out of tolerance", "q 1.50 x\n", "q 1.51 x\n",
       "out.txt:1:3: expected 1.50, got 1.51, difference 0.010000000000000009\n"},
      {"text differs", "Volume 3\nrain 1\n", "Volume 3\nsnow 1\n",
       "out.txt:2:1: expected \"rain\", got \"snow\"\n"},
      {"a number where text was", "a b\n", "a 2\n", "out.txt:1:3: expected \"b\", got \"2\"\n"},
      {"named lines are skipped", "total time (s): 1.00\n", "total time (s): 9.00\n", ""},
      {"a trailing comma stays text", "1.0, 2.0\n", "1.0; 2.0\n",
       "out.txt:1:1: expected \"1.0,\", got \"1.0;\"\n"},
      {"missing field", "1 2 3\n", "1 2\n",
       "out.txt:1:4: expected 3 fields, got 2 (line \"1 2\")\n"},
      {"missing line", "1\n2\n", "1\n", "out.txt:2:1: expected 2 lines, got 1\n"},
      {"Windows line ends read as the same text", "a 1\n", "a 1\r\n", ""},
  };
  for (const row& r : rows)
    EXPECT_EQ(compare_texts("out.txt", r.expected, r.actual, tol), r.report) << r.what;
}

TEST(NumericCompare, ReportsAreCappedWithTheRestCounted) {
  const compare_tolerance tol;
  const std::string report = compare_texts("f", "1\n2\n3\n4\n", "5\n6\n7\n8\n", tol, 2);
  EXPECT_EQ(report,
            "f:1:1: expected 1, got 5, difference 4\n"
            "f:2:1: expected 2, got 6, difference 4\n"
            "f: 2 further differences\n");
}

}  // namespace
