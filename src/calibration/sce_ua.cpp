// The SCE-UA optimiser of mode -c: a population drawn in the box of the parameter bounds is
// divided into complexes, each evolved by competitive complex evolution steps on sub-complexes
// chosen at random, shuffled back into one sorted population, until the trial limit, a stalled
// criterion or a collapsed population ends the search. Every point is one model run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "calibration/calibration_drivers.h"
#include "framework/core/process_info.h"

namespace {

using table = std::vector<std::vector<double>>;  // rows 1..m of parameters 1..nopt

struct sce_work {
  explicit sce_work(sce_object& object) : s(object), nopt(object.nopt) {}
  sce_object& s;
  int nopt;
  int run_counter = 1;  // numbers the log lines; one more than the trials logged
  double logged_best = 99999999.0;
  std::vector<double> bound, spread;
  bool refused = false;  // a trial's run refused its set-up (every trial would)
};

// One evaluation: the criterion is the absolute cost.
double evaluate(sce_work& w, const std::vector<double>& point) {
  sce_object& s = w.s;
  const double cost =
      s.run_model(s.replace_file.c_str(), s.project_file.c_str(), point.data(), s.obj, s.nopt);
  write_results_all(*s.obj, *s.process, 1, 1);
  if (s.obj->trial_refused) w.refused = true;
  return std::fabs(cost);
}

void log_point(sce_work& w, double f, const std::vector<double>& point) {
  sce_object& s = w.s;
  if (s.log_failed || s.log_file.fp == nullptr) {
    ++w.run_counter;
    return;
  }
  fprintf(s.log_file.fp, "%-5d  %8.3lf %8.3lf  : ", w.run_counter, f, w.logged_best);
  ++w.run_counter;
  for (int j = 1; j <= s.nopt; ++j) fprintf(s.log_file.fp, " %le", point[j]);
  fprintf(s.log_file.fp, "\n");
}

// The log of the initial population, every line with the population's best value.
int open_log(sce_work& w, const table& x, const std::vector<double>& xf, int npt) {
  sce_object& s = w.s;
  for (int i = 1; i <= npt; ++i) w.logged_best = std::min(w.logged_best, xf[i]);
  if (s.log_failed) return -1;
  if (s.log_file.fp == nullptr) {
    if (!file_handle_open(s.log_file, "sce_log_file.txt", "w")) {
      s.log_failed = 1;
      printf("Error: unable to open the log file.\n");
      w.run_counter += npt;
      return -1;
    }
    fprintf(s.log_file.fp, "Sim No.   Cost     Minimum Cost:  Parameter Values\n");
  }
  for (int i = 1; i <= npt; ++i) log_point(w, xf[i], x[i]);
  fflush(s.log_file.fp);
  return 0;
}

// A later evaluation, logged with the best value so far.
double evaluate_and_log(sce_work& w, const std::vector<double>& point) {
  const double f = evaluate(w, point);
  if (f < w.logged_best) w.logged_best = f;
  log_point(w, f, point);
  if (w.s.log_file.fp != nullptr) fflush(w.s.log_file.fp);
  return f;
}

// Sorts points 1..m by criterion, ascending (equal values keep their order).
void sort_points(table& x, std::vector<double>& xf, int m) {
  std::vector<int> order(m);
  std::iota(order.begin(), order.end(), 1);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return xf[a] < xf[b]; });
  table xs(m + 1);
  std::vector<double> fs(m + 1);
  for (int k = 0; k < m; ++k) {
    xs[k + 1] = x[order[k]];
    fs[k + 1] = xf[order[k]];
  }
  for (int k = 1; k <= m; ++k) {
    x[k] = std::move(xs[k]);
    xf[k] = fs[k];
  }
}

