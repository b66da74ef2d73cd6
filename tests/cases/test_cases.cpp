// End-to-end cases: the real torva executable run on the projects of tests/cases/, each copied
// into a fresh folder. The small watershed runs to a normal end with its numbered mask, its
// summary start-up lines, its run time and an outlet hydrograph whose times show every step of
// the run up to its end time; each bad grid stops the run with its message and a nonzero exit
// status, never with a crash; a card of a process this version cannot run stops the run at
// start-up; the lines of an error message reach the console in order, whatever the stream; and,
// run in this process, the small watershed's uniform storm reaches its cells with its volume;
// and the tilted V-catchment's outlet passes the rain on the whole catchment at its plateau.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/julian_time.h"
#include "framework/model_state.h"
#include "run/entry.h"
#include "run/run_driver.h"
#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::command_result;
using torva_test::contains;
using torva_test::copy_small_case;
using torva_test::faulted;
using torva_test::file_exists;
using torva_test::read_file;
using torva_test::run_command;
using torva_test::small_case;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace {

// Replaces the first `from` in the file by `to`.
void edit_file(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = read_file(path);
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  write_file(path, text);
}

// The times (first column) of the outlet hydrograph lines; each line must hold a time and a
// discharge.
std::vector<double> hydrograph_times(const std::string& text) {
  std::vector<double> times;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    double time = 0.0, q = 0.0;
    std::string rest;
    EXPECT_TRUE(fields >> time >> q) << line;
    EXPECT_FALSE(fields >> rest) << line;
    times.push_back(time);
  }
  return times;
}

// Runs `command` through the shell with both output streams into one file; returns that file.
std::string run_into_one_stream(const temp_dir& dir, const std::string& args) {
  const std::string command = "'" + torva_exe() + "' " + args + " > all.out 2>&1";
  const command_result run = run_command("/bin/sh", {"-c", command});
  EXPECT_EQ(run.status, 1) << read_file(dir.file("all.out"));
  return read_file(dir.file("all.out"));
}

