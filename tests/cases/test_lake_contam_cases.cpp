// Dissolved constituents in channel lakes end to end, run by the real torva executable on the
// lake example watershed (a valley head link running into a lake that empties through a culvert
// into the outlet link) with a contaminant table written by the tests: a closed lake's tracer
// decays as exp(-k t); a storm whose rain carries a tracer fills the lake through its link, its
// shores and its surface and drains it through the culvert, and the lake's, the channels' and the
// whole system's books close; inputs the lakes cannot carry stop the run naming the card. Every
// run is made on 1 and 8 threads, which must write the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/summary_reader.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace lake_contam_cases_tests {

const std::string example_dir = std::string(TORVA_SOURCE_DIR) + "/examples/lake";
// The lake section of the run summary (the event summary's lake section opens with the same
// words and the constituent's name).
const std::string run_lake = "Lake Contaminant Transport Summary for Contaminant";

// The number after the first line at or after `section` that starts with `label`.
double after(const std::string& text, const std::string& section, const std::string& label) {
  const std::size_t at = text.find(section);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at), label);
}

// The lake example with one tracer: every cell of id 1, no dispersion, no exchange with the
// land, `rain_conc` g/m3 in the rain. `replace` pairs edit the project; `extra` cards go at the
// end.
void write_lake(double rain_conc, const std::vector<std::pair<std::string, std::string>>& replace,
                const std::string& extra) {
  for (const char* name :
       {"lake.chn", "lake.gst", "lake_mask.asc", "lake_elev.asc", "lake_conductivity.asc",
        "lake_capillary.asc", "lake_porosity.asc", "lake_moisture.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(example_dir + "/" + name));
  std::string ids = torva_test::grid_header(10, 12, 30.0);
  for (int r = 0; r < 10; ++r) {
    for (int c = 0; c < 12; ++c) ids += "1 ";
    ids += "\n";
  }
  write_file("lake_ids.idx", ids);
  std::string row = "     1 all";
  row.resize(86, ' ');
  write_file("lake.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP lake_ids.idx \"Cells\"\n"
             "CONTAMINANT_TRANSPORT Cells\nNUM_CONTAM 1\n\"tracer\" \"Cells\" \"tracer.out\"\n"
             "PRECIP_CONC " +
                 number(rain_conc) +
                 "\nPARTITION 0\nNUM_IDS 1\n"
                 "ID    DESCRIPTION                                  VALUES\n" +
                 row + "0 0 0 0 0 0 0 0\n");
  std::string project = read_file(example_dir + "/lake.prj");
  for (const auto& [from, to] : replace) {
    const std::size_t at = project.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    project.replace(at, from.size(), to);
  }
  write_file("lake.prj",
             project + "MAPPING_TABLE lake.cmt\nOV_CON_TRANS\nCHAN_CON_TRANS\n" + extra);
}

// The value of the aligned line (label, dot leader, value) starting with `label` inside the
// summary section that starts with `section` (up to the next section); NaN when there is none.
double dotted(const std::string& text, const std::string& section, const std::string& label) {
  const std::size_t from = text.find(section);
  if (from == std::string::npos) return std::nan("");
  const std::size_t end = text.find("Transport Summary for", from + section.size());
  const std::size_t at = text.find("\n" + label + " ", from);
  if (at == std::string::npos || at > end) return std::nan("");
  std::size_t v = at + 1 + label.size();
  while (v < text.size() && (text[v] == ' ' || text[v] == '.')) ++v;
  return std::strtod(text.c_str() + v, nullptr);
}

// The lake closed for its nutrients: a drizzle over 10 minutes on 20 s steps, the culvert's
// invert raised above the lake so nothing leaves, the aquatic environment of one default area,
// water at 25 degrees and pH 8.2, the nutrients in place of the tracer with `stream_cards`.
void write_closed_nutrient_lake(const std::string& stream_cards) {
  write_lake(0.0,
             {{"RAIN_INTENSITY     50.0", "RAIN_INTENSITY     0.001"},
              {"RAIN_DURATION      60", "RAIN_DURATION      10"},
              {"TOT_TIME           180", "TOT_TIME           10"},
              {"TIMESTEP           10.0", "TIMESTEP           20.0"},
              {"MAP_TYPE           1\n", ""}},
             "");
  std::string chn = read_file("lake.chn");
  const std::size_t at = chn.find("UPINVERT 103.65");
  ASSERT_NE(at, std::string::npos);
  chn.replace(at, std::string("UPINVERT 103.65").size(), "UPINVERT 104.5");
  write_file("lake.chn", chn);
  write_file("lake.cmt", torva_test::table_file_magic + "INDEX_MAP lake_ids.idx Cells\n");
  write_file("lake_env.txt",
             "AQUATIC_ENV_NSM10\nOV_MAP lake_ids.idx\nNUM_IDS 1\nID heading\n1\nDEFAULT\n");
  std::string project = read_file("lake.prj");
  project.erase(project.find("OV_CON_TRANS\n"), std::string("OV_CON_TRANS\n").size());
  write_file("lake.prj", project + "NUTRIENTS\nAQ_ENV lake_env.txt\nWATER_TEMP 25\nCHAN_PH 8.2\n" +
                             stream_cards);
}

std::string run_both() {
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "lake.prj", [] { return read_file("lake_summary.out") + read_file("lake_outlet.out"); });
  EXPECT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  return read_file("lake_summary.out");
}

// A drizzle of 0.001 mm/h for 45 minutes on a dry plane, its water clean: the lake's 90 m3 (0.1
// m over one 30 m cell) start at 1e6 g/m3 and decay at 8 per day, its culvert's invert above the
// surface, so nothing flows out and no tracer comes in. What is left after 45 minutes is
// M0 exp(-k t) within 0.1 % (each 10 s step takes k dt of the mass it starts with:
// (1 - k dt)^270 lies within 1.2e-4 of exp(-k t), where the straight line 1 - k t would be 4 %
// off), the decayed mass is booked, and the lake's and the whole system's books close.
TEST(LakeContamCases, AClosedLakeDecaysAsExpOfMinusKt) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_lake(0.0,
             {{"RAIN_INTENSITY     50.0", "RAIN_INTENSITY     0.001"},
              {"RAIN_DURATION      60", "RAIN_DURATION      45"},
              {"TOT_TIME           180", "TOT_TIME           45"},
              {"MAP_TYPE           1\n", ""}},
             "CHAN_DECAY_COEF 8\nINIT_CHAN_CONC 1e6\n");
  std::string chn = read_file("lake.chn");
  const std::size_t at = chn.find("UPINVERT 103.65");
  ASSERT_NE(at, std::string::npos);
  chn.replace(at, std::string("UPINVERT 103.65").size(), "UPINVERT 104.5");
  write_file("lake.chn", chn);
  const std::string s = run_both();
  const double m0 = 90.0 * 1e6 / 1000.0;  // kg
  EXPECT_NEAR(after(s, run_lake, "Initial Mass in Lakes"), m0, 0.01) << s;
  const double left = after(s, run_lake, "Final Mass in Lakes");
  const double k = 8.0 / 86400.0;
  EXPECT_NEAR(left, m0 * std::exp(-k * 45.0 * 60.0), 1e-3 * left) << s;
  EXPECT_NEAR(after(s, run_lake, "Mass decay loss"), m0 - left, 0.02);
  EXPECT_EQ(after(s, run_lake, "Outlet mass flux"), 0.0);
  EXPECT_EQ(after(s, run_lake, "Mass loss to channels"), 0.0);
  EXPECT_NEAR(after(s, run_lake, "Lake mass balance error"), 0.0, 1e-6);
  EXPECT_NEAR(after(s, "Global Transport", "Total initial mass"), m0, 0.01);
  EXPECT_NEAR(after(s, "Global Transport", "Total final Mass"), left, 0.01);
}

