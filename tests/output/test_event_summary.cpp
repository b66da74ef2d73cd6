// The aligned summary line: label, dot leader to 50 characters, decimal point in column 66; and
// the event summary's groundwater XY lines and sediment listings from state the tests set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "output/event_summary.h"
#include "output/output_steps.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::value_after;

namespace {

std::string aligned(const char* label, double value, const char* format, int extra = 0) {
  temp_dir dir;
  FILE* fp = fopen(dir.file("line.txt").c_str(), "w");
  summary_print_line(fp, label, value, 50, '.', 14, format, extra);
  fclose(fp);
  return read_file(dir.file("line.txt"));
}

}  // namespace

TEST(SummaryPrintLine, TheDecimalPointStandsInColumn66WhateverTheNumber) {
  struct row {
    const char* label;
    double value;
    const char* format;
  };
  const row rows[] = {{"Initial mass", 0.5, "%14.2lf"},
                      {"Final mass in channels", -12345678.25, "%14.2lf"},
                      {"Error", 3.14159, "%14.4lf"},
                      {"A label of exactly forty-nine characters, no dots", 1.0, "%14.2lf"}};
  for (const row& r : rows) {
    const std::string text = aligned(r.label, r.value, r.format);
    ASSERT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('.', 50), 65u) << text;  // column 66, counted from 1
    EXPECT_EQ(text.rfind(r.label, 0), 0u);
    // The value parses back from the text after the leader.
    EXPECT_NEAR(std::stod(text.substr(51)), r.value, 1e-2) << text;
  }
  const std::string dots = aligned("Initial mass", 1.0, "%14.2lf");
  EXPECT_EQ(dots.substr(12, 38), " " + std::string(37, '.'));
}

