// The nutrient sub-model in a channel network end to end, run by the real torva executable on a
// one-row valley written by the tests: the ponded plane above a trapezoidal link holds nitrogen
// and phosphorus species, the rain brings more, the soil's top layer holds pools that release
// into the water, the plane drains into the link and the link carries the species out through
// its last node. Nitrogen and phosphorus are conserved over plane, soil and channels; the stream
// initial values and the channel link/node outputs of a species and of the totals are checked
// against hand computations. Every run is made on 1 and 8 threads, which must write the same
// bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::number;
using torva_test::read_file;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace stream_nutrient_cases_tests {

// The valley: `cols` cells of 50 m in one row; one trapezoidal link (4 m wide at the bottom,
// side slopes of 2, n = 0.03) of one computational node per cell under it, its bed falling 0.002
// per metre from 110 m, the ground 1 m above the bed. The channel starts `depth` deep (a
// hotstart).
constexpr int cols = 6;
constexpr double cell = 50.0;
constexpr double bottom = 4.0;
constexpr double side = 2.0;
constexpr double slope = 0.002;
constexpr double depth = 0.5;

double bed(double x) {
  return 110.0 - slope * x;
}

double trapezoid_area(double y) {
  return (bottom + side * y) * y;
}

std::string grid(const std::vector<double>& values) {
  std::string text = torva_test::grid_header(1, cols, cell);
  for (double v : values) text += number(v) + " ";
  return text + "\n";
}

// The whole project. The plane is ponded `pond` m deep and holds NO3 20, NH4 4, ON 6 and DP
// 2 g/m3; the rain (`rain` mm/h for 20 minutes) carries NO2 1, NO3 8 and NH4 2 g/m3; the soil's top
// 5 cm hold per cell 1 kg of ammonium, 2 kg of nitrate, 0.5 kg of organic active nitrogen, 0.4 kg
// of solution phosphorus and 0.2 kg of organic active phosphorus, released at 5 per day; the
// channel starts with NO3 5, NH4 2 and DP 0.3 g/m3. `extra` cards go at the end.
void write_valley(double minutes, double pond, double rain, const std::string& extra) {
  std::vector<double> ones(cols, 1.0), ground(cols), ponds(cols, pond);
  for (int j = 1; j <= cols; ++j) ground[j - 1] = bed(cell * (j - 0.5)) + 1.0;
  write_file("valley_mask.asc", grid(ones));
  write_file("valley_elev.asc", grid(ground));
  write_file("valley_pond.asc", grid(ponds));
  write_file("valley_ids.idx", grid(ones));
  std::string chn = "TORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 1\nMAXNODES " +
                    std::to_string(cols + 1) + "\nCONNECT 1 0 0\n\nLINK 1\nNODES " +
                    std::to_string(cols + 1) + "\nDX " + number(cell) +
                    "\nTRAPEZOID\nMANNINGS_N 0.03\n";
  for (int n = 1; n <= cols + 1; ++n) {
    chn += "NODE " + std::to_string(n) + "\nELEV " + number(bed(cell * (n - 1))) + "\n";
    if (n == 1) chn += "XSEC\nBOTTOM_WIDTH 4.0\nSIDE_SLOPE 2.0\nBANKFULL_DEPTH 1.0\n";
  }
  write_file("valley.chn", chn);
  std::string gst = "GRIDSTREAMFILE\nSTREAMCELLS " + std::to_string(cols) + "\n";
  for (int j = 1; j <= cols; ++j)
    gst += "CELLIJ 1 " + std::to_string(j) + "\nNUMNODES 1\nLINKNODE 1 " + std::to_string(j) +
           " 1.0\n";
  write_file("valley.gst", gst);
  // Each computational node's bed lies mid-cell: "node link level" lines.
  std::string hot;
  for (int j = 1; j <= cols; ++j)
    hot += std::to_string(j) + " 1 " + number(bed(cell * (j - 0.5)) + depth) + "\n";
  write_file("valley.hot", hot);
  write_file("valley_env.txt",
             "AQUATIC_ENV_NSM10\nOV_MAP valley_ids.idx\nNUM_IDS 1\nID heading\n1\nDEFAULT\n");
  auto table = [](const std::string& keyword, const std::string& values,
                  const std::string& precip = "") {
    return keyword + " Land\nNUM_IDS 1\n" + precip + torva_test::table_column_header +
           torva_test::table_row(1, values);
  };
  write_file("valley.cmt", torva_test::table_file_magic + "INDEX_MAP valley_ids.idx Land\n" +
                               table("NSM_N", "0 20 4 6", "PRECIP_CONC 1 8 2 0\n") +
                               table("NSM_SOIL_N", "1 2 0.5 0 0") +
                               table("NSM_SOIL_P", "0 0.4 0 0.2 0 0"));
  std::string t = "TORVAPROJECT\nWATERSHED_MASK valley_mask.asc\nELEVATION valley_elev.asc\n";
  t += "SUMMARY valley_summary.out\nOUTLET_HYDRO valley_outlet.out\nROWS 1\nCOLS " +
       std::to_string(cols) + "\nGRIDSIZE " + number(cell) +
       "\nSTART_DATE 2005 3 14\nSTART_TIME 6 30\nTIMESTEP 5\nTOT_TIME " + number(minutes) +
       "\nOUTROW 1\nOUTCOL " + std::to_string(cols) +
       "\nOUTSLOPE 0.002\nMANNING_N 0.05\nOVERTYPE explicit\nCHAN_EXPLIC\n"
       "CHANNEL_INPUT valley.chn\nSTREAM_CELL valley.gst\nREAD_CHAN_HOTSTART valley.hot\n"
       "READ_OV_HOTSTART valley_pond.asc\nPRECIP_UNIF\nRAIN_INTENSITY " +
       number(rain) + "\nRAIN_DURATION 20\nHYD_FREQ 1\nGREEN_AMPT\n";
  const std::pair<const char*, double> soil[] = {
      {"CONDUCTIVITY", 0.5}, {"CAPILLARY", 16.7}, {"POROSITY", 0.486}, {"MOISTURE", 0.2}};
  for (const auto& [card, value] : soil) {
    const std::string file = std::string("valley_") + card + ".asc";
    write_file(file, grid(std::vector<double>(cols, value)));
    t += std::string(card) + " " + file + "\n";
  }
  t += "MAPPING_TABLE valley.cmt\nSOIL_CON_TRANS\nMIXING_LAYER_DEPTH 0.05\nCHAN_CON_TRANS\n";
  t += "NUTRIENTS\nAQ_ENV valley_env.txt\nWATER_TEMP 20\nCHAN_PH 7.5\nOV_UPTAKE_RATE 5\n";
  t += "OV_INIT_NO3\nOV_INIT_NH4\nOV_INIT_ON\nOV_INIT_DP 2\nSOILS_NSM_N\nSOILS_NSM_P\n";
  t += "ST_INIT_NO3 5\nST_INIT_NH4 2\nST_INIT_DP 0.3\n" + extra;
  write_file("valley.prj", t);
}

// Runs valley.prj on 1 and 8 threads (the summary and `files` must be the same bytes) and
// returns the summary.
std::string run_both(const std::vector<std::string>& files) {
  torva_test::run_at_compared_thread_counts("valley.prj", [&] {
    std::string all = read_file("valley_summary.out");
    for (const std::string& f : files) all += "\n@@ " + f + "\n" + read_file(f);
    return all;
  });
  return read_file("valley_summary.out");
}

// The number after the first line of `text` from `after` on that starts with `label`.
double number_after(const std::string& text, const std::string& after, const std::string& label) {
  const std::size_t from = text.find(after);
  if (from == std::string::npos) return std::nan("");
  const std::size_t at = text.find("\n" + label, from);
  if (at == std::string::npos) return std::nan("");
  return summary_number(text.substr(at + 1), label);
}

// The number of the aligned line (label, dot leader, value) that starts with `label`, first
// from `after` on in `text`; NaN when there is none.
double aligned(const std::string& text, const std::string& after, const std::string& label) {
  const std::size_t from = text.find(after);
  if (from == std::string::npos) return std::nan("");
  const std::size_t at = text.find("\n" + label + " ", from);
  if (at == std::string::npos) return std::nan("");
  std::size_t v = at + 1 + label.size();
  while (v < text.size() && (text[v] == ' ' || text[v] == '.')) ++v;
  return std::strtod(text.c_str() + v, nullptr);
}

// The records of a link/node dataset of the one link: per record the node values (each record
// is a "TS" line, then the link's node count and, per node, a flag and the value).
std::vector<std::vector<double>> records(const std::string& dataset) {
  std::vector<std::vector<double>> all;
  std::istringstream lines(dataset);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("TS ", 0) != 0 || !std::getline(lines, line)) continue;
    std::istringstream fields(line);
    int nodes = 0;
    fields >> nodes;
    std::vector<double> values;
    double flag = 0.0, v = 0.0;
    for (int n = 0; n < nodes && (fields >> flag >> v); ++n) values.push_back(v);
    all.push_back(values);
  }
  return all;
}

