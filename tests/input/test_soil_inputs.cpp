// The soil, infiltration and groundwater readers of read_maps: which per-cell arrays each option
// set allocates, the Green and Ampt maps with their unit conversions (from files and from the
// mapping table), area reduction, the initial moisture, the water table and aquifer bottom, the
// groundwater boundary, static-flux wells, conductivity and porosity, and every bad input
// stopping the run with a message that names what is wrong.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/run_parameters.h"
#include "input/soil_inputs.h"
#include "input/time_series.h"
#include "support/table_fixtures.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::small_index_map;
using torva_test::stdout_capture;
using torva_test::table_file;
using torva_test::table_row;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

struct printed {
  std::string out;
  std::string err;
};

class SoilInputs : public testing::Test {
 protected:
  void SetUp() override { fresh_state(); }
  // A new model state on the watershed 1 2 0 / 3 4 5, cells numbered row by row, all 100 m high.
  void fresh_state() {
    ms_ = std::make_unique<model_state>();
    torva_test::set_small_watershed(*ms_);
    ms_->gridsize = 10.0;
    alloc_2d_int_named(ms_->subsurface.soil_type_grid, 3, 4, "data");
    ms_->cell_elev.allocate(5);
    for (int c = 1; c <= 5; ++c) ms_->cell_elev[c] = 100.0;
    name(ms_->input.names.mapping_table, "t.cmt");
  }
  template <std::size_t N>
  static void name(char (&dst)[N], const char* text) {
    copy_text(dst, N, text);
  }

  // Writes `text` as `file` and opens it into `h`, as open_run_files does.
  template <std::size_t N>
  void given(file_handle& h, char (&dst)[N], const char* file, const std::string& text) {
    write_file(dir_.file(file), text);
    name(dst, file);
    ASSERT_TRUE(file_handle_open(h, file, "r"));
  }

  template <class F>
  printed run(F step) {
    testing::internal::CaptureStderr();
    stdout_capture capture;
    step(*ms_);
    printed p;
    p.out = capture.stop();
    p.err = testing::internal::GetCapturedStderr();
    return p;
  }