// Largest, smallest and mean of each parameter, their normalised spread, and the normalised
// geometric range gnrng of the population.
double statistics(sce_work& w, const table& x, int npt) {
  sce_object& s = w.s;
  double gsum = 0.0;
  for (int j = 1; j <= s.nopt; ++j) {
    double hi = -1e300, lo = 1e300, sum = 0.0, sq = 0.0;
    for (int i = 1; i <= npt; ++i) {
      hi = std::max(hi, x[i][j]);
      lo = std::min(lo, x[i][j]);
      sum += x[i][j];
      sq += x[i][j] * x[i][j];
    }
    const double mean = sum / npt;
    double var = sq / npt - mean * mean;
    if (var <= 1e-20) var = 1e-20;
    w.spread[j] = std::sqrt(var) / w.bound[j];
    gsum += std::log(1e-20 + (hi - lo) / w.bound[j]);
    s.xmax[j] = hi;
    s.xmin[j] = lo;
    s.xmean[j] = mean;
  }
  return std::exp(gsum / s.nopt);
}

// A point drawn around `sb` with the population's spread, each value inside its bounds.
void mutate(sce_work& w, const std::vector<double>& sb, std::vector<double>& snew) {
  sce_object& s = w.s;
  for (int j = 1; j <= s.nopt; ++j) {
    // A centre far outside its bounds (an initial point given outside them) could be drawn
    // around for ever: after many misses the value is drawn anywhere inside the bounds.
    int tries = 0;
    do {
      snew[j] = ++tries <= 10000 ? sb[j] + w.spread[j] * w.bound[j] * sce_gauss_random(s.rng)
                                 : s.lower[j] + sce_uniform_random(s.rng) * w.bound[j];
    } while (snew[j] < s.lower[j] || snew[j] > s.upper[j]);
  }
}

// One competitive complex evolution step on the sub-complex (point 1 best, point m worst).
void cce_step(sce_work& w, table& sub, std::vector<double>& subf, int m) {
  sce_object& s = w.s;
  const int n = s.nopt;
  std::vector<double> ce(n + 1, 0.0), snew(n + 1, 0.0);
  const std::vector<double>& sb = sub[1];
  const std::vector<double> sw = sub[m];
  const double fw = subf[m];
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i < m; ++i) ce[j] += sub[i][j];
    ce[j] /= (m - 1);
  }
  bool outside = false;
  for (int j = 1; j <= n; ++j) {
    snew[j] = ce[j] + (ce[j] - sw[j]);
    if (snew[j] < s.lower[j] || snew[j] > s.upper[j]) outside = true;
  }
  if (outside) mutate(w, sb, snew);
  double fnew = evaluate_and_log(w, snew);
  if (fnew > fw && !w.refused) {
    for (int j = 1; j <= n; ++j) snew[j] = ce[j] - 0.5 * (ce[j] - sw[j]);
    fnew = evaluate_and_log(w, snew);
    if (fnew > fw && !w.refused) {
      mutate(w, sb, snew);
      fnew = evaluate_and_log(w, snew);
    }
  }
  sub[m] = snew;
  subf[m] = fnew;
}

// Evolves complex igs of the population for nspl steps.
void evolve_complex(sce_work& w, table& x, std::vector<double>& xf, int igs) {
  sce_object& s = w.s;
  const int npg = s.npg, nps = s.nps, ngs = s.ngs;
  table cx(npg + 1);
  std::vector<double> cf(npg + 1);
  for (int k = 1; k <= npg; ++k) {
    cx[k] = x[igs + ngs * (k - 1)];
    cf[k] = xf[igs + ngs * (k - 1)];
  }
  std::vector<int> pos(nps + 1);
  table sub(nps + 1);
  std::vector<double> subf(nps + 1);
  for (int loop = 1; loop <= s.nspl && !w.refused; ++loop) {
    if (nps == npg) {
      for (int k = 1; k <= nps; ++k) pos[k] = k;
    } else {
      const double a = npg + 0.5;
      for (int k = 1; k <= nps; ++k) {
        for (;;) {
          const double u = sce_uniform_random(s.rng);
          const int lpos = 1 + static_cast<int>(a - std::sqrt(a * a - npg * (npg + 1.0) * u));
          bool taken = false;
          for (int i = 1; i < k; ++i) taken = taken || pos[i] == lpos;
          if (!taken) {
            pos[k] = lpos;
            break;
          }
        }
      }
      std::sort(pos.begin() + 1, pos.end());
    }
    for (int k = 1; k <= nps; ++k) {
      sub[k] = cx[pos[k]];
      subf[k] = cf[pos[k]];
    }
    cce_step(w, sub, subf, nps);
    for (int k = 1; k <= nps; ++k) {
      cx[pos[k]] = sub[k];
      cf[pos[k]] = subf[k];
    }
    sort_points(cx, cf, npg);
  }
  for (int k = 1; k <= npg; ++k) {
    x[igs + ngs * (k - 1)] = cx[k];
    xf[igs + ngs * (k - 1)] = cf[k];
  }
}

