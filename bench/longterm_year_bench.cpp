// Benchmark of a long-term run: simulated days per second of wall time over a year (or a
// month) of hourly weather on a generated grid. The generator writes a side x side plane of
// 100 m cells falling to an outlet at its last cell, a sandy loam kept between storms by the
// two-zone soil water account (Green and Ampt with redistribution), a hand-made year of hourly
// weather from 1 January 2005 (a seasonal and a daily cycle of temperature, humidity and sun)
// and a three-hour storm of 8 mm/h every 30 days from 15 January; the run ends once the last
// storm's runoff is over (a year's run in mid-December). The overland step is 300 s. Each
// measurement runs the project through run_project, with the skip ahead over the dry spells
// between storms and with every step of the spells stepped, at each thread count
// (NUM_THREADS); the books of every run must close and the thread counts must agree. Prints
// the processor, then per grid and thread count: the simulated days, the wall time and the
// simulated days per second with and without the skip, and their ratio.
//
// longterm_year_bench [--sides 1000,...] [--days 365] [--threads 1,8] [--storms first,every]
//                     [--no-step-all] [--dir folder]
// Default: side 1000 (1 million cells), 365 days, storms from day 15 every 30 days, threads 1
// and 8, both ways.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_args.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "run/run_driver.h"

namespace {

constexpr double cell_size = 100.0;
constexpr double plane_slope = 0.002;

std::string read_text(const char* name) {
  std::ifstream in(name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The processor's name from /proc/cpuinfo, or "unknown".
std::string processor_name() {
  std::istringstream in(read_text("/proc/cpuinfo"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown";
}

// The number after the first summary line that starts with `label`, or NaN.
double summary_value(const std::string& text, const char* label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return std::nan("");
  return std::atof(text.c_str() + at + std::strlen(label));
}

bool write_map(const char* name, int side, double (*value)(int row, int col, int side),
               bool integers = false) {
  FILE* fp = std::fopen(name, "w");
  if (!fp) return false;
  std::fprintf(fp, "north: %.1f\nsouth: 0.0\neast: %.1f\nwest: 0.0\nrows: %d\ncols: %d\n",
               side * cell_size, side * cell_size, side, side);
  std::string line;
  char number[32];
  for (int r = 1; r <= side; ++r) {
    line.clear();
    for (int c = 1; c <= side; ++c) {
      if (integers)
        std::snprintf(number, sizeof number, c == side ? "%d\n" : "%d ",
                      static_cast<int>(value(r, c, side)));
      else
        std::snprintf(number, sizeof number, c == side ? "%.4f\n" : "%.4f ", value(r, c, side));
      line += number;
    }
    std::fwrite(line.data(), 1, line.size(), fp);
  }
  return std::fclose(fp) == 0;
}

// Hourly OBU weather from 1 January 2005 0:00 for `days` days: pressure 29.92 inches of
// mercury, air from 42 F in January to 78 F in July with a daily swing of 16 F (coldest at
// 5:00; never freezing, so the storms fall as rain), humidity 90 % at dawn falling to 45 % in the
// afternoon, sky half covered, 6 knots of wind, and the global radiation of a sun whose noon
// strength follows the season.
bool write_weather(const char* name, int days) {
  FILE* fp = std::fopen(name, "w");
  if (!fp) return false;
  constexpr int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0, day = 1;
  for (int d = 0; d < days; ++d) {
    const double season = -std::cos(2.0 * M_PI * (d - 15) / 365.0);  // -1 mid-January
    for (int h = 0; h < 24; ++h) {
      const double daily = -std::cos(2.0 * M_PI * (h - 5) / 24.0);  // -1 at 5:00
      const int temp_f = static_cast<int>(std::lround(60.0 + 18.0 * season + 8.0 * daily));
      const int rh = static_cast<int>(std::lround(67.5 - 22.5 * daily));
      const double sun = h >= 6 && h <= 18 ? std::sin(M_PI * (h - 6) / 12.0) : 0.0;
      const double global = std::round(sun * (550.0 + 300.0 * season));
      std::fprintf(fp, "2005 %d %d %d 29.92 %d 50 6 %d 0.0 %.0f\n", month + 1, day, h, rh, temp_f,
                   global);
    }
    if (++day > month_days[month]) {
      day = 1;
      month = (month + 1) % 12;
    }
  }
  return std::fclose(fp) == 0;
}

// A three-hour storm of 8 mm/h from noon on day `first` of the run (day 1 is 1 January) and
// every `every` days after it, up to the run's last day.
bool write_storms(const char* name, int days, int first, int every) {
  FILE* fp = std::fopen(name, "w");
  if (!fp) return false;
  constexpr int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int storm = 0;
  for (int d = first; d < days; d += every) {
    int month = 0, day = d;
    while (day > month_days[month]) day -= month_days[month++];
    ++storm;
    std::fprintf(fp,
                 "EVENT \"storm %d\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
                 "RATES 2005 %d %d 12 0 8.0\nRATES 2005 %d %d 15 0 0.0\n",
                 storm, month + 1, day, month + 1, day);
  }
  return std::fclose(fp) == 0 && storm > 0;
}

double one(int, int, int) {
  return 1.0;
}
double land(int row, int col, int side) {
  return 100.0 + plane_slope * cell_size * ((side - row) + (side - col));
}
double ks(int, int, int) {
  return 1.09;
}
double capillary(int, int, int) {
  return 11.01;
}
double porosity(int, int, int) {
  return 0.453;
}
double pore_index(int, int, int) {
  return 0.32;
}
double residual(int, int, int) {
  return 0.041;
}
double moisture(int, int, int) {
  return 0.25;
}
double albedo(int, int, int) {
  return 0.2;
}

bool write_case(int side, int days, int threads, int first, int every) {
  if (!write_map("lt_mask.asc", side, one, true) || !write_map("lt_elev.asc", side, land) ||
      !write_map("lt_ks.asc", side, ks) || !write_map("lt_hc.asc", side, capillary) ||
      !write_map("lt_por.asc", side, porosity) || !write_map("lt_pore.asc", side, pore_index) ||
      !write_map("lt_res.asc", side, residual) || !write_map("lt_moist.asc", side, moisture) ||
      !write_map("lt_albedo.asc", side, albedo) || !write_weather("lt_weather.obu", days) ||
      !write_storms("lt_rain.gag", days, first, every))
    return false;
  FILE* fp = std::fopen("lt.prj", "w");
  if (!fp) return false;
  std::fprintf(fp,
               "TORVAPROJECT\nWATERSHED_MASK lt_mask.asc\nELEVATION lt_elev.asc\n"
               "SUMMARY lt_summary.out\nOUTLET_HYDRO lt_outlet.out\nROWS %d\nCOLS %d\n"
               "GRIDSIZE %.1f\nTIMESTEP 300\nOUTROW %d\nOUTCOL %d\nOUTSLOPE 0.002\n"
               "HYD_FREQ 60\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE lt_rain.gag\n"
               "RAIN_INV_DISTANCE\nLONG_TERM\nHMET_OBU lt_weather.obu\nALBEDO lt_albedo.asc\n"
               "LATITUDE 40.0\nLONGITUDE 90.0\nGMT -6\nET_CALC_DEARDORFF\nINF_REDIST\n"
               "CONDUCTIVITY lt_ks.asc\nCAPILLARY lt_hc.asc\nPOROSITY lt_por.asc\n"
               "PORE_INDEX lt_pore.asc\nRESIDUAL_SAT lt_res.asc\nMOISTURE lt_moist.asc\n"
               "SOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\nQUIET\nNUM_THREADS %d\n",
               side, side, cell_size, side, side, threads);
  return std::fclose(fp) == 0;
}

// The run's start-up with the skip ahead turned off: every step of a dry spell is stepped.
void clock_stepping_every_spell(model_state& ms) {
  default_run_steps().init_simulation_clock(ms);
  ms.overland.dry_skip_off = 1;
}

// Simulated days of the last run, from the clock at its summary.
double simulated_days = 0.0;

void summary_with_span(model_state& ms) {
  simulated_days = ms.current_time - ms.start_time_jday;
  default_run_steps().write_run_summary(ms);
}

struct measurement {
  double seconds = 0.0;
  double days = 0.0;
  double overall_error = 0.0;
  double surface_error = 0.0;
  double skips = 0.0;
  double outflow = 0.0;
  bool ok = false;
};

measurement run_once(bool skip) {
  measurement m;
  run_steps steps = default_run_steps();
  if (!skip) steps.init_simulation_clock = clock_stepping_every_spell;
  steps.write_run_summary = summary_with_span;
  simulated_days = 0.0;
  // The run's console goes to a file.
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  FILE* console = std::fopen("console.out", "w");
  if (console) dup2(fileno(console), STDOUT_FILENO);
  const auto t0 = std::chrono::steady_clock::now();
  run_project("lt.prj", nullptr, steps);
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  m.days = simulated_days;
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  if (console) std::fclose(console);
  const std::string summary = read_text("lt_summary.out");
  m.overall_error = summary_value(summary, "Overall mass balance error =");
  m.surface_error = summary_value(summary, "Mass balance error of surface components =");
  m.skips = summary_value(summary, "Dry spells skipped ahead=");
  if (std::isnan(m.skips)) m.skips = 0.0;
  m.outflow = summary_value(summary, "Total amount of discharge=");
  m.ok = run_error.error_fatal == 0 && std::fabs(m.overall_error) < 1e-4 &&
         std::fabs(m.surface_error) < 1e-4;
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sides = {1000};
  std::vector<int> threads = {1, 8};
  int days = 365;
  int first_storm = 15;
  int storm_every = 30;
  bool step_all = true;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--sides" && has_value) {
      sides = parse_list(argv[++i]);
    } else if (a == "--threads" && has_value) {
      threads = parse_list(argv[++i]);
    } else if (a == "--days" && has_value) {
      days = std::atoi(argv[++i]);
    } else if (a == "--storms" && has_value) {
      const std::vector<int> storms = parse_list(argv[++i]);
      first_storm = storms.empty() ? 0 : storms[0];
      storm_every = storms.size() < 2 ? 0 : storms[1];
    } else if (a == "--no-step-all") {
      step_all = false;
    } else if (a == "--dir" && has_value) {
      dir = argv[++i];
    } else {
      std::printf(
          "usage: longterm_year_bench [--sides 1000,...] [--days 365] [--threads 1,8] "
          "[--storms first,every] [--no-step-all] [--dir folder]\n");
      return 2;
    }
  }
  if (days < 2 || days > 365 || first_storm < 1 || first_storm >= days || storm_every < 1) {
    std::printf("the days must lie between 2 and 365, the first storm within them\n");
    return 2;
  }
  if (dir.empty()) {
    char pattern[] = "/tmp/torva_longterm_bench_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    dir = pattern;
  }
  std::filesystem::create_directories(dir);
  if (chdir(dir.c_str()) != 0) return 1;
  std::printf("processor: %s\n", processor_name().c_str());
  std::printf(
      "long-term run of up to %d days: 100 m cells, 300 s steps, a 3 h storm of 8 mm/h on day %d "
      "and every %d days after it\n",
      days, first_storm, storm_every);
  std::printf("%10s %8s %9s %10s %10s %6s %10s %10s %7s %7s\n", "cells", "threads", "sim days",
              "skip s", "days/s", "skips", "stepped s", "days/s", "ratio", "books");
  bool all_ok = true;
  for (int side : sides) {
    double first_outflow = std::nan("");
    for (int t : threads) {
      if (!write_case(side, days, t, first_storm, storm_every)) {
        std::printf("cannot write the case in %s\n", dir.c_str());
        return 1;
      }
      // The run ends once the last storm's runoff is over, or with its weather.
      const measurement with = run_once(true);
      measurement without;
      if (step_all) without = run_once(false);
      const bool same = std::isnan(first_outflow) || with.outflow == first_outflow;
      if (std::isnan(first_outflow)) first_outflow = with.outflow;
      const bool ok = with.ok && (!step_all || without.ok) && same;
      all_ok = all_ok && ok;
      std::printf("%10ld %8d %9.2f %10.2f %10.2f %6.0f %10.2f %10.2f %7.2f %7s\n",
                  static_cast<long>(side) * side, t, with.days, with.seconds,
                  with.days / with.seconds, with.skips, step_all ? without.seconds : 0.0,
                  step_all ? without.days / without.seconds : 0.0,
                  step_all ? without.seconds / with.seconds : 0.0, ok ? "closed" : "FAULT");
      std::fflush(stdout);
    }
  }
  return all_ok ? 0 : 1;
}
