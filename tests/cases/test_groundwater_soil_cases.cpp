// End-to-end cases of the aquifer under the soil zones of long-term runs, run by the real torva
// executable at 1 and 8 threads with the same outputs: four cells of the layered soil (or the
// redistribution soil) over a closed aquifer whose table lies inside the soil. A storm soaks
// in, the soil drains to the table and the table rises by the water it took over the porosity
// of the layer it is in, through a layer boundary too; the run's books close: the rain went
// into the soil or stayed on the surface, the soil's water went into storage, up as
// evapotranspiration or down as recharge, and the recharge is the aquifer's storage change. A
// table above the ground gives the surface its water.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/summary_reader.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::grid_header;
using torva_test::read_file;
using torva_test::read_summary_balance;
using torva_test::summary_balance;
using torva_test::summary_number;
using torva_test::temp_dir;
using torva_test::write_file;

namespace groundwater_soil_cases_tests {

constexpr double cell = 100.0;  // m
constexpr double area = cell * cell;
constexpr double ground = 10.0;  // m, every cell
constexpr int hours = 72;

std::string map(double value) {
  std::ostringstream s;
  s.precision(10);
  s << grid_header(2, 2, cell) << value << " " << value << "\n" << value << " " << value << "\n";
  return s.str();
}

// Cool, overcast, calm hours from 1 March 2005: the soil loses little to the air.
std::string weather() {
  std::ostringstream s;
  for (int k = 0; k < hours; ++k)
    s << "2005 3 " << 1 + k / 24 << " " << k % 24 << " 29.92 90 100 1 40 0.0 0.0\n";
  return s.str();
}

struct soil_case {
  const char* name;
  bool layered;
  double head;                    // initial head (m), the same in every cell
  double rain;                    // mm/h for one hour on the first day
  double porosity_1, porosity_2;  // layer porosities (the redistribution soil: one)
  double moisture_1, moisture_2;  // initial contents (field capacity 0.25)
};

constexpr double aquifer_porosity = 0.30;
constexpr double layer_1 = 20.0, layer_2 = 40.0;  // cm

void write_case(const soil_case& s) {
  write_file("gs_mask.asc", map(1));
  write_file("gs_elev.asc", map(ground));
  write_file("gs_head.asc", map(s.head));
  write_file("gs_bottom.asc", map(0.0));
  write_file("gs_bound.asc", map(1));
  write_file("gs_albedo.asc", map(0.2));
  write_file("gs_weather.txt", weather());
  std::ostringstream rain;
  rain << "EVENT \"storm\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 3 1 2 0 " << s.rain
       << "\nRATES 2005 3 1 3 0 0.0\n"
       // A storm a month later keeps the run going until the weather runs out.
       << "EVENT \"later\"\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2005 4 1 0 0 5.0\n"
       << "RATES 2005 4 1 1 0 0.0\n";
  write_file("gs_rain.gag", rain.str());
  std::string soil;
  if (s.layered) {
    write_file("gs_soil.asc", map(7));
    // Ks (cm/h), pore index, capillary head (cm), porosity, field capacity, wilting point,
    // residual and initial contents, thickness (cm).
    std::ostringstream layers;
    layers << "1\n0\n7 loam\n2.0 0.25 16.7 " << s.porosity_1 << " 0.25 0.10 0.05 " << s.moisture_1
           << " " << layer_1 << "\n2.0 0.25 16.7 " << s.porosity_2 << " 0.25 0.10 0.05 "
           << s.moisture_2 << " " << layer_2 << "\n2.0 0.25 16.7 0.35 0.25 0.10 0.05 0.25\n";
    write_file("gs_layers.txt", layers.str());
    soil = "INF_LAYERED_SOIL\nSOIL_TYPE_MAP gs_soil.asc\nSOIL_LAYER_INPUT_FILE gs_layers.txt\n";
  } else {
    write_file("gs_ks.asc", map(2.0));
    write_file("gs_hc.asc", map(16.7));
    write_file("gs_por.asc", map(s.porosity_1));
    write_file("gs_pore.asc", map(0.25));
    write_file("gs_res.asc", map(0.05));
    write_file("gs_moist.asc", map(s.moisture_1));
    soil =
        "INF_REDIST\nCONDUCTIVITY gs_ks.asc\nCAPILLARY gs_hc.asc\nPOROSITY gs_por.asc\n"
        "PORE_INDEX gs_pore.asc\nRESIDUAL_SAT gs_res.asc\nMOISTURE gs_moist.asc\n"
        "SOIL_MOIST_DEPTH 0.6\nTOP_LAYER_DEPTH 0.2\n";
  }
  std::ostringstream cards;
  cards << "GW_UNIF_POROSITY " << aquifer_porosity << "\n";
  write_file("gs.prj",
             "TORVAPROJECT\nWATERSHED_MASK gs_mask.asc\nELEVATION gs_elev.asc\n"
             "SUMMARY gs_summary.out\nOUTLET_HYDRO gs_outlet.out\nROWS 2\nCOLS 2\n"
             "GRIDSIZE 100.0\nTIMESTEP 300\nOUTROW 2\nOUTCOL 2\nOUTSLOPE 0.001\nHYD_FREQ 60\n"
             "MANNING_N 0.05\nOVERTYPE explicit\nPRECIP_FILE gs_rain.gag\nRAIN_INV_DISTANCE\n"
             "LONG_TERM\nHMET_OBU gs_weather.txt\nALBEDO gs_albedo.asc\nLATITUDE 40.0\n"
             "LONGITUDE 90.0\nGMT -6\nET_CALC_DEARDORFF\n" +
                 soil +
                 "WATER_TABLE gs_head.asc\nGW_SIMULATION\nAQUIFER_BOTTOM gs_bottom.asc\n"
                 "GW_BOUNDFILE gs_bound.asc\nGW_UNIF_HYCOND 3.6\nGW_LSOR_DIR 1\n"
                 "GW_LSOR_CON 1e-10\nGW_TIMESTEP 1\n" +
                 cards.str());
}

std::string outputs() {
  return read_file("gs_summary.out") + read_file("hotstart_file");
}

std::vector<double> final_heads() {
  std::istringstream in(read_file("hotstart_file"));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(in, line);
  std::vector<double> heads;
  double v = 0.0;
  while (in >> v) heads.push_back(v);
  EXPECT_EQ(heads.size(), 4u);
  return heads;
}

TEST(GroundwaterSoilCases, TheTableRisesByTheRechargeOverThePorosityOfItsLayerAndTheBooksClose) {
  const soil_case cases[] = {
      // The table 40 cm down, in layer 2: a little recharge keeps it there.
      {"layered, table in layer 2", true, ground - 0.40, 20.0, 0.45, 0.40, 0.25, 0.32},
      // The table 22 cm down: the recharge lifts it through the foot of layer 1.
      {"layered, table crosses into layer 1", true, ground - 0.22, 20.0, 0.45, 0.40, 0.30, 0.38},
      // The redistribution soil, 60 cm deep with one porosity.
      {"redistribution soil", false, ground - 0.40, 30.0, 0.42, 0.42, 0.30, 0.30},
  };
  for (const soil_case& s : cases) {
    SCOPED_TRACE(s.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_case(s);
    const torva_test::thread_runs runs =
        torva_test::run_at_compared_thread_counts("gs.prj", outputs);
    const std::string summary = read_file("gs_summary.out");
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << runs.run[0].out << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;

    // Every cell alike: no water moves between them, each table rises by its own recharge.
    const double recharge = summary_number(summary, "Total recharge inputs to groundwater=");
    ASSERT_GT(recharge, 0.0) << summary;
    const double per_cell = recharge / (4.0 * area);  // m of water
    // By hand: the pores of layer 2 fill up to its top 20 cm down, then those of layer 1.
    const double top_of_layer_2 = ground - layer_1 / 100.0;
    double expected = s.head + per_cell / s.porosity_2;
    if (expected > top_of_layer_2)
      expected =
          top_of_layer_2 + (per_cell - (top_of_layer_2 - s.head) * s.porosity_2) / s.porosity_1;
    const std::vector<double> h = final_heads();
    for (double head : h) EXPECT_NEAR(head, expected, 1e-4) << summary;
    if (s.head < top_of_layer_2 && std::string(s.name).find("crosses") != std::string::npos) {
      EXPECT_GT(h[0], top_of_layer_2);
    }

    // The aquifer's books: its storage change is the recharge it took.
    const double start = summary_number(summary, "GW volume start =");
    const double end = summary_number(summary, "GW volume end =");
    EXPECT_NEAR(end - start, recharge, 0.01) << summary;
    EXPECT_NEAR(summary_number(summary, "Total inputs to groundwater="), recharge, 0.01);
    // The soil's books: what it took in, less what went up from it and down out of it.
    const double soil_in = summary_number(summary, "Initial volume in soils=");
    const double soil_out = summary_number(summary, "Final volume in soils=");
    const double evap = summary_number(summary, "Total amount of evaporation=");
    const double direct = summary_number(summary, "Total direct evaporation=");
    const double down = summary_number(summary, "Total downward flux from unsaturated zone=");
    EXPECT_NEAR(soil_in + b.run_infiltration - (evap - direct) - down, soil_out, 0.03) << summary;
    // The rain went into the soil or stays on the surface.
    EXPECT_NEAR(b.run_ov_init + b.run_precip, b.run_ov_final + b.run_infiltration + direct, 0.03)
        << summary;

    // The storm's soil water content, in percent of the pores of layer 1: the layer's water
    // over its wetted thickness (the whole layer, the table lying below it at the storm) went
    // up by the infiltrated depth and lost little to the air and the layer below within the
    // hour, and can never pass 100.
    if (s.layered) {
      const double before = summary_number(summary, "initial basin-averaged soil water content:");
      const double after = summary_number(summary, "final basin-averaged soil water content:");
      const double soaked = summary_number(summary, "volume of infiltrated water:") / (4.0 * area);
      const double by_hand = before + soaked * 100.0 / layer_1 / s.porosity_1 * 100.0;
      EXPECT_LE(after, 100.0) << summary;
      EXPECT_NEAR(after, by_hand, 1.0) << summary;
      EXPECT_LE(after, by_hand + 0.01) << summary;
    }
  }
}

// A table that starts above the ground under a soil of zones gives the surface the open water
// it holds above the ground at the first groundwater step (0.5 m on each of the four cells), and
// the soil, saturated, takes no rain while its table stands at the ground: the run's books close.
TEST(GroundwaterSoilCases, ATableAboveTheGroundUnderASoilOfZonesSeepsOntoTheSurface) {
  const soil_case cases[] = {
      {"layered", true, ground + 0.5, 0.0, 0.45, 0.40, 0.25, 0.32},
      {"redistribution soil", false, ground + 0.5, 0.0, 0.42, 0.42, 0.30, 0.30},
  };
  for (const soil_case& s : cases) {
    SCOPED_TRACE(s.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_case(s);
    torva_test::run_at_compared_thread_counts("gs.prj", outputs);
    const std::string summary = read_file("gs_summary.out");
    const double open_water = 0.5 * area * 4.0;
    const double exfiltrated = summary_number(summary, "Total amount of exfiltration=");
    EXPECT_NEAR(exfiltrated, open_water, 0.01) << summary;
    EXPECT_NEAR(
        summary_number(summary, "GW volume end =") - summary_number(summary, "GW volume start ="),
        -exfiltrated, 0.01)
        << summary;
    // The surface ran it off, evaporated it or holds it; the soil took none.
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << summary;
    EXPECT_EQ(b.run_infiltration, 0.0) << summary;
    const double evap = summary_number(summary, "Total amount of evaporation=");
    EXPECT_NEAR(b.run_discharge + evap + b.run_ov_final, b.run_precip + exfiltrated, 0.03)
        << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
    EXPECT_LT(std::fabs(b.run_surface_error), 1e-6) << summary;
    for (double head : final_heads()) EXPECT_EQ(head, ground);
  }
}

// The fourth cell's head is held: the soil over it drains into the held head as it would into
// the aquifer, and that water leaves through the head. The run's books close to 1e-6 %, the
// aquifer's too (its storage change is its inputs and what the held head took), and the head
// stays where it was held.
TEST(GroundwaterSoilCases, RechargeIntoAHeldHeadLeavesThroughItAndTheBooksClose) {
  const soil_case cases[] = {
      {"layered", true, ground - 0.40, 20.0, 0.45, 0.40, 0.25, 0.32},
      {"redistribution soil", false, ground - 0.40, 30.0, 0.42, 0.42, 0.30, 0.30},
  };
  for (const soil_case& s : cases) {
    SCOPED_TRACE(s.name);
    torva_test::process_state_guard guard;
    temp_dir dir;
    write_case(s);
    write_file("gs_bound.asc", grid_header(2, 2, cell) + "1 1\n1 2\n");
    const torva_test::thread_runs runs =
        torva_test::run_at_compared_thread_counts("gs.prj", outputs);
    const std::string summary = read_file("gs_summary.out");
    const summary_balance b = read_summary_balance(summary);
    ASSERT_TRUE(b.has_totals) << runs.run[0].out << summary;
    EXPECT_LT(std::fabs(b.run_overall_error), 1e-6) << summary;
    const double recharge = summary_number(summary, "Total recharge inputs to groundwater=");
    ASSERT_GT(recharge, 0.0) << summary;
    // The held cell's soil drains into the head: the head takes a part of the recharge that
    // far exceeds what the neighbours' rising tables push through its faces (a few m3 at this
    // conductivity), and the aquifer's books hold it.
    const double bounds = summary_number(summary, "Flux across head boundaries=");
    EXPECT_LT(bounds, -0.05 * recharge) << summary;
    const double start = summary_number(summary, "GW volume start =");
    const double end = summary_number(summary, "GW volume end =");
    const double inputs = summary_number(summary, "Total inputs to groundwater=");
    EXPECT_NEAR(end - start, inputs + bounds, 0.03) << summary;
    EXPECT_NEAR(end - start, recharge + bounds, 0.03) << summary;
    EXPECT_EQ(final_heads()[3], s.head);
  }
}

}  // namespace groundwater_soil_cases_tests