// The example's storm (50 mm/h, run for 50 minutes) carries 1e5 g/m3 of the tracer in
// its rain; the lake starts at 1e4 g/m3. The tracer reaches the lake through the head link, over
// its shores and on its surface, and leaves it through the culvert into the outlet link. The lake's
// books close to 1e-9 of what came in (in = out + stored + decayed, with decay at 2 per day), so do
// the channels' and the whole system's, and the lake both took from and gave to the links.
TEST(LakeContamCases, AThroughFlowingLakeKeepsItsBooks) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_lake(1e5,
             {{"TOT_TIME           180", "TOT_TIME           50"}, {"MAP_TYPE           1\n", ""}},
             "CHAN_DECAY_COEF 2\nINIT_CHAN_CONC 1e4\n");
  const std::string s = run_both();
  const std::string lake = run_lake;
  const double init = after(s, lake, "Initial Mass in Lakes");
  const double final_mass = after(s, lake, "Final Mass in Lakes");
  const double from_chan = after(s, lake, "Mass gain from channels");
  const double from_ov = after(s, lake, "Mass gain from overland");
  const double rain = after(s, lake, "Precipitation mass gain");
  const double nodes = after(s, lake, "Mass of nodes taken by lakes");
  const double to_chan = after(s, lake, "Mass loss to channels");
  const double out = after(s, lake, "Outlet mass flux");
  const double decayed = after(s, lake, "Mass decay loss");
  const double restored = after(s, lake, "Mass restored to emptied lakes");
  EXPECT_NEAR(init, 90.0 * 1e4 / 1000.0, 0.01);
  EXPECT_GT(from_chan, 0.0) << s;
  EXPECT_GT(from_ov, 0.0) << s;
  EXPECT_GT(rain, 0.0) << s;
  EXPECT_GT(to_chan, 0.0) << s;
  EXPECT_GT(decayed, 0.0) << s;
  EXPECT_EQ(out, 0.0);
  const double in = init + from_chan + from_ov + rain + nodes + restored;
  EXPECT_NEAR(in, final_mass + to_chan + out + decayed, 1e-9 * in + 0.05) << s;
  EXPECT_NEAR(after(s, lake, "Lake mass balance error"), 0.0, 1e-6) << s;
  EXPECT_NEAR(after(s, "Channel Contaminant", "Dissolved mass balance error"), 0.0, 1e-6) << s;
  EXPECT_NEAR(after(s, "Overland Constituent", "Contam mass balance error"), 0.0, 1e-6) << s;
  // The whole system: every gram that fell or started is still somewhere, left or decayed.
  const double g_in = after(s, "Global Transport", "Total initial mass") +
                      after(s, "Global Transport", "Precipitation inputs") +
                      after(s, "Global Transport", "Mass restored to emptied cells");
  const double g_out = after(s, "Global Transport", "Total final Mass") +
                       after(s, "Global Transport", "Total mass out of system") +
                       after(s, "Global Transport", "Mass decay loss");
  EXPECT_NEAR(g_in, g_out, 1e-9 * g_in + 0.05) << s;
  EXPECT_NEAR(after(s, "Global Transport", "Contam mass balance error"), 0.0, 1e-6) << s;
}

