// XY boundary inputs: the overland, groundwater and stream hydrograph tables in the layout the
// XY outputs write, the stream time-series file, the failures that are only reported and the
// malformed files that stop the run, the start-up cell check, and the two apply steps with
// their volumes worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/core/text_tokens.h"
#include "input/replacement.h"
#include "input/time_series.h"
#include "input/xy_boundary.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// Two overland points, cells 15 and 27, over two hours, as the XY output writes them.
const char* const overland_table =
    "XY_OV_DEPTH\n"
    "2\n"
    "DATE       TIME \t           15           27\n"
    "2000 01 01 00 00\t         0.1000         0.2000\n"
    "2000 01 01 02 00\t         0.3000         0.6000\n"
    "END_TS\n";

const char* const stream_table =
    "XY_STREAM_HYDROGRAPHS\n"
    "2\n"
    "X                 \t     1000.000     2000.000\n"
    "Y                 \t     5000.000     6000.000\n"
    "2000 01 01 00 00\t  1.0  2.0\n"
    "END_TS\n";

const char* const stream_series_file =
    "TORVA_XY_ST_BDY_TS\n"
    "TORVA_TS\n"
    "LINKNODE 3 4\n"
    "TIMESERIES \"Inflow A\"\n"
    "END_TS\n"
    "torva_ts\n"
    "xy 1500.5, 2500.25\n"
    "timeseries Q2\n"
    "end_ts\n";

class XyBoundaryTest : public testing::Test {
 protected:
  void SetUp() override {
    process_state_.reset();  // a test that starts over calls TearDown and SetUp again
    xy_ = std::make_unique<xy_input>();
  }
  void TearDown() override { xy_.reset(); }

  std::string read_overland(const char* name) {
    stdout_capture capture;
    read_xy_bdy_file(*xy_, name, "overland", "XY_OV_DEPTH", xy_->ov_series, xy_->ovpts,
                     xy_->num_ovpts);
    return capture.stop();
  }
  std::string read_groundwater(const char* name) {
    stdout_capture capture;
    read_xy_bdy_file(*xy_, name, "groundwater", "XY_GW_HEAD", xy_->gw_series, xy_->gwpts,
                     xy_->num_gwpts);
    return capture.stop();
  }
  std::string read_stream(const char* name) {
    stdout_capture capture;
    read_xy_stream_bdy_file(*xy_, name);
    return capture.stop();
  }
  std::string read_stream_series(const char* name) {
    stdout_capture capture;
    read_xy_stream_ts_file(*xy_, name);
    return capture.stop();
  }
  // The two named series that the stream time-series file refers to.
  void write_named_series() {
    write_file(dir_.file("flows.ts"),
               "TORVA_TS\nInflow A\nABSOLUTE\n2000 01 01 00 00 4.0\nEND_TS\n"
               "TORVA_TS\nQ2\nABSOLUTE\n2000 01 01 00 00 5.0\nEND_TS\n");
    stdout_capture capture;
    read_time_series_file("flows.ts");
  }

