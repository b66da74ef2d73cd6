// Monte Carlo and sensitivity runs (modes -m and -s): each run draws its parameters uniformly
// between the bounds of the input file, runs the model through the model-run callback, is
// logged and recorded; the run with the smallest absolute cost is reported. Over several
// processes every process takes its share of one sequence of draws.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "calibration/calibration_drivers.h"
#include "calibration/process_spread.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "input/input_steps.h"

namespace {

// A file name of the input file: the line's first token, which must be there and fit.
bool take_name(std::string& line, std::string& out, const char* file, long line_no,
               const char* what) {
  if (next_token(line, out) == 0) {
    printf("Error: Monte Carlo input file %s, line %ld: the %s file name is missing.\n", file,
           line_no, what);
    return false;
  }
  if (out.size() >= 200) {
    printf(
        "Error: Monte Carlo input file %s, line %ld: the %s file name is 200 characters or "
        "longer.\n",
        file, line_no, what);
    return false;
  }
  return true;
}

// The seed of the draws: TORVA_RANDOM_SEED when the environment sets it (a whole number), else
// the calendar time; the root's seed is shared by every process.
unsigned draw_seed(const process_context& info) {
  unsigned seed = static_cast<unsigned>(time(nullptr));
  const char* text = getenv("TORVA_RANDOM_SEED");
  int value = 0;
  if (text != nullptr && parse_int(text, value)) seed = static_cast<unsigned>(value);
  return shared_seed(seed, info);
}

}  // namespace

montecarlo::montecarlo(int run_count, const char* input_file, process_context& info)
    : process(&info), runs(run_count) {
  read_input(input_file);
  if (!loaded) return;
  draws.seed(draw_seed(info));
  // Every process draws the whole sequence and keeps its own share of it, so the runs of
  // several processes are the runs one process would make.
  first_run = runs * info.process_rank;
  root = info.process_index == 0 ? 1 : 0;
  best.assign(param_count + 1, 0.0);
  objective_load(obj, observation_file.c_str());
}

montecarlo::~montecarlo() {
  file_handle_close(log_file);
}

void montecarlo::read_input(const char* input_file) {
  loaded = 0;
  file_handle h;
  if (input_file == nullptr || !file_handle_open(h, input_file, "r")) return;
  std::string line;
  std::string* names[3] = {&project_file, &replace_file, &observation_file};
  const char* what[3] = {"project", "replacement parameter", "observation"};
  for (int k = 0; k < 3; ++k) {
    if (read_text_line(line, h) == 0) {
      printf("Error: Monte Carlo input file %s ends before the %s file name (line %d).\n",
             input_file, what[k], k + 1);
      return;
    }
    if (!take_name(line, *names[k], input_file, h.lines_read, what[k])) return;
  }
  if (read_text_line(line, h) == 0 || !take_int(line, param_count) || param_count < 1) {
    printf(
        "Error: Monte Carlo input file %s, line 4: the number of parameters must be a whole "
        "number of 1 or more.\n",
        input_file);
    return;
  }
  // Lines are kept as they are read, so a count beyond the lines the file holds takes no memory.
  min.assign(1, 0.0);
  max.assign(1, 0.0);
  for (int i = 1; i <= param_count; ++i) {
    min.push_back(0.0);
    max.push_back(0.0);
    if (read_text_line(line, h) == 0) {
      printf("Error: Monte Carlo input file %s ends after %d of its %d parameter lines.\n",
             input_file, i - 1, param_count);
      return;
    }
    const long at = h.lines_read;
    if (!take_double(line, min[i])) {
      printf("Error: Monte Carlo input file %s, line %ld: parameter %d needs its least value.\n",
             input_file, at, i);
      return;
    }
    // One value, or one followed by "#", holds the parameter fixed.
    std::string rest = line;
    std::string token;
    const bool more = next_token(rest, token) != 0;
    if (!more || token[0] == '#') {
      max[i] = min[i];
    } else if (!take_double(line, max[i])) {
      printf(
          "Error: Monte Carlo input file %s, line %ld: the greatest value of parameter %d is "
          "not a number: %s\n",
          input_file, at, i, token.c_str());
      return;
    } else if (max[i] < min[i]) {
      printf(
          "Error: Monte Carlo input file %s, line %ld: the greatest value of parameter %d "
          "(%g) is below its least value (%g).\n",
          input_file, at, i, max[i], min[i]);
      return;
    }
  }
  current.assign(param_count + 1, 0.0);
  loaded = 1;
}

