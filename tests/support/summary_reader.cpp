// Reader of the summary file's water books and of hydrograph volumes for the tests.
#include "support/summary_reader.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace torva_test {

namespace {

// The number after the label on a line that starts with it; false when the line does not.
bool number_on_line(const std::string& line, const std::string& label, double& out) {
  if (line.rfind(label, 0) != 0) return false;
  out = std::strtod(line.c_str() + label.size(), nullptr);
  return true;
}

}  // namespace

summary_balance read_summary_balance(const std::string& summary_text) {
  summary_balance s;
  std::istringstream in(summary_text);
  std::string line;
  while (std::getline(in, line)) {
    if (number_on_line(line, "initial volume of overland flow:", s.event_ov_init))
      s.has_event = true;
    number_on_line(line, "volume of rainfall to overland:", s.event_rain);
    number_on_line(line, "volume of interception:", s.event_interception);
    number_on_line(line, "volume of infiltrated water:", s.event_infiltrated);
    number_on_line(line, "volume of discharge:", s.event_discharge);
    number_on_line(line, "volume remaining on surface:", s.event_surface_final);
    number_on_line(line, "initial volume in channels:", s.event_chan_init);
    number_on_line(line, "final volume in channels (cu. m):", s.event_chan_final);
    number_on_line(line, "volume of lateral inflow:", s.event_lateral);
    number_on_line(line, "volume of stream point sources:", s.event_stream_source);
    number_on_line(line, "mass conservation error:", s.event_error_percent);
    number_on_line(line, "Event peak discharge (cubic meters per second):", s.event_peak);
    if (line.rfind("SIMULATION TOTALS", 0) == 0) s.has_totals = true;
    number_on_line(line, "Initial volume on surface=", s.run_ov_init);
    number_on_line(line, "Final volume on surface=", s.run_ov_final);
    number_on_line(line, "Total amount of precip=", s.run_precip);
    number_on_line(line, "Total amount of infiltration=", s.run_infiltration);
    number_on_line(line, "Total amount of discharge=", s.run_discharge);
    number_on_line(line, "Volume lost to specified slope boundary:", s.run_slope_out);
    number_on_line(line, "Volume lost to specified head boundary:", s.run_head_out);
    number_on_line(line, "Volume gained from specified head boundary:", s.run_head_in);
    number_on_line(line, "Overall mass balance error =", s.run_overall_error);
    number_on_line(line, "Mass balance error of surface components =", s.run_surface_error);
  }
  return s;
}

double summary_number(const std::string& summary_text, const std::string& label) {
  std::istringstream lines(summary_text);
  std::string line;
  double value = 0.0;
  while (std::getline(lines, line))
    if (number_on_line(line, label, value)) return value;
  return std::nan("");
}

double value_after(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return std::nan("");
  return std::stod(text.substr(at + label.size()));
}

double hydrograph_volume(const std::string& hydrograph_text, double interval_seconds) {
  std::istringstream in(hydrograph_text);
  double time = 0.0;
  double q = 0.0;
  double sum = 0.0;
  while (in >> time >> q) sum += q;
  return sum * interval_seconds;
}

lake_event_section read_lake_event_section(const std::string& summary_text,
                                           const std::string& name) {
  lake_event_section s;
  const std::string heading = "Lake Contaminant Transport Summary for " + name + " \n";
  const std::size_t from = summary_text.find(heading);
  if (from == std::string::npos) return s;
  s.found = true;
  const std::size_t to = summary_text.find("Final Mass in lake", from);
  const std::string section = summary_text.substr(from, to == std::string::npos ? to : to - from);
  // An aligned line: the label, one blank, a dot leader, the value.
  auto line = [&](const std::string& label) {
    const std::size_t at = section.find("\n" + label + " ");
    if (at == std::string::npos) return std::nan("");
    std::size_t v = at + 1 + label.size();
    while (v < section.size() && (section[v] == ' ' || section[v] == '.')) ++v;
    return std::strtod(section.c_str() + v, nullptr);
  };
  s.init = line("Initial Dissolved in Lakes");
  s.final_mass = line("Final Dissolved in Lakes");
  s.precip = line("Precip");
  s.inflow = line("Inflow");
  s.exchange = line("Lake/chan exchange");
  s.overland = line("Overland flux");
  s.ground = line("Groundwater flux");
  s.outflow = line("Outflow");
  s.pumps = line("Loss to lake pumps");
  s.decay = line("Dissolved decay loss");
  s.restored = line("Restored to emptied lakes");
  s.with_attached = line("Exchange with attached");
  s.error = line("Dissolved mass balance error");
  s.attached_init = line("Initial attached in lakes");
  s.attached_final = line("Final attached in lakes");
  s.attached_in = line("Overland inflow");
  s.attached_from_channels = line("Channel inflow");
  s.with_dissolved = line("Exchange with dissolved");
  s.settled = line("Attached settled in lakes");
  return s;
}

double lake_event_imbalance(const lake_event_section& s) {
  auto v = [](double x) { return std::isnan(x) ? 0.0 : x; };
  const double in = v(s.init) + v(s.precip) + v(s.inflow) + v(s.exchange) + v(s.overland) +
                    v(s.ground) + v(s.restored) + v(s.with_attached);
  const double out = v(s.final_mass) + v(s.outflow) + v(s.pumps) + v(s.decay);
  return in - out;
}

}  // namespace torva_test
