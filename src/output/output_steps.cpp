// Output steps called by the run driver. Of the writers, the outlet hydrograph of the series
// outputs is built: at every output interval it records the outlet discharge with its time. The
// other steps leave the model state unchanged.
#include "output/output_steps.h"

#include <cstdio>

#include "framework/core/process_info.h"
#include "framework/model_state.h"

namespace {

// The time stamp of a long-term run's series: the Julian day with STRICT_JULIAN_DATE, else the
// decimal year, a year being 527040 minutes when (year - 1900) is divisible by 4.
double long_term_stamp(const model_state& ms) {
  if (ms.strict_julian_date) return ms.current_time;
  const double year_minutes = (ms.cur_year - 1900) % 4 == 0 ? 527040.0 : 525600.0;
  return ms.cur_year +
         (ms.day_of_year * 1440.0 + ms.cur_hour * 60.0 + ms.cur_minute) / year_minutes;
}

// One line of the outlet hydrograph and, when asked for, one of its high-precision twin: the
// time (elapsed minutes, the Julian day with STRICT_JULIAN_DATE, the long-term stamp) and the
// outlet discharge (cubic feet per second with QOUT_CFS). Both files are flushed.
void write_outlet_hydrograph(model_state& ms) {
  const double q = ms.qout_cfs ? ms.cfs_factor * ms.outlet_q : ms.outlet_q;
  double time = ms.strict_julian_date ? ms.current_time : ms.elapsed_minutes;
  const char* line = ms.strict_julian_date
                         ? (ms.qout_cfs ? "%16.8lf %10.3lf\n" : "%16.8lf %9.3lf\n")
                         : (ms.qout_cfs ? "%8.2lf %10.3lf\n" : "%8.2lf %9.3lf\n");
  if (ms.long_term) {
    time = long_term_stamp(ms);
    line = "%16.8lf %11.4lf\n";
  }
  FILE* outlet = ms.channel.outlet_hydro_file.fp;
  if (outlet != nullptr) {
    fprintf(outlet, line, time, q);
    fflush(outlet);
    ms.output.hydro_line_count += 1;
  }
  FILE* sig = ms.output.sig_outlet_hydro_file.fp;
  if (ms.output.sig_outlet_hydro && sig != nullptr) {
    fprintf(sig, "%8.2lf %12.6lf\n", time, q);
    fflush(sig);
  }
}

}  // namespace

void open_map_datasets(model_state&) {}
void write_linknode_run_headers(model_state&) {}
void setup_contam_map_outputs(model_state&) {}
void setup_contam_channel_outputs(model_state&) {}
void read_volp_exchange_start(model_state&) {}
void init_xy_output(model_state&) {}
void write_volp_exchange_end(model_state&) {}
// Acts at the steps that are a multiple of the output interval (none when the interval is not
// positive), in the root process only.
void write_series_outputs(model_state& ms) {
  if (ms.hyd_freq_steps <= 0 || ms.step_number % ms.hyd_freq_steps != 0) return;
  if (process_info.process_index != 0) return;
  write_outlet_hydrograph(ms);
}
void write_output_maps(model_state&) {}
void read_analyzer_file(model_state&, const char*) {}
void read_theta_locations(model_state&) {}