// The example lake closed behind its raised culvert, under a drizzle of 1e-6 mm/h for 20
// minutes (it brings the lake 3e-7 m3), the lake's 90 m3 starting at 1e6 g/m3 of a tracer that
// does not decay; the lake loses water only to a pump or through its leaking bed, and the tracer
// leaves with that water at the lake's concentration. The concentration stays what it was, so
// the lake holds M0 V / V0 at the end, V worked out by hand: 90 - 0.002 m3/s x 1200 s = 87.6 m3
// under the pump; 90 (1 - a)^120 through a bed 1 cm thick of K = 0.1 cm/h (a = K h / t =
// 2.78e-4 per 10 s step), drained into a table deep below. What the pump or the bed took is
// booked, and the lake's and the whole system's books close to 1e-9 of what they started with.
TEST(LakeContamCases, ALakeThatLosesWaterToAPumpOrItsBedLosesItsTracerWithIt) {
  torva_test::process_state_guard guard;
  const double bed_factor = std::pow(1.0 - 0.1 / 100.0 / 3600.0 * 10.0 / 0.01, 120.0);
  struct loss_case {
    const char* what;
    const char* chn_from;
    const char* chn_to;
    const char* extra;
    const char* loss_line;  // the lake summary's line of the loss
    double volume;          // m3 left in the lake, by hand
    bool pumped;            // the event summary books the loss to the pumps, else to the ground
  };
  const loss_case cases[] = {
      {"a lake pump", "", "", "LAKE_PUMP pumps.txt\nTIME_SERIES_FILE pump.ts\n",
       "Mass loss to lake pumps", 90.0 - 0.002 * 1200.0, true},
      {"a leaking lake bed", "MINWSE 103.6", "MLAKE 1.0\nMINWSE 103.6", "",
       "Mass loss through lake beds", 90.0 * bed_factor, false},
  };
  for (const loss_case& b : cases) {
    SCOPED_TRACE(b.what);
    temp_dir dir;
    write_lake(0.0,
               {{"RAIN_INTENSITY     50.0", "RAIN_INTENSITY     0.000001"},
                {"RAIN_DURATION      60", "RAIN_DURATION      20"},
                {"TOT_TIME           180", "TOT_TIME           20"},
                {"MAP_TYPE           1\n", ""}},
               std::string("INIT_CHAN_CONC 1e6\n") + b.extra);
    write_file("pumps.txt", "PUMP 1 TS steady\n");
    write_file("pump.ts",
               "TORVA_TS\nsteady\nABSOLUTE\n2005 3 14 0 0 0.002\n2005 3 16 0 0 0.002\nEND_TS\n");
    std::string chn = read_file("lake.chn");
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"UPINVERT 103.65", "UPINVERT 104.5"},
          std::pair<std::string, std::string>{b.chn_from, b.chn_to}}) {
      if (from.empty()) continue;
      const std::size_t at = chn.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      chn.replace(at, from.size(), to);
    }
    write_file("lake.chn", chn);
    const std::string s = run_both();
    const std::string lake = run_lake;
    const double m0 = 90.0 * 1e6 / 1000.0;  // kg
    const double expected = m0 * b.volume / 90.0;
    EXPECT_NEAR(after(s, lake, "Initial Mass in Lakes"), m0, 0.01) << s;
    const double left = after(s, lake, "Final Mass in Lakes");
    EXPECT_NEAR(left, expected, 1e-6 * m0) << s;
    const double lost = after(s, lake, b.loss_line);
    EXPECT_NEAR(lost, m0 - expected, 1e-6 * m0) << s;
    EXPECT_LT(left, 0.98 * m0) << s;
    EXPECT_EQ(after(s, lake, "Outlet mass flux"), 0.0);
    EXPECT_EQ(after(s, lake, "Mass loss to channels"), 0.0);
    EXPECT_NEAR(left + lost, m0, 1e-9 * m0 + 0.02) << s;
    EXPECT_NEAR(after(s, lake, "Lake mass balance error"), 0.0, 1e-6) << s;
    EXPECT_NEAR(after(s, "Global Transport", "Total final Mass") +
                    after(s, "Global Transport", "Total mass out of system"),
                m0, 1e-9 * m0 + 0.02)
        << s;
    EXPECT_NEAR(after(s, "Global Transport", "Contam mass balance error"), 0.0, 1e-6) << s;
    // The run is one event: the event summary's lake books hold the same figures, the loss on
    // its own line (the pump's) or as the ground's net exchange (the bed's, negative), and the
    // printed lines close to print precision.
    const torva_test::lake_event_section e = torva_test::read_lake_event_section(s, "tracer");
    ASSERT_TRUE(e.found) << s;
    EXPECT_NEAR(e.init, m0, 0.01) << s;
    EXPECT_NEAR(e.final_mass, expected, 1e-6 * m0) << s;
    const double event_lost = b.pumped ? e.pumps : -e.ground;
    EXPECT_NEAR(event_lost, m0 - expected, 1e-6 * m0) << s;
    EXPECT_EQ(e.outflow, 0.0) << s;
    EXPECT_NEAR(torva_test::lake_event_imbalance(e), 0.0, 0.02) << s;
    EXPECT_NEAR(e.error, 0.0, 1e-6) << s;
  }
}

