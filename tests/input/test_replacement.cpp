// Tests of calibration parameter replacement: the list-file lines and their formats, the
// substitution in input lines, the list and value files, and the two summary reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "input/replacement.h"
#include "run/entry.h"
#include "support/test_support.h"

namespace {

using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

const char* const bad_line_msg =
    "Error: Improperly formatted line in the replacement parameter file\nline:";
const char* const bad_format_msg =
    "---> The format must be a C-style format in quotes, such as \"%4.2lf\"\n";

std::vector<std::string> list_tags() {
  std::vector<std::string> tags;
  for (replace_param* p = replace_list; p != nullptr; p = p->param_next) {
    tags.push_back(p->param_tag);
  }
  return tags;
}

replace_param* find_entry(const std::string& tag) {
  for (replace_param* p = replace_list; p != nullptr; p = p->param_next) {
    if (p->param_tag == tag) return p;
  }
  return nullptr;
}

// Every test starts and ends with replacement off, an empty list, line 0, no pending error and
// the console on.
class ReplaceTest : public ::testing::Test {
 protected:
  // Back to that start (for a case of a table that starts over).
  void reset() { process_state_.reset(); }
  // Parses a list line quietly; returns its result.
  static int add(const std::string& line) {
    stdout_capture cap;
    return parse_replace_param_line(line);
  }
  // Substitutes a copy of `line`; what was printed goes to `printed` when given.
  static std::string substituted(std::string line, std::string* printed = nullptr) {
    stdout_capture cap;
    replace_line_params(line);
    const std::string out = cap.stop();
    if (printed != nullptr) *printed = out;
    return line;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  temp_dir dir_;
};

TEST_F(ReplaceTest, AcceptedFormatsSetTypeAndPrintTheValue) {
  struct format_case {
    std::string format;
    int type;
    std::string printed;  // with ivalue 42, dvalue 3.14159, svalue "abc"
  };
  const std::vector<format_case> cases = {
      {"%6.4lf", 1, "3.1416"},
      {"%5.2f", 1, " 3.14"},
      {"%f", 1, "3.141590"},
      {"%e", 1, "3.141590e+00"},
      {"%.2e", 1, "3.14e+00"},
      {"%g", 1, "3.14159"},
      {"%+08.2f", 1, "+0003.14"},
      {"%-+   010.3lf", 1, "+3.142    "},  // longer than eleven characters
      {"%.f", 1, "3"},
      {"%d", 0, "42"},
      {"%i", 0, "42"},
      {"%05d", 0, "00042"},
      {"%-4d", 0, "42  "},
      {"%s", 2, "abc"},
      {"%-10s", 2, "abc       "},
      {"%5s", 2, "  abc"},
      {"%.2s", 2, "ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    reset();
    ASSERT_EQ(add("[A] \"" + c.format + "\""), 0);
    replace_param* entry = find_entry("[A]");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->param_format, c.format);
    EXPECT_EQ(entry->param_type, c.type);
    EXPECT_EQ(entry->param_tag_len, 3);
    entry->param_ivalue = 42;
    entry->param_dvalue = 3.14159;
    entry->param_svalue = "abc";
    EXPECT_EQ(substituted("<[A]>"), "<" + c.printed + ">");
  }
}

TEST_F(ReplaceTest, FormatsOtherThanOneMatchingConversionAreRejectedWithBothMessages) {
  const std::vector<std::string> formats = {
      "%x",  "%n",  "%s%n", "%d%d",    "abc%d",    "%d ", " %d", "%lld", "%ld",
      "%Lf", "%le", "%*d",  "%1$d",    "%%",       "%",   "d",   "%u",   "%.3.2f",
      "%#d", "%0s", "%#s",  "%12345d", "%.12345f", "%p",  "%c",  "%5",   "%-"};
  for (const auto& f : formats) {
    SCOPED_TRACE(f);
    reset();
    const std::string line = "[A] \"" + f + "\"";
    stdout_capture cap;
    const int result = parse_replace_param_line(line);
    const std::string out = cap.stop();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(replace_list, nullptr);
    EXPECT_EQ(out, std::string(bad_line_msg) + line + "\n" + bad_format_msg);
  }
  // No format at all after the tag is rejected the same way.
  for (const std::string line : {"[A]", "[A] \"\"", "[A]   "}) {
    SCOPED_TRACE(line);
    stdout_capture cap;
    EXPECT_EQ(parse_replace_param_line(line), -1);
    EXPECT_EQ(cap.stop(), std::string(bad_line_msg) + line + "\n" + bad_format_msg);
    EXPECT_EQ(replace_list, nullptr);
  }
}

TEST_F(ReplaceTest, TagRunsFromTheLastOpeningToTheLastClosingBracket) {
  // Missing or reversed brackets: only the first message.
  for (const std::string line : {"A \"%d\"", "[A \"%d\"", "A] \"%d\"", "]A[ \"%d\""}) {
    SCOPED_TRACE(line);
    stdout_capture cap;
    EXPECT_EQ(parse_replace_param_line(line), -1);
    EXPECT_EQ(cap.stop(), std::string(bad_line_msg) + line + "\n");
    EXPECT_EQ(replace_list, nullptr);
  }
  ASSERT_EQ(add("old [X] new [K2], \"%5.2f\" trailing words"), 0);
  const std::string long_tag = "[" + std::string(40, 'L') + "]";
  ASSERT_EQ(add(long_tag + "\t\"%d\""), 0);
  EXPECT_EQ(list_tags(), (std::vector<std::string>{"[K2]", long_tag}));
  EXPECT_EQ(find_entry(long_tag)->param_tag_len, 42);
  find_entry(long_tag)->param_ivalue = 7;
  EXPECT_EQ(substituted("a " + long_tag + " b"), "a 7 b");
}

TEST_F(ReplaceTest, SubstitutesTagsCountsAndMarksUse) {
  ASSERT_EQ(add("[K] \"%d\""), 0);
  ASSERT_EQ(add("[K2] \"%5.2f\""), 0);
  find_entry("[K]")->param_ivalue = 9;
  find_entry("[K2]")->param_dvalue = 3.14159;

  // The width of 5 pads 3.14 with one blank.
  EXPECT_EQ(substituted("K2 [K2]"), "K2  3.14");
  EXPECT_EQ(replace_count, 1);
  EXPECT_TRUE(find_entry("[K2]")->param_used);
  EXPECT_FALSE(find_entry("[K]")->param_used);

  // Tags are compared with their brackets: [K2] is not taken for [K].
  EXPECT_EQ(substituted("[K][K2],[K]"), "9 3.14,9");
  EXPECT_EQ(replace_count, 4);
  EXPECT_TRUE(find_entry("[K]")->param_used);

  // An unmatched "[" is reported with the whole line and the line is otherwise substituted.
  std::string printed;
  EXPECT_EQ(substituted("[Q] [K] [K", &printed), "[Q] 9 [K");
  EXPECT_EQ(printed,
            "Error: unable to match replace pair: [Q] [K] [K\n"
            "Error: unable to match replace pair: [Q] 9 [K\n");
  EXPECT_EQ(replace_count, 5);
}

TEST_F(ReplaceTest, InsertedValuesAreNotScannedAgain) {
  ASSERT_EQ(add("[A] \"%s\""), 0);
  ASSERT_EQ(add("[B] \"%s\""), 0);
  ASSERT_EQ(add("[E] \"%s\""), 0);
  find_entry("[A]")->param_svalue = "[A]";
  find_entry("[B]")->param_svalue = "x[A]y";
  // [E] keeps its empty value: the text after it is still scanned.
  std::string printed;
  EXPECT_EQ(substituted("1 [A] 2 [B] 3 [E][A]", &printed), "1 [A] 2 x[A]y 3 [A]");
  EXPECT_EQ(printed, "");
  EXPECT_EQ(replace_count, 4);
}

TEST_F(ReplaceTest, LongLinesAndLongValuesAreKeptWhole) {
  ASSERT_EQ(add("[S] \"%s\""), 0);
  ASSERT_EQ(add("[W] \"%300d\""), 0);
  const std::string value(600, 'v');
  find_entry("[S]")->param_svalue = value;
  find_entry("[W]")->param_ivalue = 5;
  const std::string head(19990, 'h');
  const std::string tail(50, 't');
  const std::string out = substituted(head + "[S]" + tail + "[W]!");
  EXPECT_EQ(out, head + value + tail + std::string(299, ' ') + "5!");
  EXPECT_EQ(out.size(), 19990u + 600u + 50u + 300u + 1u);
}

TEST_F(ReplaceTest, ReplacePairReportsTheInsertedLength) {
  ASSERT_EQ(add("[A] \"%4d\""), 0);
  find_entry("[A]")->param_ivalue = 12;
  std::string line = "x[A]y";
  std::size_t inserted = 0;
  EXPECT_EQ(replace_pair(line, 1, &inserted), 1);
  EXPECT_EQ(line, "x  12y");
  EXPECT_EQ(inserted, 4u);
  // Positions that hold no tag, or lie past the end, leave the line alone.
  EXPECT_EQ(replace_pair(line, 0), 0);
  EXPECT_EQ(replace_pair(line, 99), 0);
  std::string cut = "x[A";
  EXPECT_EQ(replace_pair(cut, 1), 0);
  EXPECT_EQ(cut, "x[A");
  EXPECT_EQ(replace_count, 1);
}

TEST_F(ReplaceTest, ReadsTheParameterListFile) {
  const std::string list = dir_.file("params.txt");
  // A rejected line still counts as one of the announced parameters; CRLF line ends are fine.
  write_file(list, "3\r\n[MANNING] \"%6.4lf\"\r\n[BAD] \"%x\"\r\n[N] %d\r\n[NOT_READ] \"%d\"\n");
  {
    stdout_capture cap;
    EXPECT_EQ(read_replace_params(list.c_str()), 0);
    const std::string out = cap.stop();
    EXPECT_EQ(out, std::string(bad_line_msg) + "[BAD] \"%x\"\n" + bad_format_msg);
  }
  EXPECT_EQ(list_tags(), (std::vector<std::string>{"[MANNING]", "[N]"}));
  EXPECT_EQ(find_entry("[N]")->param_type, 0);

  // Reading again empties the list first.
  write_file(list, "  1\n\n[C] \"%s\"\n");
  {
    stdout_capture cap;
    EXPECT_EQ(read_replace_params(list.c_str()), 0);
    EXPECT_EQ(cap.stop(), "");
  }
  EXPECT_EQ(list_tags(), (std::vector<std::string>{"[C]"}));

  // A count below 1 gives an empty list.
  write_file(list, "0\n[C] \"%s\"\n");
  EXPECT_EQ(read_replace_params(list.c_str()), 0);
  EXPECT_EQ(replace_list, nullptr);
}

TEST_F(ReplaceTest, ListFileFailures) {
  const std::string list = dir_.file("params.txt");
  // Fewer lines than announced: the parsed entries stay on the list.
  write_file(list, "3\n[A] \"%d\"\n[B] \"%f\"\n");
  {
    stdout_capture cap;
    EXPECT_EQ(read_replace_params(list.c_str()), -1);
    EXPECT_EQ(cap.stop(),
              "Error: unexpected end of parameter list file after 2 parameters. Expecting 3\n");
  }
  EXPECT_EQ(list_tags(), (std::vector<std::string>{"[A]", "[B]"}));

  write_file(list, "three\n[A] \"%d\"\n");
  {
    stdout_capture cap;
    EXPECT_EQ(read_replace_params(list.c_str()), -1);
    EXPECT_EQ(cap.stop(),
              "Error: unable to read the number of parameters in the parameter list file\n");
  }
  EXPECT_EQ(replace_list, nullptr);

  {
    stdout_capture cap;
    EXPECT_EQ(read_replace_params(dir_.file("missing.txt").c_str()), -1);
    // The file layer names the file it could not find; the list reader's own line follows.
    const std::string out = cap.stop();
    EXPECT_TRUE(out.ends_with("\nError: unable to open the replace parameter file.\n")) << out;
  }
  EXPECT_EQ(run_error.error_code, 0);
}

TEST_F(ReplaceTest, ListAndValueFilesAreNotSubstitutedThemselves) {
  // A later run of the process reads the files while replacement is still on.
  replace_switch_on();
  const std::string list = dir_.file("params.txt");
  const std::string vals = dir_.file("values.txt");
  write_file(list, "2\n[A] \"%d\"\n[B] \"%s\"\n");
  write_file(vals, "4 \"[A]\"\n");
  stdout_capture cap;
  EXPECT_EQ(read_replace_params(list.c_str()), 0);
  EXPECT_EQ(read_replace_vals(vals.c_str()), 0);
  EXPECT_EQ(cap.stop(), "");
  EXPECT_EQ(list_tags(), (std::vector<std::string>{"[A]", "[B]"}));
  EXPECT_EQ(find_entry("[B]")->param_svalue, "[A]");
  EXPECT_EQ(replace_count, 0);
}

TEST_F(ReplaceTest, ValueFileLineByRunIndex) {
  const std::string list = dir_.file("params.txt");
  const std::string vals = dir_.file("values.txt");
  write_file(list, "3\n[I] \"%d\"\n[D] \"%.3f\"\n[S] \"%s\"\n");
  const std::string long_value(300, 's');
  write_file(vals, "1 1.5 first\n2,2.25,\"two words\"\n3\t3.125\t" + long_value + "\n");
  ASSERT_EQ(read_replace_params(list.c_str()), 0);

  // Run i of a batch takes line i.
  const std::vector<std::string> expected = {"1 1.500 first", "2 2.250 two words",
                                             "3 3.125 " + long_value};
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    replace_line_index = run;
    find_entry("[I]")->param_used = true;
    replace_count = 9;
    EXPECT_EQ(read_replace_vals(vals.c_str()), 0);
    EXPECT_EQ(replace_active, 1);
    EXPECT_EQ(replace_count, 0);
    EXPECT_FALSE(find_entry("[I]")->param_used);
    EXPECT_EQ(substituted("[I] [D] [S]"), expected[run]);
  }
  EXPECT_EQ(run_error.error_code, 0);
}

TEST_F(ReplaceTest, MissingValuesReadAsZeroOrEmpty) {
  const std::string list = dir_.file("params.txt");
  const std::string vals = dir_.file("values.txt");
  write_file(list, "3\n[I] \"%d\"\n[D] \"%.1f\"\n[S] \"%s\"\n");
  write_file(vals, "7\n");
  ASSERT_EQ(read_replace_params(list.c_str()), 0);
  find_entry("[D]")->param_dvalue = 5.0;
  find_entry("[S]")->param_svalue = "old";
  EXPECT_EQ(read_replace_vals(vals.c_str()), 0);
  EXPECT_EQ(substituted("[I]|[D]|[S]|"), "7|0.0||");

  // A negative line index reads no line: every value is zero or empty.
  replace_line_index = -1;
  EXPECT_EQ(read_replace_vals(vals.c_str()), 0);
  EXPECT_EQ(substituted("[I]|[D]|[S]|"), "0|0.0||");
}

TEST_F(ReplaceTest, ValueFileFailuresLeaveReplacementOff) {
  const std::string list = dir_.file("params.txt");
  const std::string vals = dir_.file("values.txt");
  write_file(list, "1\n[I] \"%d\"\n");
  write_file(vals, "1\n2\n");
  ASSERT_EQ(read_replace_params(list.c_str()), 0);

  {
    const std::string missing = dir_.file("missing.txt");
    stdout_capture cap;
    EXPECT_EQ(read_replace_vals(missing.c_str()), -1);
    const std::string out = cap.stop();
    EXPECT_TRUE(out.ends_with("\nError: unable to open the value file " + missing)) << out;
    EXPECT_EQ(replace_active, 0);
    EXPECT_EQ(run_error.error_code, 0);
  }

  // The run asks for the fourth line of a file of two: the run must stop.
  replace_line_index = 3;
  find_entry("[I]")->param_ivalue = 11;
  {
    stdout_capture cap;
    EXPECT_EQ(read_replace_vals(vals.c_str()), -1);
    EXPECT_EQ(cap.stop(), "Error: the value file " + vals +
                              " has no line 4 (counting from 1); it holds 2 lines.\n");
  }
  EXPECT_EQ(replace_active, 0);
  EXPECT_EQ(run_error.error_code, error_code_own_message);
  EXPECT_EQ(find_entry("[I]")->param_ivalue, 11);
}

TEST_F(ReplaceTest, LineReaderSubstitutesWhileActive) {
  const std::string list = dir_.file("params.txt");
  const std::string vals = dir_.file("values.txt");
  const std::string input = dir_.file("input.txt");
  write_file(list, "1\n[K] \"%.2f\"\n");
  write_file(vals, "0.5\n");
  write_file(input, "K [K]\r\n");
  ASSERT_EQ(read_replace_params(list.c_str()), 0);
  ASSERT_EQ(read_replace_vals(vals.c_str()), 0);
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, input.c_str(), "r"));
  std::string line;
  ASSERT_EQ(read_text_line(line, h), 1);
  EXPECT_EQ(line, "K 0.50");
  file_handle_close(h);
  EXPECT_EQ(replace_count, 1);
}

