// The aquatic environment file: a file of three environments read back record by record (a full
// block, a DEFAULT block, a block with short lines and mixed separators), the header and map-name
// rules, and every fault stopping the read with a message naming the file, the line and the
// field.
#include <gtest/gtest.h>

#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "support/test_support.h"
#include "transport/nutrients/aquatic_env.h"
#include "transport/nutrients/nsm_model_state.h"

using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// The slots of the ten value lines of a block: lines 1 and 2 the even and odd slots of 0..13,
// lines 3 to 6 those of 14..21 and 22..29, lines 7 and 8 those of 30..43, lines 9 and 10 the
// slots 44..47 and 48..51 in order.
std::vector<std::vector<int>> layout() {
  std::vector<std::vector<int>> lines;
  auto pairs = [&](int first, int count) {
    std::vector<int> a, b;
    for (int i = 0; i < count; ++i) {
      a.push_back(first + 2 * i);
      b.push_back(first + 2 * i + 1);
    }
    lines.push_back(a);
    lines.push_back(b);
  };
  pairs(0, 7);
  pairs(14, 4);
  pairs(22, 4);
  pairs(30, 7);
  lines.push_back({44, 45, 46, 47});
  lines.push_back({48, 49, 50, 51});
  return lines;
}

// A block whose every slot s holds id x 1000 + s + 0.5.
std::string full_block(int id) {
  std::string text = std::to_string(id) + "  environment " + std::to_string(id) + "\n";
  for (const std::vector<int>& line : layout()) {
    for (std::size_t k = 0; k < line.size(); ++k)
      text += (k > 0 ? " " : "") + std::to_string(id * 1000 + line[k]) + ".5";
    text += "\n";
  }
  return text;
}

struct read_result {
  bool ok = false;
  std::string out;
};

read_result read(const std::string& text, nsm_aquatic_env& env) {
  write_file("aq.txt", text);
  stdout_capture capture;
  read_result r;
  r.ok = aqenv_read_file("aq.txt", env);
  r.out = capture.stop();
  return r;
}

TEST(AquaticEnvFile, ThreeEnvironmentsReadBackRecordByRecord) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  // Id 3 first, then 1 as DEFAULT, then 2 with a short first line and commas and tabs.
  std::string id2 = "2\n1.5,2.5\t3.5\n";
  for (int line = 2; line <= 10; ++line) {
    const std::size_t count = layout()[static_cast<std::size_t>(line - 1)].size();
    for (std::size_t k = 0; k < count; ++k) id2 += (k > 0 ? ", " : "") + std::to_string(line);
    id2 += "\n";
  }
  const std::string text =
      "AQUATIC_ENV_NSM10 written by hand\nOV_MAP \"ov ids.asc\"\n"
      "NUM_IDS 3\nID  PARAMETERS\n" +
      full_block(3) + "\n1\nDEFAULT\n\n" + id2 + "ST_MAP st.asc\n";
  nsm_aquatic_env env;
  const read_result r = read(text, env);
  ASSERT_TRUE(r.ok) << r.out;
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(env.ov_map, "ov ids.asc");
  EXPECT_EQ(env.st_map, "st.asc");
  ASSERT_EQ(env.num_ids, 3);
  for (int s = 0; s < nsm_aq_param_count; ++s) {
    EXPECT_EQ(env.params[1][s], 0.0) << "DEFAULT slot " << s;
    EXPECT_EQ(env.params[3][s], 3000.0 + s + 0.5) << "slot " << s;
  }
  // Id 2: line 1 gives slots 0, 2, 4 and nothing more, so 6..12 are 0; every other line's
  // values are its number.
  const std::vector<std::vector<int>> lines = layout();
  for (std::size_t line = 0; line < lines.size(); ++line) {
    for (std::size_t k = 0; k < lines[line].size(); ++k) {
      double expected = static_cast<double>(line + 1);
      if (line == 0) expected = k < 3 ? 1.5 + static_cast<double>(k) : 0.0;
      EXPECT_EQ(env.params[2][lines[line][k]], expected) << "line " << line + 1 << " value " << k;
    }
  }
}

TEST(AquaticEnvFile, HeaderAndMapNameRules) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  struct row {
    const char* first_line;
    bool valid;
  };
  const row headers[] = {{"AQUATIC_ENV_NSM10", true},
                         {"AQUATIC_ENV_NSM10 version two", true},
                         {"AQUATIC_ENV_NSM1", false},
                         {"aquatic_env_nsm10", false},
                         {"", false}};
  for (const row& h : headers) {
    write_file("aq.txt", std::string(h.first_line) + "\nNUM_IDS 0\n");
    file_handle f;
    ASSERT_TRUE(file_handle_open(f, "aq.txt", "r"));
    EXPECT_EQ(aqenv_read_header(f), h.valid) << h.first_line;
  }
  // Two OV_MAP lines and no ST_MAP: the search stops at the second, which counts.
  write_file("aq.txt", "AQUATIC_ENV_NSM10\nOV_MAP a.asc\nOV_MAP b.asc\nNUM_IDS 0\n");
  file_handle f;
  ASSERT_TRUE(file_handle_open(f, "aq.txt", "r"));
  nsm_aquatic_env env;
  EXPECT_EQ(aqenv_read_maps(f, env), 2);
  EXPECT_EQ(env.ov_map, "b.asc");
  EXPECT_EQ(env.st_map, "");
  // NUM_IDS after the maps is still found, and the block after its heading line is read.
  EXPECT_EQ(aqenv_read_num_ids(f, env, "aq.txt"), 1);
  EXPECT_EQ(env.num_ids, 0);
}