// The plane drains into the link and the link out through its last node for an hour, while the
// soil pools release into the ponded water and the rain falls for 20 minutes. Every gram of
// nitrogen and of phosphorus is in the books: what the water, the soil and the channels held at
// the start and what the rain brought is what left (over the plane's outlet and through the
// channel's last node) and what the water, the soil and the channels hold at the end, to 1e-9.
// The same holds over half an hour when the stream bed seeps (STREAM_LOSS: the water it takes
// carries the species out of the channels) and when a channel point source at node 1 brings 0.1
// m3/s of 10 g/m3 of nitrate, 0.1 x 10 x 1800 / 1000 = 1.8 kg of nitrogen and none of
// phosphorus.
TEST(StreamNutrientCases, NitrogenAndPhosphorusAreConservedOverPlaneSoilAndChannels) {
  const struct {
    const char* what;
    const char* extra;
    double minutes;
  } variants[] = {
      {"plain", "", 60.0},
      {"seeping bed", "STREAM_LOSS\nK_RIVER 0.036\nM_RIVER 1.0\n", 30.0},
      {"point source", "CHAN_POINT_INPUT points.txt\n", 30.0},
  };
  for (const auto& v : variants) {
    SCOPED_TRACE(v.what);
    temp_dir dir;
    write_valley(v.minutes, 0.05, 30.0, "OUT_HYD_NO3 no3_out\n" + std::string(v.extra));
    // The point's flow, then a concentration per constituent: the nine species, the four pools.
    write_file("points.txt", "NUMPT 1\nPOINT 1 1 0.1 0 10 0 0 0 0 0 0 0 0 0 0 0\nNRPDS 0\n");
    const std::string s = run_both({"no3_out.mass"});
    // The channel's start by hand: every node holds the trapezoid of 0.5 m times 50 m of water.
    const double node_water = trapezoid_area(depth) * cell * cols;  // m3 in the link
    const bool seeping = std::string(v.what) == "seeping bed";
    const bool point = std::string(v.what) == "point source";
    const struct {
      const char* books;
      const char* error;  // the books' own balance line (percent)
      double chan_init;   // kg
      double point;       // kg
    } elements[] = {{"Nutrient nitrogen books", "Nutrient nitrogen balance error",
                     (5.0 + 2.0) * node_water / 1000.0, 1.8},
                    {"Nutrient phosphorus books", "Nutrient phosphorus balance error",
                     0.3 * node_water / 1000.0, 0.0}};
    for (const auto& e : elements) {
      SCOPED_TRACE(e.books);
      const double chan_init = number_after(s, e.books, "Initial mass in channels");
      EXPECT_NEAR(chan_init, e.chan_init, 1e-12 * e.chan_init) << s;
      // The channels' other bounds, where the run has them.
      const double bed = seeping ? number_after(s, e.books, "Stream bed mass gain/loss") : 0.0;
      const double brought =
          point ? number_after(s, e.books, "Channel point source mass gain") : 0.0;
      if (seeping) {
        EXPECT_LT(bed, -0.01 * chan_init) << s;
      }
      // Within the rounding of the clock's Julian days.
      if (point) {
        EXPECT_NEAR(brought, e.point, 1e-7 * e.point + 1e-12) << s;
      }
      const double in = number_after(s, e.books, "Initial mass in water") +
                        number_after(s, e.books, "Initial mass in soil pools") +
                        number_after(s, e.books, "Precipitation mass gain") + chan_init +
                        number_after(s, e.books, "Mass restored to emptied cells") +
                        number_after(s, e.books, "Mass restored to emptied nodes") + brought;
      const double chan_out = number_after(s, e.books, "Channel outlet mass flux");
      const double held = number_after(s, e.books, "Outlet mass flux") + chan_out +
                          number_after(s, e.books, "Final mass in water") +
                          number_after(s, e.books, "Final mass in soil") +
                          number_after(s, e.books, "Final mass in channels") - bed;
      EXPECT_GT(chan_out, 0.01 * chan_init);  // the link carried some away
      EXPECT_NEAR(held, in, 1e-9 * in) << s;
      EXPECT_LT(std::fabs(number_after(s, e.books, e.error)), 1e-7) << s;
    }
    // Each species' plane and channel books close on their own, and the stream got what the plane
    // gave it.
    for (const char* species : {"Nitrate (NO3-)", "Ammonium (NH4+)", "Organic Nitrogen (Organic N)",
                                "Dissolved Phosphorous (Dissolved P)"}) {
      SCOPED_TRACE(species);
      const std::string ov = std::string("Overland Constituent Transport Summary for ") + species;
      const std::string ch = std::string("Channel Constituent Transport Summary for ") + species;
      const double to_stream = number_after(s, ov, "Mass loss to stream");
      EXPECT_GT(to_stream, 0.0);
      EXPECT_EQ(to_stream, number_after(s, ch, "Mass gain from overland"));
      EXPECT_LT(std::fabs(number_after(s, ov, "Contam mass balance error")), 1e-4) << s;
      EXPECT_LT(std::fabs(number_after(s, ch, "Dissolved mass balance error")), 1e-4) << s;
    }
    // The outlet series ends on what left the watershed: over the plane's outlet and through the
    // channel's last node.
    const std::string mass = read_file("no3_out.mass");
    std::istringstream last(mass.substr(mass.rfind('\n', mass.size() - 2) + 1));
    double t = 0.0, m = 0.0;
    last >> t >> m;
    EXPECT_DOUBLE_EQ(t, v.minutes);
    const std::string no3_ov = "Overland Constituent Transport Summary for Nitrate (NO3-)";
    const std::string no3_ch = "Channel Constituent Transport Summary for Nitrate (NO3-)";
    EXPECT_NEAR(
        m,
        number_after(s, no3_ov, "Outlet mass flux") + number_after(s, no3_ch, "Outlet mass flux"),
        0.011);
    EXPECT_GT(m, 0.0);
    const torva_test::summary_balance b = torva_test::read_summary_balance(s);
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
  }
}

