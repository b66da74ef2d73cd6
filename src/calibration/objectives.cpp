// Objective functions: reads the observation file once per driver, scores every trial's event
// peaks and volumes against it (called by the model-run callback after the run), logs the trial
// and appends it to the results table (called by the driver after the callback).
#include "calibration/objectives.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "calibration/process_spread.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"

namespace {

constexpr double weight_floor = 1e-6;      // a weight counts above this
constexpr double negative_floor = -1e-16;  // a simulated value below this is negative

bool weighted(double w) {
  return w > weight_floor;
}
bool negative(double v) {
  return v < negative_floor;
}

bool has_values(const simulated_values& sim, int rows) {
  return sim.peaks != nullptr && sim.volumes != nullptr && sim.slots >= rows;
}

void set_volume_scale(objective& obj) {
  double peak = -1.0, volume = -1.0;
  for (int i = 1; i <= obj.obs_count; ++i) {
    peak = std::max(peak, obj.obs_peak[i]);
    volume = std::max(volume, obj.obs_volume[i]);
  }
  obj.volume_scale = peak / volume;
}

double hmle_f(const std::vector<double>& q, const std::vector<double>& e,
              const std::vector<double>& d, double lambda) {
  double top = 0.0, bottom = 0.0;
  for (std::size_t j = 0; j < q.size(); ++j) {
    const double w = std::pow(q[j], 2.0 * (lambda - 1.0));
    top += w * e[j] * e[j];
    bottom += w * e[j] * e[j] * d[j];
  }
  return top / bottom - 1.0;
}

// Appends `line` to the file `name` of this run's naming; nothing when it does not open.
void append_text(const std::string& name, const std::string& text) {
  file_handle h;
  if (!file_handle_open(h, name.c_str(), "a")) return;
  fputs(text.c_str(), h.fp);
  file_handle_close(h);
}

std::string format(const char* fmt, double v) {
  char text[128];
  snprintf(text, sizeof text, fmt, v);
  return text;
}

void write_obs_log(const objective& obj, const simulated_values& sim, int rank) {
  char name[64];
  snprintf(name, sizeof name, "%d_obs.log", rank);
  file_handle h;
  if (!file_handle_open(h, name, "a")) return;
  fprintf(h.fp, "%s\n", std::string(55, '-').c_str());
  fprintf(
      h.fp,
      "Event\tWeight\tObs Peak   \tSim Peak    \tDiff        \tWeight\tObs Vol     \tSim Vol     "
      "\tDiff\n");
  for (int i = 1; i <= obj.obs_count; ++i) {
    const bool has = has_values(sim, i);
    const double p = has ? sim.peaks[i] : 0.0;
    const double v = has ? sim.volumes[i] : 0.0;
    fprintf(h.fp,
            "%-5d\t%-6.2lf\t%-12.2lf\t%-12.2lf\t%-12.2lf\t%-6.2lf\t%-12.2lf\t%-12.2lf\t%-12.2lf\n",
            i, obj.peak_weight[i], obj.obs_peak[i], p, obj.obs_peak[i] - p, obj.volume_weight[i],
            obj.obs_volume[i], v, obj.obs_volume[i] - v);
  }
  fprintf(h.fp, "\n\n");
  file_handle_close(h);
}

// The results table: created with its header when it is not there yet, else appended to.
void write_table(const result_store& store) {
  const char* name = "results_all.out";
  const bool exists = planned_file_key(name, true).rfind("id:", 0) == 0;
  file_handle h;
  if (!file_handle_open(h, name, exists ? "a" : "w")) return;
  if (!exists)
    fprintf(h.fp,
            "--Cost--\t----HMLE----\t----RMSE----\t-Log Error--\t--Max Peak--\t--Max Vol---\t: "
            "params\n");
  // In the order of the largest volumes (ascending; equal volumes in the order of the runs).
  std::vector<const result_record*> order;
  for (const result_record& r : store.records) order.push_back(&r);
  std::stable_sort(order.begin(), order.end(), [](const result_record* a, const result_record* b) {
    return a->max_volume < b->max_volume;
  });
  for (const result_record* r : order) {
    fprintf(h.fp, "%-8.2lf\t%-12.4lf\t%-12.2lf\t%-12.6lf\t%-12.2lf\t%-12.2lf\t: ", r->cost, r->hmle,
            r->rmse, r->log_error, r->max_peak, r->max_volume);
    for (int k = 1; k <= r->n; ++k) fprintf(h.fp, "%-6.4lf  ", r->params[k]);
    fprintf(h.fp, "\n");
  }
  file_handle_close(h);
}

}  // namespace