  static std::vector<double> cells(const raw_array1d<double>& a) {
    if (a.empty()) return {};
    return std::vector<double>(a.data() + 1, a.data() + 1 + a.count());
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder and the state
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
};

using values = std::vector<double>;

TEST_F(SoilInputs, AllocatedArraysFollowTheOptions) {
  struct option_case {
    const char* label;
    void (*set)(model_state&);
    bool (*expect)(const model_state&);
  };
  const option_case cases[] = {
      {"no scheme: only the connectivity and exfiltration arrays", [](model_state&) {},
       [](const model_state& ms) {
         const subsurface_state& ss = ms.subsurface;
         return ms.overland.rightcon.count() == 5 && ss.yes_exfil.count() == 5 &&
                ms.overland.ov_depth.count() == 5 && ss.theta_init.empty() && ss.ks_cell.empty() &&
                ss.elevgw.empty() && ss.gwbound.empty() && ss.albedo_cell.empty();
       }},
      {"Green and Ampt with its cards",
       [](model_state& ms) {
         ms.subsurface.green_ampt = 1;
         ms.subsurface.conductivity_on = 1;
         ms.subsurface.porosity_on = 1;
         ms.overland.area_reduction = 1;
       },
       [](const model_state& ms) {
         const subsurface_state& ss = ms.subsurface;
         return ss.ks_cell.count() == 5 && ss.porosity_cell.count() == 5 && ss.hc_cell.empty() &&
                ms.overland.area_reduction_cell.count() == 5 && ss.theta_init.count() == 5 &&
                ss.theta_work.count() == 5 && ss.iter_n.empty() && ss.soiltype.empty();
       }},
      {"redistribution with groundwater",
       [](model_state& ms) {
         ms.subsurface.inf_redist = 1;
         ms.subsurface.gw_simulation = 1;
         ms.subsurface.water_table_on = 1;
       },
       [](const model_state& ms) {
         const subsurface_state& ss = ms.subsurface;
         return ss.iter_pond_1.count() == 5 && ss.no_wat_prof.count() == 5 &&
                ss.zone_water_upper.count() == 5 && ss.gw_inf_redist_theta.count() == 5 &&
                ss.gwbound.count() == 5 && ss.elevgw.count() == 5 && ss.gw_cond_y.count() == 5 &&
                ss.num_unsat_cells.count() == 5 && ss.THETA_ML.empty();
       }},
      {"layered soil", [](model_state& ms) { ms.subsurface.inf_layered_soil = 1; },
       [](const model_state& ms) {
         const subsurface_state& ss = ms.subsurface;
         return ss.soiltype.count() == 5 && ss.wetdep.count() == 5 &&
                ss.THETA_ML.row_count() == 5 && ss.THETA_ML.col_count() == 4 &&
                ss.gw_inf_redist_theta.empty();
       }},
      {"Richards", [](model_state& ms) { ms.subsurface.inf_richards = 1; },
       [](const model_state& ms) {
         const subsurface_state& ss = ms.subsurface;
         return ss.num1.count() == 151 && ss.numcells.count() == 5 && ss.elevgw.count() == 5 &&
                ss.bottom_elev.count() == 5 && ss.inf_rich.count() == 5 &&
                ss.soiltype.count() == 5 && ss.num_unsat_cells.empty();
       }},
      {"long-term run with lakes and interception",
       [](model_state& ms) {
         ms.long_term = 1;
         ms.perennial_lakes = 1;
         ms.overland.interception_on = 1;
         ms.overland.overland_lake_map = 1;
       },
       [](const model_state& ms) {
         const subsurface_state& ss = ms.subsurface;
         return ss.albedo_cell.count() == 5 && ss.theta_wp_cell.count() == 5 &&
                ms.overland.interception_storage.count() == 5 &&
                ms.overland.interception_coeff.count() == 5 &&
                ms.overland.oland_lake_new.count() == 5;
       }},
  };
  for (const option_case& c : cases) {
    SCOPED_TRACE(c.label);
    fresh_state();
    c.set(*ms_);
    const printed p = run(alloc_grid_arrays);
    EXPECT_EQ(run_error.error_fatal, 0);
    EXPECT_EQ(p.out, "");
    EXPECT_TRUE(c.expect(*ms_));
  }
}

// The extent of an array: its highest index (per dimension); empty when it is not allocated.
template <class T>
std::vector<int> extent(const raw_array1d<T>& a) {
  return a.empty() ? std::vector<int>{} : std::vector<int>{a.count()};
}
std::vector<int> extent(const raw_array2d<double>& a) {
  return a.empty() ? std::vector<int>{} : std::vector<int>{a.row_count(), a.col_count()};
}

// An array that the runs of some infiltration schemes need, and the extent it must have.
struct needed_array {
  const char* name;
  int schemes;
  std::function<std::vector<int>(const model_state&)> extent_in;
  std::vector<int> expected;
};
template <class A>
needed_array subsurface_array(const char* name, int schemes, A subsurface_state::*field,
                              std::vector<int> expected = {5}) {
  return {name, schemes, [field](const model_state& ms) { return extent(ms.subsurface.*field); },
          std::move(expected)};
}
template <class A>
needed_array overland_array(const char* name, int schemes, A overland_state::*field) {
  return {
      name, schemes, [field](const model_state& ms) { return extent(ms.overland.*field); }, {5}};
}

// A long-term run keeps the soil between its events with one of three infiltration schemes
// (the option checks refuse any other) and takes evapotranspiration from hourly weather: with
// the cards of each, every array its steps use is there, one element per cell unless said.
TEST_F(SoilInputs, ALongTermRunHasEveryArrayItsStepsUse) {
  constexpr int redistribution = 1, layered = 2, richards = 4, any = 7;
  const struct {
    int scheme;
    const char* cards;
  } runs[] = {
      {redistribution,
       "INF_REDIST\nET_CALC_PENMAN\nCONDUCTIVITY k.asc\nCAPILLARY hc.asc\nPOROSITY phi.asc\n"
       "PORE_INDEX pi.asc\nRESIDUAL_SAT rs.asc\nMOISTURE m.asc\nALBEDO al.asc\nVHEIGHT vh.asc\n"
       "TCOEFF tc.asc\nCANOPY cr.asc\nWILTING_POINT wp.asc\n"},
      {layered, "INF_LAYERED_SOIL\nET_CALC_DEARDORFF\nALBEDO al.asc\n"},
      {richards, "INF_RICHARDS\nET_CALC_PENMAN\n"},
  };
  using ss = subsurface_state;
  using ov = overland_state;
  const needed_array arrays[] = {
      overland_array("ov_depth", any, &ov::ov_depth),
      overland_array("ov_depth_prev", any, &ov::ov_depth_prev),
      overland_array("rightcon", any, &ov::rightcon),
      overland_array("belowcon", any, &ov::belowcon),
      overland_array("leftcon", any, &ov::leftcon),
      overland_array("abovecon", any, &ov::abovecon),
      subsurface_array("yes_exfil", any, &ss::yes_exfil),
      // the infiltration state of every scheme
      subsurface_array("theta_init", any, &ss::theta_init),
      subsurface_array("theta_work", any, &ss::theta_work),
      subsurface_array("inf_depth_cum", any, &ss::inf_depth_cum),
      subsurface_array("inf_depth_prev", any, &ss::inf_depth_prev),
      subsurface_array("inf_rate", any, &ss::inf_rate),
      subsurface_array("inf_depth_total", any, &ss::inf_depth_total),
      subsurface_array("inf_depth_longterm", any, &ss::inf_depth_longterm),
      subsurface_array("exfil_cum", any, &ss::exfil_cum),
      subsurface_array("redist_front_theta", any, &ss::redist_front_theta),
      subsurface_array("redist_front_depth", any, &ss::redist_front_depth),
      subsurface_array("surf_moist", any, &ss::surf_moist),
      // evapotranspiration during and between the events
      subsurface_array("albedo_cell", any, &ss::albedo_cell),
      subsurface_array("vheight_cell", any, &ss::vheight_cell),
      subsurface_array("tcoeff_cell", any, &ss::tcoeff_cell),
      subsurface_array("canopy_cell", any, &ss::canopy_cell),
      subsurface_array("theta_wp_cell", any, &ss::theta_wp_cell),
      subsurface_array("theta_fc_cell", any, &ss::theta_fc_cell),
      subsurface_array("et_rate_water", any, &ss::et_rate_water),
      subsurface_array("et_rate_soil", any, &ss::et_rate_soil),
      subsurface_array("et_cum_cell", any, &ss::et_cum_cell),
      subsurface_array("recharge_inc", any, &ss::recharge_inc),
      // the Green and Ampt parameters and the iteration counts of redistribution
      subsurface_array("ks_cell", redistribution, &ss::ks_cell),
      subsurface_array("hc_cell", redistribution, &ss::hc_cell),
      subsurface_array("porosity_cell", redistribution, &ss::porosity_cell),
      subsurface_array("pore_index_cell", redistribution, &ss::pore_index_cell),
      subsurface_array("residual_cell", redistribution, &ss::residual_cell),
      subsurface_array("iter_pond_1", redistribution, &ss::iter_pond_1),
      subsurface_array("iter_n", redistribution, &ss::iter_n),
      subsurface_array("no_wat_prof", redistribution, &ss::no_wat_prof),
      subsurface_array("iter_i_less_k", redistribution, &ss::iter_i_less_k),
      // the two soil zones of redistribution and layered soil
      subsurface_array("zone_water_upper", redistribution | layered, &ss::zone_water_upper),
      subsurface_array("zone_water_lower", redistribution | layered, &ss::zone_water_lower),
      subsurface_array("soil_water_total", redistribution | layered, &ss::soil_water_total),
      subsurface_array("wt_depth_cm", redistribution | layered, &ss::wt_depth_cm),
      subsurface_array("soiltype", layered | richards, &ss::soiltype),
      subsurface_array("wetdep", layered, &ss::wetdep),
      subsurface_array("THETA_ML", layered, &ss::THETA_ML, {5, 4}),
      // the soil columns of Richards and the groundwater arrays that come with them
      subsurface_array("VOLCHANGE", richards, &ss::VOLCHANGE),
      subsurface_array("MASSERROR", richards, &ss::MASSERROR),
      subsurface_array("dtr", richards, &ss::dtr),
      subsurface_array("avgks", richards, &ss::avgks),
      subsurface_array("totaldz", richards, &ss::totaldz),
      subsurface_array("num1", richards, &ss::num1, {151}),
      subsurface_array("num2", richards, &ss::num2),
      subsurface_array("num3", richards, &ss::num3),
      subsurface_array("numcells", richards, &ss::numcells),
      subsurface_array("numtot", richards, &ss::numtot),
      subsurface_array("bound_type", richards, &ss::bound_type),
      subsurface_array("inf_rich", richards, &ss::inf_rich),
      subsurface_array("elevgw", richards, &ss::elevgw),
      subsurface_array("gw_flux", richards, &ss::gw_flux),
      subsurface_array("bottom_elev", richards, &ss::bottom_elev),
      subsurface_array("gw_porosity", richards, &ss::gw_porosity),
      subsurface_array("gw_cond_x", richards, &ss::gw_cond_x),
      subsurface_array("gw_cond_y", richards, &ss::gw_cond_y),
      subsurface_array("gw_static_flux", richards, &ss::gw_static_flux),
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.cards);
    fresh_state();
    write_file(dir_.file("lt.prj"),
               std::string("TORVAPROJECT\nLONG_TERM\nHMET_SAMSON weather.txt\n") + r.cards);
    run([](model_state& ms) { read_run_parameters(ms, "lt.prj"); });
    ASSERT_EQ(run_error.error_code, 0);
    ASSERT_EQ(ms_->long_term, 1);
    const printed p = run(alloc_grid_arrays);
    EXPECT_EQ(run_error.error_fatal, 0) << p.out;
    for (const needed_array& a : arrays) {
      if (a.schemes & r.scheme) {
        EXPECT_EQ(a.extent_in(*ms_), a.expected) << a.name;
      }
    }
  }
}

