// Sacramento parameter file: the header line, then one card per line (a keyword and its value)
// until the basin's seventeen parameters have been read; the values are checked, the starting
// fractions become depths, and with TOPO_INDEX the topographic index of every cell is computed.
// Called by the start-up's grid-input reader (open_sacramento_params).
#include "subsurface/sacramento_input.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "subsurface/sacramento.h"
#include "subsurface/subsurface_steps.h"

namespace {

constexpr int sac_parameter_cards = 17;

struct card_row {
  const char* keyword;
  int code;
};
constexpr card_row card_rows[] = {
    {"torva_sacramento", 0},
    {"uztwm", 1},
    {"uzfwm", 2},
    {"uzk", 3},
    {"zperc", 4},
    {"rexp", 5},
    {"lztwm", 6},
    {"lzfsm", 7},
    {"lzfpm", 8},
    {"lzsk", 9},
    {"lzpk", 10},
    {"pfree", 11},
    {"uztwc", 12},
    {"uzfwc", 13},
    {"lztwc", 14},
    {"lzfsc", 15},
    {"lzfpc", 16},
    {"num_basins", 17},
    {"basin", 18},
    {"saved", 19},
};

const char* card_keyword(int code) {
  for (const card_row& row : card_rows)
    if (row.code == code) return row.keyword;
  return "";
}

// The value of a card, by its code, in the basin's record.
double* card_value(sac_basin_params& p, int code) {
  double* const values[] = {nullptr,  &p.uztwm, &p.uzfwm, &p.uzk,   &p.zperc, &p.rexp,
                            &p.lztwm, &p.lzfsm, &p.lzfpm, &p.lzsk,  &p.lzpk,  &p.pfree,
                            &p.uztwc, &p.uzfwc, &p.lztwc, &p.lzfsc, &p.lzfpc};
  if (code >= 1 && code <= 16) return values[code];
  if (code == 19) return &p.saved;
  return nullptr;
}

void program_terminated_stderr(const char* last) {
  fprintf(stderr, "%s", last);
  raise_own_message();
}

// A fraction of a store's capacity outside [0, 1] is moved inside, with a warning.
void clamp_fraction(double& v, const char* warning) {
  if (v > 1.0) {
    v = 0.99;
    fprintf(stderr, "%s", warning);
  } else if (v < 0.0) {
    v = 0.01;
    fprintf(stderr, "%s", warning);
  }
}

// A depletion rate outside [0, 1] is replaced, with a warning.
void clamp_rate(double& v, const char* warning) {
  if (v > 1.0) {
    v = 0.5;
    fprintf(stderr, "%s", warning);
  } else if (v < 0.0) {
    v = 0.05;
    fprintf(stderr, "%s", warning);
  }
}

// The limits the accounting needs: capacities that divide are positive (and of soil size), the
// percolation factors are not negative (nor so large that the demand overflows), the free share
// of percolation is a fraction.
bool values_in_range(const sac_basin_params& p, const char* file) {
  struct limit {
    const char* name;
    double value;
    double low;
    bool low_open;  // the value must lie above `low` (else at or above)
    double high;    // no upper limit when infinite
    const char* range;
  };
  const double none = HUGE_VAL;
  // Ten metres of water in one store is far beyond any soil; the bound keeps the step's
  // increments countable.
  const double max_capacity = 10000.0;
  const limit limits[] = {
      {"uztwm", p.uztwm, 0.0, true, max_capacity, "above 0 and at most 10000 mm"},
      {"uzfwm", p.uzfwm, 0.0, true, max_capacity, "above 0 and at most 10000 mm"},
      {"lztwm", p.lztwm, 0.0, true, max_capacity, "above 0 and at most 10000 mm"},
      {"lzfsm", p.lzfsm, 0.0, true, max_capacity, "above 0 and at most 10000 mm"},
      {"lzfpm", p.lzfpm, 0.0, true, max_capacity, "above 0 and at most 10000 mm"},
      {"zperc", p.zperc, 0.0, false, 1e6, "from 0 to 1000000"},
      {"rexp", p.rexp, 0.0, false, 100.0, "from 0 to 100"},
      {"pfree", p.pfree, 0.0, false, 1.0, "from 0 to 1"},
      {"saved", p.saved, 0.0, false, none, "0 mm or more"},
  };
  for (const limit& l : limits) {
    const bool low_ok = l.low_open ? l.value > l.low : l.value >= l.low;
    if (low_ok && l.value <= l.high) continue;
    printf("Error: in the Sacramento parameter file %s, %s = %g is out of range: it must be %s.\n",
           file, l.name, l.value, l.range);
    raise_own_message();
    return false;
  }
  return true;
}

}  // namespace

int sacramento_card_code(std::string& line) {
  std::string token;
  if (!next_token(line, token)) return 20;
  for (char& ch : token) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (const card_row& row : card_rows)
    if (token == row.keyword) return row.code;
  return 20;
}

