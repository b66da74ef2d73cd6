// Aquatic environment file of the nutrient sub-model: the header, the two id-map names, NUM_IDS
// and the parameter blocks of every environment id, read by the nutrient start-up before the
// nutrient media are allocated.
#include "transport/nutrients/aquatic_env.h"

#include <cstdio>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "transport/nutrients/nsm_model_state.h"

namespace {

// The slots each of the ten value lines of a block fills, in order (-1 ends a line).
constexpr int block_slots[10][8] = {{0, 2, 4, 6, 8, 10, 12, -1},
                                    {1, 3, 5, 7, 9, 11, 13, -1},
                                    {14, 16, 18, 20, -1},
                                    {15, 17, 19, 21, -1},
                                    {22, 24, 26, 28, -1},
                                    {23, 25, 27, 29, -1},
                                    {30, 32, 34, 36, 38, 40, 42, -1},
                                    {31, 33, 35, 37, 39, 41, 43, -1},
                                    {44, 45, 46, 47, -1},
                                    {48, 49, 50, 51, -1}};

bool starts_with(const std::string& line, const char* word, std::size_t n) {
  return line.compare(0, n, word, n) == 0 && line.size() >= n;
}

// The keyword's argument: the second word of the line as a token.
std::string argument(const std::string& line) {
  std::string rest = skip_first_word(line.c_str());
  std::string token;
  next_token(rest, token);
  str_strip_quotes(token);
  return token;
}

bool blank(const std::string& line) {
  return line.find_first_not_of(" \t,\r") == std::string::npos;
}

// A line of a keyword that may stand anywhere in the file, not an id block's.
bool keyword_line(const std::string& line) {
  return starts_with(line, aqenv_header, 17) || starts_with(line, "OV_MAP", 6) ||
         starts_with(line, "ST_MAP", 6) || starts_with(line, "NUM_IDS", 7);
}

void rewind_file(file_handle& h) {
  std::rewind(h.fp);
  h.lines_read = 0;
}

// One value line of a block into the slots of row `slots`: a missing value stores 0.
bool read_value_line(std::string line, const int* slots, double* record, const char* file,
                     long line_no, int id, int value_line) {
  int k = 0;
  for (; slots[k] >= 0; ++k) {
    std::string token;
    std::string probe = line;
    if (next_token(probe, token) == 0) break;
    double v = 0.0;
    if (!take_double(line, v)) {
      stop_with_message(
          "Error: line %ld of the aquatic environment file %s (id %d, value line %d): value %d "
          "\"%s\" is not a number.\n",
          line_no, file, id, value_line, k + 1, token.c_str());
      return false;
    }
    record[slots[k]] = v;
  }
  for (int rest = k; slots[rest] >= 0; ++rest) record[slots[rest]] = 0.0;
  std::string token;
  if (next_token(line, token) != 0) {
    stop_with_message(
        "Error: line %ld of the aquatic environment file %s (id %d, value line %d) holds more "
        "than its %d values: \"%s\".\n",
        line_no, file, id, value_line, k, token.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool aqenv_read_header(file_handle& h) {
  rewind_file(h);
  std::string line;
  if (read_text_line(line, h) == 0) return false;
  return starts_with(line, aqenv_header, 17);
}

int aqenv_read_maps(file_handle& h, nsm_aquatic_env& env) {
  rewind_file(h);
  int seen = 0;
  std::string line;
  while (seen < 2 && read_text_line(line, h) != 0) {
    if (starts_with(line, "OV_MAP", 6)) {
      env.ov_map = argument(line);
      ++seen;
    } else if (starts_with(line, "ST_MAP", 6)) {
      env.st_map = argument(line);
      ++seen;
    }
  }
  return seen;
}

int aqenv_read_num_ids(file_handle& h, nsm_aquatic_env& env, const char* file) {
  rewind_file(h);
  std::string line;
  while (read_text_line(line, h) != 0) {
    if (!starts_with(line, "NUM_IDS", 7)) continue;
    const std::string word = argument(line);
    int n = 0;
    if (!parse_int(word, n) || n < 0 || n > aqenv_max_ids) {
      stop_with_message(
          "Error: line %ld of the aquatic environment file %s: NUM_IDS \"%s\" is not a count of "
          "0 to %d.\n",
          h.lines_read, file, word.c_str(), aqenv_max_ids);
      return -1;
    }
    env.num_ids = n;
    if (!env.params.allocate(n, nsm_aq_param_count - 1)) {
      stop_with_message("Error allocating memory for variable %s\n", "aquatic environment ids");
      return -1;
    }
    return 1;
  }
  return 0;
}

bool aqenv_read_params(file_handle& h, nsm_aquatic_env& env, const char* file) {
  std::string line;
  if (read_text_line(line, h) == 0) return run_error.error_fatal == 0;  // the heading line
  while (read_text_line(line, h) != 0) {
    if (blank(line) || keyword_line(line)) continue;
    const long id_line = h.lines_read;
    std::string rest = line;
    std::string word;
    next_token(rest, word);
    int id = 0;
    if (!parse_int(word, id) || id < 1) {
      stop_with_message(
          "Error: line %ld of the aquatic environment file %s: the environment id \"%s\" is not "
          "a whole number of at least 1.\n",
          id_line, file, word.c_str());
      return false;
    }
    if (id > env.num_ids) {
      set_error_values(id, env.num_ids);
      report_error_now(err_aquatic_env_index_beyond_ids);
      return false;
    }
    double* record = env.params[id];
    for (int v = 0; v < 10; ++v) {
      if (read_text_line(line, h) == 0) return run_error.error_fatal == 0;
      if (v == 0 && starts_with(line, "DEFAULT", 7)) {
        for (int s = 0; s < nsm_aq_param_count; ++s) record[s] = 0.0;
        break;
      }
      if (!read_value_line(line, block_slots[v], record, file, h.lines_read, id, v + 1))
        return false;
    }
  }
  return run_error.error_fatal == 0;
}

bool aqenv_read_file(const char* file, nsm_aquatic_env& env) {
  printf("Reading the aquatic environment file %s.\n", file);
  file_handle h;
  if (!file_handle_open(h, file, "r")) {
    report_file_error_now(err_aquatic_env_not_open, nullptr, file);
    return false;
  }
  if (!aqenv_read_header(h)) {
    file_handle_close(h);
    report_file_error_now(err_aquatic_env_header_invalid, aqenv_header, file);
    return false;
  }
  aqenv_read_maps(h, env);
  const int found = aqenv_read_num_ids(h, env, file);
  if (found < 0) return false;
  if (found == 0) {
    file_handle_close(h);
    stop_with_message(
        "Error: the aquatic environment file %s has no NUM_IDS line: give the number of "
        "environment ids before their blocks.\n",
        file);
    return false;
  }
  const bool ok = aqenv_read_params(h, env, file);
  file_handle_close(h);
  return ok;
}