TEST_F(SoilInputs, NoCellsAllocateNothingAndPrintNothing) {
  ms_->cell_count = 0;
  ms_->subsurface.inf_layered_soil = 1;
  const printed p = run(alloc_grid_arrays);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_TRUE(ms_->overland.rightcon.empty());
  EXPECT_TRUE(ms_->subsurface.THETA_ML.empty());
}

TEST_F(SoilInputs, GreenAmptMapsAreReadAndConverted) {
  subsurface_state& ss = ms_->subsurface;
  input_state& in = ms_->input;
  ss.green_ampt = 1;
  ss.conductivity_on = ss.capillary_on = ss.porosity_on = ss.moisture_on = 1;
  run(alloc_grid_arrays);
  given(in.conductivity_file, in.names.conductivity, "ks.asc",
        small_index_map("3.6 0.36 -9\n36 1.8 0\n"));
  given(in.capillary_file, in.names.capillary, "hc.asc", small_index_map("10 20 0\n30 40 50\n"));
  given(in.porosity_file, in.names.porosity, "phi.asc",
        small_index_map("0.4 0.4 0\n0.45 0.45 0.5\n"));
  given(in.moisture_file, in.names.moisture, "theta.asc",
        small_index_map("0.1 0.2 0\n0.45 0.0 0.3\n"));
  const printed p = run(read_soil_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
  EXPECT_TRUE(contains(p.out, "reading saturated hydraulic conductivity map from file: ks.asc\n"));
  EXPECT_TRUE(contains(p.out, "reading capillary drive map from file: hc.asc\n"));
  EXPECT_TRUE(contains(p.out, "reading porosity map from file: phi.asc\n"));
  EXPECT_TRUE(contains(p.out, "reading soil moisture map from file: theta.asc\n"));
  // cm/h to m/s: 3.6 cm/h is 1e-5 m/s.
  const values ks = cells(ss.ks_cell);
  const values expect_ks = {1e-5, 1e-6, 1e-4, 5e-6, 0.0};
  for (int c = 0; c < 5; ++c) EXPECT_NEAR(ks[c], expect_ks[c], 1e-18) << c;
  EXPECT_EQ(cells(ss.hc_cell), (values{0.1, 0.2, 0.3, 0.4, 0.5}));
  EXPECT_EQ(cells(ss.porosity_cell), (values{0.4, 0.4, 0.45, 0.45, 0.5}));
  // A soil saturated to its porosity and a dry one are both possible: taken as they are.
  EXPECT_EQ(cells(ss.theta_init), (values{0.1, 0.2, 0.45, 0.0, 0.3}));
  EXPECT_FALSE(contains(p.out, "initial water content")) << p.out;
  EXPECT_FALSE(in.conductivity_file.is_open());
}

TEST_F(SoilInputs, ConductivityFromTheTableWhenItsFileIsMissing) {
  subsurface_state& ss = ms_->subsurface;
  input_state& in = ms_->input;
  ss.green_ampt = 1;
  ss.conductivity_on = 1;
  in.mapping_table_on = 1;
  in.table_present[3] = 1;  // GREEN_AMPT_INFILTRATION
  run(alloc_grid_arrays);
  write_file(dir_.file("t.cmt"), table_file("GREEN_AMPT_INFILTRATION", 2,
                                            table_row(1, "3.6 1 2 3 4 5 6", "soil") +
                                                table_row(2, "36 1 2 3 4 5 6", "soil")));
  write_file(dir_.file("lu.idx"), small_index_map("1 2 0\n2 2 1\n"));
  const printed p = run(read_soil_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
  EXPECT_TRUE(contains(p.out,
                       "reading saturated hydraulic conductivity table and map from the master "
                       "table file\n"));
  const values ks = cells(ss.ks_cell);
  const values expect_ks = {1e-5, 1e-4, 1e-4, 1e-4, 1e-5};
  for (int c = 0; c < 5; ++c) EXPECT_NEAR(ks[c], expect_ks[c], 1e-18) << c;
}

TEST_F(SoilInputs, BadSoilInputsStopTheRun) {
  struct bad_case {
    const char* label;
    void (*set)(model_state&, const temp_dir&);
    const char* message;
    const char* on_stderr;
  };
  const bad_case cases[] = {
      {"a negative conductivity",
       [](model_state& ms, const temp_dir& d) {
         ms.subsurface.green_ampt = 1;
         ms.subsurface.conductivity_on = 1;
         write_file(d.file("ks.asc"), small_index_map("1 1 0\n1 -2 1\n"));
         copy_text(ms.input.names.conductivity, 1024, "ks.asc");
         file_handle_open(ms.input.conductivity_file, "ks.asc", "r");
       },
       "Error: the saturated hydraulic conductivity -2 of cell 4 (row 2, column 2) read from "
       "ks.asc is physically impossible: it must be at least 0\n",
       ""},
      {"redistribution without a pore index",
       [](model_state& ms, const temp_dir&) { ms.subsurface.inf_redist = 1; },
       // Both lines and the report's newline, in order, on the stream error_report writes to.
       "For infiltration redistribution, pore index map must be specified\nProgram stopped.\n\n",
       ""},
      {"a conductivity card without file or table",
       [](model_state& ms, const temp_dir&) {
         ms.subsurface.green_ampt = 1;
         ms.subsurface.conductivity_on = 1;
         copy_text(ms.input.names.conductivity, 1024, "ks.asc");
       },
       "Error: the saturated hydraulic conductivity map ks.asc could not be opened", ""},
      {"an area reduction file that does not open",
       [](model_state& ms, const temp_dir&) {
         ms.subsurface.green_ampt = 1;
         ms.overland.area_reduction = 1;
         copy_text(ms.cards.area_reduction, 1024, "nowhere.asc");
       },
       "Can't open area reduction file named: nowhere.asc\n", ""},
      {"an area reduction above 1",
       [](model_state& ms, const temp_dir& d) {
         ms.subsurface.green_ampt = 1;
         ms.overland.area_reduction = 1;
         write_file(d.file("ar.asc"), small_index_map("0 0.5 0\n1 1.5 0\n"));
         copy_text(ms.cards.area_reduction, 1024, "ar.asc");
       },
       "Error: the area reduction 1.5 of cell 4 read from ar.asc must lie from 0 to 1\n", ""},
      {"an area reduction card without file or table",
       [](model_state& ms, const temp_dir&) {
         ms.subsurface.green_ampt = 1;
         ms.overland.area_reduction = 1;
       },
       "Error: AREA_REDUCTION names no map file and the mapping table file holds no "
       "AREA_REDUCTION table\n",
       ""},
      {"a soil type outside the soil table",
       [](model_state& ms, const temp_dir& d) {
         ms.subsurface.inf_layered_soil = 1;
         write_file(d.file("soil.asc"), small_index_map("1 2 0\n3 10000 1\n"));
         copy_text(ms.input.names.soil_type_map, 1024, "soil.asc");
         file_handle_open(ms.input.soil_type_file, "soil.asc", "r");
       },
       "Error: soil type 10000 at row 2 column 2 of soil map soil.asc lies outside 0 to 9999\n",
       ""},
      {"Richards without a soil table",
       [](model_state& ms, const temp_dir&) {
         ms.subsurface.inf_richards = 1;
         ms.subsurface.richards_c_option = 1;
       },
       "Reading Soil Table", ""},
  };
  for (const bad_case& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    fresh_state();
    c.set(*ms_, dir_);
    run(alloc_grid_arrays);
    const printed p = run(read_soil_maps);
    EXPECT_EQ(run_error.error_fatal, 1) << p.out;
    EXPECT_TRUE(contains(p.out, c.message)) << p.out;
    EXPECT_EQ(p.err, c.on_stderr);
  }
}

// Writes `text` as `file` and opens it as the map of a Green and Ampt card.
template <std::size_t N>
void soil_map(const temp_dir& d, file_handle& h, char (&dst)[N], const char* file,
              const std::string& text) {
  write_file(d.file(file), text);
  copy_text(dst, N, file);
  file_handle_open(h, file, "r");
}

// Green and Ampt with the four maps of the small watershed: conductivities, capillary heads,
// porosities 0.45 and initial moistures, each given in place of a good map when not empty.
void green_ampt_maps(model_state& ms, const temp_dir& d, const std::string& hc,
                     const std::string& phi, const std::string& theta) {
  subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  ss.green_ampt = 1;
  ss.conductivity_on = ss.capillary_on = ss.porosity_on = ss.moisture_on = 1;
  soil_map(d, in.conductivity_file, in.names.conductivity, "ks.asc",
           small_index_map("1 1 0\n1 1 1\n"));
  soil_map(d, in.capillary_file, in.names.capillary, "hc.asc",
           small_index_map(hc.empty() ? "10 10 0\n10 10 10\n" : hc));
  soil_map(d, in.porosity_file, in.names.porosity, "phi.asc",
           small_index_map(phi.empty() ? "0.45 0.45 0\n0.45 0.45 0.45\n" : phi));
  soil_map(d, in.moisture_file, in.names.moisture, "theta.asc",
           small_index_map(theta.empty() ? "0.2 0.2 0\n0.2 0.2 0.2\n" : theta));
}

// Green and Ampt (with redistribution when `redist`) from a GREEN_AMPT_INFILTRATION table of
// two soils (conductivity, capillary head, porosity, pore index, residual, field capacity,
// wilting point) over the index map 1 2 / 2 2 1; with `moisture_rows`, the initial moistures
// come from a GREEN_AMPT_INITIAL_SOIL_MOISTURE table of the same soils.
void green_ampt_table(model_state& ms, const temp_dir& d, bool redist, const std::string& soil_1,
                      const std::string& soil_2, const std::string& moisture_rows = "") {
  subsurface_state& ss = ms.subsurface;
  input_state& in = ms.input;
  (redist ? ss.inf_redist : ss.green_ampt) = 1;
  ss.conductivity_on = ss.capillary_on = ss.porosity_on = 1;
  ss.pore_index_on = ss.residual_sat_on = redist ? 1 : 0;
  in.mapping_table_on = 1;
  in.table_present[3] = 1;  // GREEN_AMPT_INFILTRATION
  std::string text = table_file("GREEN_AMPT_INFILTRATION", 2,
                                table_row(1, soil_1, "soil") + table_row(2, soil_2, "soil"));
  if (!moisture_rows.empty()) {
    ss.moisture_on = 1;
    in.table_present[4] = 1;  // GREEN_AMPT_INITIAL_SOIL_MOISTURE
    text += "GREEN_AMPT_INITIAL_SOIL_MOISTURE Land use\nNUM_IDS 2\n" +
            torva_test::table_column_header + moisture_rows;
  }
  write_file(d.file("t.cmt"), text);
  write_file(d.file("lu.idx"), small_index_map("1 2 0\n2 2 1\n"));
}

// Every soil value outside what a soil can physically hold is refused, from a map (named with
// its cell) or from a table (named with its soil id), with the field and the value.
TEST_F(SoilInputs, PhysicallyImpossibleSoilValuesStopTheRun) {
  struct bad_case {
    const char* label;
    void (*set)(model_state&, const temp_dir&);
    const char* message;
  };
  const bad_case cases[] = {
      {"porosity above 1 in its map",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_maps(ms, d, "", "0.45 0.45 0\n0.45 1.2 0.45\n", "");
       },
       "Error: the porosity 1.2 of cell 4 (row 2, column 2) read from phi.asc is physically "
       "impossible: it must be above 0 and at most 1\n"},
      {"porosity of 0 in its map",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_maps(ms, d, "", "0 0.45 0\n0.45 0.45 0.45\n", "");
       },
       "Error: the porosity 0 of cell 1 (row 1, column 1) read from phi.asc is physically "
       "impossible: it must be above 0 and at most 1\n"},
      {"negative capillary head in its map",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_maps(ms, d, "10 -3 0\n10 10 10\n", "", "");
       },
       "Error: the capillary head -3 of cell 2 (row 1, column 2) read from hc.asc is physically "
       "impossible: it must be at least 0\n"},
      {"initial moisture above the porosity",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_maps(ms, d, "", "", "0.2 0.2 0\n0.2 0.2 0.5\n");
       },
       "Error: the initial moisture 0.5 of cell 5 (row 2, column 3) read from theta.asc exceeds "
       "the porosity 0.45 read from phi.asc\n"},
      {"negative initial moisture",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_maps(ms, d, "", "", "0.2 0.2 0\n0.2 -0.1 0.2\n");
       },
       "Error: the initial moisture -0.1 of cell 4 (row 2, column 2) read from theta.asc is "
       "physically impossible: it must be from 0 to 1\n"},
      {"porosity above 1 in the table",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_table(ms, d, false, "1 10 0.45 0.3 0.05 0 0", "1 10 1.5 0.3 0.05 0 0");
       },
       "Error: the porosity 1.5 of soil id 2 in table GREEN_AMPT_INFILTRATION of mapping table "
       "file t.cmt is physically impossible: it must be above 0 and at most 1\n"},
      {"negative capillary head in the table",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_table(ms, d, false, "1 -10 0.45 0.3 0.05 0 0", "1 10 0.45 0.3 0.05 0 0");
       },
       "Error: the capillary head -10 of soil id 1 in table GREEN_AMPT_INFILTRATION of mapping "
       "table file t.cmt is physically impossible: it must be at least 0\n"},
      {"negative conductivity in the table",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_table(ms, d, false, "1 10 0.45 0.3 0.05 0 0", "-0.5 10 0.45 0.3 0.05 0 0");
       },
       "Error: the saturated hydraulic conductivity -0.5 of soil id 2 in table "
       "GREEN_AMPT_INFILTRATION of mapping table file t.cmt is physically impossible: it must "
       "be at least 0\n"},
      {"pore index of 0 with redistribution",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_table(ms, d, true, "1 10 0.45 0 0.05 0 0", "1 10 0.45 0.3 0.05 0 0");
       },
       "Error: the pore distribution index 0 of soil id 1 in table GREEN_AMPT_INFILTRATION of "
       "mapping table file t.cmt is physically impossible: it must be above 0\n"},
      {"residual content at the porosity with redistribution",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_table(ms, d, true, "1 10 0.45 0.3 0.05 0 0", "1 10 0.45 0.3 0.45 0 0");
       },
       "Error: the residual saturation 0.45 of soil id 2 in table GREEN_AMPT_INFILTRATION of "
       "mapping table file t.cmt is not below its porosity 0.45\n"},
      {"initial moisture in its table above 1",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_table(ms, d, false, "1 10 0.45 0.3 0.05 0 0", "1 10 0.45 0.3 0.05 0 0",
                          table_row(1, "0.2", "soil") + table_row(2, "1.3", "soil"));
       },
       "Error: the initial moisture 1.3 of soil id 2 in table GREEN_AMPT_INITIAL_SOIL_MOISTURE "
       "of mapping table file t.cmt is physically impossible: it must be from 0 to 1\n"},
      {"initial moisture of its table above the porosity of the soil table",
       [](model_state& ms, const temp_dir& d) {
         green_ampt_table(ms, d, false, "1 10 0.45 0.3 0.05 0 0", "1 10 0.4 0.3 0.05 0 0",
                          table_row(1, "0.2", "soil") + table_row(2, "0.42", "soil"));
       },
       "Error: the initial moisture 0.42 of cell 2 (row 1, column 2) read from the mapping table "
       "file exceeds the porosity 0.4 read from the mapping table file\n"},
  };
  for (const bad_case& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    fresh_state();
    c.set(*ms_, dir_);
    run(alloc_grid_arrays);
    const printed p = run(read_soil_maps);
    EXPECT_EQ(run_error.error_fatal, 1) << p.out;
    EXPECT_TRUE(contains(p.out, c.message)) << p.out;
  }
  // The same soils within their ranges are read without a word: the checks refuse only the
  // impossible (a saturated soil, a dry one, a porosity of 1, a capillary head of 0).
  run_error = error_state{};
  fresh_state();
  green_ampt_maps(*ms_, dir_, "0 10 0\n10 10 10\n", "1 0.45 0\n0.45 0.45 0.45\n",
                  "1 0.45 0\n0 0.2 0.2\n");
  run(alloc_grid_arrays);
  printed p = run(read_soil_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
  run_error = error_state{};
  fresh_state();
  green_ampt_table(*ms_, dir_, true, "0 0 1 0.3 0 0 0", "1 10 0.45 0.3 0.44 0.45 0.1",
                   table_row(1, "1", "soil") + table_row(2, "0.45", "soil"));
  run(alloc_grid_arrays);
  p = run(read_soil_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
}

TEST_F(SoilInputs, LayeredSoilTypesAndTheirStartingMoisture) {
  subsurface_state& ss = ms_->subsurface;
  ss.inf_layered_soil = 1;
  run(alloc_grid_arrays);
  ss.soil_types[2].layer_init_moisture[0] = 0.21;
  ss.soil_types[2].layer_init_moisture[2] = 0.23;
  ss.soil_types[7].layer_init_moisture[1] = 0.32;
  given(ms_->input.soil_type_file, ms_->input.names.soil_type_map, "soil.asc",
        small_index_map("2 7 9\n7 2 0\n"));
  const printed p = run(read_soil_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
  EXPECT_TRUE(contains(p.out, "reading soil map from file: soil.asc\n"));
  EXPECT_EQ(std::vector<int>(ss.soiltype.data() + 1, ss.soiltype.data() + 6),
            (std::vector<int>{2, 7, 7, 2, 0}));
  EXPECT_EQ(ss.THETA_ML[1][1], 0.21);
  EXPECT_EQ(ss.THETA_ML[1][3], 0.23);
  EXPECT_EQ(ss.THETA_ML[3][2], 0.32);
  EXPECT_EQ(ss.THETA_ML[5][1], 0.0);
}

TEST_F(SoilInputs, AreaReductionBecomesTheInfiltratingFraction) {
  ms_->subsurface.green_ampt = 1;
  ms_->overland.area_reduction = 1;
  run(alloc_grid_arrays);
  write_file(dir_.file("ar.asc"), small_index_map("0 0.25 0\n1 0.5 0.75\n"));
  name(ms_->cards.area_reduction, "ar.asc");
  const printed p = run(read_soil_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
  EXPECT_TRUE(contains(p.out, "reading area reduction map from file: ar.asc\n"));
  EXPECT_EQ(cells(ms_->overland.area_reduction_cell), (values{1.0, 0.75, 0.0, 0.5, 0.25}));
}

TEST_F(SoilInputs, RunWithoutInfiltrationReadsNoSoilInputs) {
  subsurface_state& ss = ms_->subsurface;
  input_state& in = ms_->input;
  ms_->long_term = 1;
  ss.albedo_on = 1;
  ss.water_table_on = 1;
  ss.gw_simulation = 1;
  ms_->overland.area_reduction = 1;
  run(alloc_grid_arrays);
  given(in.water_table_file, in.names.water_table, "wt.asc", small_index_map("1 1 0\n1 1 1\n"));
  given(in.albedo_file, in.names.albedo, "al.asc", small_index_map("1 1 0\n1 1 1\n"));
  const printed p = run(read_soil_maps);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_EQ(cells(ss.elevgw), (values{0, 0, 0, 0, 0}));
  EXPECT_TRUE(in.water_table_file.is_open());
}

TEST_F(SoilInputs, WaterTableAndAquiferBottom) {
  subsurface_state& ss = ms_->subsurface;
  input_state& in = ms_->input;
  ss.water_table_on = 1;
  ss.gw_simulation = 1;
  run(alloc_grid_arrays);
  given(in.water_table_file, in.names.water_table, "wt.asc",
        small_index_map("99 98 0\n97 96 95\n"));
  given(in.aquifer_bottom_file, in.names.aquifer_bottom, "bot.asc",
        small_index_map("90 90 0\n90 100 101\n"));
  const printed p = run(read_water_table_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
  EXPECT_EQ(cells(ss.elevgw), (values{99, 98, 97, 96, 95}));
  // Cells 4 (equal) and 5 (above) lie at or above the ground of 100 m.
  EXPECT_EQ(cells(ss.bottom_elev), (values{90, 90, 90, 100, 100}));
  EXPECT_TRUE(contains(p.out,
                       "Aquifer bottom elevation 100.000000 for cell 4 is at or above ground "
                       "surface elevation 100.000000 \nAquifer bottom elevation set to ground "
                       "elevation \n"));
  EXPECT_TRUE(contains(p.out, "for cell 5 is at or above"));
  EXPECT_FALSE(contains(p.out, "for cell 3 is"));
}

TEST_F(SoilInputs, RichardsWithoutGroundwaterPutsTheBottomJustBelowTheTable) {
  subsurface_state& ss = ms_->subsurface;
  input_state& in = ms_->input;
  ss.water_table_on = 1;
  ss.inf_richards = 1;
  run(alloc_grid_arrays);
  given(in.water_table_file, in.names.water_table, "wt.asc",
        small_index_map("99 98 0\n97 96 100.05\n"));
  const printed p = run(read_water_table_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
  const values bottom = cells(ss.bottom_elev);
  const values expect = {98.9, 97.9, 96.9, 95.9, 99.95};
  for (int c = 0; c < 5; ++c) EXPECT_NEAR(bottom[c], expect[c], 1e-9) << c;
  EXPECT_DOUBLE_EQ(ss.aquifer_delta_z, 0.1);
}

// Single-layer Green and Ampt without constituents takes nothing from a fixed table: its map is
// not read.
TEST_F(SoilInputs, WaterTableWithoutItsArraysIsNotStored) {
  subsurface_state& ss = ms_->subsurface;
  ss.water_table_on = 1;
  ss.green_ampt = 1;
  run(alloc_grid_arrays);
  ASSERT_TRUE(ss.elevgw.empty());
  name(ms_->input.names.water_table, "wt.asc");
  const printed p = run(read_water_table_maps);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_TRUE(contains(p.out, "Warning: the water table map wt.asc is not read"));
}

// The soils that keep their moisture end on a fixed table and take its water where it stands
// above the ground: they read its map whether or not constituents are transported.
TEST_F(SoilInputs, TheSoilsThatKeepTheirMoistureReadAFixedWaterTable) {
  for (const bool layered : {false, true}) {
    SCOPED_TRACE(layered ? "layered soil" : "redistribution soil");
    fresh_state();
    subsurface_state& ss = ms_->subsurface;
    input_state& in = ms_->input;
    ss.water_table_on = 1;
    (layered ? ss.inf_layered_soil : ss.inf_redist) = 1;
    run(alloc_grid_arrays);
    given(in.water_table_file, in.names.water_table, "wt.asc",
          small_index_map("99 98 0\n97 96 100.05\n"));
    const printed p = run(read_water_table_maps);
    EXPECT_EQ(run_error.error_fatal, 0) << p.out;
    EXPECT_FALSE(contains(p.out, "is not read")) << p.out;
    EXPECT_EQ(cells(ss.elevgw), (values{99, 98, 97, 96, 100.05}));
  }
}

// Groundwater: boundary types from the map, static-flux wells, conductivity and porosity.
class SoilInputsGroundwater : public SoilInputs {
 protected:
  void SetUp() override {
    SoilInputs::SetUp();
    subsurface_state& ss = ms_->subsurface;
    ss.water_table_on = 1;
    ss.gw_simulation = 1;
    run(alloc_grid_arrays);
  }
  void boundary(const std::string& rows) {
    given(ms_->subsurface.gw_boundfile_file, ms_->input.names.gw_boundfile, "bound.asc",
          small_index_map(rows));
  }
};

TEST_F(SoilInputsGroundwater, BoundaryWellsConductivityAndPorosity) {
  subsurface_state& ss = ms_->subsurface;
  boundary("0 6 0\n3 0 1\n");
  // 8640 m3/day over a 10 m cell: 8640 / 86400 / 100 = 0.001 m/s.
  write_file(dir_.file("flux.txt"), "1\n1 2 8640.0\n");
  name(ms_->input.names.gw_fluxboundtable, "flux.txt");
  given(ss.gw_hycond_map_file, ms_->input.names.gw_hycond_map, "k.asc",
        small_index_map("360 36 0\n3.6 0 720\n"));
  ss.gw_hycond_map_on = 1;
  ss.gw_unif_porosity_on = 1;
  ss.gw_unif_porosity = 0.3;
  const printed p = run(read_gw_maps);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
  EXPECT_TRUE(contains(p.out, "reading the groundwater boundary file: bound.asc\n"));
  EXPECT_EQ(std::vector<int>(ss.gwbound.data() + 1, ss.gwbound.data() + 6),
            (std::vector<int>{0, 6, 3, 0, 1}));
  EXPECT_EQ(ss.static_well_count, 1);
  EXPECT_EQ(ss.dynamic_well_count, 1);
  EXPECT_NEAR(ss.gw_static_flux[2], 0.001, 1e-15);
  EXPECT_EQ(ss.gw_static_flux[1], 0.0);
  EXPECT_TRUE(contains(p.out,
                       "You can't have a dynamic wells in the groundwater boundary map. You must "
                       "use the\nWELL_TABLE table in the mapping table file\n"));
  EXPECT_TRUE(
      contains(p.out, "reading ground water hydraulic conductivity map from file: k.asc\n"));
  // cm/h to m/s: 360 cm/h is 1e-3 m/s, in both directions.
  const values expect_k = {1e-3, 1e-4, 1e-5, 0.0, 2e-3};
  for (int c = 0; c < 5; ++c) {
    EXPECT_NEAR(ss.gw_cond_x[c + 1], expect_k[c], 1e-18) << c;
    EXPECT_EQ(ss.gw_cond_y[c + 1], ss.gw_cond_x[c + 1]) << c;
  }
  EXPECT_EQ(cells(ss.gw_porosity), (values{0.3, 0.3, 0.3, 0.3, 0.3}));
}

TEST_F(SoilInputsGroundwater, UniformConductivityAndNoConductivityAtAll) {
  subsurface_state& ss = ms_->subsurface;
  boundary("0 0 0\n0 0 0\n");
  ss.gw_unif_hycond_on = 1;
  ss.gw_unif_hycond = 36.0;
  ss.gw_unif_porosity_on = 1;
  ss.gw_unif_porosity = 0.25;
  run(read_gw_maps);
  EXPECT_EQ(run_error.error_fatal, 0);
  EXPECT_NEAR(ss.gw_cond_y[5], 1e-4, 1e-18);

  // Without map, table or uniform value: a set-up fault for the driver to report.
  run_error = error_state{};
  boundary("0 0 0\n0 0 0\n");
  ss.gw_unif_hycond_on = 0;
  run(read_gw_maps);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_EQ(run_error.error_code, err_groundwater_table_not_set_up);
}

TEST_F(SoilInputsGroundwater, BadGroundwaterInputsStopTheRun) {
  struct bad_case {
    const char* label;
    const char* bound;
    const char* flux;  // null: no flux table file
    const char* message;
  };
  const bad_case cases[] = {
      {"a type-6 cell without a flux table", "6 0 0\n0 0 0\n", nullptr,
       "Can't open static flux table file: flux.txt\n"},
      {"a negative well count", "6 0 0\n0 0 0\n", "-1\n",
       "Error: static flux table flux.txt must begin with a well count of 0 or more\n"},
      {"a well count that is no number", "6 0 0\n0 0 0\n", "two\n1 1 5\n",
       "Error: static flux table flux.txt must begin with a well count of 0 or more\n"},
      {"fewer wells than counted", "6 0 0\n0 0 0\n", "2\n1 1 5.0\n",
       "Error: static flux table flux.txt ends after 1 of its 2 wells\n"},
      {"a well line without its flux", "6 0 0\n0 0 0\n", "1\n1 1\n",
       "Error: well 1 of static flux table flux.txt needs a row, a column and a flux: 1 1\n"},
      {"a well outside the grid", "6 0 0\n0 0 0\n", "1\n3 1 5.0\n",
       "Error: well 1 of static flux table flux.txt is at row 3 column 1, outside the grid of 2 "
       "rows and 3 columns\n"},
      {"a well outside the watershed", "6 0 0\n0 0 0\n", "1\n1 3 5.0\n",
       "Error: well 1 of static flux table flux.txt is at row 1 column 3, outside the "
       "watershed\n"},
      {"a negative aquifer conductivity", "0 0 0\n0 0 0\n", "0\n",
       "Error: the groundwater hydraulic conductivity -1 of cell 2 read from k.asc is negative"},
  };
  subsurface_state& ss = ms_->subsurface;
  for (const bad_case& c : cases) {
    SCOPED_TRACE(c.label);
    run_error = error_state{};
    std::remove(dir_.file("flux.txt").c_str());
    boundary(c.bound);
    name(ms_->input.names.gw_fluxboundtable, "flux.txt");
    if (c.flux != nullptr) write_file(dir_.file("flux.txt"), c.flux);
    ms_->grid_params.gw_fluxboundtable_given = c.flux != nullptr ? 1 : 0;
    given(ss.gw_hycond_map_file, ms_->input.names.gw_hycond_map, "k.asc",
          small_index_map("1 -1 0\n1 1 1\n"));
    ss.gw_hycond_map_on = 1;
    const printed p = run(read_gw_maps);
    EXPECT_EQ(run_error.error_fatal, 1) << p.out;
    EXPECT_TRUE(contains(p.out, c.message)) << p.out;
    file_handle_close(ss.gw_hycond_map_file);
  }
}

TEST_F(SoilInputs, SacramentoParameterFileMustOpen) {
  ms_->subsurface.sacramento = 1;
  name(ms_->input.names.sacramento, "sac.txt");
  printed p = run(open_sacramento_params);
  EXPECT_EQ(run_error.error_fatal, 1);
  EXPECT_TRUE(contains(p.out, "Cannot open Sacramento input parameter file: sac.txt\n"));

  run_error = error_state{};
  write_file(dir_.file("sac.txt"), "parameters\n");
  p = run(open_sacramento_params);
  EXPECT_EQ(run_error.error_fatal, 0) << p.out;
}

}  // namespace