// The event summary of the same hour gives each species' books over the event on the plane and in
// the channels and each soil pool's, each closing on its own; the event's start is the run's
// (one event), so its initial masses are the hand-computed starting masses and its lateral flow
// is the run's.
TEST(StreamNutrientCases, EventSummaryKeepsEachSpeciesAndPoolBooks) {
  temp_dir dir;
  write_valley(60.0, 0.05, 30.0, "");
  const std::string s = run_both({});
  const std::string event_ov = "Amounts are total mass for event in (Kg)";
  auto ov = [&](const char* species) {
    return std::string("Overland Contaminant Transport Summary for ") + species + " \n" + event_ov;
  };
  auto ch = [](const char* species) {
    return std::string("Channel Contaminant Transport Summary for ") + species +
           " \nAmounts are total for event";
  };
  auto soil = [](const char* pool) {
    return std::string("Soil Contaminant Transport Summary for ") + pool + " \n";
  };
  // By hand: NO3 at 20 g/m3 in 5 cm of water over 6 cells of 2500 m2, 5 g/m3 in the link's 2.5 m2
  // over 300 m; the rain's 8 g/m3 in 10 mm over the cells.
  EXPECT_NEAR(aligned(s, ov("Nitrate (NO3-)"), "Initial Dissolved Mass on Overland"), 15.0, 0.005);
  EXPECT_NEAR(aligned(s, ch("Nitrate (NO3-)"), "Initial Dissolved Mass in Channels"), 3.75, 0.005);
  EXPECT_NEAR(aligned(s, ov("Nitrate (NO3-)"), "Precipitation gain"), 1.2, 0.005);
  for (const char* species : {"Nitrate (NO3-)", "Ammonium (NH4+)", "Organic Nitrogen (Organic N)",
                              "Dissolved Phosphorous (Dissolved P)"}) {
    SCOPED_TRACE(species);
    const double lateral = aligned(s, ov(species), "Lateral flow to streams");
    EXPECT_GT(lateral, 0.1);
    EXPECT_EQ(lateral, aligned(s, ch(species), "Mass gain from overland"));
    EXPECT_NEAR(
        lateral,
        number_after(s, std::string("Overland Constituent Transport Summary for ") + species,
                     "Mass loss to stream"),
        0.005);
    EXPECT_GT(aligned(s, ov(species), "Uptake from soil (NSM)"), 0.0);
    EXPECT_GT(aligned(s, ch(species), "Outlet mass flux"), 0.1);
    EXPECT_LT(std::fabs(aligned(s, ov(species), "Dissolved mass balance error")), 1e-4) << s;
    EXPECT_LT(std::fabs(aligned(s, ch(species), "Contam mass balance error")), 1e-4) << s;
  }
  // The exchanging pools gave the water and took back what infiltrated; a carbon pool, which
  // exchanges nothing, keeps its empty books.
  for (const char* pool : {"Ammonium (NH4+)", "Nitrate (NO3-)", "Organic Active Nitrogen",
                           "Mineral Solution Phosphorus", "Organic Active Phosphorus"}) {
    SCOPED_TRACE(pool);
    EXPECT_GT(aligned(s, soil(pool), "Initial Mass in Soil Column"), 0.0);
    EXPECT_GT(aligned(s, soil(pool), "Mass added by infiltration"), 0.0);
    EXPECT_GT(aligned(s, soil(pool), "NSM surface water exchange from soil"), 0.0);
    EXPECT_LT(std::fabs(aligned(s, soil(pool), "Soil mass balance error")), 1e-4) << s;
  }
  // Ammonium pool: 1 kg per cell at the start.
  EXPECT_NEAR(aligned(s, soil("Ammonium (NH4+)"), "Initial Mass in Soil Column"), 6.0, 0.005);
  for (const char* label :
       {"Initial Mass in Soil Column", "Mass added by infiltration", "Soil mass balance error"})
    EXPECT_EQ(aligned(s, soil("Organic Active Carbon"), label), 0.0) << label;
}