// The same closed lake over a water table standing at 104.0 m everywhere (above the lake's
// 103.7 m), its bed 1 cm thick: groundwater rises through the bed into the lake and brings the
// tracer at the groundwater's 500 g/m3, so the lake holds M0 + 500 g/m3 x the water the bed let
// up, the gain is booked on both the lake's and the whole system's books, and both close.
TEST(LakeContamCases, GroundwaterRisingThroughALakeBedBringsItsTracer) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_lake(0.0,
             {{"RAIN_INTENSITY     50.0", "RAIN_INTENSITY     0.000001"},
              {"RAIN_DURATION      60", "RAIN_DURATION      20"},
              {"TOT_TIME           180", "TOT_TIME           20"},
              {"MAP_TYPE           1\n", ""}},
             "INIT_CHAN_CONC 1e3\nWATER_TABLE gw_head.asc\nAQUIFER_BOTTOM gw_bottom.asc\n");
  std::string row = "     1 all";
  row.resize(86, ' ');
  std::string table = read_file("lake.cmt");
  const std::size_t at_row = table.find(row + "0 0 0 0 0 0 0 0\n");
  ASSERT_NE(at_row, std::string::npos);
  table.replace(at_row, std::string(row + "0 0 0 0 0 0 0 0\n").size(), row + "0 0 0 0 500 0 0 0\n");
  write_file("lake.cmt", table);
  auto uniform = [](const char* name, const char* value) {
    std::string text = torva_test::grid_header(10, 12, 30.0);
    for (int r = 0; r < 10; ++r) {
      for (int c = 0; c < 12; ++c) text += std::string(value) + " ";
      text += "\n";
    }
    write_file(name, text);
  };
  uniform("gw_head.asc", "104.0");
  uniform("gw_bottom.asc", "80.0");
  std::string chn = read_file("lake.chn");
  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"UPINVERT 103.65", "UPINVERT 104.5"},
        std::pair<std::string, std::string>{"MINWSE 103.6", "MLAKE 1.0\nMINWSE 103.6"}}) {
    const std::size_t at = chn.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    chn.replace(at, from.size(), to);
  }
  write_file("lake.chn", chn);
  const std::string s = run_both();
  const std::string lake = run_lake;
  const double m0 = 90.0 * 1e3 / 1000.0;                                // kg
  const double up = summary_number(s, "Total flux from gw to lakes=");  // m3
  EXPECT_GT(up, 1.0) << s;
  EXPECT_NEAR(summary_number(s, "Total flux from lakes to gw="), 0.0, 0.005) << s;
  const double gain = after(s, lake, "Mass gain through lake beds");
  EXPECT_NEAR(gain, 500.0 * up / 1000.0, 0.006) << s;  // both printed to 0.01
  EXPECT_EQ(after(s, lake, "Mass loss through lake beds"), 0.0);
  EXPECT_NEAR(after(s, lake, "Final Mass in Lakes"), m0 + gain, 0.02) << s;
  EXPECT_NEAR(after(s, lake, "Lake mass balance error"), 0.0, 1e-6) << s;
  EXPECT_NEAR(after(s, "Global Transport", "Flux from GW to lakes"), gain, 1e-9) << s;
  EXPECT_NEAR(after(s, "Global Transport", "Contam mass balance error"), 0.0, 1e-6) << s;
}

// A plane of 24 x 12 cells of 10 m falling 0.1 m a cell to the south and 0.01 m a cell to the
// west, its outlet in the south-west corner, with a 3 x 3 pit 1 m deep (floor 10.3 m) holding an
// overland lake whose surface starts 0.1 m below the pit's rim (11.34 m): 846 m3. The lake's
// cells (id 2) start at `lake_conc` g/m3 and decay at `lake_decay` per day; the rest (id 1)
// start clean; the rain of `rain` mm/h for the whole run carries `rain_conc` g/m3; steps of
// `step` seconds.
void write_pit(double rain, double rain_conc, double lake_conc, double lake_decay, int minutes,
               double step) {
  const int rows = 24, cols = 12;
  const std::string header = torva_test::grid_header(rows, cols, 10.0);
  std::string mask = header, elev = header, lakes = header, ids = header;
  for (int row = 1; row <= rows; ++row)
    for (int col = 1; col <= cols; ++col) {
      const bool pit = row >= 8 && row <= 10 && col >= 5 && col <= 7;
      const char* sep = col < cols ? " " : "\n";
      mask += std::string("1") + sep;
      elev += number(pit ? 10.3 : 10.0 + 0.1 * (rows - row) + 0.01 * (col - 1)) + sep;
      lakes += std::string(pit ? "1" : "0") + sep;
      ids += std::string(pit ? "2" : "1") + sep;
    }
  write_file("mask.asc", mask);
  write_file("elev.asc", elev);
  write_file("lake.asc", lakes);
  write_file("ids.idx", ids);
  write_file("lake.txt", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 11.24 846.0\n");
  std::string plane = "     1 plane", pit = "     2 pit";
  plane.resize(86, ' ');
  pit.resize(86, ' ');
  write_file("pit.cmt",
             "TORVA_INDEX_MAP_TABLES\nINDEX_MAP ids.idx \"Cells\"\n"
             "CONTAMINANT_TRANSPORT Cells\nNUM_CONTAM 1\n\"tracer\" \"Cells\" "
             "\"tracer.out\"\nPRECIP_CONC " +
                 number(rain_conc) +
                 "\nPARTITION 0\nNUM_IDS 2\n"
                 "ID    DESCRIPTION                                  VALUES\n" +
                 plane + "0 0 0 0 0 0 0 0\n" + pit + "0 " + number(lake_decay) + " 0 0 0 " +
                 number(lake_conc) + " 0 0\n");
  write_file("plane.prj",
             "TORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n"
             "SUMMARY plane_summary.out\nOUTLET_HYDRO plane_outlet.out\nROWS 24\nCOLS 12\n"
             "GRIDSIZE 10.0\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP " +
                 number(step) + "\nTOT_TIME " + std::to_string(minutes) +
                 "\nOUTROW 24\nOUTCOL 1\nOUTSLOPE 0.01\nHYD_FREQ 60\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\nPRECIP_UNIF\nRAIN_INTENSITY " +
                 number(rain) + "\nRAIN_DURATION " + std::to_string(minutes) +
                 "\nOVERLAND_LAKE_MAP lake.asc\nOVERLAND_LAKE_FILE lake.txt\n"
                 "MAPPING_TABLE pit.cmt\nOV_CON_TRANS\n");
}

std::string run_pit() {
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts(
      "plane.prj", [] { return read_file("plane_summary.out") + read_file("plane_outlet.out"); });
  EXPECT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  return read_file("plane_summary.out");
}

// A drizzle of 0.001 mm/h, clean: the lake's 846 m3 start at 1e6 g/m3 (846,000 kg) and decay at
// 12 per day for half an hour, in 5 s steps; nothing flows in or out. What is left is
// M0 exp(-k t) within 0.1 % ((1 - k dt)^360 lies within 1e-4 of it, the straight line 1 - k t
// 4 % off), the decayed mass is booked, and the lake's and the whole system's books close.
TEST(LakeContamCases, AClosedOverlandLakeDecaysAsExpOfMinusKt) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_pit(0.001, 0.0, 1e6, 12.0, 30, 5.0);
  const std::string s = run_pit();
  const std::string lake = "Overland Lake Constituent";
  const double m0 = 846.0 * 1e6 / 1000.0;
  EXPECT_NEAR(after(s, lake, "Initial Mass in Overland Lakes"), m0, 0.01) << s;
  const double left = after(s, lake, "Final Mass in Overland Lakes");
  const double k = 12.0 / 86400.0;
  EXPECT_NEAR(left, m0 * std::exp(-k * 1800.0), 1e-3 * left) << s;
  EXPECT_NEAR(after(s, lake, "Mass decay loss"), m0 - left, 0.02);
  EXPECT_EQ(after(s, lake, "Mass spilled to overland"), 0.0);
  EXPECT_NEAR(after(s, lake, "Overland lake mass balance error"), 0.0, 1e-6);
  EXPECT_NEAR(after(s, "Global Transport", "Total initial mass"), m0, 0.01);
  EXPECT_NEAR(after(s, "Global Transport", "Total final Mass"), left, 0.01);
}