void write_best_line(sce_object& s, int nloop, int runs, double bestf, double worstf,
                     double gnrng) {
  FILE* fp = s.output_file.fp;
  const int nopt1 = std::min(s.nopt, 8);
  fprintf(fp, "%5d %5d   %5d %10.3lf %10.3lf %10.3lf\n", nloop, runs, s.ngs, bestf, worstf, gnrng);
  for (int j = 1; j <= nopt1; ++j) fprintf(fp, "%10.3lf ", s.best[j]);
  fprintf(fp, "\n");
  if (s.nopt >= 9) {
    for (int j = 9; j <= s.nopt; ++j) fprintf(fp, "%10.3lf ", s.best[j]);
    fprintf(fp, "\n");
  }
}

void write_population(sce_object& s, int nloop, const table& x, const std::vector<double>& xf,
                      int npt) {
  FILE* fp = s.output_file.fp;
  const int nopt1 = std::min(s.nopt, 8);
  fprintf(fp, " POPULATION AT LOOP %d\n", nloop);
  for (int i = 1; i <= npt; ++i) {
    fprintf(fp, "%10.5lf ", xf[i]);
    for (int j = 1; j <= nopt1; ++j) fprintf(fp, "%10.5lf ", x[i][j]);
    fprintf(fp, "\n");
    if (s.nopt >= 9) {
      for (int j = 9; j <= s.nopt; ++j) fprintf(fp, "%10.3lf ", x[i][j]);
      fprintf(fp, "\n");
    }
  }
}

}  // namespace