void montecarlo::draw_parameters() {
  current[0] = 0.0;
  for (int i = 1; i <= param_count; ++i)
    current[i] = min[i] + (max[i] - min[i]) * (draws.draw() * (1.0 / 32768.0));
}

void montecarlo::log_run(double cost) {
  if (!root) return;
  if (!log_file.is_open()) {
    char name[64];
    snprintf(name, sizeof name, "log_file_p%d.log", process->merge_field1);
    const bool exists = planned_file_key(name, true).rfind("id:", 0) == 0;
    if (!file_handle_open(log_file, name, exists ? "a" : "w")) return;
    if (!exists) {
      fprintf(log_file.fp, "Cost  \t");
      // The list of the last trial was freed with its run: read it again for the names.
      read_replace_params(replace_file.c_str());
      for (const replace_param* p = replace_list; p != nullptr; p = p->param_next)
        fprintf(log_file.fp, "%s\t", p->param_tag.c_str());
      replace_free_all();
      fprintf(log_file.fp, "\n");
    }
  }
  fprintf(log_file.fp, "%lf\t", cost);
  for (int i = 1; i <= param_count; ++i) fprintf(log_file.fp, "%le\t", current[i]);
  fprintf(log_file.fp, "\n");
  fflush(log_file.fp);
}

int montecarlo::run() {
  if (!loaded) {
    printf("Error: unable to read the input monte carlo file.\n");
    return 0;
  }
  // The draws of the runs of the processes before this one.
  for (int r = 0; r < first_run; ++r) draw_parameters();
  for (int r = 1; r <= runs; ++r) {
    draw_parameters();
    const double cost =
        run_model(replace_file.c_str(), project_file.c_str(), current.data(), &obj, param_count);
    log_run(cost);
    if (r == 1 || std::fabs(best_cost) > std::fabs(cost)) {
      best_cost = cost;
      for (int i = 1; i <= param_count; ++i) best[i] = current[i];
    }
    write_results_all(obj, *process, runs * process->num_processes, runs);
    if (obj.trial_refused) {
      printf(
          "Error: the Monte Carlo runs stop: every run of this project would be refused "
          "alike.\n");
      return 0;
    }
  }
  return 1;
}

void montecarlo::report_best() {
  fflush(stdout);
  if (!gather_best(best_cost, best, param_count, *process)) return;
  printf("\n\nBest objective function value: %lf\nParameters:\n ", best_cost);
  for (int i = 1; i <= param_count; ++i) printf("%lf ", best[i]);
  printf("\n");
  file_handle h;
  if (!file_handle_open(h, "best.out", "w")) {
    printf("Warning: Unable to open the best.out file. Only printing results to stdout.\n");
    return;
  }
  fprintf(h.fp, "%lf:  ", best_cost);
  for (int i = 1; i <= param_count; ++i) fprintf(h.fp, "%le ", best[i]);
  fprintf(h.fp, "\n");
  file_handle_close(h);
}

int montecarlo_main(process_context& info, int run_count, const char* input_file) {
  const int processes = info.num_processes > 0 ? info.num_processes : 1;
  if (run_count / processes < 1) {
    // Every process stops alike: none has a run of its own.
    printf("Error: %d runs cannot be shared among %d processes: each needs one run or more.\n",
           run_count, processes);
    return 0;
  }
  montecarlo mc(run_count / processes, input_file, info);
  mc.run_model = calib_model_run;
  const int ok = mc.run();
  // Every process takes part in the gathering of the best run.
  if (ok) mc.report_best();
  return ok;
}

int sensitivity_main(process_context& info, const char* input_file) {
  return montecarlo_main(info, 500, input_file);
}