// A storm of 150 mm/h for 20 minutes (2 s steps) carries 1e5 g/m3 of the tracer; the lake starts
// at 1e4 g/m3 decaying at 2 per day. The rain on the pit and the slope above it fills the lake to
// its rim, and the water beyond spills down the plane with the lake's concentration. The lake's
// books close to 1e-9 of what came in (in = spilled + stored + decayed), so do the plane's and the
// whole system's.
TEST(LakeContamCases, AnOverlandLakeThatSpillsKeepsItsBooks) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_pit(150.0, 1e5, 1e4, 2.0, 20, 2.0);
  const std::string s = run_pit();
  const std::string lake = "Overland Lake Constituent";
  const double init = after(s, lake, "Initial Mass in Overland Lakes");
  const double final_mass = after(s, lake, "Final Mass in Overland Lakes");
  const double from_ov = after(s, lake, "Mass gain from overland");
  const double rain = after(s, lake, "Precipitation mass gain");
  const double spilled = after(s, lake, "Mass spilled to overland");
  const double decayed = after(s, lake, "Mass decay loss");
  const double restored = after(s, lake, "Mass restored to emptied lakes");
  EXPECT_NEAR(init, 846.0 * 1e4 / 1000.0, 0.01);
  // 50 mm over the pit's 900 m2 at 1e5 g/m3: 4500 kg.
  EXPECT_NEAR(rain, 4500.0, 0.01) << s;
  EXPECT_GT(from_ov, 0.0) << s;
  EXPECT_GT(spilled, 0.0) << s;
  EXPECT_GT(decayed, 0.0) << s;
  const double in = init + from_ov + rain + restored;
  EXPECT_NEAR(in, final_mass + spilled + decayed, 1e-9 * in + 0.05) << s;
  EXPECT_NEAR(after(s, lake, "Overland lake mass balance error"), 0.0, 1e-6) << s;
  EXPECT_NEAR(after(s, "Overland Constituent", "Contam mass balance error"), 0.0, 1e-6) << s;
  // The run is one event: the event summary's overland lake section gives the run's figures and
  // its printed lines close.
  const std::string event = "Overland Lakes Contaminant Transport Summary for tracer \n";
  const double e_init = dotted(s, event, "Initial Dissolved in Lakes");
  const double e_final = dotted(s, event, "Final Dissolved in Lakes");
  const double e_rain = dotted(s, event, "Precip");
  const double e_ov = dotted(s, event, "Overland flux");
  const double e_spill = dotted(s, event, "Spilled over rims");
  const double e_decay = dotted(s, event, "Dissolved decay loss");
  const double e_restored = dotted(s, event, "Restored to emptied lakes");
  EXPECT_NEAR(e_init, init, 0.01) << s;
  EXPECT_NEAR(e_final, final_mass, 0.01) << s;
  EXPECT_NEAR(e_rain, rain, 0.01) << s;
  EXPECT_NEAR(e_ov, from_ov, 0.01) << s;
  EXPECT_NEAR(e_spill, spilled, 0.01) << s;
  EXPECT_NEAR(e_decay, decayed, 0.01) << s;
  const double e_in = e_init + e_rain + e_ov + e_restored;
  EXPECT_NEAR(e_in, e_final + e_spill + e_decay, 1e-9 * e_in + 0.05) << s;
  EXPECT_NEAR(dotted(s, event, "Dissolved mass balance error"), 0.0, 1e-6) << s;
  EXPECT_NEAR(after(s, event, "Final Mass in lake 1 ="), final_mass, 0.01) << s;
  const double g_in = after(s, "Global Transport", "Total initial mass") +
                      after(s, "Global Transport", "Precipitation inputs") +
                      after(s, "Global Transport", "Mass restored to emptied cells");
  const double g_out = after(s, "Global Transport", "Total final Mass") +
                       after(s, "Global Transport", "Total mass out of system") +
                       after(s, "Global Transport", "Mass decay loss");
  EXPECT_NEAR(g_in, g_out, 1e-9 * g_in + 0.05) << s;
  EXPECT_NEAR(after(s, "Global Transport", "Contam mass balance error"), 0.0, 1e-6) << s;
}