int sceua(sce_object& s) {
  if (!s.setup_ok) {
    printf("Error: unable to successufully setup SCE-UA. Unable to run.\n");
    return -1;
  }
  printf(" ENTER THE SCEUA SUBROUTINE --- \n");
  sce_work w(s);
  const int nopt2 = std::min(s.nopt, 12);
  s.rng = shuffled_uniform{};
  s.rng.state = s.iseed < 0 ? s.iseed : -s.iseed;
  int npt = s.ngs * s.npg;
  const bool out = s.output_open && s.output_file.fp != nullptr;
  if (out) fprintf(s.output_file.fp, "ENTER THE SHUFFLED COMPLEX EVOLUTION GLOBAL SEARCH\n");
  printf(" ***  Evolution Loop Number %d\n", 0);
  w.bound.assign(s.nopt + 1, 0.0);
  w.spread.assign(s.nopt + 1, 0.0);
  s.xmax.assign(s.nopt + 1, 0.0);
  s.xmin.assign(s.nopt + 1, 0.0);
  s.xmean.assign(s.nopt + 1, 0.0);
  s.best.assign(s.nopt + 1, 0.0);
  for (int j = 1; j <= s.nopt; ++j) w.bound[j] = s.upper[j] - s.lower[j];
  if (s.maxn < npt) {
    printf("Error: maximum number of function calls less than the number of points\n");
    return -1;
  }

  table x(npt + 1, std::vector<double>(s.nopt + 1, 0.0));
  std::vector<double> xf(npt + 1, 0.0);
  for (int i = 1; i <= npt; ++i) {
    if (i == 1 && s.iniflg == 1) {
      x[i] = s.initial;
    } else {
      for (int j = 1; j <= s.nopt; ++j) {
        do {
          x[i][j] = s.lower[j] + sce_uniform_random(s.rng) * w.bound[j];
        } while (x[i][j] < s.lower[j] || x[i][j] > s.upper[j]);
      }
    }
    xf[i] = evaluate(w, x[i]);
    if (w.refused) {
      printf(
          "Error: the calibration stops: every trial of this project would be refused "
          "alike.\n");
      return -1;
    }
  }
  w.run_counter = 1;
  open_log(w, x, xf, npt);
  sort_points(x, xf, npt);
  s.best = x[1];
  double bestf = xf[1], worstf = xf[npt];
  double gnrng = statistics(w, x, npt);
  int ipcnvg = gnrng <= 0.001 ? 1 : 0;

  std::vector<double> history(21, 0.0);
  int nloop = 0;
  if (!(w.run_counter >= s.maxn || ipcnvg == 1)) {
    for (;;) {
      ++nloop;
      printf(" ***  Evolution Loop Number %d\n", nloop);
      for (int igs = 1; igs <= s.ngs && !w.refused; ++igs) evolve_complex(w, x, xf, igs);
      if (w.refused) return -1;
      sort_points(x, xf, npt);
      s.best = x[1];
      bestf = xf[1];
      worstf = xf[npt];
      gnrng = statistics(w, x, npt);
      ipcnvg = gnrng <= 0.001 ? 1 : 0;
      if (out) {
        write_best_line(s, nloop, w.run_counter, bestf, worstf, gnrng);
        if (s.iprint == 1) write_population(s, nloop, x, xf, npt);
        fflush(s.output_file.fp);
      }
      if (w.run_counter >= s.maxn) {
        printf(" *** OPTIMIZATION SEARCH TERMINATED BECAUSE THE LIMIT ON THE\n");
        printf(" MAXIMUM NUMBER OF TRIALS %d EXCEEDED.  SEARCH WAS STOPPED AT\n", s.maxn);
        printf(" SUB-COMPLEX %d OF COMPLEX %d IN SHUFFLING LOOP %d ***\n", 0, s.ngs + 1, nloop);
        break;
      }
      history[20] = bestf;
      if (nloop >= s.kstop + 1) {
        const double c = history[20 - s.kstop];
        if (s.pcento > std::fabs(c - bestf) / (std::fabs(c + bestf) * 0.5)) {
          if (out) {
            fprintf(s.output_file.fp,
                    " *** OPTIMIZATION TERMINATED BECAUSE THE CRITERION VALUE HAS NOT\n");
            fprintf(s.output_file.fp, " CHANGED %5.2lf PERCENT IN %5d SHUFFLING LOOPS ***\n",
                    s.pcento * 100.0, s.kstop);
          }
          break;
        }
      }
      for (int l = 1; l <= 19; ++l) history[l] = history[l + 1];
      if (ipcnvg == 1) {
        if (out) {
          fprintf(s.output_file.fp,
                  " *** OPTIMIZATION TERMINATED BECAUSE THE POPULATION HAS CONVERGED INTO\n");
          fprintf(s.output_file.fp, "    %5.2lf PERCENT OF THE FEASIBLE SPACE ***\n",
                  gnrng * 100.0);
        }
        break;
      }
      if (s.ngs > s.mings) {
        // The population is sorted: complex ngs (ranks ngs, 2 ngs, ...) is dropped.
        table nx(s.npg * (s.ngs - 1) + 1);
        std::vector<double> nf(s.npg * (s.ngs - 1) + 1);
        for (int igs = 1; igs <= s.ngs - 1; ++igs)
          for (int k = 1; k <= s.npg; ++k) {
            nx[igs + (s.ngs - 1) * (k - 1)] = x[igs + s.ngs * (k - 1)];
            nf[igs + (s.ngs - 1) * (k - 1)] = xf[igs + s.ngs * (k - 1)];
          }
        s.ngs -= 1;
        npt = s.npg * s.ngs;
        x = std::move(nx);
        xf = std::move(nf);
      }
    }
  }
  if (out) {
    fprintf(s.output_file.fp,
            " *** PRINT THE FINAL PARAMETER ESTIMATE AND ITS CRITERION VALUE ***\n");
    fprintf(s.output_file.fp, "%lf ", bestf);
    for (int j = 1; j <= nopt2; ++j) fprintf(s.output_file.fp, "%lf ", s.best[j]);
    fprintf(s.output_file.fp, "\n");
    fflush(s.output_file.fp);
  }
  return w.run_counter;
}