TEST_F(ReplaceTest, SummaryReportsOfValuesAndUse) {
  ASSERT_EQ(add("[K2] \"%5.2f\""), 0);
  ASSERT_EQ(add("[NAME] \"%s\""), 0);
  find_entry("[K2]")->param_dvalue = 3.14159;
  find_entry("[NAME]")->param_svalue = "clay";
  EXPECT_EQ(substituted("[K2]"), " 3.14");

  const std::string summary_name = dir_.file("summary.out");
  file_handle summary;
  ASSERT_TRUE(file_handle_open(summary, summary_name.c_str(), "w"));
  std::string console;
  {
    stdout_capture cap;
    print_replace_values(summary);
    print_replace_usage(summary);
    console = cap.stop();
  }
  file_handle_close(summary);

  const std::string file_values =
      "\nUsing replacement values:\n"
      "  [K2]           =  3.14\n"
      "  [NAME]         = clay\n"
      "\n";
  const std::string file_usage =
      "\nTotal times a value was replaced: 1\n\n"
      "\nWas replacement value used?:\n"
      "  [K2]           = Yes\n"
      "  [NAME]         = No\n"
      "\n";
  EXPECT_EQ(read_file(summary_name), file_values + file_usage);
  // The console lines carry one blank less in front of the tag.
  EXPECT_EQ(console,
            "\nUsing replacement values:\n"
            " [K2]           =  3.14\n"
            " [NAME]         = clay\n"
            "\n"
            "\nTotal times a value was replaced: 1\n\n"
            "\nWas replacement value used?:\n"
            " [K2]           = Yes\n"
            " [NAME]         = No\n"
            "\n");
  EXPECT_EQ(replace_count, 0);

  // Without an open summary file only the console gets the reports; SUPER_QUIET silences it.
  file_handle closed;
  console_silent = true;
  stdout_capture cap;
  print_replace_values(closed);
  print_replace_usage(closed);
  EXPECT_EQ(cap.stop(), "");
}

TEST_F(ReplaceTest, FreeAllEmptiesTheList) {
  ASSERT_EQ(add("[A] \"%d\""), 0);
  ASSERT_EQ(add("[B] \"%d\""), 0);
  ASSERT_EQ(list_tags().size(), 2u);
  replace_free_all();
  EXPECT_EQ(replace_list, nullptr);
  replace_free_all();  // an empty list stays empty
  EXPECT_EQ(replace_list, nullptr);
  // With the list gone every tag is unmatched.
  std::string printed;
  EXPECT_EQ(substituted("[A]", &printed), "[A]");
  EXPECT_EQ(printed, "Error: unable to match replace pair: [A]\n");
}

}  // namespace