// The lake example with the nutrient species and no other constituent: the plane starts clean,
// the storm's rain carries NO2 1, NO3 8, NH4 2, OP 0.5 and DP 1 g/m3, and the channels and the
// lake start at NO3 5, NH4 2 and DP 0.3 g/m3. Nothing transforms the species, so every gram of
// nitrogen and of phosphorus is in the books: what the plane, the channels and the lake held at
// the start and what the rain brought is what left (through the outlet and the infiltration)
// and what plane, channels and lake hold at the end, to 1e-9; the lake took the species from
// its link and gave them to the culvert.
TEST(LakeContamCases, NitrogenAndPhosphorusAreConservedThroughALake) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_lake(0.0,
             {{"TOT_TIME           180", "TOT_TIME           20"},
              {"TIMESTEP           10.0", "TIMESTEP           20.0"},
              {"MAP_TYPE           1\n", ""}},
             "");
  auto table = [](const std::string& keyword, const std::string& values,
                  const std::string& precip) {
    return keyword + " Cells\nNUM_IDS 1\n" + precip + torva_test::table_column_header +
           torva_test::table_row(1, values);
  };
  write_file("lake.cmt", torva_test::table_file_magic + "INDEX_MAP lake_ids.idx Cells\n" +
                             table("NSM_N", "0 0 0 0", "PRECIP_CONC 1 8 2 0\n") +
                             table("NSM_P", "0 0 0", "PRECIP_CONC 0.5 1 0\n"));
  write_file("lake_env.txt",
             "AQUATIC_ENV_NSM10\nOV_MAP lake_ids.idx\nNUM_IDS 1\nID heading\n1\nDEFAULT\n");
  std::string project = read_file("lake.prj");
  const std::size_t at = project.find("OV_CON_TRANS\n");
  ASSERT_NE(at, std::string::npos);
  project.replace(at, std::string("OV_CON_TRANS\n").size(), "");
  write_file("lake.prj", project +
                             "NUTRIENTS\nAQ_ENV lake_env.txt\nWATER_TEMP 20\nCHAN_PH 7.5\n"
                             "OV_INIT_NO3\nOV_INIT_OP\nST_INIT_NO3 5\nST_INIT_NH4 2\n"
                             "ST_INIT_DP 0.3\n");
  const std::string s = run_both();
  const struct {
    const char* books;
    const char* error;
    double lake_init;  // kg: the lake's 90 m3 at the stream start
  } elements[] = {{"Nutrient nitrogen books", "Nutrient nitrogen balance error", 7.0 * 0.09},
                  {"Nutrient phosphorus books", "Nutrient phosphorus balance error", 0.3 * 0.09}};
  for (const auto& e : elements) {
    SCOPED_TRACE(e.books);
    const double lake_init = after(s, e.books, "Initial mass in lakes");
    EXPECT_NEAR(lake_init, e.lake_init, 1e-12) << s;
    const double in = after(s, e.books, "Initial mass in water") +
                      after(s, e.books, "Precipitation mass gain") +
                      after(s, e.books, "Mass restored to emptied cells") +
                      after(s, e.books, "Initial mass in channels") +
                      after(s, e.books, "Mass restored to emptied nodes") + lake_init +
                      after(s, e.books, "Precipitation mass on lakes") +
                      after(s, e.books, "Mass restored to emptied lakes");
    const double held =
        after(s, e.books, "Outlet mass flux") + after(s, e.books, "Final mass in water") +
        after(s, e.books, "Final mass in soil") + after(s, e.books, "Channel outlet mass flux") +
        after(s, e.books, "Final mass in channels") + after(s, e.books, "Lake outlet mass flux") +
        after(s, e.books, "Final mass in lakes");
    EXPECT_GT(after(s, e.books, "Precipitation mass on lakes"), 0.0);
    EXPECT_NEAR(held, in, 1e-9 * in) << s;
    EXPECT_LT(std::fabs(after(s, e.books, e.error)), 1e-7) << s;
  }
  // The nitrate went into the lake from its link and on through its culvert.
  const std::string no3 = "Channel Constituent Transport Summary for Nitrate (NO3-)";
  EXPECT_GT(after(s, no3, "Mass gain from lakes"), 0.0) << s;
  EXPECT_GT(after(s, no3, "Mass loss to lakes"), 0.0) << s;
  EXPECT_LT(std::fabs(after(s, no3, "Dissolved mass balance error")), 1e-4) << s;
  // The event summary's books of the species hold the exchanges with the lake too.
  const std::string ov_event =
      "Overland Contaminant Transport Summary for Nitrate (NO3-) \n"
      "Amounts are total mass for event";
  const std::string ch_event =
      "Channel Contaminant Transport Summary for Nitrate (NO3-) \n"
      "Amounts are total for event";
  EXPECT_GT(dotted(s, ch_event, "Mass gain from lakes"), 0.0) << s;
  EXPECT_LT(std::fabs(dotted(s, ov_event, "Dissolved mass balance error")), 1e-3) << s;
  EXPECT_LT(std::fabs(dotted(s, ch_event, "Contam mass balance error")), 1e-3) << s;
  // The event summary's lake section of each species: the run is one event, so the nitrate's
  // lake books give what the lake started with (5 g/m3 over 90 m3), took from its link and gave
  // its culvert, and close (the printed lines to their rounding, the balance error line to its
  // digits); so do the dissolved phosphorus's.
  for (const char* species : {"Nitrate (NO3-)", "Dissolved Phosphorous (Dissolved P)"}) {
    SCOPED_TRACE(species);
    const torva_test::lake_event_section e = torva_test::read_lake_event_section(s, species);
    ASSERT_TRUE(e.found) << s;
    EXPECT_GT(e.inflow, 0.0) << s;
    const double e_in = e.init + e.precip + e.inflow + e.exchange + e.overland + e.restored;
    EXPECT_NEAR(torva_test::lake_event_imbalance(e), 0.0, 1e-9 * e_in + 0.03) << s;
    EXPECT_LT(std::fabs(e.error), 1e-6) << s;
  }
  const torva_test::lake_event_section no3_lake =
      torva_test::read_lake_event_section(s, "Nitrate (NO3-)");
  EXPECT_NEAR(no3_lake.init, 0.45, 0.005) << s;
  EXPECT_GT(no3_lake.outflow, 0.0) << s;
  // The lake's ammonia stays in equilibrium with its ammonium while the lake fills and drains:
  // with no organic nitrogen anywhere its Kjeldahl nitrogen is NH4 + NH3, and NH3 / NH4 by mass
  // is Ka / [H+] x 17.031 / 18.039 at 20 degrees and pH 7.5.
  const double r = std::pow(10.0, -(0.09018 + 2729.92 / (20.0 + 273.15))) / std::pow(10.0, -7.5) *
                   17.031 / 18.039;
  const std::string lakes = "Nutrient lake totals at the end of the run";
  const double nh3 = after(s, lakes, "Lake 1     un-ionised ammonia (NH3)");
  const double kn = after(s, lakes, "Lake 1     total Kjeldahl nitrogen");
  EXPECT_GT(nh3, 1e-4) << s;
  EXPECT_NEAR(nh3 / (kn - nh3), r, 1e-6 * r) << s;
}