int objective_load(objective& obj, const char* file_name) {
  file_handle h;
  if (file_name == nullptr || !file_handle_open(h, file_name, "r")) {
    printf("Error: the observation file %s does not open.\n", file_name ? file_name : "");
    return -1;
  }
  std::string line;
  int count = 0;
  if (read_text_line(line, h) == 0 || !take_int(line, count) || count < 1) {
    printf(
        "Error: observation file %s, line 1: the first number must be the count of rows (1 "
        "or more).\n",
        file_name);
    file_handle_close(h);
    return -1;
  }
  // Rows are kept as they are read, so a count beyond the rows the file holds takes no memory.
  std::vector<double> peak(1, 0.0), peak_w(1, 0.0), volume(1, 0.0), volume_w(1, 0.0);
  for (int i = 1; i <= count; ++i) {
    if (read_text_line(line, h) == 0) {
      printf("Error: observation file %s ends after %d of its %d rows.\n", file_name, i - 1, count);
      file_handle_close(h);
      return -1;
    }
    double values[4];
    int taken = 0;
    while (taken < 4 && take_double(line, values[taken])) ++taken;
    if (taken < 4) {
      printf(
          "Error: observation file %s, line %ld: a row needs four numbers (observed peak, peak "
          "weight, observed volume, volume weight).\n",
          file_name, h.lines_read);
      file_handle_close(h);
      run_error.error_code = err_observed_data_format;
      return -1;
    }
    peak.push_back(values[0]);
    peak_w.push_back(values[1]);
    volume.push_back(values[2]);
    volume_w.push_back(values[3]);
  }
  file_handle_close(h);
  obj.obs_count = count;
  obj.obs_peak = std::move(peak);
  obj.peak_weight = std::move(peak_w);
  obj.obs_volume = std::move(volume);
  obj.volume_weight = std::move(volume_w);
  return 1;
}

double hmle_lambda(const std::vector<double>& q, const std::vector<double>& e) {
  double ybar = 0.0;
  for (double v : q) ybar += std::log(v);
  ybar /= static_cast<double>(q.size());
  std::vector<double> d(q.size());
  for (std::size_t j = 0; j < q.size(); ++j) d[j] = std::log(q[j]) / ybar;
  const auto f = [&](double lambda) { return std::fabs(hmle_f(q, e, d, lambda)); };

  double a = 0.1, b = 3.0;
  double x1 = a + 0.381966012 * (b - a);
  double x2 = a + 0.618033988 * (b - a);
  double best = a, best_f = f(a);
  double f1 = f(x1);
  if (f1 < best_f) best = x1, best_f = f1;
  double f2 = f(x2);
  if (f2 < best_f) best = x2, best_f = f2;
  const double fb = f(b);
  if (fb < best_f) best = b, best_f = fb;
  if (!(b - a > 1e-6)) return best;
  do {
    if (f1 > f2) {
      a = x1;
      x1 = x2;
      f1 = f2;
      x2 = a + 0.618033988 * (b - a);
      f2 = f(x2);
      if (f2 < best_f) best = x2, best_f = f2;
    } else {
      b = x2;
      x2 = x1;
      f2 = f1;
      x1 = a + 0.381966012 * (b - a);
      f1 = f(x1);
      if (f1 < best_f) best = x1, best_f = f1;
    }
  } while (b - a > 1e-6);
  return best;
}

double objective_hmle(objective& obj, const simulated_values& sim) {
  if (sim.peaks == nullptr || sim.volumes == nullptr) return objective_no_data;
  set_volume_scale(obj);
  if (obj.obs_count < 1) return -1.0;
  if (!has_values(sim, obj.obs_count)) return objective_no_data;
  int counted = 0;
  std::vector<double> q, e;
  for (int i = 1; i <= obj.obs_count; ++i) {
    if (weighted(obj.peak_weight[i])) {
      if (negative(sim.peaks[i])) return objective_no_data;
      // The HMLE takes the logarithm of every weighted observed peak.
      if (!(obj.obs_peak[i] > 0.0)) return objective_no_data;
      ++counted;
      q.push_back(obj.obs_peak[i]);
      e.push_back(obj.obs_peak[i] - sim.peaks[i]);
    }
    if (weighted(obj.volume_weight[i])) {
      if (negative(sim.volumes[i])) return objective_no_data;
      ++counted;
    }
  }
  if (counted == 0) return -1.0;
  // Rows whose peaks are all unweighted leave nothing to score by peaks.
  if (q.empty()) return -1.0;
  double ybar = 0.0;
  for (double v : q) ybar += std::log(v);
  ybar /= static_cast<double>(q.size());
  const double lambda = hmle_lambda(q, e);
  double sum = 0.0;
  for (std::size_t j = 0; j < q.size(); ++j)
    sum += std::pow(q[j], 2.0 * (lambda - 1.0)) * e[j] * e[j];
  return (sum / static_cast<double>(q.size())) / std::exp(2.0 * (lambda - 1.0) * ybar);
}

double objective_rmse(objective& obj, const simulated_values& sim) {
  if (sim.peaks == nullptr || sim.volumes == nullptr) return objective_no_data;
  set_volume_scale(obj);
  if (!has_values(sim, obj.obs_count)) return objective_no_data;
  double sum = 0.0;
  for (int i = 1; i <= obj.obs_count; ++i) {
    const double p = sim.peaks[i], v = sim.volumes[i];
    if (negative(p)) return objective_no_data;
    if (weighted(obj.peak_weight[i])) sum += (p - obj.obs_peak[i]) * (p - obj.obs_peak[i]);
    if (negative(v)) return objective_no_data;
    if (weighted(obj.volume_weight[i])) {
      const double d = (v - obj.obs_volume[i]) * obj.volume_scale;
      sum += d * d;
    }
  }
  return std::sqrt(sum);
}

