// The whole-run harnesses: a project is run the way the program runs it (every start-up step,
// then the time loop), with the time loop cut after a few passes so that an input with a long
// simulation time fuzzes as fast as a short one.
#pragma once

#include <string>
#include <vector>

#include "fuzz/common/fuzz_support.h"

namespace torva_fuzz {

// Passes of the time loop a fuzzed run makes at most.
inline constexpr int run_pass_limit = 12;

// Runs the project file `project` (in the fuzz folder) with the model's own steps; the progress
// line of the time loop is replaced by the pass limit. A run that ends with its message is a
// normal end.
void run_project_bounded(const char* project);

// A small watershed of 3 rows by 4 columns of 30 m cells (ten of them inside) draining to the
// outlet at row 3, column 3 under 10 minute steps for two hours: the project file "run.prj"
// with `cards` appended, its mask "mask.asc" and elevation "elev.asc".
std::vector<fuzz_file> small_watershed(const std::string& cards);

}  // namespace torva_fuzz
