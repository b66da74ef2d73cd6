// The aligned summary line: label, dot leader to 50 characters, decimal point in column 66.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "output/event_summary.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::temp_dir;

namespace {

std::string aligned(const char* label, double value, const char* format, int extra = 0) {
  temp_dir dir;
  FILE* fp = fopen(dir.file("line.txt").c_str(), "w");
  summary_print_line(fp, label, value, 50, '.', 14, format, extra);
  fclose(fp);
  return read_file(dir.file("line.txt"));
}

}  // namespace

TEST(SummaryPrintLine, TheDecimalPointStandsInColumn66WhateverTheNumber) {
  struct row {
    const char* label;
    double value;
    const char* format;
  };
  const row rows[] = {{"Initial mass", 0.5, "%14.2lf"},
                      {"Final mass in channels", -12345678.25, "%14.2lf"},
                      {"Error", 3.14159, "%14.4lf"},
                      {"A label of exactly forty-nine characters, no dots", 1.0, "%14.2lf"}};
  for (const row& r : rows) {
    const std::string text = aligned(r.label, r.value, r.format);
    ASSERT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('.', 50), 65u) << text;  // column 66, counted from 1
    EXPECT_EQ(text.rfind(r.label, 0), 0u);
    // The value parses back from the text after the leader.
    EXPECT_NEAR(std::stod(text.substr(51)), r.value, 1e-2) << text;
  }
  const std::string dots = aligned("Initial mass", 1.0, "%14.2lf");
  EXPECT_EQ(dots.substr(12, 38), " " + std::string(37, '.'));
}

TEST(SummaryPrintLine, AHugeValueMovesThePointRightAndExtraNewlinesFollow) {
  const std::string text = aligned("Mass", 1.0e15, "%14.2lf", 1);
  EXPECT_GT(text.find('.', 50), 65u);
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}