double objective_cost(objective& obj, const simulated_values& sim, int process_rank) {
  if (sim.peaks == nullptr || sim.volumes == nullptr || !has_values(sim, obj.obs_count))
    return objective_no_data;
  char name[64];
  snprintf(name, sizeof name, "%d_cost.out", process_rank);
  std::string text;
  double sum = 0.0;
  int points = 0;
  double result = 0.0;
  bool done = false;
  if (obj.obs_count < 1) {
    result = -1.0;
    done = true;
  }
  for (int i = 1; !done && i <= obj.obs_count; ++i) {
    if (weighted(obj.peak_weight[i])) {
      const double p = sim.peaks[i];
      if (negative(p)) {
        result = objective_no_data;
        done = true;
        break;
      }
      ++points;
      const double d = p - obj.obs_peak[i];
      text += format("p:%lf, ", p) + format("%lf  ", d);
      sum += obj.obs_peak[i] > 1e-16 ? std::fabs(d / obj.obs_peak[i] * obj.peak_weight[i])
                                     : std::fabs(d * obj.peak_weight[i]);
    }
    if (weighted(obj.volume_weight[i])) {
      const double v = sim.volumes[i];
      if (negative(v)) {
        result = objective_no_data;
        done = true;
        break;
      }
      ++points;
      const double d = v - obj.obs_volume[i];
      text += format("v:%lf, ", v) + format("%lf  ", d) + "\n";
      sum += obj.obs_volume[i] > 0.0 ? std::fabs(d / obj.obs_volume[i] * obj.volume_weight[i])
                                     : std::fabs(d * obj.volume_weight[i]);
    }
  }
  if (!done && points == 0) {
    result = -1.0;
    done = true;
  }
  if (!done) {
    char tail[160];
    snprintf(tail, sizeof tail, "Total Points: %d\ncost: %lf\n", points, sum);
    text += tail + std::string(79, '-') + "\n";
    result = sum;
  }
  append_text(name, text);
  return result;
}

double objective_log_error(objective& obj, const simulated_values& sim) {
  if (sim.peaks == nullptr || sim.volumes == nullptr) return objective_no_data;
  set_volume_scale(obj);
  if (!has_values(sim, obj.obs_count)) return objective_no_data;
  double sum = 0.0;
  for (int i = 1; i <= obj.obs_count; ++i) {
    const double p = sim.peaks[i], v = sim.volumes[i];
    if (negative(p)) return objective_no_data;
    if (weighted(obj.peak_weight[i])) sum += std::fabs(std::log(p) - std::log(obj.obs_peak[i]));
    if (negative(v)) return objective_no_data;
    if (weighted(obj.volume_weight[i]))
      sum += std::fabs(std::log(v * obj.volume_scale) -
                       std::log(obj.obs_volume[i] * obj.volume_scale));
  }
  return sum;
}

namespace {

double largest(objective& obj, const double* values, const std::vector<double>& weights,
               long slots) {
  if (values == nullptr) return objective_no_largest;
  set_volume_scale(obj);
  if (obj.obs_count < 1) return objective_no_largest;
  double best = objective_no_largest;
  for (int i = 1; i <= obj.obs_count && i <= slots; ++i) {
    if (negative(values[i])) break;
    if (weighted(weights[i]) && values[i] > best) best = values[i];
  }
  return best;
}

}  // namespace

double objective_max_peak(objective& obj, const simulated_values& sim) {
  return largest(obj, sim.peaks, obj.peak_weight, sim.slots);
}

double objective_max_volume(objective& obj, const simulated_values& sim) {
  return largest(obj, sim.volumes, obj.volume_weight, sim.slots);
}

double objective_eval(objective& obj, const simulated_values& sim, int process_rank, int n,
                      const double* params) {
  obj.hmle = objective_hmle(obj, sim);
  obj.rmse = objective_rmse(obj, sim);
  obj.cost = objective_cost(obj, sim, process_rank);
  obj.max_peak = objective_max_peak(obj, sim);
  obj.max_volume = objective_max_volume(obj, sim);
  obj.log_error = objective_log_error(obj, sim);
  result_record r;
  r.cost = obj.cost;
  r.hmle = obj.hmle;
  r.rmse = obj.rmse;
  r.max_peak = obj.max_peak;
  r.max_volume = obj.max_volume;
  r.log_error = obj.log_error;
  r.n = n > 0 ? n : 0;
  r.params.assign(r.n + 1, 0.0);
  for (int k = 1; k <= r.n && params != nullptr; ++k) r.params[k] = params[k];
  obj.results.records.push_back(std::move(r));
  write_obs_log(obj, sim, process_rank);
  return obj.cost;
}

void write_results_all(objective& obj, const process_context& info, int, int runs_per_process) {
  if (info.process_index == 0) {
    merge_process_results(obj.results, info, runs_per_process);
    if (info.process_rank == 0) write_table(obj.results);
  }
  obj.results.records.clear();
}