// A closed lake (its culvert's invert above its surface, a drizzle of 0.001 mm/h on a dry plane,
// the channels empty) keeps the 90 m3 it starts with and the species the stream cards gave it
// over that water, at 25 degrees and pH 8.2. Its un-ionised ammonia is the NH4+ in equilibrium:
// NH3 / NH4+ in moles is Ka / [H+], Ka = 10^-(0.09018 + 2729.92 / (T + 273.15)), [H+] =
// 10^-pH, so NH3 = NH4 mass x Ka / [H+] x 17.031 / 18.039 whenever the lake's ammonium reaches
// 1e-7 mol/m3, else 0 (1e-6 g/m3 is 5.5e-8 mol/m3). Its totals are the sums of its species:
// nitrogen NO2 + NO3 + NH4 + ON + NH3, Kjeldahl nitrogen NH4 + ON + NH3, phosphorus OP + DP,
// all computed here by hand from the cards.
TEST(LakeContamCases, LakeAmmoniaAndTotalsFollowTheLakesSpecies) {
  torva_test::process_state_guard guard;
  const double ka = std::pow(10.0, -(0.09018 + 2729.92 / (25.0 + 273.15)));
  const double r = ka / std::pow(10.0, -8.2) * 17.031 / 18.039;  // NH3 per NH4, by mass
  const struct {
    const char* what;
    double nh4;  // g/m3 in the lake
    double nh3;  // kg in the lake
  } rows[] = {{"ammonium above the lakes' limit", 2.0, 90.0 * 2.0 * r / 1000.0},
              {"ammonium below the lakes' limit", 1e-6, 0.0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    temp_dir dir;
    write_closed_nutrient_lake("ST_INIT_NO2 0.5\nST_INIT_NO3 5\nST_INIT_NH4 " + number(row.nh4) +
                               "\nST_INIT_ON 1\nST_INIT_OP 0.4\nST_INIT_DP 0.3\n");
    const std::string s = run_both();
    const std::string lakes = "Nutrient lake totals at the end of the run";
    EXPECT_EQ(after(s, "Nutrient nitrogen books", "Lake outlet mass flux"), 0.0) << s;
    const double nh3 = after(s, lakes, "Lake 1     un-ionised ammonia (NH3)");
    if (row.nh3 == 0.0) {
      EXPECT_EQ(nh3, 0.0) << s;
    } else {
      EXPECT_NEAR(nh3, row.nh3, 1e-9 * row.nh3) << s;
      EXPECT_GT(nh3, 0.01);
    }
    // kg over the lake's 90 m3.
    const double n = 0.09 * (0.5 + 5.0 + row.nh4 + 1.0) + row.nh3;
    const double kn = 0.09 * (row.nh4 + 1.0) + row.nh3;
    const double p = 0.09 * (0.4 + 0.3);
    EXPECT_NEAR(after(s, lakes, "Lake 1     total nitrogen"), n, 1e-9 * n) << s;
    EXPECT_NEAR(after(s, lakes, "Lake 1     total Kjeldahl nitrogen"), kn, 1e-9 * kn) << s;
    EXPECT_NEAR(after(s, lakes, "Lake 1     total phosphorus"), p, 1e-9 * p) << s;
  }
}

// The lake link fields ("-1 value") of every record of a link/node dataset: per record, in link
// order, the values of the lake links' lines; a placeholder field ("0  -999.999") counts as NaN.
std::vector<std::vector<double>> lake_fields(const std::string& dataset) {
  std::vector<std::vector<double>> records;
  std::size_t at = 0;
  while ((at = dataset.find("TS ", at)) != std::string::npos) {
    records.emplace_back();
    std::size_t line = dataset.find('\n', at) + 1;
    // The record's links, one line each, up to the empty line that ends it.
    while (line < dataset.size() && dataset[line] != '\n') {
      const std::size_t end = dataset.find('\n', line);
      const std::string text = dataset.substr(line, end - line);
      if (text.rfind("-1 ", 0) == 0)
        records.back().push_back(std::strtod(text.c_str() + 3, nullptr));
      else if (text.rfind("0  -999.999", 0) == 0)
        records.back().push_back(std::nan(""));
      line = end + 1;
    }
    at = line;
  }
  return records;
}

// The example lake closed behind its raised culvert under a drizzle of 0.001 mm/h for 10
// minutes, its 90 m3 starting at 100 g/m3 of a tracer that does not decay, the links at the
// same concentration. The constituent link/node datasets (ALL_CONTAM_OUTPUT, a record at every
// 5-minute interval) give the lake link's field the lake's own value in the units of the nodes'
// fields: its concentration, 100 g/m3 (the drizzle dilutes it by under 1e-5), and its mass, 90 x
// 100 = 9000 g, in every record.
TEST(LakeContamCases, TheConstituentLinkNodeFilesGiveALakeLinkItsLakesValue) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_lake(0.0,
             {{"RAIN_INTENSITY     50.0", "RAIN_INTENSITY     0.001"},
              {"RAIN_DURATION      60", "RAIN_DURATION      10"},
              {"TOT_TIME           180", "TOT_TIME           10"},
              {"MAP_TYPE           1\n", ""}},
             "INIT_CHAN_CONC 100\nALL_CONTAM_OUTPUT\n");
  std::string chn = read_file("lake.chn");
  const std::size_t at = chn.find("UPINVERT 103.65");
  ASSERT_NE(at, std::string::npos);
  chn.replace(at, std::string("UPINVERT 103.65").size(), "UPINVERT 104.5");
  write_file("lake.chn", chn);
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lake.prj", [] {
    return read_file("lake_summary.out") + read_file("tracer.out.chan.conc") +
           read_file("tracer.out.chan.mass");
  });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  const struct {
    const char* file;
    double value;
    double tolerance;
  } files[] = {{"tracer.out.chan.conc", 100.0, 1e-3}, {"tracer.out.chan.mass", 9000.0, 1e-5}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    const std::string text = read_file(f.file);
    const std::vector<std::vector<double>> records = lake_fields(text);
    ASSERT_GE(records.size(), 2u) << text;
    for (const std::vector<double>& r : records) {
      ASSERT_EQ(r.size(), 1u) << text;  // the example has one lake link
      EXPECT_NEAR(r[0], f.value, f.tolerance) << text;
    }
  }
}

