// Tests of the text lines and tokens every input reader uses: whole lines however long, the
// Windows line end, tokens with and without quotes, the numeric forms, card words and the small
// string helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "support/test_support.h"

namespace {

// Opens `path` straight into the handle, as file_handle_open would leave it.
void open_handle(file_handle& h, const std::string& path, const char* mode) {
  h.fp = fopen(path.c_str(), mode);
  h.fp_check = h.fp;
  ASSERT_NE(h.fp, nullptr) << path;
}

// Reads every line of `text` written to a file; stops at the first 0.
std::vector<std::string> read_all_lines(const std::string& text) {
  torva_test::temp_dir dir;
  const std::string path = dir.file("lines.txt");
  torva_test::write_file(path, text);
  file_handle h;
  open_handle(h, path, "r");
  std::vector<std::string> lines;
  std::string line = "left over";
  while (read_text_line(line, h) == 1) lines.push_back(line);
  // The end stays the end.
  EXPECT_EQ(read_text_line(line, h), 0);
  file_handle_close(h);
  return lines;
}

TEST(TextTokensReadLine, LineEndsOfUnixAndWindowsFiles) {
  struct line_case {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  };
  const std::vector<line_case> cases = {
      {"plain lines", "first\nsecond\n", {"first", "second"}},
      {"last line without newline", "first\nlast", {"first", "last"}},
      {"empty lines are lines", "\n\nx\n", {"", "", "x"}},
      {"windows line ends", "first\r\nsecond\r\n\r\n", {"first", "second", ""}},
      {"carriage return inside a line is kept", "mid\rdle\r\n a\r b \n", {"mid\rdle", " a\r b "}},
      {"only the last carriage return goes", "x\r\r\n", {"x\r"}},
      {"windows last line without newline", "a\r\nb\r", {"a", "b"}},
      {"blanks are not trimmed", "  a , b\t\n", {"  a , b\t"}},
      {"empty file", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_all_lines(c.text), c.lines);
  }
}

TEST(TextTokensReadLine, VeryLongLineIsReturnedWhole) {
  std::string long_line;
  for (int i = 0; long_line.size() < 100000; ++i) long_line += std::to_string(i % 10);
  const auto lines = read_all_lines(long_line + "\r\nnext\n" + long_line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 100000u);
  EXPECT_EQ(lines[0], long_line);
  EXPECT_EQ(lines[1], "next");
  EXPECT_EQ(lines[2], long_line);
}

TEST(TextTokensReadLine, ClosedOrUnreadableHandleGivesNoLine) {
  std::string line = "old";
  file_handle closed;
  EXPECT_EQ(read_text_line(line, closed), 0);

  // A stream open only for writing cannot be read: a read failure is no line.
  torva_test::temp_dir dir;
  const std::string path = dir.file("out.txt");
  torva_test::write_file(path, "text\n");
  file_handle h;
  open_handle(h, path, "w");
  EXPECT_EQ(read_text_line(line, h), 0);
  file_handle_close(h);
}

struct token_case {
  const char* line;
  int result;
  const char* token;
  const char* rest;  // what is left of the line after the call
};

TEST(TextTokensNextToken, CutsTheFirstToken) {
  const std::vector<token_case> cases = {
      {"  abc, def\n", 1, "abc", "def\n"},
      {"def\n", 1, "def", ""},
      {"", 0, "", ""},
      {" \t,\n", 0, "", " \t,\n"},
      {"a\tb", 1, "a", "b"},
      {"a\rb c", 1, "a\rb", "c"},
      {"\"my file.txt\" 3", 1, "my file.txt", "3"},
      {", \"a\tb,c\" ,d", 1, "a\tb,c", "d"},
      {"\"open to the end, with blanks", 1, "open to the end, with blanks", ""},
      {"\"\"", 0, "", "  "},
      {"\"\" x", 0, "", "   x"},
      {"ab\"c d", 1, "ab\"c", "d"},
      {"\"x\"y z", 1, "x", "y z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::string line = c.line;
    std::string out = "stale";
    EXPECT_EQ(next_token(line, out), c.result);
    EXPECT_EQ(out, c.token);
    EXPECT_EQ(line, c.rest);
  }
}

TEST(TextTokensNextToken, SuccessiveCallsConsumeTheLine) {
  std::string line = "  abc, def\n";
  std::string out;
  ASSERT_EQ(next_token(line, out), 1);
  EXPECT_EQ(out, "abc");
  ASSERT_EQ(next_token(line, out), 1);
  EXPECT_EQ(out, "def");
  EXPECT_EQ(line, "");
  EXPECT_EQ(next_token(line, out), 0);
  EXPECT_EQ(out, "");
}

TEST(TextTokensNextToken, LongTokensAndManyTokensComeOutWhole) {
  // Tokens far beyond 255 characters, bare and quoted, are not cut.
  const std::string bare(3000, 'w');
  std::string quoted_inner;
  for (int i = 0; i < 400; ++i) quoted_inner += "ab, ";
  std::string line = bare + " \"" + quoted_inner + "\" tail";
  std::string out;
  ASSERT_EQ(next_token(line, out), 1);
  EXPECT_EQ(out, bare);
  ASSERT_EQ(next_token(line, out), 1);
  EXPECT_EQ(out, quoted_inner);
  ASSERT_EQ(next_token(line, out), 1);
  EXPECT_EQ(out, "tail");
  EXPECT_EQ(next_token(line, out), 0);

  // A row of many values is taken token by token, in order, with nothing lost.
  const int count = 10000;
  std::string row;
  for (int i = 1; i <= count; ++i) row += std::to_string(i) + (i % 2 ? " " : ",\t");
  std::string ints = row;
  std::string doubles = row;
  std::string words = row;
  for (int i = 1; i <= count; ++i) {
    int iv = -1;
    double dv = -1.0;
    ASSERT_EQ(next_token_int(ints, iv), 1);
    ASSERT_EQ(next_token_double(doubles, dv), 1);
    ASSERT_EQ(next_token(words, out), 1);
    ASSERT_EQ(iv, i);
    ASSERT_EQ(dv, static_cast<double>(i));
    ASSERT_EQ(out, std::to_string(i));
  }
  int iv = 5;
  EXPECT_EQ(next_token_int(ints, iv), 0);
  EXPECT_EQ(ints, "");
  EXPECT_EQ(doubles, "");
  EXPECT_EQ(words, "");
}

struct double_case {
  const char* line;
  int result;
  double value;
  const char* rest;
};

TEST(TextTokensNumbers, DoubleTokens) {
  const std::string zeros(200, '0');
  const std::string long_number = zeros + "1.5 9";
  const std::vector<double_case> cases = {
      {"x7 8", 1, 0.0, "8"},       {"", 0, 0.0, ""},
      {" ,\t", 0, 0.0, " ,\t"},    {"1.5e3,2", 1, 1500.0, "2"},
      {"  -0.25\n", 1, -0.25, ""}, {"12abc 4", 1, 12.0, "4"},
      {"\"3.5\" 1", 1, 0.0, "1"},  // quotes are not special to the numeric forms
      {".5", 1, 0.5, ""},          {long_number.c_str(), 1, 1.5, "9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::string line = c.line;
    double out = 99.0;
    EXPECT_EQ(next_token_double(line, out), c.result);
    EXPECT_EQ(out, c.value);
    EXPECT_EQ(line, c.rest);
  }
}

struct int_case {
  const char* line;
  int result;
  int value;
  const char* rest;
};

TEST(TextTokensNumbers, IntTokensIncludingOutOfRange) {
  const std::vector<int_case> cases = {
      {"", 0, 0, ""},
      {"\t\n", 0, 0, "\t\n"},
      {"42 7", 1, 42, "7"},
      {" -17,x", 1, -17, "x"},
      {"+8", 1, 8, ""},
      {"3.9 1", 1, 3, "1"},
      {"abc 5", 1, 0, "5"},
      {"-", 1, 0, ""},
      {"0x1A", 1, 0, ""},
      {"007", 1, 7, ""},
      {"\r5", 1, 5, ""},
      {"2147483647", 1, INT_MAX, ""},
      {"-2147483648", 1, INT_MIN, ""},
      // Beyond the range of an int the value is held at the nearest limit.
      {"2147483648", 1, INT_MAX, ""},
      {"-2147483649 2", 1, INT_MIN, "2"},
      {"99999999999999999999999999", 1, INT_MAX, ""},
      {"-99999999999999999999999999", 1, INT_MIN, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::string line = c.line;
    int out = 99;
    EXPECT_EQ(next_token_int(line, out), c.result);
    EXPECT_EQ(out, c.value);
    EXPECT_EQ(line, c.rest);
  }
}

TEST(TextTokensNumbers, IntTokensAgreeWithScanfWithinRange) {
  // Within the range of an int the conversion is the one of "%d" on the token.
  const std::vector<std::string> tokens = {"0",      "-0",   "+12", "12e3",  "1,5",   " 3",
                                           "-x",     "+-4",  "4-",  "\v-21", "65536", "-1a",
                                           "000000", "x-12", "+",   "--1"};
  for (const auto& t : tokens) {
    SCOPED_TRACE(t);
    std::string line = t;
    int out = 99;
    ASSERT_EQ(next_token_int(line, out), 1);
    // The token ends at the first separator.
    std::string token = t.substr(0, t.find_first_of(" \t,\n", t.find_first_not_of(" \t,\n")));
    int expected = 0;
    if (sscanf(token.c_str(), "%d", &expected) != 1) expected = 0;
    EXPECT_EQ(out, expected);
  }
}

TEST(TextTokensCardMatch, FirstWordsWithoutRegardToCase) {
  const std::string long_word(2000, 'k');
  std::string long_upper(2000, 'K');
  std::string long_other = long_upper;
  long_other.back() = 'L';
  struct card_case {
    std::string a;
    std::string b;
    int result;
  };
  const std::vector<card_case> cases = {
      {"Elevation  elev.asc", "ELEVATION", 1},
      {"ELEV", "ELEVATION", 0},
      {"ELEVATION", "ELEV", 0},
      {"\tgrid_rows 40\n", "GRID_ROWS", 1},
      {"\"Rain\" 3", "rain, more", 1},
      {"", "  ,\t", 1},
      {"", "x", 0},
      {"a b", "b a", 0},
      // Words far longer than any fixed buffer are compared whole.
      {long_word + " x", long_upper, 1},
      {long_word, long_other, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a.substr(0, 40) + " | " + c.b.substr(0, 40));
    EXPECT_EQ(card_match(c.a, c.b), c.result);
  }
  const std::string same = "Same word";
  EXPECT_EQ(card_match(same, same), 1);
}

TEST(TextTokensStrings, SkipFirstWord) {
  struct skip_case {
    const char* s;
    const char* rest;
  };
  const std::vector<skip_case> cases = {
      {"12 3.5 4", "3.5 4"},
      {"  \tid\t\tname x", "name x"},
      {"a,b c", "c"},
      {"id\n\nvalue", "value"},
      {"word", ""},
      {"word  \t", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s);
    const char* r = skip_first_word(c.s);
    // The result points into s.
    EXPECT_GE(r, c.s);
    EXPECT_LE(r, c.s + strlen(c.s));
    EXPECT_STREQ(r, c.rest);
  }
}

TEST(TextTokensStrings, DropLeading) {
  struct drop_case {
    const char* s;
    std::size_t n;
    int result;
    const char* rest;
  };
  const std::vector<drop_case> cases = {
      {"", 1, -1, ""},   {"abc", 1, 0, "bc"}, {"abc", 2, 0, "c"},
      {"abc", 3, 0, ""}, {"abc", 10, 0, ""},  {"a b", 1, 0, " b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.s) + " n=" + std::to_string(c.n));
    std::string s = c.s;
    EXPECT_EQ(str_drop_leading(s, c.n), c.result);
    EXPECT_EQ(s, c.rest);
    char buf[16];
    ASSERT_TRUE(copy_text(buf, sizeof buf, c.s));
    EXPECT_EQ(str_drop_leading(buf, c.n), c.result);
    EXPECT_STREQ(buf, c.rest);
  }
  EXPECT_EQ(str_drop_leading(static_cast<char*>(nullptr), 1), -1);
}

TEST(TextTokensStrings, StripQuotes) {
  struct strip_case {
    const char* s;
    const char* result;
  };
  const std::vector<strip_case> cases = {
      {"\"a\"", "a"}, {"\"a", "a"},     {"a\"", "a"},           {"\"", ""}, {"\"\"", ""},
      {"", ""},       {"a\"b", "a\"b"}, {"\"\"a\"\"", "\"a\""}, {"a", "a"}, {" \"a\" ", " \"a\" "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s);
    std::string s = c.s;
    str_strip_quotes(s);
    EXPECT_EQ(s, c.result);
    char buf[16];
    ASSERT_TRUE(copy_text(buf, sizeof buf, c.s));
    str_strip_quotes(buf);
    EXPECT_STREQ(buf, c.result);
  }
  str_strip_quotes(static_cast<char*>(nullptr));  // left alone, no crash
}

TEST(TextTokensStrings, CopyTextCutsSafelyIntoFixedBuffers) {
  // The buffer sits between guard bytes that must survive every copy.
  struct guarded {
    char before[8];
    char buf[256];
    char after[8];
  };
  guarded g;
  memset(&g, '#', sizeof g);
  const std::string long_name(2000, 'n');
  EXPECT_FALSE(copy_text(g.buf, sizeof g.buf, long_name.c_str()));
  EXPECT_EQ(std::string(g.buf), long_name.substr(0, 255));
  for (char c : g.before) EXPECT_EQ(c, '#');
  for (char c : g.after) EXPECT_EQ(c, '#');

  EXPECT_TRUE(copy_text(g.buf, sizeof g.buf, std::string(255, 'm').c_str()));
  EXPECT_EQ(std::string(g.buf), std::string(255, 'm'));
  EXPECT_TRUE(copy_text(g.buf, sizeof g.buf, "short"));
  EXPECT_STREQ(g.buf, "short");
  EXPECT_TRUE(copy_text(g.buf, sizeof g.buf, nullptr));
  EXPECT_STREQ(g.buf, "");

  char one[1] = {'z'};
  EXPECT_FALSE(copy_text(one, sizeof one, "ab"));
  EXPECT_EQ(one[0], '\0');
  EXPECT_TRUE(copy_text(one, sizeof one, ""));
  EXPECT_FALSE(copy_text(one, 0, "ab"));
}

}  // namespace

TEST(TextTokensReadLine, LineBeyondTheLongestIsRefusedWithItsFileAndNumber) {
  // The longest line is read whole (with a carriage return after it); one character more on
  // the second line stops the run naming the file and that line, without collecting it.
  torva_test::process_state_guard guard;
  torva_test::temp_dir dir;
  const std::string path = dir.file("wide.txt");
  const std::string longest(max_text_line, '7');
  torva_test::write_file(path, "first\n" + longest + "\r\n" + longest + "8\nlast\n");
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, path.c_str(), "r"));
  std::string line;
  ASSERT_EQ(read_text_line(line, h), 1);
  ASSERT_EQ(read_text_line(line, h), 1);
  EXPECT_EQ(line.size(), max_text_line);
  EXPECT_EQ(run_error.error_fatal, 0);
  torva_test::stdout_capture capture;
  EXPECT_EQ(read_text_line(line, h), 0);
  const std::string printed = capture.stop();
  EXPECT_TRUE(line.empty());
  EXPECT_NE(run_error.error_fatal, 0);
  EXPECT_NE(printed.find("Error: line 3 of the file " + path + " is longer than 8388608 " +
                         "characters.\n"),
            std::string::npos)
      << printed.substr(0, 200);
  file_handle_close(h);
}

TEST(TextTokensWholeNumbers, OnlyWholeNumbersAreRead) {
  struct whole_case {
    const char* text;
    bool whole;
    int value;
  };
  const whole_case cases[] = {
      {"12", true, 12},
      {"+12", true, 12},
      {"-3", true, -3},
      {"12.", true, 12},
      {"12.0", true, 12},
      {"12.000", true, 12},
      {"0", true, 0},
      {"2147483647", true, INT_MAX},
      {"-2147483648", true, INT_MIN},
      {"10abc", false, 0},
      {"10.9", false, 0},
      {"10.01", false, 0},
      {"1e12", false, 0},
      {"1000000000000", false, 0},
      {"2147483648", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"+-3", false, 0},
      {".5", false, 0},
      {" 12", false, 0},
      {"12 ", false, 0},
      {"0x10", false, 0},
      {"nan", false, 0},
  };
  for (const whole_case& c : cases) {
    SCOPED_TRACE(c.text);
    int out = -77;
    EXPECT_EQ(parse_whole_number(c.text, out), c.whole);
    EXPECT_EQ(out, c.whole ? c.value : -77);
  }
  // As a token: the value as typed comes back with the verdict, and the token is consumed.
  std::string line = "  7.0, 10abc\t";
  std::string typed;
  int out = 0;
  EXPECT_EQ(next_token_whole(line, out, typed), 1);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(typed, "7.0");
  EXPECT_EQ(next_token_whole(line, out, typed), -1);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(typed, "10abc");
  EXPECT_EQ(next_token_whole(line, out, typed), 0);
}

// The strict numbers: the whole text is the number or nothing is read. Trailing text, a second
// sign, blanks, overflow and the empty text are refused and leave the value unchanged.
TEST(TextTokens, StrictIntAndDoubleTakeTheWholeTextOrNothing) {
  struct int_case {
    const char* text;
    bool ok;
    int value;
  };
  const std::vector<int_case> ints = {
      {"12", true, 12},
      {"+12", true, 12},
      {"-3", true, -3},
      {"0", true, 0},
      {"007", true, 7},
      {"2147483647", true, INT_MAX},
      {"-2147483648", true, INT_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"12abc", false, 0},
      {"12.", false, 0},
      {"1.5", false, 0},
      {"1e3", false, 0},
      {" 12", false, 0},
      {"12 ", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"+-3", false, 0},
      {"--3", false, 0},
      {"0x10", false, 0},
      {"abc", false, 0},
  };
  for (const int_case& c : ints) {
    SCOPED_TRACE(c.text);
    int out = -77;
    EXPECT_EQ(parse_int(c.text, out), c.ok);
    EXPECT_EQ(out, c.ok ? c.value : -77);
  }

  struct double_case {
    const char* text;
    bool ok;
    double value;
  };
  const std::vector<double_case> doubles = {
      {"1.5", true, 1.5},
      {"+1.5", true, 1.5},
      {"-2.25", true, -2.25},
      {"-.5", true, -0.5},
      {"4.", true, 4.0},
      {"12", true, 12.0},
      {"2e-3", true, 0.002},
      {"2E+3", true, 2000.0},
      {"-1.25e2", true, -125.0},
      {"0x1p3", true, 8.0},
      {"-0X1.8p1", true, -3.0},
      {"1e-400", true, 0.0},
      {"1.7976931348623157e308", true, 1.7976931348623157e308},
      {"1e999", false, 0},
      {"-1e999", false, 0},
      {"inf", false, 0},
      {"-infinity", false, 0},
      {"nan", false, 0},
      {"12abc", false, 0},
      {"1.5.2", false, 0},
      {"1e", false, 0},
      {"e3", false, 0},
      {".", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"+-1", false, 0},
      {"0x", false, 0},
      {"0x-1p3", false, 0},
      {" 1.5", false, 0},
      {"1.5 ", false, 0},
  };
  for (const double_case& c : doubles) {
    SCOPED_TRACE(c.text);
    double out = -77.0;
    EXPECT_EQ(parse_double(c.text, out), c.ok);
    EXPECT_EQ(out, c.ok ? c.value : -77.0);
  }

  // As tokens: each is consumed with its separators whether or not it is a number, and the
  // end of the line reads as no number.
  std::string line = " 42, 3.5e1\t12abc \"7\"";
  int i = 0;
  double d = 0.0;
  EXPECT_TRUE(take_int(line, i));
  EXPECT_EQ(i, 42);
  EXPECT_TRUE(take_double(line, d));
  EXPECT_EQ(d, 35.0);
  EXPECT_FALSE(take_double(line, d));
  EXPECT_EQ(d, 35.0);
  EXPECT_TRUE(take_int(line, i));
  EXPECT_EQ(i, 7);
  EXPECT_FALSE(take_int(line, i));
  EXPECT_FALSE(take_double(line, d));
  EXPECT_EQ(i, 7);
}