  static time_series* make_series(const char* name, double value) {
    time_series* s = ts_create();
    copy_text(s->name, sizeof s->name, name);
    s->times = {2451545.0};
    s->values = {value};
    s->count = 1;
    return s;
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the input
  temp_dir dir_;
  std::unique_ptr<xy_input> xy_;
};

using XyBoundaryPoints = XyBoundaryTest;
using XyBoundaryStream = XyBoundaryTest;
using XyBoundaryApply = XyBoundaryTest;

TEST_F(XyBoundaryPoints, EachColumnBecomesTheSeriesOfItsCell) {
  write_file(dir_.file("ov.xy"), overland_table);
  const std::string out = read_overland("ov.xy");
  EXPECT_EQ(out, "");
  EXPECT_EQ(run_error.error_code, 0);
  ASSERT_EQ(xy_->num_ovpts, 2);
  ASSERT_EQ(xy_->ovpts.upper(), 2);
  EXPECT_EQ(xy_->ovpts[1].cell, 15);
  EXPECT_EQ(xy_->ovpts[2].cell, 27);
  ASSERT_NE(xy_->ovpts[1].series, nullptr);
  ASSERT_NE(xy_->ovpts[2].series, nullptr);
  EXPECT_STREQ(xy_->ovpts[1].series->name, "XY_OV_DEPTH_0000");
  EXPECT_STREQ(xy_->ovpts[2].series->name, "XY_OV_DEPTH_0001");
  EXPECT_EQ(xy_->ov_series, xy_->ovpts[1].series);
  EXPECT_EQ(xy_->ovpts[1].series->next, xy_->ovpts[2].series);
  // One hour in, each point's depth is halfway between its two rows (Julian days in double
  // precision resolve about 1e-10 of a day).
  const double t = julian_from_date(2000, 1, 1, 1, 0, 0.0);
  EXPECT_NEAR(ts_value(t, xy_->ovpts[1].series), 0.2, 1e-8);
  EXPECT_NEAR(ts_value(t, xy_->ovpts[2].series), 0.4, 1e-8);
  EXPECT_EQ(xy_->num_gwpts, 0);

  // The groundwater card fills the groundwater members only.
  write_file(dir_.file("gw.xy"), "XY_GW_HEAD\n1\nDATE TIME 3\n2000 01 01 00 00 101.5\nEND_TS\n");
  EXPECT_EQ(read_groundwater("gw.xy"), "");
  ASSERT_EQ(xy_->num_gwpts, 1);
  EXPECT_EQ(xy_->gwpts[1].cell, 3);
  EXPECT_STREQ(xy_->gw_series->name, "XY_GW_HEAD_0000");
  EXPECT_EQ(xy_->num_ovpts, 2);

  // A later overland card replaces the points of the first.
  write_file(dir_.file("ov2.xy"), "XY_OV_DEPTH\n1\nDATE TIME 8\n2000 01 01 00 00 0.5\nEND_TS\n");
  read_overland("ov2.xy");
  ASSERT_EQ(xy_->num_ovpts, 1);
  EXPECT_EQ(xy_->ovpts[1].cell, 8);
  EXPECT_DOUBLE_EQ(ts_value(t, xy_->ov_series), 0.5);
}

TEST_F(XyBoundaryPoints, FilesThatCannotBeUsedAreReportedAndSkipped) {
  struct skip_case {
    const char* name;
    const char* text;  // null: the file does not exist
    bool groundwater;
    const char* out;
  };
  const skip_case cases[] = {
      {"missing file", nullptr, false,
       "Error getting new filename from pts.xy\n"
       "Error: unable to open overland xy boundary input file.\n"},
      {"overland header for groundwater", overland_table, true,
       "Error: file used for groundwater xy boundary input file is not of appropriate type. "
       "File header does not match XY_GW_HEAD.\n"},
      {"lower-case header", "xy_ov_depth\n2\nDATE TIME 1 2\n", false,
       "Error: file used for overland xy boundary input file is not of appropriate type. "
       "File header does not match XY_OV_DEPTH.\n"},
      {"no points", "XY_OV_DEPTH\n0\nDATE TIME\nEND_TS\n", false,
       "Warning: No points in overland xy boundary input file.\n"},
      {"negative count", "XY_GW_HEAD\n-2\n", true,
       "Warning: No points in groundwater xy boundary input file.\n"},
      {"header only", "XY_OV_DEPTH\n", false,
       "Warning: No points in overland xy boundary input file.\n"},
  };
  for (const skip_case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (c.text != nullptr) write_file(dir_.file("pts.xy"), c.text);
    const std::string out = c.groundwater ? read_groundwater("pts.xy") : read_overland("pts.xy");
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(run_error.error_code, 0);
    EXPECT_EQ(xy_->num_ovpts, 0);
    EXPECT_EQ(xy_->num_gwpts, 0);
    EXPECT_EQ(xy_->ov_series, nullptr);
    EXPECT_EQ(xy_->gw_series, nullptr);
    EXPECT_TRUE(xy_->ovpts.empty());
    EXPECT_TRUE(xy_->gwpts.empty());
  }
}

TEST_F(XyBoundaryPoints, MalformedTablesStopTheRunWithoutPoints) {
  struct bad_case {
    const char* name;
    const char* text;
    const char* message;  // part of what is printed
  };
  const bad_case cases[] = {
      {"count not a number", "XY_OV_DEPTH\ntwo\nDATE TIME 1 2\n",
       "Error: the second line of the overland xy boundary input file pts.xy must give the "
       "number of points; it reads: two\n"},
      {"fewer cells than points", "XY_OV_DEPTH\n3\nDATE TIME 15 27\n2000 1 1 0 0 1 2 3\n",
       "Error: the overland xy boundary input file pts.xy has 3 points, but its third line "
       "holds 2 cell numbers after DATE and TIME\n"},
      {"no cell line", "XY_OV_DEPTH\n1\n", "has 1 points, but its third line holds 0"},
      {"cell not a number", "XY_OV_DEPTH\n2\nDATE TIME 15 x7\n",
       "Error: point 2 of the overland xy boundary input file pts.xy has the cell number [x7]; "
       "cell numbers are whole numbers from 1\n"},
      {"cell 0", "XY_OV_DEPTH\n1\nDATE TIME 0\n2000 1 1 0 0 1\n", "has the cell number [0]"},
      {"a value missing", "XY_OV_DEPTH\n2\nDATE TIME 1 2\n2000 1 1 0 0 0.1\n",
       "value 2 of 2 is missing or not a number"},
      {"a date that does not read",
       "XY_OV_DEPTH\n1\nDATE TIME 4\n2000 1 1 0 0 0.1\n2000 01 xx 00 00 0.2\n",
       "Error: row 2 of the overland xy boundary input file pts.xy does not begin with year, "
       "month, day, hour and minute as whole numbers\n"},
      {"a date outside the calendar", "XY_OV_DEPTH\n1\nDATE TIME 4\n1500000 1 1 0 0 0.1\n",
       "Error: bad row 1 in time series [XY_OV_DEPTH_0000] of file pts.xy: year 1500000 is "
       "outside 0 to 9999\n"},
      {"no rows", "XY_OV_DEPTH\n1\nDATE TIME 4\nEND_TS\n",
       "Error: the overland xy boundary input file pts.xy holds no rows of values before "
       "END_TS\n"},
  };
  for (const bad_case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    write_file(dir_.file("pts.xy"), c.text);
    const std::string out = read_overland("pts.xy");
    EXPECT_TRUE(contains(out, c.message)) << out;
    EXPECT_EQ(run_error.error_code, error_code_own_message);
    EXPECT_EQ(xy_->num_ovpts, 0);
    EXPECT_EQ(xy_->ov_series, nullptr);
    EXPECT_TRUE(xy_->ovpts.empty());
  }
}

TEST_F(XyBoundaryPoints, PointsMustNameCellsOfTheWatershed) {
  write_file(dir_.file("ov.xy"), overland_table);
  write_file(dir_.file("gw.xy"), "XY_GW_HEAD\n1\nDATE TIME 30\n2000 01 01 00 00 101.5\nEND_TS\n");
  read_overland("ov.xy");
  read_groundwater("gw.xy");
  ASSERT_EQ(run_error.error_code, 0);
  {
    stdout_capture capture;
    EXPECT_TRUE(check_xy_bdy_cells(*xy_, 30));
    EXPECT_EQ(capture.stop(), "");
  }
  {
    stdout_capture capture;
    EXPECT_FALSE(check_xy_bdy_cells(*xy_, 29));
    EXPECT_EQ(capture.stop(),
              "Error: point 1 of the groundwater xy boundary input file gw.xy is cell 30, but "
              "the watershed has cells 1 to 29 only\n");
  }
  {
    stdout_capture capture;
    EXPECT_FALSE(check_xy_bdy_cells(*xy_, 20));
    EXPECT_EQ(capture.stop(),
              "Error: point 2 of the overland xy boundary input file ov.xy is cell 27, but the "
              "watershed has cells 1 to 20 only\n");
  }
  // Without points every watershed passes.
  xy_input none;
  EXPECT_TRUE(check_xy_bdy_cells(none, 1));
}

TEST_F(XyBoundaryStream, HydrographFileGivesPointsWithCoordinates) {
  write_file(dir_.file("st.xy"), std::string("xy_stream_hydrographs") + (stream_table + 21));
  EXPECT_EQ(read_stream("st.xy"), "");
  EXPECT_EQ(run_error.error_code, 0);
  ASSERT_EQ(xy_->num_stpts, 2);
  const xy_stream_point& a = xy_->stpts[1];
  const xy_stream_point& b = xy_->stpts[2];
  EXPECT_DOUBLE_EQ(a.x, 1000.0);
  EXPECT_DOUBLE_EQ(a.y, 5000.0);
  EXPECT_DOUBLE_EQ(b.x, 2000.0);
  EXPECT_DOUBLE_EQ(b.y, 6000.0);
  EXPECT_EQ(a.linknode_given, 0);
  EXPECT_EQ(a.link, 0);
  ASSERT_NE(a.series, nullptr);
  EXPECT_STREQ(a.series->name, "XY_STREAM_HYDROGRAPHS_0000");
  EXPECT_STREQ(b.series->name, "XY_STREAM_HYDROGRAPHS_0001");
  EXPECT_EQ(xy_->st_series, a.series);
  EXPECT_DOUBLE_EQ(ts_value(2451545.0, b.series), 2.0);
}

TEST_F(XyBoundaryStream, HydrographFileFailures) {
  struct stream_case {
    const char* name;
    const char* text;  // null: no file
    int code;          // run_error code afterwards
    const char* out;   // part of what is printed
  };
  const stream_case cases[] = {
      {"missing file", nullptr, 0, "Error: unable to open stream xy boundary input file.\n"},
      {"other header", "XY_STREAM_HYDROGRAPHS_2\n1\nX 1\nY 2\n", 0,
       "Error: file used for stream xy boundary input file is not of appropriate type. File "
       "header does not match XY_STREAM_HYDROGRAPHS.\n"},
      {"no points", "XY_STREAM_HYDROGRAPHS\n0\n", 0,
       "Warning: No points in the stream xy boundary input file.\n"},
      {"a y coordinate short", "XY_STREAM_HYDROGRAPHS\n2\nX 1 2\nY 5\n2000 1 1 0 0 1 2\n",
       error_code_own_message,
       "Error: the stream xy boundary input file st.xy has 2 points, but its Y line holds 1 "
       "readable Y coordinates\n"},
      {"an x coordinate not a number", "XY_STREAM_HYDROGRAPHS\n1\nX east\nY 5\n",
       error_code_own_message, "its X line holds 0 readable X coordinates"},
  };
  for (const stream_case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (c.text != nullptr) write_file(dir_.file("st.xy"), c.text);
    const std::string out = read_stream("st.xy");
    EXPECT_TRUE(contains(out, c.out)) << out;
    EXPECT_EQ(run_error.error_code, c.code);
    EXPECT_EQ(xy_->num_stpts, 0);
    EXPECT_EQ(xy_->st_series, nullptr);
    EXPECT_TRUE(xy_->stpts.empty());
  }
}

TEST_F(XyBoundaryStream, KeywordsAreWholeFirstTokensInAnyCase) {
  struct keyword_case {
    const char* line;
    int code;
    const char* rest;
  };
  const keyword_case cases[] = {
      {"TORVA_XY_ST_BDY_TS", 1, ""},
      {"torva_ts", 2, ""},
      {"Xy 1.5, 2", 3, "1.5, 2"},
      {"LinkNode 3 4", 4, "3 4"},
      {"END_TS", 5, ""},
      {"TIMESERIES Q1", 6, "Q1"},
      {"TORVA_TSX", 0, ""},
      {"XYZ 1 2", 0, "1 2"},
      {"", 0, ""},
      {"  , end_ts", 5, ""},
      {"# TORVA_TS", 0, "TORVA_TS"},
  };
  for (const keyword_case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string line = c.line;
    EXPECT_EQ(xy_st_ts_keyword(line), c.code);
    EXPECT_EQ(line, c.rest);
  }
}

TEST_F(XyBoundaryStream, SeriesFileAddsOnePointPerBlock) {
  write_named_series();
  write_file(dir_.file("sts.xy"), stream_series_file);
  EXPECT_EQ(read_stream_series("sts.xy"), "");
  EXPECT_EQ(run_error.error_code, 0);
  ASSERT_EQ(xy_->stpts.upper(), 2);
  ASSERT_EQ(xy_->num_stpts, 2);
  const xy_stream_point& a = xy_->stpts[1];
  EXPECT_EQ(a.link, 3);
  EXPECT_EQ(a.node, 4);
  EXPECT_EQ(a.linknode_given, 1);
  ASSERT_NE(a.series, nullptr);
  EXPECT_STREQ(a.series->name, "Inflow A");
  const xy_stream_point& b = xy_->stpts[2];
  EXPECT_DOUBLE_EQ(b.x, 1500.5);
  EXPECT_DOUBLE_EQ(b.y, 2500.25);
  EXPECT_EQ(b.linknode_given, 0);
  ASSERT_NE(b.series, nullptr);
  EXPECT_STREQ(b.series->name, "Q2");
  EXPECT_EQ(xy_->st_series, nullptr);  // only the hydrograph file sets it
}

TEST_F(XyBoundaryStream, BothStreamFilesKeepEachOthersPointsInEitherOrder) {
  write_named_series();
  write_file(dir_.file("st.xy"), stream_table);
  write_file(dir_.file("sts.xy"), stream_series_file);
  for (const bool hydrographs_first : {true, false}) {
    SCOPED_TRACE(hydrographs_first);
    xy_ = std::make_unique<xy_input>();
    if (hydrographs_first) {
      read_stream("st.xy");
      read_stream_series("sts.xy");
    } else {
      read_stream_series("sts.xy");
      read_stream("st.xy");
    }
    ASSERT_EQ(run_error.error_code, 0);
    ASSERT_EQ(xy_->num_stpts, 4);
    ASSERT_EQ(xy_->stpts.upper(), 4);
    const int first_hydrograph = hydrographs_first ? 1 : 3;
    const int first_block = hydrographs_first ? 3 : 1;
    EXPECT_DOUBLE_EQ(xy_->stpts[first_hydrograph].x, 1000.0);
    EXPECT_DOUBLE_EQ(xy_->stpts[first_hydrograph + 1].y, 6000.0);
    EXPECT_EQ(xy_->st_series, xy_->stpts[first_hydrograph].series);
    EXPECT_EQ(xy_->stpts[first_block].link, 3);
    EXPECT_EQ(xy_->stpts[first_block].linknode_given, 1);
    EXPECT_STREQ(xy_->stpts[first_block + 1].series->name, "Q2");
  }
}

TEST_F(XyBoundaryStream, SeriesFileFailures) {
  struct series_case {
    const char* name;
    const char* text;  // null: no file
    int code;          // run_error code afterwards
    int points;        // stream points afterwards
    const char* out;   // part of what is printed
  };
  const series_case cases[] = {
      {"missing file", nullptr, 0, 0, "Error: unable to open stream xy boundary input file.\n"},
      {"other header", "TORVA_TS\nXY 1 2\nEND_TS\n", 0, 0,
       "Error: incorrectly formatted header for stream xy time series boundary input file.\n"},
      // A series that is not found is reported and leaves the point without a series.
      {"unknown series", "TORVA_XY_ST_BDY_TS\nTORVA_TS\nXY 1 2\nTIMESERIES Q9\nEND_TS\n", 0, 1,
       "Error!!! unable to find time series [Q9] for the xy boundary stream time series file.\n"
       "         Perhaps the related TIME_SERIES_FILE card in the project file is below the "
       "XYBDYINPUT_STTIMESERIES card?\n"},
      // An END_TS without its block moves nothing on.
      {"an extra END_TS", "TORVA_XY_ST_BDY_TS\nEND_TS\nTORVA_TS\nXY 1 2\nEND_TS\nEND_TS\n", 0, 1,
       ""},
      {"values before any block", "TORVA_XY_ST_BDY_TS\nXY 1 2\nTORVA_TS\nXY 3 4\nEND_TS\n",
       error_code_own_message, 0,
       "Error: line 2 of the stream xy time series boundary input file sts.xy: a value line "
       "outside a TORVA_TS ... END_TS block: XY 1 2\n"},
      {"values after the last block",
       "TORVA_XY_ST_BDY_TS\nTORVA_TS\nXY 3 4\nEND_TS\nLINKNODE 1 1\n", error_code_own_message, 0,
       "line 5 of the stream xy time series boundary input file sts.xy: a value line"},
      {"LINKNODE without a node", "TORVA_XY_ST_BDY_TS\nTORVA_TS\nLINKNODE 3\nEND_TS\n",
       error_code_own_message, 0,
       "LINKNODE must be followed by a link and a node number, each from 1: LINKNODE 3\n"},
      {"XY not numbers", "TORVA_XY_ST_BDY_TS\nTORVA_TS\nXY north 2\nEND_TS\n",
       error_code_own_message, 0, "XY must be followed by the x and y coordinates: XY north 2\n"},
  };
  for (const series_case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    write_named_series();
    if (c.text != nullptr) write_file(dir_.file("sts.xy"), c.text);
    const std::string out = read_stream_series("sts.xy");
    EXPECT_TRUE(contains(out, c.out)) << out;
    EXPECT_EQ(run_error.error_code, c.code);
    EXPECT_EQ(xy_->num_stpts, c.points);
    EXPECT_EQ(xy_->stpts.upper(), c.points);
    if (c.points == 1) {
      EXPECT_DOUBLE_EQ(xy_->stpts[1].x, 1.0);
    }
  }
  // The point of the unknown series has none.
  TearDown();
  SetUp();
  write_file(dir_.file("sts.xy"), "TORVA_XY_ST_BDY_TS\nTORVA_TS\nTIMESERIES Q9\nEND_TS\n");
  read_stream_series("sts.xy");
  ASSERT_EQ(xy_->num_stpts, 1);
  EXPECT_EQ(xy_->stpts[1].series, nullptr);
}

TEST_F(XyBoundaryApply, OverlandPointsSetTheDepthAndCountTheVolumes) {
  // Cell 2 holds 0.10 m and is raised to 0.30 m; cell 4 holds 0.50 m and is lowered to 0.20 m.
  ASSERT_TRUE(xy_->ovpts.grow(2));
  xy_->num_ovpts = 2;
  xy_->ovpts[1] = {2, make_series("up", 0.30)};
  xy_->ovpts[2] = {4, make_series("down", 0.20)};
  raw_array1d<double> depth;
  ASSERT_TRUE(depth.allocate(5));
  depth[2] = 0.10;
  depth[4] = 0.50;
  depth[3] = 0.7;
  double added = -1.0;
  double removed = -1.0;
  apply_xy_ov_bdy(*xy_, depth, 10.0, added, removed, 2451545.5);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_DOUBLE_EQ(depth[2], 0.30);
  EXPECT_DOUBLE_EQ(depth[4], 0.20);
  EXPECT_DOUBLE_EQ(depth[3], 0.7);
  EXPECT_NEAR(added, 0.20 * 100.0, 1e-12);    // 20 m3
  EXPECT_NEAR(removed, 0.30 * 100.0, 1e-12);  // 30 m3

  // A second call starts its volumes again from 0: nothing changes now.
  apply_xy_ov_bdy(*xy_, depth, 10.0, added, removed, 2451545.5);
  EXPECT_DOUBLE_EQ(added, 0.0);
  EXPECT_DOUBLE_EQ(removed, 0.0);
}

TEST_F(XyBoundaryApply, GroundwaterVolumesCountTheStorageCoefficient) {
  ASSERT_TRUE(xy_->gwpts.grow(2));
  xy_->num_gwpts = 2;
  xy_->gwpts[1] = {1, make_series("rise", 12.0)};
  xy_->gwpts[2] = {3, make_series("fall", 9.0)};
  raw_array1d<double> head;
  raw_array1d<double> storage;
  ASSERT_TRUE(head.allocate(3));
  ASSERT_TRUE(storage.allocate(3));
  head[1] = 10.0;
  head[3] = 10.0;
  storage[1] = 0.25;
  storage[3] = 0.1;
  double added = 0.0;
  double removed = 0.0;
  apply_xy_gw_bdy(*xy_, head, storage, 20.0, added, removed, 2451545.5);
  EXPECT_DOUBLE_EQ(head[1], 12.0);
  EXPECT_DOUBLE_EQ(head[3], 9.0);
  EXPECT_NEAR(added, 2.0 * 400.0 * 0.25, 1e-9);   // 200 m3
  EXPECT_NEAR(removed, 1.0 * 400.0 * 0.1, 1e-9);  // 40 m3
}

TEST_F(XyBoundaryApply, APointThatCannotBeAppliedStopsTheRun) {
  struct apply_case {
    const char* name;
    int cell;
    bool series;
    const char* out;
  };
  const apply_case cases[] = {
      {"cell beyond the array", 6, true,
       "Error: overland xy boundary point 1 is cell 6, outside the cells 1 to 5 it is applied "
       "to\n"},
      {"cell 0", 0, true, "is cell 0, outside the cells 1 to 5"},
      {"no series", 2, false,
       "Error: attempting to extract a value from a time series that does not exist.\n"},
  };
  for (const apply_case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    ASSERT_TRUE(xy_->ovpts.grow(1));
    xy_->num_ovpts = 1;
    xy_->ovpts[1] = {c.cell, c.series ? make_series("d", 1.0) : nullptr};
    raw_array1d<double> depth;
    ASSERT_TRUE(depth.allocate(5));
    double added = 0.0;
    double removed = 0.0;
    stdout_capture capture;
    apply_xy_ov_bdy(*xy_, depth, 10.0, added, removed, 2451545.5);
    const std::string out = capture.stop();
    EXPECT_TRUE(contains(out, c.out)) << out;
    EXPECT_EQ(run_error.error_fatal, 1);
    for (int cell = 0; cell <= 5; ++cell) EXPECT_DOUBLE_EQ(depth[cell], 0.0);
  }
}

}  // namespace