// The stream initial value of a species comes from its card as a number, from the nitrogen table
// of the stream mapping-table file (no argument) or from a stream map (a file name): each way the
// link starts with 5 g/m3 of NO3 in its 2.5 m2 over 300 m, 3.75 kg, beside 1.5 kg of NH4. A table
// or a map that is not there stops the run at start-up naming the species.
TEST(StreamNutrientCases, StreamInitialValuesComeFromACardATableOrAMap) {
  temp_dir dir;
  struct row {
    const char* what;
    std::string cards;    // in place of "ST_INIT_NO3 5"
    bool with_files;      // the stream mapping table and the stream map are written
    std::string message;  // empty: the run goes through
  };
  const row rows[] = {
      {"a number", "ST_INIT_NO3 5\n", false, ""},
      {"the stream mapping table", "ST_INIT_NO3\nST_MAPPING_TABLE valley.stm\n", true, ""},
      {"a stream map", "ST_INIT_NO3 no3.map\n", true, ""},
      {"no stream mapping table", "ST_INIT_NO3\n", false,
       "Error: Nutrient constituent to use mapping table for input value but no mapping table "
       "exists (Stream): Nitrate (NO3-)\n"},
      {"a stream map that is not there", "ST_INIT_NO3 no3.map\n", false,
       "Error opening initial condition continuous map file \nfor the stream Nitrate (NO3-) "
       "constituent. \nGiven filename: no3.map\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    write_valley(1.0, 0.0, 0.01, "");
    std::string prj = read_file("valley.prj");
    prj.replace(prj.find("ST_INIT_NO3 5\n"), 14, r.cards);
    write_file("valley.prj", prj);
    std::remove("valley.stm");
    std::remove("no3.map");
    std::remove("reach.map");
    if (r.with_files) {
      write_file("reach.map", "STREAM_MAP\nNLINKS 1\n1\n");
      write_file("no3.map", "STREAM_MAP\nNLINKS 1\n5\n");
      write_file("valley.stm",
                 "TORVA_STREAM_INDEX_MAP_TABLES\nST_INDEX_MAP reach.map reaches\n"
                 "NSM_N reaches\nNUM_IDS 1\n" +
                     torva_test::table_column_header +
                     torva_test::table_row(1, "0 5 0 0", "reach"));
    }
    if (!r.message.empty()) {
      const torva_test::command_result run = torva_test::run_with_threads("valley.prj", 1);
      EXPECT_NE(run.status, 0);
      EXPECT_TRUE(contains(run.out, r.message)) << run.out;
      continue;
    }
    const std::string s = run_both({});
    // NO3 and the NH4 of its card (2 g/m3) in the link's water.
    const double expected = (5.0 + 2.0) * trapezoid_area(depth) * cell * cols / 1000.0;
    EXPECT_NEAR(number_after(s, "Nutrient nitrogen books", "Initial mass in channels"), expected,
                1e-12 * expected)
        << s;
  }
}

// The channel alone, no water on the plane and a rain too light to run off (0.01 mm/h): the link
// drains the 0.5 m it starts with while its species keep the concentrations the stream cards gave
// them (NO3 5, NH4 2, DP 0.3 g/m3), uniform along the link. The link/node datasets, written at the
// map interval, show per node the NO3 mass (kg) and concentration, and the totals (g x 1000): total
// nitrogen NO3 + NH4
// + NH3, Kjeldahl nitrogen NH4 + NH3 and total phosphorus DP, NH3 being the un-ionised share of
// the ammonium at 20 degrees and pH 7.5 (Ka = 10^-(0.09018 + 2729.92 / 293.15), NH3 / NH4 in
// moles Ka / 10^-7.5, in mass that times 17.031 / 18.039). So every node's totals are its NO3
// mass times fixed ratios, computed here by hand.
TEST(StreamNutrientCases, ChannelOutputsShowTheStreamSpeciesAndTotals) {
  temp_dir dir;
  write_valley(10.0, 0.0, 0.01,
               "OUT_ST_NO3 no3_chan\nTOTAL_CHAN_N tn.lnd\nTOTAL_CHAN_KN tkn.lnd\n"
               "TOTAL_CHAN_P tp.lnd\nMAP_TYPE 1\nMAP_FREQ 5\n");
  const std::string s = run_both({"no3_chan.mass", "no3_chan.conc", "tn.lnd", "tkn.lnd", "tp.lnd"});
  const double ka = std::pow(10.0, -(0.09018 + 2729.92 / (20.0 + 273.15)));
  const double r = ka / std::pow(10.0, -7.5) * 17.031 / 18.039;  // NH3 per NH4, by mass
  EXPECT_NEAR(r, 0.01182, 0.00001);
  const struct {
    const char* file;
    const char* kind;  // the dataset's header line
    double per_no3;    // value per kg of NO3 in the node
  } totals[] = {{"tn.lnd", "TORVA_LINKNODE_TOTAL_NITROGEN", 1e6 * (5.0 + 2.0 + 2.0 * r) / 5.0},
                {"tkn.lnd", "TORVA_LINKNODE_TOTAL_KJELDAHL_NITROGEN", 1e6 * 2.0 * (1.0 + r) / 5.0},
                {"tp.lnd", "TORVA_LINKNODE_TOTAL_PHOSPHORUS", 1e6 * 0.3 / 5.0}};
  const std::string mass_text = read_file("no3_chan.mass");
  const std::string conc_text = read_file("no3_chan.conc");
  EXPECT_EQ(mass_text.rfind("TORVA_LINKNODE_NO3_MASS\n", 0), 0u) << mass_text.substr(0, 80);
  EXPECT_EQ(conc_text.rfind("TORVA_LINKNODE_NO3_CONC", 0), 0u) << conc_text.substr(0, 80);
  const std::vector<std::vector<double>> mass = records(mass_text);
  const std::vector<std::vector<double>> conc = records(conc_text);
  // A record at the first step and 5 minutes later. The node below the last computational node
  // carries no value.
  ASSERT_EQ(mass.size(), 2u) << mass_text;
  ASSERT_EQ(conc.size(), 2u);
  // After the first step of 5 s the link has barely begun to drain from its upper end: the lower
  // nodes still hold their start, 5 g/m3 in the trapezoid's 2.5 m2 over 50 m, 0.625 kg; none
  // holds more. Five minutes on, every node holds less.
  EXPECT_NEAR(*std::max_element(mass[0].begin(), mass[0].end()), 0.625, 1e-5);
  for (int n = 0; n < cols; ++n) EXPECT_LT(mass[1][n], mass[0][n]) << n;
  for (std::size_t t = 0; t < mass.size(); ++t) {
    ASSERT_EQ(mass[t].size(), static_cast<std::size_t>(cols + 1));
    EXPECT_EQ(mass[t][cols], 0.0);
    for (int n = 0; n < cols; ++n) {
      EXPECT_GT(mass[t][n], 0.05) << t << " " << n;
      EXPECT_NEAR(conc[t][n], 5.0, 1e-5) << t << " " << n;
    }
  }
  for (const auto& total : totals) {
    SCOPED_TRACE(total.file);
    const std::string text = read_file(total.file);
    EXPECT_EQ(text.rfind(std::string(total.kind) + "\n", 0), 0u) << text.substr(0, 80);
    const std::vector<std::vector<double>> values = records(text);
    ASSERT_EQ(values.size(), mass.size());
    for (std::size_t t = 0; t < values.size(); ++t)
      for (int n = 0; n < cols; ++n)
        EXPECT_NEAR(values[t][n], mass[t][n] * total.per_no3, 1e-5 * total.per_no3)
            << t << " " << n;
  }
  // The books close with the channel alone too.
  const double in = number_after(s, "Nutrient nitrogen books", "Initial mass in channels");
  EXPECT_NEAR(in, 7.0 * trapezoid_area(depth) * cell * cols / 1000.0, 1e-12 * in);
  EXPECT_NEAR(number_after(s, "Nutrient nitrogen books", "Channel outlet mass flux") +
                  number_after(s, "Nutrient nitrogen books", "Final mass in channels"),
              in, 1e-9 * in);
}

// The streams count un-ionised ammonia down to 1e-8 mol/m3 of ammonium, ten times less than the
// plane: with NH4 and DP at the same concentration, every node's Kjeldahl nitrogen over its total
// phosphorus is 1 + NH3/NH4 (by mass, as computed by hand above) at 9e-7 g/m3 of each (5e-8
// mol/m3 of ammonium), and 1 at 9e-8 g/m3 (5e-9 mol/m3), where no NH3 is counted.
TEST(StreamNutrientCases, StreamsCountAmmoniaBelowThePlanesLimit) {
  const double ka = std::pow(10.0, -(0.09018 + 2729.92 / (20.0 + 273.15)));
  const double r = ka / std::pow(10.0, -7.5) * 17.031 / 18.039;
  const struct {
    double conc;   // g/m3 of NH4 and of DP
    double ratio;  // Kjeldahl nitrogen over total phosphorus
    double tolerance;
  } rows[] = {{9e-7, 1.0 + r, 3e-4}, {9e-8, 1.0, 2e-3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.conc);
    temp_dir dir;
    write_valley(5.0, 0.0, 0.01,
                 "TOTAL_CHAN_KN tkn.lnd\nTOTAL_CHAN_P tp.lnd\nMAP_TYPE 1\nMAP_FREQ 5\n");
    std::string prj = read_file("valley.prj");
    const std::string cards = "ST_INIT_NH4 2\nST_INIT_DP 0.3\n";
    prj.replace(prj.find(cards), cards.size(),
                "ST_INIT_NH4 " + number(row.conc) + "\nST_INIT_DP " + number(row.conc) + "\n");
    write_file("valley.prj", prj);
    run_both({"tkn.lnd", "tp.lnd"});
    const std::vector<std::vector<double>> tkn = records(read_file("tkn.lnd"));
    const std::vector<std::vector<double>> tp = records(read_file("tp.lnd"));
    ASSERT_FALSE(tkn.empty());
    ASSERT_EQ(tkn.size(), tp.size());
    for (int n = 0; n < cols; ++n) {
      ASSERT_GT(tp[0][n], 0.0) << n;
      EXPECT_NEAR(tkn[0][n] / tp[0][n], row.ratio, row.tolerance) << n;
    }
  }
}

// Without CHAN_CON_TRANS the channels carry no constituents: the species the plane's water hands
// the stream cells' nodes leave the books there, as the other constituents do. Over half an hour
// of the plane draining into the link while the soil pools release and the rain falls, what the
// water and the soil held at the start and what the rain brought is what the water and the soil
// hold at the end, what infiltrated out of the books and what was lost to the stream, to 1e-9,
// for nitrogen and phosphorus alike; each species' run and event books close on their own, and
// the stream took the same mass in both.
TEST(StreamNutrientCases, ChannelsWithoutConstituentsTakeTheSpeciesOutOfTheBooks) {
  temp_dir dir;
  write_valley(30.0, 0.05, 30.0, "");
  std::string prj = read_file("valley.prj");
  for (const std::string cards :
       {"CHAN_CON_TRANS\n", "ST_INIT_NO3 5\nST_INIT_NH4 2\nST_INIT_DP 0.3\n"})
    prj.erase(prj.find(cards), cards.size());
  write_file("valley.prj", prj);
  const std::string s = run_both({});
  EXPECT_FALSE(contains(s, "Channel Constituent Transport Summary")) << s;
  for (const char* books : {"Nutrient nitrogen books", "Nutrient phosphorus books"}) {
    SCOPED_TRACE(books);
    const double lost = number_after(s, books, "Mass lost to stream");
    EXPECT_GT(lost, 0.01) << s;
    const double in = number_after(s, books, "Initial mass in water") +
                      number_after(s, books, "Initial mass in soil pools") +
                      number_after(s, books, "Precipitation mass gain") +
                      number_after(s, books, "Mass restored to emptied cells");
    const double held = number_after(s, books, "Outlet mass flux") +
                        number_after(s, books, "Final mass in water") +
                        number_after(s, books, "Final mass in soil") + lost;
    EXPECT_NEAR(held, in, 1e-9 * in) << s;
  }
  for (const char* species : {"Nitrate (NO3-)", "Ammonium (NH4+)", "Organic Nitrogen (Organic N)",
                              "Dissolved Phosphorous (Dissolved P)"}) {
    SCOPED_TRACE(species);
    const std::string ov = std::string("Overland Constituent Transport Summary for ") + species;
    const std::string event = std::string("Overland Contaminant Transport Summary for ") + species +
                              " \nAmounts are total mass for event in (Kg)";
    const double to_stream = number_after(s, ov, "Mass loss to stream");
    EXPECT_GT(to_stream, 0.0);
    EXPECT_NEAR(aligned(s, event, "Lateral flow to streams"), to_stream, 0.005);
    EXPECT_LT(std::fabs(number_after(s, ov, "Contam mass balance error")), 1e-4) << s;
    EXPECT_LT(std::fabs(aligned(s, event, "Dissolved mass balance error")), 1e-4) << s;
  }
  const torva_test::summary_balance b = torva_test::read_summary_balance(s);
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6);
}

}  // namespace stream_nutrient_cases_tests
