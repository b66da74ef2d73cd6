// The whole-run harnesses' driver: the model's own steps with the time loop cut after a few
// passes.
#include "fuzz/common/run_harness.h"

#include <cstring>

#include "framework/model_state.h"
#include "run/run_driver.h"

namespace torva_fuzz {

namespace {

// Passes made by the current run's time loop.
int& passes() {
  static int count = 0;
  return count;
}

void pass_limit(model_state& ms) {
  if (++passes() >= run_pass_limit) ms.run_flag = 0;
}

run_steps bounded_steps() {
  run_steps steps = default_run_steps();
  for (loop_step& step : steps.time_loop)
    if (std::strcmp(step.name, "print_progress_line") == 0) step.fn = pass_limit;
  return steps;
}

}  // namespace

std::vector<fuzz_file> small_watershed(const std::string& cards) {
  const std::string header =
      "north: 1090.00\nsouth: 1000.00\neast: 2120.00\nwest: 2000.00\nrows: 3\ncols: 4\n";
  return {
      {"run.prj",
       "TORVAPROJECT\n"
       "WATERSHED_MASK mask.asc\nELEVATION elev.asc\nSUMMARY run_summary.out\n"
       "OUTLET_HYDRO run_outlet.out\nROWS 3\nCOLS 4\nGRIDSIZE 30.0\nSTART_DATE 2005 3 14\n"
       "START_TIME 6 30\nTIMESTEP 600.0\nTOT_TIME 120\nOUTROW 3\nOUTCOL 3\nOUTSLOPE 0.002\n"
       "HYD_FREQ 10\nMAP_FREQ 60\nOVERTYPE explicit\n" +
           cards},
      {"mask.asc", header + "1 1 1 0\n1 1 1 1\n0 1 1 1\n"},
      {"elev.asc", header + "10.6 10.4 10.5 0.0\n10.4 10.2 10.1 10.3\n0.0 10.1 10.0 10.2\n"},
  };
}

void run_project_bounded(const char* project) {
  static const run_steps steps = bounded_steps();
  passes() = 0;
  run_project(project, nullptr, steps);
}

}  // namespace torva_fuzz