TEST(SummaryPrintLine, AHugeValueMovesThePointRightAndExtraNewlinesFollow) {
  const std::string text = aligned("Mass", 1.0e15, "%14.2lf", 1);
  EXPECT_GT(text.find('.', 50), 65u);
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

namespace {

// The event summary of a model state the test set, as the summary file shows it.
std::string event_summary(model_state& ms) {
  temp_dir dir;
  EXPECT_TRUE(file_handle_open(ms.output.summary_file, dir.file("summary.out").c_str(), "w"));
  write_event_summary(ms);
  file_handle_close(ms.output.summary_file);
  return read_file(dir.file("summary.out"));
}

}  // namespace

// The groundwater block of an event shows the volumes gained and lost through the groundwater
// XY boundaries only when such points exist.
TEST(EventSummary, TheGroundwaterBlockShowsTheXyBoundaryVolumesWhenPointsExist) {
  torva_test::process_state_guard guard;
  for (const int points : {0, 2}) {
    auto ms = std::make_unique<model_state>();
    ms->subsurface.gw_simulation = 1;
    ms->cards.xy_input.num_gwpts = points;
    ms->output.budget.event_vol_xy_gw_gain = 12.5;
    ms->output.budget.event_vol_xy_gw_loss = 3.25;
    ms->output.budget.event_vol_gw_recharge = 7.0;
    const std::string text = event_summary(*ms);
    EXPECT_NEAR(value_after(text, "vol groundwater recharge (cu. m):                             "),
                7.0, 1e-9)
        << text;
    if (points) {
      EXPECT_NEAR(value_after(text, "vol gain for gw from XY boundaries:"), 12.5, 0.05) << text;
      EXPECT_NEAR(value_after(text, "vol loss for gw from XY boundaries:"), 3.25, 0.05);
    } else {
      EXPECT_EQ(text.find("XY boundaries"), std::string::npos) << text;
    }
  }
}

// A run with soil erosion and channel sediment routing names them among the processes, its
// sediment maps among the maps and its outlet and location sediment series among the files.
TEST(EventSummary, SedimentProcessesMapsAndSeriesAreListed) {
  torva_test::process_state_guard guard;
  struct listing {
    int erosion, channel, net, susp, flux, locations;
  };
  const listing cases[] = {{0, 0, 0, 0, 0, 0}, {1, 0, 1, 0, 1, 0}, {1, 1, 1, 1, 1, 1}};
  for (const listing& c : cases) {
    auto ms = std::make_unique<model_state>();
    transport_state& tr = ms->transport;
    tr.sediment.soil_erosion = c.erosion;
    tr.chan_sediment = c.channel;
    tr.net_sed_volume_on = c.net;
    tr.vol_sed_susp_on = c.susp;
    tr.max_sed_flux_on = c.flux;
    tr.sed_locations_on = c.locations;
    const std::string text = event_summary(*ms);
    const auto listed = [&](const char* line) { return text.find(line) != std::string::npos; };
    EXPECT_EQ(listed("Overland soil erosion.\n"), c.erosion != 0) << text;
    EXPECT_EQ(listed("Sediment transport in channels using Yang's eqn. for sand.\n"),
              c.channel != 0);
    EXPECT_EQ(listed("     net volume of erosion/deposition.\n"), c.net != 0);
    EXPECT_EQ(listed("     suspended sediment volume.\n"), c.susp != 0);
    EXPECT_EQ(listed("     sediment flux.\n"), c.flux != 0);
    EXPECT_EQ(listed("     sediment outflow at the catchment outlet.\n"), c.erosion != 0);
    EXPECT_EQ(listed("     sediment hydrographs at selected locations.\n"), c.locations != 0);
    // The processes come before the maps, the maps before the series files.
    if (c.erosion) {
      EXPECT_LT(text.find("Overland soil erosion."), text.find("OUTPUT MAPS"));
      EXPECT_GT(text.find("sediment outflow"), text.find("ASCII OUTPUT FILES"));
    }
  }
}

// The processes simulated are listed one line per option that is on, in the summary's order.
TEST(EventSummary, TheProcessesAreListedInTheirOrderWhenOn) {
  torva_test::process_state_guard guard;
  const char* const lines[] = {"Explicit diffusive-wave channel routing.\n",
                               "This was a channel initialation run using the DRAIN method.\n",
                               "Interception losses.\n",
                               "Distributed overland roughness.\n",
                               "Uniform overland roughness.\n",
                               "Distributed initial soil moisture.\n",
                               "Lakes were simulated.\n",
                               "Spatially varied retention.\n",
                               "Uniform retention depth.\n",
                               "Green & Ampt infiltration.\n",
                               "Overland soil erosion.\n",
                               "Base flow using the Sacramento Soil Moisture Accounting Model.\n"};
  for (const int on : {0, 1}) {
    auto ms = std::make_unique<model_state>();
    model_state& m = *ms;
    m.channel.chan_explic = m.channel.chan_drain_init = on;
    m.overland.interception_on = m.overland.roughness_on = m.overland.manning_n_on = on;
    m.subsurface.moisture_on = m.perennial_lakes = on;
    m.overland.reten_depth_on = m.overland.retention_on = on;
    m.subsurface.green_ampt = m.transport.sediment.soil_erosion = m.subsurface.sacramento = on;
    const std::string text = event_summary(m);
    const std::size_t heading = text.find("THE FOLLOWING PROCESSES WERE SIMULATED:\n");
    ASSERT_NE(heading, std::string::npos) << text;
    std::size_t last = heading;
    for (const char* line : lines) {
      const std::size_t at = text.find(line, heading);
      if (!on) {
        EXPECT_EQ(at, std::string::npos) << line;
        continue;
      }
      ASSERT_NE(at, std::string::npos) << line << text;
      EXPECT_GT(at, last) << line;
      last = at;
    }
  }
}

// The event's lateral inflow into the channels is its own share of the run's total, not the
// run's total so far.
TEST(EventSummary, TheLateralInflowIsTheEventsShare) {
  torva_test::process_state_guard guard;
  auto ms = std::make_unique<model_state>();
  ms->channel.chan_explic = 1;
  ms->output.totals.run_vol_lateral = 380.0;  // earlier events
  open_event_books(*ms);
  ms->output.totals.run_vol_lateral = 500.0;
  const std::string text = event_summary(*ms);
  EXPECT_NEAR(value_after(text, "volume of lateral inflow:"), 120.0, 0.05) << text;
}

// A long-term event names the weather data it ran on: a SAMSON station by its header name up to
// its first character that is not a capital letter, and the count of repaired data points.
TEST(EventSummary, ALongTermHeaderNamesTheSamsonStationAndTheRepairedPoints) {
  torva_test::process_state_guard guard;
  struct station_case {
    const char* header;
    const char* name;
  };
  const station_case cases[] = {{"BOSTON/LOGAN INTL ARP", "BOSTON"},
                                {"DENVER", "DENVER"},
                                {"EL PASO", "EL"},
                                {"1ST STATION", ""}};
  for (const station_case& sc : cases) {
    SCOPED_TRACE(sc.header);
    auto ms = std::make_unique<model_state>();
    ms->long_term = 1;
    ms->event_number = 2;
    ms->subsurface.hmet_samson = 1;
    snprintf(ms->subsurface.hmet_station, sizeof ms->subsurface.hmet_station, "%s", sc.header);
    ms->subsurface.hmet_repair_count = 17;
    const std::string text = event_summary(*ms);
    const std::string line =
        std::string("TORVA used NCDC/SAMSON hydrometeorological data from the ") + sc.name +
        " station\n";
    EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_NEAR(value_after(text, "The following number of hydromet. data points were repaired:"),
                17.0, 0.0);
    EXPECT_EQ(text.find("Surface Airways"), std::string::npos);
  }
  // Without SAMSON data the station line is absent; the repaired count is always there.
  auto ms = std::make_unique<model_state>();
  ms->long_term = 1;
  ms->subsurface.hmet_surfaways = 1;
  const std::string text = event_summary(*ms);
  EXPECT_EQ(text.find("SAMSON"), std::string::npos);
  EXPECT_NE(text.find("TORVA used NCDC/Surface Airways hydrometeorological data.\n"),
            std::string::npos);
  EXPECT_NEAR(value_after(text, "data points were repaired:"), 0.0, 0.0);
}
