// End-to-end cases of the aquifer under the soil zones of event runs (the layered soil and the
// redistribution soil), run by the real torva executable at 1 and 8 threads with the same
// outputs. Wells feed (or drain) every cell of a closed aquifer alike: the table moves by the
// water over the storage of the layer it is in (the aquifer's porosity less the content the
// unsaturated zone keeps below the soil, the layer's porosity inside it, less what a falling
// table leaves behind in the soil), and the books of the aquifer, the soil and the run close.
// A table held above the ground seeps onto the surface by Darcy's law, or into the overland or
// channel lake over it; a table that rises to the ground gives the surface the soil's water too.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::grid_header;
using torva_test::number;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace groundwater_zoned_cases_tests {

// Layered soil: layer 1 20 cm, layer 2 40 cm (the soil's foot 60 cm down); field capacity 0.25.
constexpr double layer_1 = 20.0, layer_2 = 40.0;  // cm
constexpr double field_capacity = 0.25;

// A watershed of rows x cols cells over an aquifer whose bottom lies at 0 m, row-major values.
struct zoned {
  int rows = 2;
  int cols = 2;
  double cell = 100.0;
  std::vector<double> ground;  // m
  std::vector<double> head;    // initial head (m)
  std::vector<int> code;       // groundwater boundary code: 1 active, 2 held head
  std::vector<int> well;       // well id, 0 none
  double well_rate = 0.0;      // m3/s of well 1, positive pumped out
  bool layered = true;
  double porosity_1 = 0.45, porosity_2 = 0.40;  // layer porosities (redistribution soil: one)
  double moisture_1 = 0.25, moisture_2 = 0.25;  // initial contents
  double ks_cm_h = 0.0;                         // soil conductivity (cm/h)
  double aquifer_porosity = 0.30;
  double unsat_sat = 0.5;  // share of the aquifer's porosity kept below the soil
  double k_cm_h = 36.0;    // aquifer conductivity, 1e-4 m/s
  int steps = 24;          // steps of the run
  double step_s = 3600.0;  // the time step (s)
  std::string extra;       // further project cards

  int at(int r, int c) const { return (r - 1) * cols + (c - 1); }
  int count() const { return rows * cols; }
};

template <class T>
std::string grid(const zoned& z, const std::vector<T>& values) {
  std::ostringstream out;
  out << grid_header(z.rows, z.cols, z.cell);
  for (int r = 1; r <= z.rows; ++r) {
    for (int c = 1; c <= z.cols; ++c) out << number(values[z.at(r, c)]) << ' ';
    out << '\n';
  }
  return out.str();
}

std::string well_row(int id, double value) {
  char text[200];
  snprintf(text, sizeof text, "%6d %-79s 0 %.10g 0\n", id, "well", value);
  return text;
}

void write_zoned(const zoned& z) {
  const int n = z.count();
  write_file("gz_mask.asc", grid(z, std::vector<int>(n, 1)));
  write_file("gz_elev.asc", grid(z, z.ground));
  write_file("gz_bottom.asc", grid(z, std::vector<double>(n, 0.0)));
  write_file("gz_head.asc", grid(z, z.head));
  write_file("gz_bound.asc", grid(z, z.code));
  std::string cards;
  if (z.well_rate != 0.0) {
    write_file("gz_wells.idx", grid(z, z.well));
    write_file("gz_table.cmt",
               "TORVA_INDEX_MAP_TABLES\nINDEX_MAP gz_wells.idx Wells\nWELL_TABLE Wells\n"
               "NUM_IDS 1\nID    DESCRIPTION   VALUES\n" +
                   well_row(1, z.well_rate));
    cards += "MAPPING_TABLE gz_table.cmt\nUSE_WELLS\n";
  }
  if (z.layered) {
    write_file("gz_soil.asc", grid(z, std::vector<int>(n, 7)));
    // Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting point,
    // residual and initial contents, thickness (cm).
    std::ostringstream layers;
    layers << "1\n0\n7 loam\n"
           << z.ks_cm_h << " 0.25 16.7 " << z.porosity_1 << " " << field_capacity << " 0.10 0.05 "
           << z.moisture_1 << " " << layer_1 << "\n"
           << z.ks_cm_h << " 0.25 16.7 " << z.porosity_2 << " " << field_capacity << " 0.10 0.05 "
           << z.moisture_2 << " " << layer_2 << "\n"
           << z.ks_cm_h << " 0.25 16.7 0.35 0.25 0.10 0.05 0.25\n";
    write_file("gz_layers.txt", layers.str());
    cards += "INF_LAYERED_SOIL\nSOIL_TYPE_MAP gz_soil.asc\nSOIL_LAYER_INPUT_FILE gz_layers.txt\n";
  } else {
    write_file("gz_ks.asc", grid(z, std::vector<double>(n, z.ks_cm_h)));
    write_file("gz_hc.asc", grid(z, std::vector<double>(n, 16.7)));
    write_file("gz_por.asc", grid(z, std::vector<double>(n, z.porosity_1)));
    write_file("gz_pore.asc", grid(z, std::vector<double>(n, 0.25)));
    write_file("gz_res.asc", grid(z, std::vector<double>(n, 0.05)));
    write_file("gz_moist.asc", grid(z, std::vector<double>(n, z.moisture_1)));
    cards +=
        "INF_REDIST\nCONDUCTIVITY gz_ks.asc\nCAPILLARY gz_hc.asc\nPOROSITY gz_por.asc\n"
        "PORE_INDEX gz_pore.asc\nRESIDUAL_SAT gz_res.asc\nMOISTURE gz_moist.asc\n"
        "SOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\n";
  }
  write_file("gz.prj",
             "TORVAPROJECT\nWATERSHED_MASK gz_mask.asc\nELEVATION gz_elev.asc\n"
             "SUMMARY gz_summary.out\nOUTLET_HYDRO gz_outlet.out\nROWS " +
                 std::to_string(z.rows) + "\nCOLS " + std::to_string(z.cols) + "\nGRIDSIZE " +
                 number(z.cell) + "\nSTART_DATE 2005 3 14\nSTART_TIME 6 00\nTIMESTEP " +
                 number(z.step_s) + "\nTOT_TIME " + number(z.steps * z.step_s / 60.0) +
                 "\nOUTROW 1\nOUTCOL 1\nOUTSLOPE 0.001\nHYD_FREQ 60\nMANNING_N 0.05\n"
                 "OVERTYPE explicit\n"
                 // A trace of rain (the project needs some), far below every figure here.
                 "PRECIP_UNIF\nRAIN_INTENSITY 0.000001\nRAIN_DURATION 60\n"
                 "WATER_TABLE gz_head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM gz_bottom.asc\n"
                 "GW_BOUNDFILE gz_bound.asc\nGW_UNIF_POROSITY " +
                 number(z.aquifer_porosity) + "\nGW_UNIF_HYCOND " + number(z.k_cm_h) +
                 "\nSINGLE_UNSAT_SAT " + number(z.unsat_sat) +
                 "\nGW_LSOR_DIR 1\nGW_LSOR_CON 1e-10\n" + cards + z.extra);
}

std::vector<double> final_heads(const zoned& z) {
  std::istringstream in(read_file("hotstart_file"));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(in, line);
  std::vector<double> heads;
  double v = 0.0;
  while (in >> v) heads.push_back(v);
  EXPECT_EQ(heads.size(), static_cast<std::size_t>(z.count()));
  return heads;
}

std::string outputs() {
  return read_file("gz_summary.out") + read_file("hotstart_file");
}

// The aquifer's own books: its storage change is the water the sources put in, plus what the
// held heads gave, less what it gave the surface.
void expect_aquifer_books_close(const std::string& summary) {
  const double start = summary_number(summary, "GW volume start =");
  const double end = summary_number(summary, "GW volume end =");
  const double inputs = summary_number(summary, "Total inputs to groundwater=");
  const double bounds = summary_number(summary, "Flux across head boundaries=");
  const double exfiltrated = summary_number(summary, "Exfiltration back on overland =");
  EXPECT_NEAR(end - start, inputs + bounds - exfiltrated, 0.03 + 1e-8 * std::fabs(end)) << summary;
  EXPECT_NEAR(summary_number(summary, "Mass Balance error ="), 0.0, 1e-6) << summary;
}

// Four cells alike on a ground of 10 m, each a well of the same rate: no water moves between
// them and each table moves by its well's water (per cell, m) over the storage it meets. The
// soil takes nothing (Ks 0), so the soil's books change only by what its zones give the aquifer
// or take from it as the table moves.
TEST(GroundwaterZonedCases, AnEventRunsTableMovesByTheWaterOverTheStorageOfItsLayer) {
  constexpr double ground = 10.0;
  constexpr double cell = 100.0;
  constexpr double area = cell * cell;
  constexpr double aquifer = 0.30, kept = 0.5 * aquifer;         // the content kept below the soil
  constexpr double foot = ground - (layer_1 + layer_2) / 100.0;  // 9.4 m
  constexpr double layer_2_top = ground - layer_1 / 100.0;       // 9.8 m
  constexpr double drainable_2 = 0.40 - field_capacity;          // what a falling table drains
  enum class soil_gives { nothing, squeezed, draws };
  struct row {
    const char* name;
    bool layered;
    double head;      // initial head (m)
    double water;     // m of water each well gives each cell over the run (negative: takes)
    double expected;  // final head by hand (m), before what the soil gives
    soil_gives soil;
    double per_m;  // storage the soil's water moves the head by: the layer's pores it fills, or
                   // those a falling table drains less the content it leaves behind (-)
  };
  const row rows[] = {
      // Below the soil the table rises through the aquifer's porosity less the content kept.
      {"below the soil", true, 9.0, 0.015, 9.0 + 0.015 / (aquifer - kept), soil_gives::nothing,
       1.0},
      // Inside layer 2 it fills the layer's pores; the zone it shortens stays below them.
      {"in layer 2", true, 9.6, 0.02, 9.6 + 0.02 / 0.40, soil_gives::nothing, 1.0},
      // From below the soil into layer 2: 0.1 m at 0.15 takes 0.015 m, the rest at 0.40.
      {"through the soil's foot", true, 9.3, 0.025, foot + (0.025 - 0.1 * (aquifer - kept)) / 0.40,
       soil_gives::nothing, 1.0},
      // Into layer 1 through the top of layer 2, whose zone (5 cm at 0.25) the table squeezes:
      // what it holds beyond the pores left to it goes to the aquifer and lifts the table on
      // through layer 1's pores.
      {"through the top of layer 2", true, 9.75, 0.0425,
       layer_2_top + (0.0425 - 0.05 * 0.40) / 0.45, soil_gives::squeezed, 0.45},
      // The redistribution soil, 60 cm deep with one porosity.
      {"redistribution soil", false, 9.6, 0.021, 9.6 + 0.021 / 0.42, soil_gives::nothing, 1.0},
      // A falling table in layer 2 leaves the soil at field capacity behind it: the zone it
      // opens takes 0.25 of the 0.40 it drained, so the table falls by the water over 0.15.
      {"falling in layer 2", true, 9.7, -0.006, 9.7 - 0.006 / drainable_2, soil_gives::draws,
       drainable_2},
      // The redistribution soil of an event run keeps no field capacity: the table leaves the
      // soil's initial content (0.25) behind, and falls by the water over 0.42 - 0.25.
      {"falling in the redistribution soil", false, 9.7, -0.006, 9.7 - 0.006 / 0.17,
       soil_gives::draws, 0.17},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    zoned z;
    z.layered = r.layered;
    if (!r.layered) z.porosity_1 = z.porosity_2 = 0.42;
    z.moisture_1 = z.moisture_2 = field_capacity;
    z.ground.assign(z.count(), ground);
    z.head.assign(z.count(), r.head);
    z.code.assign(z.count(), 1);
    z.well.assign(z.count(), 1);
    // A falling table asks the soil for water step after step, less each time: a long run of
    // short steps brings it to its steady fall.
    if (r.water < 0.0) z.steps = 96;
    z.well_rate = -r.water * area / (z.steps * z.step_s);
    write_zoned(z);
    torva_test::run_at_compared_thread_counts("gz.prj", outputs);
    const std::string summary = read_file("gz_summary.out");
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;

    // The wells' water went into the aquifer, and the aquifer's books close.
    const double cells = z.count();
    EXPECT_NEAR(summary_number(summary, "Total pumping from groundwater="), -r.water * area * cells,
                0.01)
        << summary;
    expect_aquifer_books_close(summary);
    // The soil's books: what its zones gave below (the aquifer took all of it but what the last
    // step's zones gave, which waits for the next step) is its change of water.
    const double soil_in = summary_number(summary, "Initial volume in soils=");
    const double soil_out = summary_number(summary, "Final volume in soils=");
    const double down = summary_number(summary, "Total downward flux from unsaturated zone=");
    const double taken = summary_number(summary, "Recharge to groundwater =");
    EXPECT_NEAR(soil_in + b.run_infiltration - down, soil_out, 0.03) << summary;

    const std::vector<double> h = final_heads(z);
    ASSERT_FALSE(h.empty());
    switch (r.soil) {
      case soil_gives::nothing:
        EXPECT_NEAR(down, 0.0, 0.01) << summary;
        for (double head : h) EXPECT_NEAR(head, r.expected, 2e-4) << summary;
        break;
      case soil_gives::squeezed: {
        // No more than the squeezed zone held (5 cm at 0.25), all of it taken by the aquifer.
        EXPECT_GT(down, 0.0) << summary;
        EXPECT_LE(down, 0.05 * field_capacity * area * cells + 0.01) << summary;
        EXPECT_NEAR(taken, down, 0.01) << summary;
        const double given = down / (area * cells);  // m of water per cell
        for (double head : h) EXPECT_NEAR(head, r.expected + given / r.per_m, 2e-4) << summary;
        break;
      }
      case soil_gives::draws: {
        // At its steady fall the table drops by the step's draw over the drained storage each
        // step; the zone the last step opened takes the content left behind times that from the
        // aquifer at the next step, which would lower the table by that over the same storage.
        const double step_fall = -r.water / z.steps / r.per_m;
        const double waiting = field_capacity * step_fall;  // m of water per cell
        const double expected = r.expected + waiting / r.per_m;
        for (double head : h) EXPECT_NEAR(head, expected, 2e-5) << summary;
        const double fall = r.head - h[0];
        EXPECT_NEAR(down, -field_capacity * fall * area * cells, 0.01) << summary;
        EXPECT_NEAR(taken, down + waiting * area * cells, 0.01) << summary;
        break;
      }
    }
  }
}

// Groundwater that reaches the ground under a soil of zones seeps onto the surface. A strip
// aquifer of 3 rows of 21 cells of 100 m (K = 1e-4 m/s, porosity 0.3, bottom at 0 m) is fed by a
// held head H = 15 m along its first column, whose ground lies at 12 m; the ground of its last
// column lies at hg = 10 m, 100 m everywhere else. At steady state the table stands at the
// ground in the last column and Darcy's law with the Dupuit assumption gives each row's seepage,
// L = 2000 m from the held head: Q = K (H^2 - hg^2) / (2 L) x dx = 3.125e-4 m3/s, 81 m3 a day
// over the three rows. The heads start on the steady profile h^2 = H^2 - (H^2 - hg^2) x / L.
// The soil would take water (Ks 10 cm/h), but a soil whose table stands at the ground is full:
// the surface keeps all the seepage. The held column's table stands above its ground: it is a
// boundary of the aquifer, which gives its surface nothing.
// With the seeping column an overland lake (0.5 m deep at the start), the lake takes the
// seepage: its volume grows by Darcy's figure, booked as exfiltration, and its books close.
TEST(GroundwaterZonedCases, ATableHeldAboveTheGroundSeepsOntoTheSurfaceByDarcysLaw) {
  struct run {
    const char* name;
    bool layered;
    bool lake;
  };
  for (const run& u : {run{"layered soil", true, false}, run{"redistribution soil", false, false},
                       run{"layered soil, a lake", true, true}}) {
    const bool layered = u.layered;
    SCOPED_TRACE(u.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    zoned z;
    z.rows = 3;
    z.cols = 21;
    z.layered = layered;
    z.ks_cm_h = 10.0;
    z.steps = 240;  // ten days of hourly steps
    const int n = z.count();
    const double held = 15.0, seep = 10.0, length = 2000.0, k = 1e-4;
    z.head.assign(n, 0.0);
    z.code.assign(n, 1);
    z.ground.assign(n, 100.0);
    z.well.assign(n, 0);
    for (int r = 1; r <= z.rows; ++r) {
      for (int c = 1; c <= z.cols; ++c) {
        const double x = (c - 1) * z.cell;
        z.head[z.at(r, c)] = std::sqrt(held * held - (held * held - seep * seep) * x / length);
      }
      z.code[z.at(r, 1)] = 2;
      z.ground[z.at(r, 1)] = 12.0;
      z.ground[z.at(r, z.cols)] = seep;
    }
    const double lake_depth = 0.5;
    const double lake_start = lake_depth * z.cell * z.cell * z.rows;  // m3
    if (u.lake) {
      std::vector<int> lake(n, 0);
      for (int r = 1; r <= z.rows; ++r) lake[z.at(r, z.cols)] = 1;
      write_file("gz_lake.asc", grid(z, lake));
      write_file("gz_lake.txt", "TORVA_OVERLAND_LAKE_FILE\nLAKE 1 " + number(seep + lake_depth) +
                                    " " + number(lake_start) + "\n");
      z.extra = "OVERLAND_LAKE_MAP gz_lake.asc\nOVERLAND_LAKE_FILE gz_lake.txt\n";
    }
    write_zoned(z);
    torva_test::run_at_compared_thread_counts("gz.prj", outputs);
    const std::string summary = read_file("gz_summary.out");

    const double per_row = k * (held * held - seep * seep) / (2.0 * length) * z.cell;
    const double by_darcy = per_row * z.rows * z.step_s * z.steps;
    const double exfiltrated = summary_number(summary, "Total amount of exfiltration=");
    EXPECT_NEAR(exfiltrated, by_darcy, 0.01 * by_darcy) << summary;
    EXPECT_NEAR(summary_number(summary, "Exfiltration back on overland ="), exfiltrated, 0.01);
    EXPECT_GT(summary_number(summary, "Flux across head boundaries="), 0.99 * by_darcy);
    expect_aquifer_books_close(summary);

    // The run's and the surface's books: the seepage is surface water the soil did not take.
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
    EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
    EXPECT_NEAR(b.run_infiltration, 0.0, 0.01) << summary;
    ASSERT_TRUE(b.has_event) << summary;
    EXPECT_LT(std::fabs(b.event_error_percent), 1e-6) << summary;
    if (u.lake) {
      // The lake took the seepage; the rest of the surface holds the trace of rain.
      const double lake_end = summary_number(summary, "Final volume in overland lakes=");
      EXPECT_NEAR(lake_end - lake_start, exfiltrated, 0.01 + b.run_precip) << summary;
      EXPECT_NEAR(summary_number(summary, "Overland lake mass bal error m^3:"), 0.0, 0.01);
      EXPECT_NEAR(b.run_ov_final + lake_end - lake_start, b.run_precip + exfiltrated, 0.01)
          << summary;
    } else {
      EXPECT_NEAR(b.run_ov_final, b.run_precip + exfiltrated, 0.01) << summary;
    }

    const std::vector<double> h = final_heads(z);
    ASSERT_EQ(h.size(), static_cast<std::size_t>(n));
    for (int r = 1; r <= z.rows; ++r) {
      EXPECT_EQ(h[z.at(r, 1)], held);
      EXPECT_EQ(h[z.at(r, z.cols)], seep);
    }
  }
}

// A table that rises to the ground saturates the soil: the water of its zone goes to the aquifer,
// which gives it on to the surface with the water the wells put in beyond the pores the table
// filled. Four cells alike, the table 10 cm down in soil at 0.25, wells giving 0.1 m each: the
// surface gets 0.1 - 0.10 x porosity + 0.10 x 0.25 m on each cell.
TEST(GroundwaterZonedCases, ATableRisingToTheGroundGivesTheSurfaceTheSoilsWaterToo) {
  constexpr double ground = 10.0, below = 0.10, water = 0.1, content = 0.25;
  for (const bool layered : {true, false}) {
    SCOPED_TRACE(layered ? "layered soil" : "redistribution soil");
    torva_test::process_state_guard guard;
    temp_dir dir;
    zoned z;
    z.layered = layered;
    if (!layered) z.porosity_1 = z.porosity_2 = 0.42;
    z.moisture_1 = z.moisture_2 = content;
    z.ground.assign(z.count(), ground);
    z.head.assign(z.count(), ground - below);
    z.code.assign(z.count(), 1);
    z.well.assign(z.count(), 1);
    const double area = z.cell * z.cell;
    z.well_rate = -water * area / (z.steps * z.step_s);
    write_zoned(z);
    torva_test::run_at_compared_thread_counts("gz.prj", outputs);
    const std::string summary = read_file("gz_summary.out");

    const double by_hand = (water - below * z.porosity_1 + below * content) * area * z.count();
    const double exfiltrated = summary_number(summary, "Total amount of exfiltration=");
    EXPECT_NEAR(exfiltrated, by_hand, 0.01) << summary;
    expect_aquifer_books_close(summary);
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
    EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
    EXPECT_NEAR(b.run_discharge + b.run_ov_final, b.run_precip + exfiltrated, 0.01) << summary;
    ASSERT_TRUE(b.has_event) << summary;
    EXPECT_LT(std::fabs(b.event_error_percent), 1e-6) << summary;
    EXPECT_NEAR(summary_number(summary, "Final volume in soils="), 0.0, 0.01) << summary;
    for (double head : final_heads(z)) EXPECT_EQ(head, ground);
  }
}

// A channel lake over the aquifer: the example lake (one cell of 30 m at row 4, column 6, ground
// 103.6 m) closed behind its culvert (its inlet raised to 104.5 m), no rain to speak of, for half
// an hour. The
// aquifer is the lake's cell and its western neighbour (ground 104 m), whose head is held at
// 103.9 m (K = 1e-4 m/s, bottom at 80 m, porosity 0.3; every other cell outside the aquifer).
// The lake cell's table stands at its ground: it passes the lake what the held head gives it,
// by Darcy's law with the Dupuit assumption between the two cell centres, L = 30 m apart:
// Q = K (h1^2 - h2^2) / (2 L) x dx with h1 = 23.9 m, h2 = 23.6 m, 7.125e-4 m3/s, 1.2825 m3 over
// the run's half hour. The lake's volume grows by that and its books close.
TEST(GroundwaterZonedCases, AChannelLakeTakesTheSeepageOfTheTableUnderIt) {
  torva_test::process_state_guard guard;
  temp_dir dir;
  const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/lake/";
  for (const char* name :
       {"lake.gst", "lake_mask.asc", "lake_elev.asc", "lake_conductivity.asc", "lake_capillary.asc",
        "lake_porosity.asc", "lake_moisture.asc", "lake_hyd_locations.txt"})
    write_file(name, read_file(example + name));
  auto replace = [](std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, text.find('\n', at) - at, to);
  };
  std::string chn = read_file(example + "lake.chn");
  replace(chn, "UPINVERT 103.65", "UPINVERT 104.50");
  write_file("lake.chn", chn);
  std::string prj = read_file(example + "lake.prj");
  replace(prj, "RAIN_INTENSITY", "RAIN_INTENSITY     0.000001");
  replace(prj, "RAIN_DURATION", "RAIN_DURATION      30");
  replace(prj, "TOT_TIME", "TOT_TIME           30");
  const double lake_ground = 103.6, held = 103.9, bottom = 80.0, k = 1e-4, dx = 30.0;
  auto map = [&](double lake_cell, double west, double elsewhere) {
    std::string text = grid_header(10, 12, dx);
    for (int r = 1; r <= 10; ++r) {
      for (int c = 1; c <= 12; ++c)
        text += number(r == 4 && c == 6 ? lake_cell : r == 4 && c == 5 ? west : elsewhere) + " ";
      text += "\n";
    }
    return text;
  };
  write_file("gw_head.asc", map(lake_ground, held, 90.0));
  write_file("gw_bottom.asc", map(bottom, bottom, bottom));
  write_file("gw_bound.asc", map(1, 2, 0));
  prj +=
      "WATER_TABLE gw_head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM gw_bottom.asc\n"
      "GW_BOUNDFILE gw_bound.asc\nGW_UNIF_POROSITY 0.3\nGW_UNIF_HYCOND 36.0\nGW_LSOR_DIR 1\n"
      "GW_LSOR_CON 1e-10\n";
  write_file("lake.prj", prj);
  torva_test::run_at_compared_thread_counts("lake.prj",
                                            [] { return read_file("lake_summary.out"); });
  const std::string summary = read_file("lake_summary.out");

  const double h1 = held - bottom, h2 = lake_ground - bottom;
  const double by_darcy = k * (h1 * h1 - h2 * h2) / (2.0 * dx) * dx * 1800.0;
  const double lake_start = summary_number(summary, "Initial volume in perennial lakes");
  const double lake_end = summary_number(summary, "Final volume in perennial lakes");
  const double to_lake = summary_number(summary, "Total flux from gw to lakes=");
  EXPECT_NEAR(lake_start, 90.0, 0.005) << summary;
  EXPECT_NEAR(to_lake, by_darcy, 0.01 * by_darcy) << summary;
  EXPECT_NEAR(lake_end - lake_start, to_lake, 0.01) << summary;
  EXPECT_NEAR(summary_number(summary, "volume of gw to lakes:"), to_lake, 0.06);  // to 0.1 m3
  EXPECT_NEAR(summary_number(summary, "Perennial lake mass bal error m^3="), 0.0, 0.005);
  EXPECT_NEAR(summary_number(summary, "Flux across head boundaries="), to_lake, 0.01) << summary;
  EXPECT_NEAR(summary_number(summary, "Total amount of exfiltration="), 0.0, 0.005) << summary;
  const summary_balance b = read_summary_balance(summary);
  ASSERT_TRUE(b.has_totals) << summary;
  EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
  EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
  ASSERT_TRUE(b.has_event) << summary;
  EXPECT_LT(std::fabs(b.event_error_percent), 1e-6) << summary;
}

}  // namespace groundwater_zoned_cases_tests
