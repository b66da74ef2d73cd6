// Reads the water books of a summary file as a user reads them: the printed volumes, peak and
// balance error of the (last) event summary and the run totals with the overall balance.
#pragma once

#include <string>

namespace torva_test {

struct summary_balance {
  bool has_event = false;            // an event summary was found
  double event_ov_init = 0.0;        // "initial volume of overland flow:"
  double event_rain = 0.0;           // "volume of rainfall to overland:"
  double event_interception = 0.0;   // "volume of interception:"
  double event_infiltrated = 0.0;    // "volume of infiltrated water:"
  double event_discharge = 0.0;      // "volume of discharge:"
  double event_surface_final = 0.0;  // "volume remaining on surface:"
  double event_chan_init = 0.0;      // "initial volume in channels:"
  double event_chan_final = 0.0;     // "final volume in channels (cu. m):"
  double event_lateral = 0.0;        // "volume of lateral inflow:"
  double event_stream_source = 0.0;  // "volume of stream point sources:"
  double event_error_percent = 0.0;  // "mass conservation error:"
  double event_peak = 0.0;           // "Event peak discharge (cubic meters per second):"
  bool has_totals = false;           // "SIMULATION TOTALS" was found
  double run_ov_init = 0.0;          // "Initial volume on surface="
  double run_ov_final = 0.0;         // "Final volume on surface="
  double run_precip = 0.0;           // "Total amount of precip="
  double run_infiltration = 0.0;     // "Total amount of infiltration="
  double run_discharge = 0.0;        // "Total amount of discharge="
  double run_slope_out = 0.0;        // "Volume lost to specified slope boundary:"
  double run_head_out = 0.0;         // "Volume lost to specified head boundary:"
  double run_head_in = 0.0;          // "Volume gained from specified head boundary:"
  double run_overall_error = 0.0;    // "Overall mass balance error =" (percent)
  double run_surface_error = 0.0;    // "Mass balance error of surface components =" (percent)
};

summary_balance read_summary_balance(const std::string& summary_text);

// The number after the first line of a summary that starts with `label` (spaces before the
// number allowed), or NaN when no line does.
double summary_number(const std::string& summary_text, const std::string& label);

// The number printed right after `label` anywhere in `text`; NaN when the label is missing.
double value_after(const std::string& text, const std::string& label);

// The volume under a hydrograph of "time discharge" lines written every interval_seconds: the
// sum of its discharges times the interval.
double hydrograph_volume(const std::string& hydrograph_text, double interval_seconds);

// The channel lakes' section of one contaminant in the (first) event summary, as printed: each
// aligned line's value, NaN where the line is missing; found is false without the section.
struct lake_event_section {
  bool found = false;
  double init = 0.0, final_mass = 0.0, precip = 0.0, inflow = 0.0, exchange = 0.0;
  double overland = 0.0, ground = 0.0, outflow = 0.0, pumps = 0.0, decay = 0.0, restored = 0.0;
  double with_attached = 0.0, error = 0.0;
  double attached_init = 0.0, attached_final = 0.0, attached_in = 0.0, with_dissolved = 0.0;
  double attached_from_channels = 0.0;
  double settled = 0.0;
};
lake_event_section read_lake_event_section(const std::string& summary_text,
                                           const std::string& name);
// What came into the lakes' water by the printed lines less what left it and what it holds at
// the end (kg; lines not printed count 0): 0 to print precision when the books close.
double lake_event_imbalance(const lake_event_section& s);

}  // namespace torva_test