void read_sacramento_input(model_state& ms, file_handle& params, int topo_option) {
  subsurface_state& ss = ms.subsurface;
  const char* file = ms.input.names.sacramento[0] != '\0' ? ms.input.names.sacramento : params.path;
  std::string line;
  std::string first;
  if (!read_text_line(line, params) || !next_token(line, first) ||
      first.compare(0, 16, "TORVA_SACRAMENTO") != 0) {
    if (run_error.error_fatal) return;
    fprintf(stderr, "The specified Sacramento model input parameter file does not\n");
    fprintf(stderr, "have the proper header: TORVA_SACRAMENTO \n");
    fprintf(stderr, "(file %s)\n", file);
    program_terminated_stderr("Program terminated in read_sacramento\n");
    return;
  }

  sac_basin_params p;
  bool seen[21] = {};
  int count = 0;
  while (count < sac_parameter_cards) {
    if (!read_text_line(line, params)) {
      if (run_error.error_fatal) return;
      printf("Premature end-of-file in the Sacramento parameter input file.\n");
      printf("The channel input file does not contain all the required parameters.\n");
      printf("The file should contain 21 parameters.  Only %d parameters read.\n", count);
      printf("Missing from %s:", file);
      for (int code = 1; code <= 19; ++code)
        if (code != 17 && code != 18 && !seen[code]) printf(" %s", card_keyword(code));
      printf("\n");
      printf("Program terminated in read_sacramento_input.\n");
      raise_own_message();
      return;
    }
    const int code = sacramento_card_code(line);
    if (code == 0 || code == 20) continue;
    if (code != 18 && seen[code]) {
      fprintf(stderr, "Duplicate cards read in Sacramento parameter file.\n");
      fprintf(stderr, "There should be only 21 different cards in the file\n");
      fprintf(stderr, "with no duplicates.\n");
      fprintf(stderr, "(%s given twice in %s)\n", card_keyword(code), file);
      program_terminated_stderr("Program terminated in read_sacramento\n");
      return;
    }
    seen[code] = true;
    std::string token;
    next_token(line, token);
    if (code == 17 || code == 18) {
      int n = 0;
      if (!parse_whole_number(token, n)) {
        printf(
            "Error: in the Sacramento parameter file %s, %s needs a whole number, not "
            "\"%s\".\n",
            file, card_keyword(code), token.c_str());
        raise_own_message();
        return;
      }
      // One lumped basin is modelled.
      if (code == 17) {
        if (n != 1) {
          printf(
              "Error: in the Sacramento parameter file %s, num_basins = %d: the model runs "
              "one basin, so it must be 1.\n",
              file, n);
          raise_own_message();
          return;
        }
        ss.sac_num_basins = n;
      }
      continue;
    }
    double value = 0.0;
    if (!parse_double(token, value)) {
      printf("Error: in the Sacramento parameter file %s, %s needs a number, not \"%s\".\n", file,
             card_keyword(code), token.c_str());
      raise_own_message();
      return;
    }
    *card_value(p, code) = value;
    ++count;
  }

  // The starting fractions inside [0, 1], then depths.
  clamp_fraction(p.uztwc, "WARNING:uztwc changed!\n");
  clamp_fraction(p.uzfwc, "WARNING:uzfwc changed!\n");
  clamp_fraction(p.lztwc, "WARNING:lztwc changed!\n");
  clamp_fraction(p.lzfsc, "WARNING:lzfsc changed!\n");
  clamp_fraction(p.lzfpc, "WARNING:lzfpc changed!\n");
  if (!values_in_range(p, file)) return;
  p.uztwc *= p.uztwm;
  p.uzfwc *= p.uzfwm;
  p.lztwc *= p.lztwm;
  p.lzfsc *= p.lzfsm;
  p.lzfpc *= p.lzfpm;
  clamp_rate(p.uzk, "WARNING:uzk changed!\n");
  clamp_rate(p.lzsk, "WARNING:lzsk changed!\n");
  clamp_rate(p.lzpk, "WARNING:lzpk changed!\n");
  if (p.saved > p.lzfpc) {
    p.saved = p.lzfpc;
    fprintf(stderr, "WARNING:saved changed!\n");
  }
  p.pbase = p.lzfpm * p.lzpk + p.lzfsm * p.lzsk;
  ss.sac_params = p;
  ss.sac_basin_area = ms.cell_count * ms.gridsize * ms.gridsize;

  if (!topo_option) return;
  if (ss.topo_dex_values.empty() || ms.cell_elev.empty() || ms.index_map.empty()) {
    printf("Error: the topographic index of TOPO_INDEX has no grid to work on.\n");
    raise_own_message();
    return;
  }
  const topodex_status status =
      topodex(ms.cell_elev, ms.index_map, ms.rows, ms.cols, ms.gridsize, ss.topo_dex_values);
  if (status == topodex_status::negative_index) {
    printf("Warning: topodex routine has computed a negative topodex value\n");
    printf("Check your input elevation file for large flat areas with\n");
    printf("either the exact same elevation or nearly so (~0.0000x)\n");
    printf("want to do this, you can remove the TOPO_INDEX card from your\n");
    printf("TORVA project file, and the TORVA Sacramento Routine will the\n");
    printf("simply put its output into the channels uniformly.\n");
    printf("Program terminated.\n");
    raise_own_message();
  }
}