TEST(AquaticEnvFile, FaultsStopTheReadNamingFileLineAndField) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const std::string head = "AQUATIC_ENV_NSM10\nOV_MAP ov.asc\nNUM_IDS 2\nheading\n";
  std::string nine_lines;
  for (int line = 2; line <= 10; ++line) nine_lines += "1 2 3 4\n";
  struct row {
    const char* what;
    std::string text;  // empty: no file at all
    std::string message;
  };
  const row rows[] = {
      {"no file", "", "Error: unable to open the aquatic environment file aq.txt.\n"},
      {"wrong header", "AQUATIC_ENV_NSM9\nNUM_IDS 1\n",
       " The aquatic environment file specified is: aq.txt\n The header should be : "
       "AQUATIC_ENV_NSM10"},
      {"an id beyond NUM_IDS", head + "3\nDEFAULT\n",
       "Error: An index [3] in the aquatic environment table is greater than the\nnumber of IDs "
       "specified [2]\n"},
      {"an id that is no number", head + "two\nDEFAULT\n",
       "Error: line 5 of the aquatic environment file aq.txt: the environment id \"two\" is not a "
       "whole number of at least 1.\n"},
      {"an id of 0", head + "0\nDEFAULT\n", "the environment id \"0\" is not a whole number"},
      {"a value that is no number", head + "1\n1 2 x3 4\n" + nine_lines,
       "Error: line 6 of the aquatic environment file aq.txt (id 1, value line 1): value 3 \"x3\" "
       "is not a number.\n"},
      {"a line with too many values", head + "1\n1 2 3 4 5 6 7\n1 2 3 4 5 6 7\n1 2 3 4 5\n",
       "Error: line 8 of the aquatic environment file aq.txt (id 1, value line 3) holds more than "
       "its 4 values: \"5\".\n"},
      {"no NUM_IDS", "AQUATIC_ENV_NSM10\nOV_MAP ov.asc\n1\nDEFAULT\n",
       "Error: the aquatic environment file aq.txt has no NUM_IDS line"},
      {"a negative NUM_IDS", "AQUATIC_ENV_NSM10\nNUM_IDS -2\n",
       "Error: line 2 of the aquatic environment file aq.txt: NUM_IDS \"-2\" is not a count of 0 "
       "to 10000.\n"},
      {"NUM_IDS beyond the ids a map can hold", "AQUATIC_ENV_NSM10\nNUM_IDS 10001\n",
       "NUM_IDS \"10001\" is not a count of 0 to 10000.\n"},
      {"NUM_IDS that is no number", "AQUATIC_ENV_NSM10\nNUM_IDS 2.5\n",
       "NUM_IDS \"2.5\" is not a count"},
  };
  for (const row& r : rows) {
    run_error = error_state{};
    std::remove("aq.txt");
    nsm_aquatic_env env;
    read_result got;
    if (r.text.empty()) {
      stdout_capture capture;
      got.ok = aqenv_read_file("aq.txt", env);
      got.out = capture.stop();
    } else {
      got = read(r.text, env);
    }
    EXPECT_FALSE(got.ok) << r.what;
    EXPECT_NE(run_error.error_fatal, 0) << r.what;
    EXPECT_NE(got.out.find(r.message), std::string::npos) << r.what << "\n" << got.out;
  }
}

// A file that ends inside a block keeps what it read; a later block for the same id overwrites
// the earlier one slot by slot.
TEST(AquaticEnvFile, AnEndInsideABlockKeepsWhatWasReadAndLaterBlocksOverwrite) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  nsm_aquatic_env env;
  std::string first = "1\n";
  for (const std::vector<int>& line : layout()) {
    for (std::size_t k = 0; k < line.size(); ++k) first += "9 ";
    first += "\n";
  }
  const read_result r =
      read("AQUATIC_ENV_NSM10\nNUM_IDS 1\nheading\n" + first + "1\n7 7 7\n8 8\n", env);
  ASSERT_TRUE(r.ok) << r.out;
  const std::vector<std::vector<int>> lines = layout();
  for (std::size_t k = 0; k < 7; ++k) {
    EXPECT_EQ(env.params[1][lines[0][k]], k < 3 ? 7.0 : 0.0) << "line 1 value " << k;
    EXPECT_EQ(env.params[1][lines[1][k]], k < 2 ? 8.0 : 0.0) << "line 2 value " << k;
  }
  // The lines the second block never reached keep the first block's values.
  for (std::size_t line = 2; line < lines.size(); ++line)
    for (int slot : lines[line]) EXPECT_EQ(env.params[1][slot], 9.0) << "slot " << slot;
}

}  // namespace