TEST(SmallCase, RunsToANormalEndWithItsMaskAndStartUpLines) {
  temp_dir dir;
  copy_small_case(dir);
  const command_result run = run_command(torva_exe(), {"small.prj"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(faulted(run)) << run.err;

  EXPECT_EQ(read_file(dir.file("maskmap")), read_file(small_case + "/expected/maskmap"));

  const std::string summary = read_file(dir.file("small_summary.out"));
  const std::string start_up =
      "_________TORVA start-up information________\n"
      "Run parameters read from VRO project file: small.prj\n";
  EXPECT_TRUE(contains(summary, start_up)) << summary;
  const std::string reading =
      "reading watershed mask from file: small_mask.asc\n"
      "number of grid cells in watershed: 108\n"
      "reading elevation map from file: small_elev.asc\n"
      "outlet is in grid cell: 104\n";
  EXPECT_TRUE(contains(summary, reading)) << summary;
  EXPECT_TRUE(contains(run.out, reading)) << run.out;

  const std::string times = read_file(dir.file("out_time.out"));
  EXPECT_EQ(times.rfind("total time (s): ", 0), 0u) << times;
  EXPECT_EQ(times.back(), '\n');

  // The run starts at the project's start date and time and lasts its 120 minutes: 720 steps of
  // 10 s, the outlet hydrograph written every 5 minutes (30 steps) from step 0 to step 720.
  EXPECT_TRUE(contains(run.out, "simulation duration 120 minutes\n")) << run.out;
  EXPECT_TRUE(contains(run.out, "event  1 elapsed time     0.00   3/14/2005 06:30:00 ")) << run.out;
  const std::vector<double> hydro = hydrograph_times(read_file(dir.file("small_outlet.out")));
  ASSERT_EQ(hydro.size(), 25u);
  for (std::size_t i = 0; i < hydro.size(); ++i) EXPECT_EQ(hydro[i], 5.0 * i) << i;
  EXPECT_EQ(read_file(dir.file("small_outlet.out")).rfind("    0.00 ", 0), 0u);
}

TEST(SmallCase, TheRunMakesEveryStepToItsEndTime) {
  struct clock_case {
    const char* what;
    std::string timestep, hyd_freq, tot_time;  // the project's lines
    std::size_t lines;                         // outlet hydrograph lines
    double step_minutes;                       // minutes between two lines
  };
  const clock_case cases[] = {
      // A line at every step: 120 steps of one minute after step 0, and not one more.
      {"one-minute steps", "TIMESTEP           60.0", "HYD_FREQ           1",
       "TOT_TIME           120", 121, 1.0},
      {"a shorter run", "TIMESTEP           60.0", "HYD_FREQ           1", "TOT_TIME           30",
       31, 1.0},
      {"ten-second steps, a line every 3 minutes", "TIMESTEP           10.0",
       "HYD_FREQ           3", "TOT_TIME           45", 16, 3.0},
  };
  for (const clock_case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    copy_small_case(dir);
    edit_file(dir.file("small.prj"), "TIMESTEP           10.0", c.timestep);
    edit_file(dir.file("small.prj"), "HYD_FREQ           5", c.hyd_freq);
    edit_file(dir.file("small.prj"), "TOT_TIME           120", c.tot_time);
    const command_result run = run_command(torva_exe(), {"small.prj"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<double> hydro = hydrograph_times(read_file(dir.file("small_outlet.out")));
    ASSERT_EQ(hydro.size(), c.lines);
    for (std::size_t i = 0; i < hydro.size(); ++i)
      EXPECT_NEAR(hydro[i], c.step_minutes * i, 1e-9) << i;
  }
}

TEST(SmallCase, CardsNotBuiltOrNeedingAnotherProcessStopTheRunAtStartUp) {
  struct refused_case {
    std::string cards;  // added to the small project
    const char* message;
    const char* file = nullptr;  // an input file the cards name, written before the run
    const char* text = nullptr;  // its contents
  };
  const refused_case cases[] = {
      // Snow melts with the weather of long-term runs; an event run has none.
      {"INIT_SWE_DEPTH 0.1\n",
       "Error: INIT_SWE_DEPTH needs a long-term run (LONG_TERM): snow melts by the hourly weather "
       "that only long-term runs read.\n"},
      // Stream inflows enter the channel routing, which this case does not run.
      {"XYBDYINPUT_STFLOW inflow.xy\n",
       "Error: XYBDYINPUT_STFLOW needs channel routing (CHAN_EXPLIC): a stream inflow enters the "
       "channel node nearest its point.\n",
       "inflow.xy",
       "XY_STREAM_HYDROGRAPHS\n1\nX\t2000.0\nY\t5000.0\n2005 03 14 06 30\t5.0\n"
       "2005 03 14 09 30\t5.0\nEND_TS\n"},
      {"XYBDYINPUT_STTIMESERIES inflow.xy\n",
       "Error: XYBDYINPUT_STTIMESERIES needs channel routing (CHAN_EXPLIC): a stream inflow "
       "enters the channel node it names.\n",
       "inflow.xy", "TORVA_XY_ST_BDY_TS\nTORVA_TS\nLINKNODE 1 1\nEND_TS\n"},
      // The stream flood depths are those of channel nodes, which this case does not have.
      {"FLOOD_STREAM flood.out\n",
       "Error: FLOOD_STREAM needs channel routing (CHAN_EXPLIC): the stream flood depths are "
       "those of the channel nodes.\n"},
      // Single-layer Green and Ampt keeps no surface water content to start a later run from.
      {"WRITE_SM_HOTSTART sm_end.asc\n",
       "Error: WRITE_SM_HOTSTART needs a soil that keeps its moisture (INF_REDIST, "
       "INF_LAYERED_SOIL or INF_RICHARDS): single-layer Green and Ampt and runs without "
       "infiltration keep none to write.\n"},
  };
  for (const refused_case& rc : cases) {
    SCOPED_TRACE(rc.cards);
    temp_dir dir;
    copy_small_case(dir);
    write_file(dir.file("small.prj"), read_file(dir.file("small.prj")) + rc.cards);
    if (rc.file != nullptr) write_file(dir.file(rc.file), rc.text);
    const command_result run = run_command(torva_exe(), {"small.prj"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_FALSE(faulted(run)) << run.err;
    // The message, then the report's newline, and nothing of the run after it.
    EXPECT_TRUE(contains(run.out, std::string(rc.message) + "\n")) << run.out;
    EXPECT_FALSE(contains(run.out, "reading watershed mask")) << run.out;
    EXPECT_FALSE(contains(run.out, "Running....")) << run.out;
    EXPECT_FALSE(contains(run.out, "junctions")) << run.out;
    EXPECT_TRUE(contains(run.out, "Run time: ")) << run.out;
    // No run file was opened; the run's time is recorded.
    EXPECT_FALSE(file_exists(dir.file("small_summary.out")));
    EXPECT_FALSE(file_exists(dir.file("small_outlet.out")));
    EXPECT_EQ(read_file(dir.file("out_time.out")).rfind("total time (s): ", 0), 0u);
  }
}

TEST(SmallCase, AnErrorMessageKeepsItsLinesInOrderWithBothStreamsInOneFile) {
  // Redistribution without a pore index: the reader's two lines, then the report's newline.
  {
    temp_dir dir;
    copy_small_case(dir);
    write_file(dir.file("small.prj"), read_file(dir.file("small.prj")) + "INF_REDIST\n");
    const std::string all = run_into_one_stream(dir, "small.prj");
    const std::size_t outlet = all.find("outlet is in grid cell: 104\n");
    const std::size_t message = all.find(
        "For infiltration redistribution, pore index map must be specified\n"
        "Program stopped.\n\n");
    const std::size_t run_time = all.find("Run time: ");
    ASSERT_NE(outlet, std::string::npos) << all;
    ASSERT_NE(message, std::string::npos) << all;
    ASSERT_NE(run_time, std::string::npos) << all;
    EXPECT_LT(outlet, message) << all;
    EXPECT_LT(message, run_time) << all;
  }
  // A project file that does not open: the reader's line, then the code's message.
  {
    temp_dir dir;
    const std::string all = run_into_one_stream(dir, "none.prj");
    const std::size_t reading = all.find("reading run parameters from project file: none.prj\n");
    const std::size_t message = all.find(
        "Error opening project file named: none.prj\n"
        "\nError: The specified project file was not found.\n");
    ASSERT_NE(reading, std::string::npos) << all;
    ASSERT_NE(message, std::string::npos) << all;
    EXPECT_LT(reading, message) << all;
  }
}

TEST(SmallCase, BadGridsStopTheRunWithTheirMessage) {
  struct bad_case {
    const char* what;
    const char* file;  // edited file of the case
    std::string from, to;
    const char* message;
  };
  const bad_case cases[] = {
      {"mask rows", "small_mask.asc", "rows: 10", "rows: 11",
       "Incorrect number of rows in map: small_mask.asc\n"},
      {"elevation cols", "small_elev.asc", "cols: 12", "cols: 13",
       "Incorrect number of columns in map: small_elev.asc\n"},
      {"cell size", "small.prj", "GRIDSIZE           30.0", "GRIDSIZE           25.0",
       "the north-south dimension of the raster grid cells 30.0000 m as calculated\n"},
      {"non-numeric value", "small_elev.asc", "104.20 104.60", "104.20 1O4.60",
       "Error: bad value \"1O4.60\" in map small_elev.asc at row 3 column 7\n"},
      {"short row", "small_elev.asc", "107.00 0.00 0.00\n", "0.00\n",
       "Error: row 1 of map small_elev.asc holds 10 values where 12 are expected\n"},
      {"outlet outside", "small.prj", "OUTCOL             6", "OUTCOL             12",
       "OUTROW and OUTCOL project file cards.  TORVA terminating.\n"},
      {"missing elevation", "small.prj", "small_elev.asc", "no_such_elev.asc",
       "Error: Unable to open elevation data file.\n  (File: no_such_elev.asc)\n"},
  };
  for (const bad_case& bc : cases) {
    SCOPED_TRACE(bc.what);
    temp_dir dir;
    copy_small_case(dir);
    edit_file(dir.file(bc.file), bc.from, bc.to);
    const command_result run = run_command(torva_exe(), {"small.prj"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_FALSE(faulted(run)) << run.err;
    EXPECT_TRUE(contains(run.out, bc.message)) << run.out << run.err;
    EXPECT_FALSE(contains(run.out, "Running....")) << run.out;
  }
}

// A soil value no soil can have (a porosity above 1 would take in all the rain, a negative
// capillary head would push water out of a dry soil, more water than pores) stops the run at
// start-up, naming the map, the cell, the field and the value.
TEST(SmallCase, PhysicallyImpossibleSoilValuesStopTheRunAtStartUp) {
  struct soil_case {
    const char* file;  // map of the case whose every value is replaced
    const char* from;
    const char* to;
    const char* message;
  };
  const soil_case cases[] = {
      {"small_porosity.asc", "0.475", "1.2",
       "read from small_porosity.asc is physically impossible: it must be above 0 and at most "
       "1\n"},
      {"small_capillary.asc", "31.63", "-5",
       "read from small_capillary.asc is physically impossible: it must be at least 0\n"},
      {"small_moisture.asc", "0.35", "0.5",
       "read from small_moisture.asc exceeds the porosity 0.475 read from small_porosity.asc\n"},
  };
  for (const soil_case& sc : cases) {
    SCOPED_TRACE(sc.file);
    temp_dir dir;
    copy_small_case(dir);
    std::string text = read_file(dir.file(sc.file));
    const std::string from = sc.from;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
      text.replace(at, from.size(), sc.to);
    write_file(dir.file(sc.file), text);
    const command_result run = run_command(torva_exe(), {"small.prj"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_FALSE(faulted(run)) << run.err;
    EXPECT_TRUE(contains(run.out, std::string(" ") + sc.to + " of cell 1 (row ")) << run.out;
    EXPECT_TRUE(contains(run.out, sc.message)) << run.out;
    EXPECT_FALSE(contains(run.out, "Running....")) << run.out;
  }
}

TEST(SmallCase, AbsurdClockRainfallAndGaugeValuesStopTheRunAtStartUp) {
  struct absurd_case {
    std::string cards;      // added to the small project, where they replace its own
    std::string rain_file;  // the precipitation file rain.gag, when the cards name it
    const char* message;
  };
  const absurd_case cases[] = {
      {"TIMESTEP inf\n", "",
       "Error: TIMESTEP inf in the project file small.prj is not a number of seconds.\n"},
      {"TIMESTEP 1e15\n", "",
       "Error: TIMESTEP 1e+15 s in the project file small.prj takes the run's last step past "
       "9999-12-31 24:59, the latest date of the clock.\n"},
      {"START_DATE 9999 12 31\nSTART_TIME 23 0\n", "",
       "Error: TOT_TIME 120 minutes in the project file small.prj ends the run past 9999-12-31 "
       "24:59, the latest date of the clock.\n"},
      {"RAIN_DURATION 2000000000\n", "",
       "Error: RAIN_DURATION 2000000000 minutes in the project file small.prj counts "
       "12000000000 time steps of 10 s; a uniform rainfall counts at most 2147483647 steps.\n"},
      {"RAIN_INTENSITY inf\n", "",
       "Error: RAIN_INTENSITY inf in the project file small.prj is not a number of millimetres "
       "per hour.\n"},
      // Rainfall from a file of one gauge whose easting is no number.
      {"PRECIP_FILE rain.gag\n",
       "EVENT \"storm\"\nNRGAG 1\nNRPDS 2\nCOORD nan 400.0\n"
       "GAGES 2005 3 14 6 30 10.0\nGAGES 2005 3 14 7 30 0.0\n",
       "The coordinates of gage 1 of the EVENT titled:\n \"storm\"\nin the precipitation file "
       "rain.gag read nan 400; a gauge stands at a finite easting and northing.\n"},
  };
  for (const absurd_case& ac : cases) {
    SCOPED_TRACE(ac.cards);
    temp_dir dir;
    copy_small_case(dir);
    write_file(dir.file("small.prj"), read_file(dir.file("small.prj")) + ac.cards);
    if (!ac.rain_file.empty()) write_file(dir.file("rain.gag"), ac.rain_file);
    const command_result run = run_command(torva_exe(), {"small.prj"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_FALSE(faulted(run)) << run.err;
    EXPECT_TRUE(contains(run.out, ac.message)) << run.out;
    EXPECT_FALSE(contains(run.out, "Running....")) << run.out;
    EXPECT_TRUE(contains(run.out, "Run time: ")) << run.out;
  }
}

TEST(SmallCase, RainFromAPrecipitationFileOfOneGaugeRunsToTheEndTime) {
  temp_dir dir;
  copy_small_case(dir);
  edit_file(dir.file("small.prj"), "PRECIP_UNIF\nRAIN_INTENSITY     25.0\nRAIN_DURATION      30\n",
            "PRECIP_FILE        small.gag\n");
  // One gauge: 12.5 mm in the half hour after the start, then none.
  write_file(dir.file("small.gag"),
             "EVENT \"storm\"\nNRGAG 1\nNRPDS 3\nCOORD 665.0 1150.0\n"
             "GAGES 2005 3 14 6 30 0.0\nGAGES 2005 3 14 7 0 12.5\nGAGES 2005 3 14 7 30 0.0\n");
  const command_result run = run_command(torva_exe(), {"small.prj"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(faulted(run)) << run.err;
  EXPECT_TRUE(contains(run.out, "reading precip data from file: small.gag\n")) << run.out;
  EXPECT_TRUE(contains(run.out, "Initialized Arrays\nsimulation duration 120 minutes\n"))
      << run.out;
  EXPECT_TRUE(contains(read_file(dir.file("small_summary.out")),
                       "reading precip data from file: small.gag\n"));
  // The event starts with its first record and the run lasts its 120 minutes.
  const std::vector<double> hydro = hydrograph_times(read_file(dir.file("small_outlet.out")));
  ASSERT_EQ(hydro.size(), 25u);
  EXPECT_EQ(hydro.front(), 0.0);
  EXPECT_EQ(hydro.back(), 120.0);
}

// What the in-process run of the small watershed left when it ended.
struct small_rain_outcome {
  double rain_volume = -1.0;  // m3: the event's rain volume
  double cell_water = -1.0;   // m3: the water on the cells, summed in cell order
  double infiltrated = -1.0;  // m3: the water the soil took
};
small_rain_outcome small_rain;  // filled by the run's last step

// The small watershed's uniform storm, 25 mm/h for 30 minutes on its 108 cells of 30 m, run in
// this process with the model's own steps, and with an overland step that only keeps the
// overland schedule (overland routing is not part of the model yet, so the water stays on the
// cells where it fell): the event's rain volume, and the water on the cells with the water the
// soil took, are both 25 / 1000 / 60 x 30 x 108 x 900 = 1215 m3 (the clay soaks up
// the water held on it over the two hours); and 1 and 8 threads give the same bits.
TEST(SmallCase, TheUniformStormReachesTheCellsWithItsRainVolume) {
  torva_test::process_state_guard guard;
  run_steps steps = default_run_steps();
  int replaced = 0;
  for (loop_step& step : steps.time_loop) {
    if (std::string(step.name) != "overland_flow_step") continue;
    step.fn = [](model_state& ms) {
      process_clock& clock = ms.ov_clock;
      if (std::fabs(clock.next - ms.current_time) >= ms.time_tolerance) return;
      clock.last = ms.current_time;
      clock.next = ms.current_time + clock.interval_days;
    };
    ++replaced;
  }
  ASSERT_EQ(replaced, 1);
  steps.write_run_summary = [](model_state& ms) {
    small_rain.rain_volume = ms.event_rain_vol;
    small_rain.cell_water = 0.0;
    for (int c = 1; c <= ms.cell_count; ++c)
      small_rain.cell_water += ms.overland.ov_depth[c] * ms.gridsize * ms.gridsize;
    small_rain.infiltrated = ms.subsurface.inf_volume_total;
  };

  small_rain_outcome runs[2];
  const int threads[2] = {1, 8};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(threads[i]);
    temp_dir dir;
    copy_small_case(dir);
    omp_set_num_threads(threads[i]);
    small_rain = {};
    stdout_capture capture;
    run_project("small.prj", nullptr, steps);
    const std::string out = capture.stop();
    EXPECT_EQ(run_error.error_fatal, 0) << out;
    runs[i] = small_rain;
  }
  // The rain falls for whole steps of 10 s: its volume holds to 1e-9. The infiltration's steps
  // come from Julian days near 2.45e6, whose last digit is some 4e-5 s: the water on the cells
  // and in the soil holds to a relative 1e-7.
  const double storm = 25.0 / 1000.0 / 60.0 * 30.0 * 108 * 900.0;
  EXPECT_NEAR(runs[0].rain_volume, storm, 1e-9 * storm);
  EXPECT_NEAR(runs[0].cell_water + runs[0].infiltrated, storm, 1e-7 * storm);
  EXPECT_GT(runs[0].infiltrated, 0.1 * storm);
  EXPECT_EQ(runs[1].rain_volume, runs[0].rain_volume);
  EXPECT_EQ(runs[1].cell_water, runs[0].cell_water);
  EXPECT_EQ(runs[1].infiltrated, runs[0].infiltrated);
}

// What the in-process run of the rain-file example left when it ended.
struct rain_file_outcome {
  double rain_volume = -1.0;  // m3: the event's rain volume
  double cell_water = -1.0;   // m3: the water on the cells, summed in cell order
  double rain_start = 0.0;    // Julian days: the event's first record
  double rain_end = 0.0;      // Julian days: the event's last record
  int steps = -1;             // passes of the time loop
  int events = -1;            // events started
};
rain_file_outcome rain_file_run;  // filled by the run's last step

// The rain-file example: two gauges give 20 mm/h from 6:30 to 7:00 and 10 mm/h from 7:00 to
// 7:10 (RATES, the last record's time ending the rain) on the 108 cells of 30 m of the small
// watershed, run in this process with an overland step that only keeps its schedule, so that the
// water stays where it fell. The run takes its 120 minutes in steps of 10 s; the event starts
// and ends at its first and last record. A step's rain is the intensity in force at its start
// (each record holds from its own time to the next record's), so the step that ends at 7:00
// rains 20 mm/h and the one that ends at 7:10 10 mm/h: the file's (20 x 0.5 + 10 / 6) mm,
// 11.6667 mm on 108 x 900 m2, 1134.0 m3, is the event's rain volume and the water on the cells,
// to 1e-9 of it; 1 and 8 threads give the same bits.
TEST(RainFileCase, TheTwoGaugeEventRainsTheVolumeOfItsFileBetweenItsRecords) {
  torva_test::process_state_guard guard;
  const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/rain_file";
  run_steps steps = default_run_steps();
  int replaced = 0;
  for (loop_step& step : steps.time_loop) {
    if (std::string(step.name) != "overland_flow_step") continue;
    step.fn = [](model_state& ms) {
      process_clock& clock = ms.ov_clock;
      if (std::fabs(clock.next - ms.current_time) >= ms.time_tolerance) return;
      clock.last = ms.current_time;
      clock.next = ms.current_time + clock.interval_days;
    };
    ++replaced;
  }
  ASSERT_EQ(replaced, 1);
  steps.write_run_summary = [](model_state& ms) {
    rain_file_outcome& o = rain_file_run;
    o.rain_volume = ms.event_rain_vol;
    o.cell_water = 0.0;
    for (int c = 1; c <= ms.cell_count; ++c)
      o.cell_water += ms.overland.ov_depth[c] * ms.gridsize * ms.gridsize;
    o.rain_start = ms.overland.event_rain_start;
    o.rain_end = ms.overland.event_rain_end;
    o.steps = ms.step_number;
    o.events = ms.event_number;
  };

  rain_file_outcome runs[2];
  const int threads[2] = {1, 8};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(threads[i]);
    temp_dir dir;
    for (const char* name : {"rain_file.prj", "small_mask.asc", "small_elev.asc", "rain.gag"})
      write_file(dir.file(name), read_file(example + "/" + name));
    omp_set_num_threads(threads[i]);
    rain_file_run = {};
    stdout_capture capture;
    run_project("rain_file.prj", nullptr, steps);
    const std::string out = capture.stop();
    EXPECT_EQ(run_error.error_fatal, 0) << out;
    EXPECT_TRUE(contains(out, "Precip. file contains 1 events, simulating first event only\n"))
        << out;
    EXPECT_TRUE(contains(out, "reading precip data from file: rain.gag\n")) << out;
    runs[i] = rain_file_run;
  }
  const double storm = (20.0 * 0.5 + 10.0 / 6.0) / 1000.0 * 108 * 900.0;
  EXPECT_NEAR(runs[0].rain_volume, storm, 1e-9 * storm);
  EXPECT_NEAR(runs[0].cell_water, storm, 1e-9 * storm);
  EXPECT_EQ(runs[0].steps, 120 * 6);
  EXPECT_EQ(runs[0].events, 1);
  EXPECT_DOUBLE_EQ(runs[0].rain_start, julian_from_date(2005, 3, 14, 6, 30, 0.0));
  EXPECT_DOUBLE_EQ(runs[0].rain_end, julian_from_date(2005, 3, 14, 7, 10, 0.0));
  EXPECT_EQ(runs[1].rain_volume, runs[0].rain_volume);
  EXPECT_EQ(runs[1].cell_water, runs[0].cell_water);
  EXPECT_EQ(runs[1].steps, runs[0].steps);
}

// Overland flow on a plane one cell wide: 20 cells of 5 m falling 0.02 to the outlet (outlet
// slope 0.02), n = 0.05, 36 mm/h for 60 minutes, 5 s steps, run in this process with the model's
// own steps; a recording step after the overland step notes, at every step, the outlet
// discharge, the rain fallen, the water drained and the water on the cells.
struct plane_record {
  double minutes, outlet_q, rain, drained, stored, largest_flux;
};
std::vector<plane_record> plane_log;
std::vector<double> plane_depths;  // the depths at the end of the run

void record_plane_step(model_state& ms) {
  const overland_state& ov = ms.overland;
  plane_record r{ms.elapsed_minutes, ms.outlet_q, ms.event_rain_vol, ov.ov_out_volume, 0.0, 0.0};
  for (int c = 1; c <= ms.cell_count; ++c) {
    r.stored += ov.ov_depth[c] * ms.gridsize * ms.gridsize;
    r.largest_flux = std::fmax(r.largest_flux, std::fabs(ov.ov_flux_x[c]));
    r.largest_flux = std::fmax(r.largest_flux, std::fabs(ov.ov_flux_y[c]));
  }
  plane_log.push_back(r);
  plane_depths.assign(ov.ov_depth.data(), ov.ov_depth.data() + ms.cell_count + 1);
}

// The model's steps with record_plane_step run right after the overland flow step.
run_steps plane_steps() {
  run_steps steps = default_run_steps();
  for (int i = 0; i + 1 < time_loop_step_count; ++i) {
    if (std::string(steps.time_loop[i].name) != "overland_flow_step") continue;
    // The pipe-network step that follows does nothing without STORM_SEWER.
    EXPECT_EQ(std::string(steps.time_loop[i + 1].name), "superlink_step");
    steps.time_loop[i + 1] = {"record_plane_step", record_plane_step};
  }
  return steps;
}

// Writes the plane project (rows x 1 cells of 5 m falling `slope` per metre, `rain` mm/h) and
// its maps into the current folder.
void write_plane(int rows, double slope, double rain, const std::string& extra = "",
                 const std::string& scheme = "explicit") {
  char rain_text[32];
  snprintf(rain_text, sizeof rain_text, "%g", rain);
  std::string mask = torva_test::grid_header(rows, 1, 5.0), elev = mask;
  for (int r = 0; r < rows; ++r) {
    mask += "1\n";
    elev += std::to_string(10.0 - slope * 5.0 * r) + "\n";
  }
  write_file("plane_mask.asc", mask);
  write_file("plane_elev.asc", elev);
  write_file("plane.prj",
             "TORVAPROJECT\nWATERSHED_MASK plane_mask.asc\nELEVATION plane_elev.asc\n"
             "SUMMARY plane_summary.out\nOUTLET_HYDRO plane_outlet.out\n"
             "ROWS " +
                 std::to_string(rows) +
                 "\nCOLS 1\nGRIDSIZE 5.0\n"
                 "START_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 5.0\nTOT_TIME 60\n"
                 "OUTROW " +
                 std::to_string(rows) +
                 "\nOUTCOL 1\nOUTSLOPE 0.02\n"
                 "HYD_FREQ 12\nMANNING_N 0.05\nOVERTYPE " +
                 scheme +
                 "\nPRECIP_UNIF\n"
                 "RAIN_INTENSITY " +
                 rain_text + "\nRAIN_DURATION 60\n" + extra);
}

// Runs the plane project of the current folder; false when the run failed.
bool run_plane(int threads) {
  const int saved = omp_get_max_threads();
  omp_set_num_threads(threads);
  plane_log.clear();
  stdout_capture capture;
  run_project("plane.prj", nullptr, plane_steps());
  const std::string out = capture.stop();
  omp_set_num_threads(saved);
  EXPECT_EQ(run_error.error_fatal, 0) << out;
  return run_error.error_fatal == 0 && !plane_log.empty();
}

// The kinematic-wave plane reaches the equilibrium discharge i x A = 1e-5 m/s x 500 m2 =
// 0.005 m3/s, and 95 % of it within 25 % of the time to equilibrium
// t_e = (L / (alpha i^(2/3)))^(3/5) = (100 / (2.828 x 4.642e-4))^0.6 s = 14.2 min.
TEST(OverlandPlane, TheOutletReachesTheRainOnThePlaneNearTheKinematicWaveTime) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_plane(20, 0.02, 36.0);
  ASSERT_TRUE(run_plane(1));
  const double equilibrium = 36.0 / 1000.0 / 3600.0 * 20 * 25.0;
  const double alpha = std::sqrt(0.02) / 0.05;
  const double t_e = std::pow(100.0 / (alpha * std::pow(1e-5, 2.0 / 3.0)), 0.6) / 60.0;
  ASSERT_NEAR(t_e, 14.2, 0.05);
  double reached_95 = -1.0;
  for (const plane_record& r : plane_log)
    if (reached_95 < 0.0 && r.outlet_q >= 0.95 * equilibrium) reached_95 = r.minutes;
  EXPECT_NEAR(reached_95, t_e, 0.25 * t_e);
  EXPECT_NEAR(plane_log.back().outlet_q, equilibrium, 0.01 * equilibrium);
  EXPECT_EQ(plane_log.back().minutes, 60.0);
}

// Whatever the step, the rain fallen is the water drained plus the water on the cells.
TEST(OverlandPlane, RainIsOutflowPlusStorageAtEveryStep) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_plane(20, 0.02, 36.0);
  ASSERT_TRUE(run_plane(1));
  for (const plane_record& r : plane_log)
    ASSERT_NEAR(r.rain, r.drained + r.stored, 1e-9 * r.rain) << "minute " << r.minutes;
  EXPECT_GT(plane_log.back().drained, 0.5 * plane_log.back().rain);
}

// 1, 2 and 8 threads give the same bits on a plane wide enough for the loops to run in
// parallel; and a second run in the same process, after a run on a grid of another size, gives
// the same result as a first run.
TEST(OverlandPlane, ThreadsAndAnEarlierRunLeaveTheDepthsBitForBit) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_plane(3000, 0.001, 36.0);
  std::vector<double> depths[3];
  const int threads[3] = {1, 2, 8};
  for (int t = 0; t < 3; ++t) {
    ASSERT_TRUE(run_plane(threads[t]));
    depths[t] = plane_depths;
  }
  for (int t = 1; t < 3; ++t) EXPECT_EQ(depths[t], depths[0]) << threads[t] << " threads";

  write_plane(20, 0.02, 36.0);
  ASSERT_TRUE(run_plane(1));
  const std::vector<double> first = plane_depths;
  write_plane(3000, 0.001, 36.0);
  ASSERT_TRUE(run_plane(8));
  write_plane(20, 0.02, 36.0);
  ASSERT_TRUE(run_plane(1));
  EXPECT_EQ(plane_depths, first);
}

// The same plane routed by the ADE schemes ("ade" with its own sub-step and "ade-pc", its
// predictor-corrector form) meets the same marks: the kinematic-wave plateau i x A and its time,
// rain = outflow + storage at every step, and the same bits on 1, 2 and 8 threads and in a later
// run of the same process.
class AdePlane : public ::testing::TestWithParam<const char*> {};

TEST_P(AdePlane, TheOutletReachesTheRainOnThePlaneNearTheKinematicWaveTime) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_plane(20, 0.02, 36.0, "", GetParam());
  ASSERT_TRUE(run_plane(1));
  const double equilibrium = 36.0 / 1000.0 / 3600.0 * 20 * 25.0;  // 0.005 m3/s
  const double alpha = std::sqrt(0.02) / 0.05;
  const double t_e = std::pow(100.0 / (alpha * std::pow(1e-5, 2.0 / 3.0)), 0.6) / 60.0;
  // The sweeps alternate their order from one step to the next, so the outlet discharge is
  // judged over each pair of steps (the mean of a step and the one before it): "ade-pc" drains
  // its outlet cell in both directions, before and after the lower faces bring their water in
  // turn, and a single step of it lies up to 5 % either side of the pair's mean.
  ASSERT_GE(plane_log.size(), 2u);
  double reached_95 = -1.0;
  for (size_t k = 1; k < plane_log.size(); ++k) {
    const double pair = 0.5 * (plane_log[k - 1].outlet_q + plane_log[k].outlet_q);
    if (reached_95 < 0.0 && pair >= 0.95 * equilibrium) reached_95 = plane_log[k].minutes;
    // No pair of steps passes more than the rain on the plane by over 1 %.
    ASSERT_LT(pair, 1.01 * equilibrium) << "minute " << plane_log[k].minutes;
  }
  EXPECT_NEAR(reached_95, t_e, 0.25 * t_e);
  const size_t last = plane_log.size() - 1;
  EXPECT_NEAR(0.5 * (plane_log[last - 1].outlet_q + plane_log[last].outlet_q), equilibrium,
              0.01 * equilibrium);
  EXPECT_EQ(plane_log.back().minutes, 60.0);
}

TEST_P(AdePlane, RainIsOutflowPlusStorageAtEveryStep) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_plane(20, 0.02, 36.0, "", GetParam());
  ASSERT_TRUE(run_plane(1));
  for (const plane_record& r : plane_log)
    ASSERT_NEAR(r.rain, r.drained + r.stored, 1e-9 * r.rain) << "minute " << r.minutes;
  EXPECT_GT(plane_log.back().drained, 0.5 * plane_log.back().rain);
}

TEST_P(AdePlane, ThreadsAndAnEarlierRunLeaveTheDepthsBitForBit) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_plane(3000, 0.001, 36.0, "", GetParam());
  std::vector<double> depths[3];
  std::vector<double> drained(3);
  const int threads[3] = {1, 2, 8};
  for (int t = 0; t < 3; ++t) {
    ASSERT_TRUE(run_plane(threads[t]));
    depths[t] = plane_depths;
    drained[t] = plane_log.back().drained;
  }
  EXPECT_GT(drained[0], 0.0);
  for (int t = 1; t < 3; ++t) {
    EXPECT_EQ(depths[t], depths[0]) << threads[t] << " threads";
    EXPECT_EQ(drained[t], drained[0]) << threads[t] << " threads";
  }

  // A run on another grid between two runs of the same plane changes nothing: the sub-step,
  // its failure flag and the sweep order start afresh with each run.
  write_plane(20, 0.02, 36.0, "", GetParam());
  ASSERT_TRUE(run_plane(1));
  const std::vector<double> first = plane_depths;
  const double first_drained = plane_log.back().drained;
  write_plane(3000, 0.001, 36.0, "", GetParam());
  ASSERT_TRUE(run_plane(8));
  write_plane(20, 0.02, 36.0, "", GetParam());
  ASSERT_TRUE(run_plane(1));
  EXPECT_EQ(plane_depths, first);
  EXPECT_EQ(plane_log.back().drained, first_drained);
}

INSTANTIATE_TEST_SUITE_P(Schemes, AdePlane, ::testing::Values("ade", "ade-pc"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "ade" ? std::string("Ade")
                                                                   : std::string("AdePc");
                         });

// Green and Ampt infiltration end to end: the project of tests/cases/green_ampt, four flat cells
// of silt loam (Ks 0.65 cm/h, capillary head 16.7 cm, porosity 0.486, initial moisture 0.1458,
// so G = 16.7 x (0.486 - 0.1458) = 5.681 cm) under 50 mm/h for an hour in steps of 10 s, run in
// this process with the model's own steps (no output reports the infiltrated depth); a recording
// step right after the infiltration step notes each cell's cumulative infiltration and the water
// left on it.
struct soak_record {
  double minutes;
  std::vector<double> infiltrated;  // cm per cell
  std::vector<double> depth;        // m per cell, after infiltration
};
std::vector<soak_record> soak_log;

void record_soak_step(model_state& ms) {
  if (ms.subsurface.inf_depth_cum.empty()) return;
  soak_record r{ms.elapsed_minutes, {}, {}};
  for (int c = 1; c <= ms.cell_count; ++c) {
    r.infiltrated.push_back(ms.subsurface.inf_depth_cum[c] * 100.0);
    r.depth.push_back(ms.overland.ov_depth[c]);
  }
  soak_log.push_back(r);
}

// Runs the green_ampt case in this process on `threads` threads; false when the run failed.
bool run_soak(int threads) {
  const std::string folder = std::string(TORVA_SOURCE_DIR) + "/tests/cases/green_ampt/";
  for (const char* name : {"green_ampt.prj", "ga_mask.asc", "ga_elev.asc", "ga_conductivity.asc",
                           "ga_capillary.asc", "ga_porosity.asc", "ga_moisture.asc"})
    write_file(name, read_file(folder + name));
  run_steps steps = default_run_steps();
  int replaced = 0;
  for (int i = 0; i + 1 < time_loop_step_count; ++i) {
    if (std::string(steps.time_loop[i].name) != "infiltration_step") continue;
    // The Sacramento step that follows does nothing without SACRAMENTO.
    EXPECT_EQ(std::string(steps.time_loop[i + 1].name), "sacramento_step");
    steps.time_loop[i + 1] = {"record_soak_step", record_soak_step};
    ++replaced;
  }
  EXPECT_EQ(replaced, 1);
  const int saved = omp_get_max_threads();
  omp_set_num_threads(threads);
  soak_log.clear();
  stdout_capture capture;
  run_project("green_ampt.prj", nullptr, steps);
  const std::string out = capture.stop();
  omp_set_num_threads(saved);
  EXPECT_EQ(run_error.error_fatal, 0) << out;
  return run_error.error_fatal == 0 && !soak_log.empty();
}

// Ponding begins when the capacity Ks (G / F + 1) falls to the rain rate i, after
// Fp = G Ks / (i - Ks) = 0.849 cm at tp = Fp / i = 0.170 h; after it the implicit Green and Ampt
// equation F - Fp - G ln((G + F) / (G + Fp)) = Ks (t - tp), solved here by bisection, gives
// about 3.02 cm at one hour. The model ponds within a step of that time and depth and holds the
// hour's depth on every cell to 1 %; 1 and 8 threads give the same bits.
TEST(GreenAmptCase, TheSiltLoamPondsAndSoaksAsTheAnalyticSolution) {
  torva_test::process_state_guard guard;
  const double ks = 0.65, G = 16.7 * (0.486 - 0.1458), rain = 5.0;  // cm, cm/h
  const double fp = G * ks / (rain - ks), tp = fp / rain;
  ASSERT_NEAR(fp, 0.849, 0.0005);
  ASSERT_NEAR(tp, 0.170, 0.0005);
  auto residual = [&](double F) {
    return F - fp - G * std::log((G + F) / (G + fp)) - ks * (1.0 - tp);
  };
  double lo = fp, hi = fp + 50.0;
  for (int i = 0; i < 200; ++i) (residual(0.5 * (lo + hi)) > 0.0 ? hi : lo) = 0.5 * (lo + hi);
  const double hour = 0.5 * (lo + hi);
  ASSERT_NEAR(hour, 3.02, 0.01);

  temp_dir dir;
  ASSERT_TRUE(run_soak(1));
  const std::vector<soak_record> one = soak_log;
  ASSERT_EQ(one.back().minutes, 60.0);
  const std::size_t cells = one.back().infiltrated.size();
  ASSERT_EQ(cells, 4u);
  const double step_rain = rain * 10.0 / 3600.0;  // cm in a step of 10 s
  for (std::size_t c = 0; c < cells; ++c) {
    SCOPED_TRACE(c + 1);
    // The first step that leaves water on the cell, and the depth infiltrated before it.
    std::size_t first_ponded = 0;
    while (first_ponded < one.size() && one[first_ponded].depth[c] <= 0.0) ++first_ponded;
    ASSERT_GT(first_ponded, 0u);
    ASSERT_LT(first_ponded, one.size());
    EXPECT_NEAR(one[first_ponded].minutes / 60.0, tp, 10.0 / 3600.0);
    EXPECT_NEAR(one[first_ponded - 1].infiltrated[c], fp, step_rain);
    // Before ponding every drop soaks in: F is the rain fallen.
    EXPECT_NEAR(one[first_ponded - 1].infiltrated[c], rain * one[first_ponded - 1].minutes / 60.0,
                1e-6);
    // Once ponded the cell stays ponded and follows the implicit solution.
    for (std::size_t k = first_ponded; k < one.size(); ++k) ASSERT_GT(one[k].depth[c], 0.0) << k;
    EXPECT_NEAR(one.back().infiltrated[c], hour, 0.01 * hour);
  }

  ASSERT_TRUE(run_soak(8));
  ASSERT_EQ(soak_log.size(), one.size());
  for (std::size_t k = 0; k < one.size(); ++k) {
    EXPECT_EQ(soak_log[k].infiltrated, one[k].infiltrated) << one[k].minutes;
    EXPECT_EQ(soak_log[k].depth, one[k].depth) << one[k].minutes;
  }
}

// The three-layer Green and Ampt scheme end to end, run by the executable: the four flat cells
// of the green_ampt case hold one soil type of three layers of the same silt loam (10, 20 cm
// and below), read from its soil-type map and soil layer file. A soil of one material in three
// layers is one Green and Ampt soil, so the hour soaks up the depth of the implicit equation
// after ponding (3.02 cm, by bisection as in the single-layer case) over the 4 x 10000 m2, to
// 1 %; the event's rain is its outflow, infiltration and surface water; 1 and 8 threads write
// the same summary.
TEST(LayeredSoilCase, ThreeLayersOfOneSoilSoakUpTheSingleLayerDepth) {
  const double ks = 0.65, G = 16.7 * (0.486 - 0.1458), rain = 5.0;  // cm, cm/h
  const double fp = G * ks / (rain - ks), tp = fp / rain;
  auto residual = [&](double F) {
    return F - fp - G * std::log((G + F) / (G + fp)) - ks * (1.0 - tp);
  };
  double lo = fp, hi = fp + 50.0;
  for (int i = 0; i < 200; ++i) (residual(0.5 * (lo + hi)) > 0.0 ? hi : lo) = 0.5 * (lo + hi);
  const double soaked = 0.5 * (lo + hi) / 100.0 * 4 * 100.0 * 100.0;  // m3

  const std::string folder = std::string(TORVA_SOURCE_DIR) + "/tests/cases/green_ampt/";
  std::string project = read_file(folder + "green_ampt.prj");
  for (const char* card : {"CONDUCTIVITY", "CAPILLARY", "POROSITY", "MOISTURE"}) {
    const std::size_t at = project.find(card);
    ASSERT_NE(at, std::string::npos) << card;
    project.erase(at, project.find('\n', at) + 1 - at);
  }
  const std::size_t scheme = project.find("GREEN_AMPT\n");
  ASSERT_NE(scheme, std::string::npos);
  project.replace(scheme, 11,
                  "INF_LAYERED_SOIL\nSOIL_TYPE_MAP ga_soil.asc\nSOIL_LAYER_INPUT_FILE "
                  "layers.txt\n");
  // Columns: Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting
  // point, residual and initial contents, thickness (cm).
  const std::string layers =
      "1\n0\n7 silt loam\n"
      "0.65 0.22 16.7 0.486 0.33 0.13 0.027 0.1458 10.0\n"
      "0.65 0.22 16.7 0.486 0.33 0.13 0.027 0.1458 20.0\n"
      "0.65 0.22 16.7 0.486 0.33 0.13 0.027 0.1458\n";
  std::string summaries[2];
  const int* threads = torva_test::compared_thread_counts;
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(threads[k]);
    temp_dir dir;
    for (const char* name : {"ga_mask.asc", "ga_elev.asc"})
      write_file(dir.file(name), read_file(folder + name));
    write_file(dir.file("ga_soil.asc"), torva_test::grid_header(2, 2, 100.0) + "7 7\n7 7\n");
    write_file(dir.file("layers.txt"), layers);
    write_file(dir.file("green_ampt.prj"), project);
    const command_result run = torva_test::run_with_threads("green_ampt.prj", threads[k]);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_FALSE(faulted(run)) << run.err;
    EXPECT_TRUE(contains(run.out, "reading soil map from file: ga_soil.asc\n")) << run.out;
    summaries[k] = read_file(dir.file("ga_summary.out"));
    const torva_test::summary_balance s = torva_test::read_summary_balance(summaries[k]);
    ASSERT_TRUE(s.has_event) << summaries[k];
    EXPECT_NEAR(s.event_rain, 5.0 / 100.0 * 4 * 100.0 * 100.0, 0.1);
    EXPECT_NEAR(s.event_infiltrated, soaked, 0.01 * soaked);
    EXPECT_NEAR(s.event_rain, s.event_discharge + s.event_infiltrated + s.event_surface_final,
                0.15);
    // The run's books close too: the water soaked up stays in the soil over the layers' depth,
    // so the overall balance, which counts the soil store instead of the infiltration, is whole.
    ASSERT_TRUE(s.has_totals) << summaries[k];
    EXPECT_NEAR(s.run_infiltration, s.event_infiltrated, 0.06);  // printed to 0.1 and 0.01
    EXPECT_LT(std::fabs(s.run_overall_error), 1e-6) << summaries[k];
    const char* soil_label = "Simple soil moisture mass balance =";
    const std::size_t soil_line = summaries[k].find(soil_label);
    ASSERT_NE(soil_line, std::string::npos) << summaries[k];
    const double soil_error =
        std::strtod(summaries[k].c_str() + soil_line + std::strlen(soil_label), nullptr);
    EXPECT_LT(std::fabs(soil_error), 1e-6) << summaries[k];
  }
  EXPECT_EQ(summaries[0], summaries[1]);
}

}  // namespace

// Every whole run closes its water balance in the summary as a user reads it: the printed
// balance error of a run without boundaries is below 1e-6 of the rain, the event's volumes add
// up to its rain, and the outlet hydrograph written at every step (its six-digit twin times the
// step) holds the printed outlet volume within the hydrograph's rounding; 1 and 8 threads write
// the same summary.
TEST(SmallCase, TheSummaryClosesTheWaterBalanceOfTheRun) {
  std::string summaries[2];
  const int threads[2] = {1, 8};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(threads[k]);
    temp_dir dir;
    copy_small_case(dir);
    edit_file(dir.file("small.prj"), "HYD_FREQ           5\n", "HYD_FREQ 0.1666666666667\n");
    std::string project = read_file(dir.file("small.prj"));
    project += "SIG_OUTLET_HYDRO small_sig.out\n";
    write_file(dir.file("small.prj"), project);
    const command_result run = torva_test::run_with_threads("small.prj", threads[k]);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    summaries[k] = read_file(dir.file("small_summary.out"));
    const torva_test::summary_balance s = torva_test::read_summary_balance(summaries[k]);
    ASSERT_TRUE(s.has_event) << summaries[k];
    ASSERT_TRUE(s.has_totals) << summaries[k];
    ASSERT_GT(s.event_rain, 0.0);
    EXPECT_LT(std::fabs(s.event_error_percent) / 100.0, 1e-6);
    EXPECT_LT(std::fabs(s.run_overall_error) / 100.0, 1e-6);
    // Rain = outlet + infiltration + what is left on the surface, each printed to 0.1 m3.
    EXPECT_NEAR(s.event_rain, s.event_discharge + s.event_infiltrated + s.event_surface_final,
                0.15);
    EXPECT_NEAR(s.run_precip, s.run_discharge + s.run_infiltration + s.run_ov_final, 0.015);
    // 10 s steps, one hydrograph line per step, each value rounded to 1e-6 m3/s.
    const std::string sig = read_file(dir.file("small_sig.out"));
    const double lines = static_cast<double>(std::count(sig.begin(), sig.end(), '\n'));
    EXPECT_NEAR(torva_test::hydrograph_volume(sig, 10.0), s.run_discharge,
                0.005 + lines * 0.5e-6 * 10.0);
  }
  EXPECT_EQ(summaries[0], summaries[1]);
}

// The tilted V-catchment run by the executable with the explicit overland scheme: two planes
// of 40 x 50 cells of 20 m (n 0.015, falling 0.05 across and 0.02 along) drain to a strip of one
// column (n 0.15) falling 0.02 to the outlet. Once the whole catchment drains, the outlet passes
// the rain falling on it: 10.8 mm/h on 81 x 50 cells of 400 m2 is 4.86 m3/s, held to 0.5 % over
// the last ten minutes of the 90-minute storm; the storm's volume is 26,244 m3, and the run's
// outflow plus the water left on the ground is that volume.
TEST(VCatchmentCase, TheOutletPassesTheRainOnTheWholeCatchmentAtItsPlateau) {
  const std::string folder = std::string(TORVA_SOURCE_DIR) + "/tests/cases/v_catchment/";
  temp_dir dir;
  for (const char* name : {"v_catchment.prj", "v_mask.asc", "v_elev.asc", "v_roughness.asc"})
    write_file(dir.file(name), read_file(folder + name));
  const command_result run = run_command(torva_exe(), {"v_catchment.prj"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(faulted(run)) << run.err;

  const double area = 81 * 50 * 20.0 * 20.0;              // m2
  const double plateau = 10.8 / 3.6e6 * area;             // m3/s
  const double rain_volume = 10.8 / 1000.0 * 1.5 * area;  // m3
  ASSERT_NEAR(plateau, 4.86, 1e-12);
  ASSERT_NEAR(rain_volume, 26244.0, 1e-9);

  // The six-digit hydrograph: one "minutes discharge" line every step of 5 s.
  std::istringstream lines(read_file(dir.file("v_outlet_sig.out")));
  double minutes = 0.0, q = 0.0, sum = 0.0, peak = 0.0;
  int count = 0;
  while (lines >> minutes >> q) {
    peak = std::max(peak, q);
    if (minutes >= 80.0 - 1e-6 && minutes <= 90.0 + 1e-6) {
      sum += q;
      ++count;
    }
  }
  ASSERT_EQ(count, 121);
  const double mean = sum / count;
  EXPECT_NEAR(mean, plateau, 0.005 * plateau)
      << "mean outlet discharge 80-90 min moved to " << mean << " m3/s, "
      << 100.0 * (mean - plateau) / plateau << " % off rain x area " << plateau;
  EXPECT_NEAR(peak, plateau, 0.005 * plateau)
      << "peak outlet discharge moved to " << peak << " m3/s, "
      << 100.0 * (peak - plateau) / plateau << " % off rain x area " << plateau;

  const std::string summary = read_file(dir.file("v_summary.out"));
  const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
  ASSERT_TRUE(s.has_event) << summary;
  ASSERT_TRUE(s.has_totals) << summary;
  EXPECT_NEAR(s.event_rain, rain_volume, 0.05) << "printed rain volume moved to " << s.event_rain
                                               << " m3, by " << s.event_rain - rain_volume << " m3";
  EXPECT_NEAR(s.run_precip, rain_volume, 0.005)
      << "printed total precipitation moved to " << s.run_precip << " m3, by "
      << s.run_precip - rain_volume << " m3";
  // Outflow plus storage: the outlet volume and the water still on the ground after 3 hours.
  EXPECT_NEAR(s.run_discharge + s.run_ov_final, rain_volume, 0.015)
      << "outflow " << s.run_discharge << " + storage " << s.run_ov_final
      << " m3 is off the rain by " << s.run_discharge + s.run_ov_final - rain_volume << " m3";
  EXPECT_GT(s.run_discharge, 0.9 * rain_volume) << summary;
}

// Nine flat cells of 10 m ponded 1 m deep by an overland hotstart, routed in steps of 300 s,
// a hundred times the step the explicit scheme can take there: the scheme drives the surface
// below empty and the outlet passes water the run made. Such a run never ends as a sound one
// with status 0: either it stops on an error (status 1), or it ends with its summary, a warning
// naming the store below empty, and the status of books that do not close; the same on 1 and
// 8 threads and in a batch.
TEST(MadeWater, ARunThatMakesWaterNeverEndsWithStatusZero) {
  const std::string header = torva_test::grid_header(3, 3, 10.0);
  int status[2] = {-1, -1};
  for (int k = 0; k < 2; ++k) {
    const int threads = torva_test::compared_thread_counts[k];
    SCOPED_TRACE(threads);
    temp_dir dir;
    write_file("m.asc", header + "1 1 1\n1 1 1\n1 1 1\n");
    write_file("e.asc", header + "10 10 10\n10 10 10\n10 10 10\n");
    write_file("d.asc", header + "1 1 1\n1 1 1\n1 1 1\n");
    write_file("p.prj",
               "TORVAPROJECT\nWATERSHED_MASK m.asc\nELEVATION e.asc\nSUMMARY s.out\n"
               "OUTLET_HYDRO o.out\nROWS 3\nCOLS 3\nGRIDSIZE 10.0\nSTART_DATE 2005 3 14\n"
               "START_TIME 6 30\nTIMESTEP 300\nTOT_TIME 60\nOUTROW 3\nOUTCOL 3\nOUTSLOPE 0.001\n"
               "HYD_FREQ 5\nMANNING_N 0.05\nOVERTYPE explicit\nPRECIP_UNIF\n"
               "RAIN_INTENSITY 0.001\nRAIN_DURATION 10\nREAD_OV_HOTSTART d.asc\n");
    const command_result run = torva_test::run_with_threads("p.prj", threads);
    status[k] = run.status;
    EXPECT_TRUE(run.status == 1 || run.status == exit_status_water_balance) << run.status << "\n"
                                                                            << run.out;
    if (run.status == exit_status_water_balance) {
      const torva_test::summary_balance s = torva_test::read_summary_balance(read_file("s.out"));
      ASSERT_TRUE(s.has_totals);
      EXPECT_NEAR(s.run_ov_init, 900.0, 0.005);
      EXPECT_LT(s.run_ov_final, -9.0);  // below empty by more than 1 % of the 900 m3
      EXPECT_TRUE(contains(run.out, "Warning: the run ends with ")) << run.out;
      EXPECT_TRUE(contains(run.out, " m3 of water on the surface, below empty")) << run.out;
    }
    // A batch of two such runs reports the same.
    const command_result batch = run_command(torva_exe(), {"-b2", "p.prj"});
    EXPECT_EQ(batch.status, run.status) << batch.out;
  }
  EXPECT_EQ(status[0], status[1]);
}