// The same closed lake holding the nutrient species the stream cards give it (NO3 5, NH4 2, ON
// 1, NO2 0.5 g/m3 over its 90 m3 at 25 degrees and pH 8.2, the plane clean): the nitrate link/node
// datasets and the channel total-nitrogen dataset give the lake link's field the lake's value in
// the units of the nodes' fields: nitrate mass 0.45 kg, concentration 5 g/m3, and total
// nitrogen (NO2 + NO3 + NH4 + ON + NH3, NH3 the NH4 in equilibrium worked out by hand) in g x
// 1000 like the nodes, in the one record of the map interval.
TEST(LakeContamCases, TheNutrientLinkNodeFilesGiveALakeLinkItsLakesValue) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  write_closed_nutrient_lake(
      "ST_INIT_NO2 0.5\nST_INIT_NO3 5\nST_INIT_NH4 2\nST_INIT_ON 1\nOUT_ST_NO3 no3_chan\n"
      "TOTAL_CHAN_N tn.lnd\n");
  const torva_test::thread_runs runs = torva_test::run_at_compared_thread_counts("lake.prj", [] {
    return read_file("lake_summary.out") + read_file("no3_chan.mass") + read_file("no3_chan.conc") +
           read_file("tn.lnd");
  });
  ASSERT_EQ(runs.run[1].status, 0) << runs.run[1].out;
  const double r = std::pow(10.0, -(0.09018 + 2729.92 / (25.0 + 273.15))) / std::pow(10.0, -8.2) *
                   17.031 / 18.039;
  const double total_n_g = 90.0 * (0.5 + 5.0 + 2.0 + 1.0) + 90.0 * 2.0 * r;
  const struct {
    const char* file;
    double value;
  } files[] = {{"no3_chan.mass", 0.45}, {"no3_chan.conc", 5.0}, {"tn.lnd", total_n_g * 1000.0}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    const std::string text = read_file(f.file);
    const std::vector<std::vector<double>> records = lake_fields(text);
    ASSERT_GE(records.size(), 1u) << text;
    for (const std::vector<double>& rec : records) {
      ASSERT_EQ(rec.size(), 1u) << text;
      EXPECT_NEAR(rec[0], f.value, 1e-6 * f.value + 1e-5) << text;
    }
  }
}

}  // namespace lake_contam_cases_tests
