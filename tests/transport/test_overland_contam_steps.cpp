// The overland constituents' processes on a small plane of a few blocks of cells: whether the
// cells take their infiltrated water, rain load, infiltration mass, exchange and decay in one
// sweep (no water rises from an aquifer between them) or in separate sweeps around the rising
// water, and on one thread or several, every cell and every book ends in the same bits; and the
// mass the cells that dried gave the soil is booked whole. And the transport step's net sources
// built by the vector kernel on every instruction set against the scalar kernel, bit for bit.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "support/vector_target_loop.h"
#include "transport/contaminants/contam_kernels.h"
#include "transport/contaminants/contam_source_lanes.h"
#include "transport/transport_steps.h"

namespace test_overland_contam_steps_tests {

constexpr int cells = 2600;  // two whole blocks of 1024 and a short one
constexpr int constituents = 3;
constexpr double step_seconds = 10.0;

// Every fifth cell is dry, and every seventh of those still holds mass while it infiltrates;
// rain, depths, rates and soil masses vary from cell to cell. With `rising`, a simulated
// aquifer's exfiltrated depths are held but stand still, so that the rising water carries
// nothing and only the order of the sweeps differs.
std::unique_ptr<model_state> plane(bool rising) {
  auto ms = std::make_unique<model_state>();
  ms->cell_count = cells;
  ms->gridsize = 10.0;
  ms->super_quiet = 1;
  ms->time_tolerance = 0.01 / seconds_per_day;
  const double area = ms->gridsize * ms->gridsize;
  transport_state& tr = ms->transport;
  contam_tables& ct = tr.contam;
  overland_state& ov = ms->overland;
  subsurface_state& ss = ms->subsurface;
  tr.ov_con_trans = 1;
  tr.soil_con_trans = 1;
  ct.soil_contam_layers = 1;
  EXPECT_TRUE(tr.precip_conc.grow(constituents));
  contam_alloc(*ms, constituents, cells, 0, 0);
  ct.contam_table_read = 1;
  ct.kinetics_timestep_factor = 2.0;  // the exchange and decay every second step
  ct.soil_layer_thickness[1] = 0.02;
  ov.ov_depth.allocate(cells);
  ov.rain_cell.allocate(cells);
  ss.inf_depth_total.allocate(cells);
  ov.rain_event_state = 1;
  if (rising) {
    ss.gw_simulation = 1;
    ss.exfil_cum.allocate(cells);
  }
  for (int cell = 1; cell <= cells; ++cell) {
    const bool dry = cell % 5 == 0;
    ov.ov_depth[cell] = dry ? 0.0 : 0.001 * (1 + cell % 13);
    ov.rain_cell[cell] = 20.0 + cell % 17;
    ct.ov_depth_prev[cell] = dry ? 0.002 : ov.ov_depth[cell] * 0.9;
    ct.theta[cell][1] = 0.2 + 0.01 * (cell % 11);
  }
  for (int c = 1; c <= constituents; ++c) {
    tr.precip_conc[c] = 0.5 * c;
    for (int cell = 1; cell <= cells; ++cell) {
      const bool dry = cell % 5 == 0;
      ct.ov_decay_coef[c][cell] = 1e-4 * c * (1 + cell % 3);
      ct.ov_uptake_rate[c][cell] = 1e-5 * (1 + cell % 4);
      ct.soil_frac_dissolved[c][cell][1] = soil_dissolved_fraction(0.3, 0.5 * c);
      tr.soil_mass[c][cell][1] = 2.0 + cell % 9;
      tr.ov_land_mass[c][cell] = 1.0 + cell % 5;
      const double conc = dry ? 0.0 : c * (1.0 + 0.1 * (cell % 7));
      tr.ov_contam_conc[c][cell] = conc;
      tr.ov_contam_mass[c][cell] = dry && cell % 7 == 0 ? 0.3 * c : conc * ov.ov_depth[cell] * area;
    }
  }
  tr.ov_con_clock.interval_seconds = step_seconds;
  tr.ov_con_clock.interval_days = step_seconds / seconds_per_day;
  tr.ov_con_clock.last = 0.0;
  tr.ov_con_clock.next = tr.ov_con_clock.interval_days;
  return ms;
}

// Four steps of the processes, each after a little infiltration (none on the last).
void run_steps(model_state& ms) {
  double* infiltrated = ms.subsurface.inf_depth_total.data();
  process_clock& clock = ms.transport.ov_con_clock;
  for (int step = 1; step <= 4; ++step) {
    if (step < 4)
      for (int cell = 1; cell <= cells; ++cell) infiltrated[cell] += 1e-5 * (1 + cell % 3);
    ms.current_time = clock.next;
    overland_contam_processes(ms);
    clock.last = clock.next;
    clock.next += clock.interval_days;
  }
}

// Everything the processes write: per cell and per constituent, then the books.
std::vector<double> end_state(const model_state& ms) {
  const transport_state& tr = ms.transport;
  const contam_tables& ct = tr.contam;
  std::vector<double> s;
  for (int c = 1; c <= constituents; ++c) {
    for (const raw_array2d<double>* t :
         {&tr.ov_contam_mass, &tr.ov_contam_conc, &tr.ov_land_mass, &ct.ov_precip_acc,
          &ct.ov_infil_acc, &ct.ov_exchange_acc, &ct.ov_decay_acc, &ct.soil_infil_mass})
      s.insert(s.end(), (*t)[c] + 1, (*t)[c] + 1 + cells);
    s.push_back(tr.ov_infil_dmt[c]);
  }
  s.insert(s.end(), ct.infil_seen.data() + 1, ct.infil_seen.data() + 1 + cells);
  s.insert(s.end(), ct.ov_infil_water.data() + 1, ct.ov_infil_water.data() + 1 + cells);
  return s;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(OverlandContamSteps, OneSweepAndSeparateSweepsOnAnyTeamGiveTheSameBits) {
  const int saved = omp_get_max_threads();
  const long long saved_share = process_info.cells_per_thread;
  process_info.cells_per_thread = 256;  // the blocks of this small plane on several threads
  struct variant {
    bool rising;
    int threads;
  };
  const variant variants[] = {{false, 1}, {true, 1}, {false, 3}, {true, 3}};
  std::vector<double> first;
  for (const variant& v : variants) {
    omp_set_num_threads(v.threads);
    auto ms = plane(v.rising);
    ASSERT_FALSE(run_error.error_fatal);
    ASSERT_EQ(exfiltration_exchanges(*ms), v.rising);
    run_steps(*ms);
    const std::vector<double> state = end_state(*ms);
    if (first.empty()) {
      first = state;
      // The case moves something: dried cells, a decay and an exchange were booked.
      EXPECT_GT(ms->transport.ov_infil_dmt[1], 0.0);
      EXPECT_NE(ms->transport.contam.ov_decay_acc[2][1], 0.0);
      EXPECT_NE(ms->transport.contam.ov_exchange_acc[3][2], 0.0);
    } else {
      EXPECT_TRUE(same_bits(state, first))
          << "rising water " << v.rising << ", " << v.threads << " threads";
    }
  }
  omp_set_num_threads(saved);
  process_info.cells_per_thread = saved_share;
}

TEST(OverlandContamSteps, CellsThatDryGiveTheSoilTheirWholeMassAndTheBooksHoldIt) {
  for (const bool rising : {false, true}) {
    auto ms = plane(rising);
    transport_state& tr = ms->transport;
    contam_tables& ct = tr.contam;
    // What the dry cells hold after the first step's rain, by hand: what they held (every
    // seventh) plus the rain's load; as they infiltrate, they give it all to the soil.
    const double area = ms->gridsize * ms->gridsize;
    std::vector<double> expected(constituents + 1, 0.0);
    for (int c = 1; c <= constituents; ++c)
      for (int cell = 5; cell <= cells; cell += 5)
        expected[c] += tr.ov_contam_mass[c][cell] +
                       ms->overland.rain_cell[cell] / 3.6e6 * tr.precip_conc[c] * area * 10.0;
    double* infiltrated = ms->subsurface.inf_depth_total.data();
    for (int cell = 1; cell <= cells; ++cell) infiltrated[cell] = 1e-5;
    ms->current_time = tr.ov_con_clock.next;
    overland_contam_processes(*ms);
    for (int c = 1; c <= constituents; ++c) {
      EXPECT_NEAR(tr.ov_infil_dmt[c], expected[c], 1e-12 * expected[c]) << c;
      for (int cell = 5; cell <= cells; cell += 5) {
        EXPECT_EQ(tr.ov_contam_mass[c][cell], 0.0);
        EXPECT_EQ(ct.ov_infil_acc[c][cell], 0.0);
      }
    }
  }
}

// The arrays of the net sources of a row of cells, filled so that every branch of a term is
// taken: terms of at most 1e-16 g that are skipped, exchange both ways, decay and infiltration
// larger than the mass (the cell left at 0 and the accumulator emptied), empty and full cells.
struct source_cells {
  int n = 0;
  std::vector<double> mass, conc, work_mass, work_conc, precip, exchange, decay, infil, uptake_soil,
      infil_soil, source;
  explicit source_cells(int cells) : n(cells) {
    for (std::vector<double>* a : {&mass, &conc, &work_mass, &work_conc, &precip, &exchange, &decay,
                                   &infil, &uptake_soil, &infil_soil, &source})
      a->assign(n + 1, 0.0);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto term = [&](double scale) {
      const double pick = unit(random);
      if (pick < 0.15) return pick < 0.07 ? 1e-17 : -1e-16;  // skipped
      if (pick < 0.3) return 50.0 * scale * unit(random);    // more than the cell holds
      return scale * unit(random);
    };
    for (int i = 1; i <= n; ++i) {
      mass[i] = unit(random) < 0.1 ? 0.0 : 20.0 * unit(random);
      conc[i] = 3.0 * unit(random);
      precip[i] = unit(random) < 0.2 ? 0.0 : unit(random);
      exchange[i] = (unit(random) < 0.5 ? -1.0 : 1.0) * term(2.0);
      decay[i] = term(1.0);
      infil[i] = term(3.0);
      uptake_soil[i] = unit(random) < 0.5 ? -0.0 : unit(random);
      infil_soil[i] = unit(random);
    }
  }
  ov_source_view view(double dt, double elapsed, bool soil, bool table, bool exchange_on,
                      bool copies) {
    ov_source_view v;
    v.dt = dt;
    v.kinetics_elapsed = elapsed;
    v.infil_elapsed = 2.0 * elapsed;
    v.soil = soil;
    v.table_terms = table;
    v.exchange_terms = exchange_on;
    v.mass = mass.data();
    v.conc = conc.data();
    if (copies) {
      v.work_mass = work_mass.data();
      v.work_conc = work_conc.data();
    }
    v.precip_acc = precip.data();
    v.exchange_acc = exchange.data();
    v.decay_acc = decay.data();
    v.infil_acc = infil.data();
    v.soil_uptake = soil ? uptake_soil.data() : nullptr;
    v.soil_infil = soil ? infil_soil.data() : nullptr;
    v.source = source.data();
    return v;
  }
  std::vector<double> all() const {
    std::vector<double> s;
    for (const std::vector<double>* a : {&work_mass, &work_conc, &precip, &exchange, &decay, &infil,
                                         &uptake_soil, &infil_soil, &source})
      s.insert(s.end(), a->begin() + 1, a->end());
    return s;
  }
};

// Over every kind of constituent (of the table: exchange and decay; a nutrient species: exchange
// only; neither), with and without the soil column and the passes' copies, with the gatherings
// pro-rated to a shorter step or taken whole, and over shares of the cells that cut the
// eight-cell chunks anywhere: every array and every sum of the vector kernel on each instruction
// set is the scalar kernel's bits.
TEST(OverlandContamSteps, VectorNetSourcesGiveTheScalarBitsOnEveryInstructionSet) {
  constexpr int n = 77;
  const std::vector<int> cuts = {1, 2, 9, 10, 17, 31, 32, 33, 60, n + 1};
  struct kind {
    bool table, exchange;
  };
  const kind kinds[] = {{true, true}, {false, true}, {false, false}};
  const source_cells fresh(n);
  int emptied = 0, skipped = 0, prorated_cases = 0;
  for (int i = 1; i <= n; ++i) skipped += std::fabs(fresh.decay[i]) <= 1e-16;
  for_every_vector_target([&](const std::string&) {
    for (const kind& k : kinds) {
      for (const bool soil : {false, true}) {
        for (const bool copies : {false, true}) {
          for (const double elapsed : {10.0, 10.4, 35.0}) {
            const double dt = 10.0;
            auto add_share = [](ov_source_applied& to, const ov_source_applied& part) {
              to.precip += part.precip;
              to.uptake += part.uptake;
              to.decay += part.decay;
              to.infil += part.infil;
            };
            source_cells scalar(n), wide(n);
            const ov_source_applied s = ov_sources_scalar(
                scalar.view(dt, elapsed, soil, k.table, k.exchange, copies), 1, n);
            ov_source_applied w;
            for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
              const ov_source_applied part =
                  ov_sources_wide(wide.view(dt, elapsed, soil, k.table, k.exchange, copies),
                                  cuts[c], cuts[c + 1] - 1);
              // The scalar kernel's sum over the same share, then added share by share.
              add_share(w, part);
            }
            ov_source_applied s_shares;
            source_cells again(n);
            for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
              const ov_source_applied part =
                  ov_sources_scalar(again.view(dt, elapsed, soil, k.table, k.exchange, copies),
                                    cuts[c], cuts[c + 1] - 1);
              add_share(s_shares, part);
            }
            const std::vector<double> a = scalar.all(), b = wide.all();
            EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(double)), 0)
                << "table " << k.table << " exchange " << k.exchange << " soil " << soil
                << " copies " << copies << " elapsed " << elapsed;
            const double sums_s[] = {s_shares.precip, s_shares.uptake, s_shares.decay,
                                     s_shares.infil};
            const double sums_w[] = {w.precip, w.uptake, w.decay, w.infil};
            EXPECT_EQ(std::memcmp(sums_s, sums_w, sizeof sums_s), 0) << "sums";
            // The whole row in one share: the same applied amounts to rounding.
            EXPECT_NEAR(s.infil, w.infil, 1e-9 * std::fabs(s.infil) + 1e-12);
            for (int i = 1; i <= n; ++i)
              emptied += fresh.infil[i] > 1e-16 && scalar.infil[i] == 0.0;
            prorated_cases += dt < elapsed - 0.5;
          }
        }
      }
    }
  });
  // The fixture reaches the branches: emptied and skipped terms, pro-rated gatherings.
  EXPECT_GT(emptied, 0);
  EXPECT_GT(skipped, 0);
  EXPECT_GT(prorated_cases, 0);
}

// A row of cells for the rain load and the infiltration mass: wet and dry cells, cells that
// have just dried with mass and infiltrated water (in runs, so that a chunk holds one or
// several), cells without rain on a dry last step (their depth stays 0), cells under the two
// kinds of lake.
struct rain_cells {
  int n = 0;
  std::vector<double> rain, mass, conc, rain_acc, prev, infil_acc, soil_infil, water, depth;
  std::vector<int> lake, olake;
  explicit rain_cells(int cells) : n(cells) {
    for (std::vector<double>* a :
         {&rain, &mass, &conc, &rain_acc, &prev, &infil_acc, &soil_infil, &water, &depth})
      a->assign(n + 1, 0.0);
    lake.assign(n + 1, 0);
    olake.assign(n + 1, 0);
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 1; i <= n; ++i) {
      const bool dried = (i / 3) % 4 == 0;
      rain[i] = unit(random) < 0.2 ? 0.0 : 40.0 * unit(random);
      mass[i] = unit(random) < 0.1 ? 0.0 : 5.0 * unit(random);
      conc[i] = 2.0 * unit(random);
      rain_acc[i] = unit(random);
      prev[i] = unit(random) < 0.2 ? 0.0 : 0.01 * unit(random);
      infil_acc[i] = unit(random);
      soil_infil[i] = unit(random);
      water[i] = unit(random) < 0.2 ? 0.0 : 0.1 * unit(random);
      // Barely wet at the bound: not dried.
      depth[i] = dried ? (i % 5 == 0 ? 1e-16 : 0.0) : 0.01 * unit(random);
      lake[i] = unit(random) < 0.1 ? 1 : 0;
      olake[i] = unit(random) < 0.1 ? 2 : 0;
    }
  }
  ov_rain_infil_view view(bool lakes, bool soil) {
    ov_rain_infil_view r;
    r.rain = rain.data();
    r.pc = 1.7;
    r.area = 100.0;
    r.rain_dt = 30.0;
    r.mass = mass.data();
    r.conc = conc.data();
    r.rain_acc = rain_acc.data();
    r.prev = prev.data();
    r.lake_cell = lakes ? lake.data() : nullptr;
    r.olake_cell = lakes ? olake.data() : nullptr;
    r.soil = soil;
    r.infil_acc = infil_acc.data();
    r.soil_infil = soil ? soil_infil.data() : nullptr;
    r.water = water.data();
    r.depth = depth.data();
    return r;
  }
  std::vector<double> all() const {
    std::vector<double> s;
    for (const std::vector<double>* a : {&mass, &conc, &rain_acc, &infil_acc, &soil_infil})
      s.insert(s.end(), a->begin() + 1, a->end());
    return s;
  }
};

// With and without rain, lakes and the soil column, over shares of the cells that cut the
// eight-cell chunks anywhere: the vector rain load and infiltration mass on each instruction set
// leave every cell and the dried mass's sum in the scalar kernel's bits.
TEST(OverlandContamSteps, VectorRainLoadAndInfiltrationGiveTheScalarBitsOnEveryInstructionSet) {
  constexpr int n = 83;
  const std::vector<int> cuts = {1, 2, 9, 10, 17, 31, 32, 33, 60, n + 1};
  const rain_cells before(n);
  double dried_seen = 0.0;
  int lake_cells_kept = 0;
  for_every_vector_target([&](const std::string&) {
    for (const bool raining : {false, true}) {
      for (const bool lakes : {false, true}) {
        for (const bool soil : {false, true}) {
          rain_cells scalar(n), wide(n);
          double dried_s = 0.0, dried_w = 0.0;
          for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
            const int first = cuts[c], last = cuts[c + 1] - 1;
            dried_s += ov_rain_infil_scalar(scalar.view(lakes, soil), raining, first, last,
                                            scalar.water.data() + first);
            dried_w += ov_rain_infil_wide(wide.view(lakes, soil), raining, first, last,
                                          wide.water.data() + first);
          }
          const std::vector<double> a = scalar.all(), b = wide.all();
          EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(double)), 0)
              << "raining " << raining << " lakes " << lakes << " soil " << soil;
          EXPECT_EQ(std::memcmp(&dried_s, &dried_w, sizeof dried_s), 0) << "dried mass";
          dried_seen += dried_s;
          for (int i = 1; i <= n; ++i)
            lake_cells_kept += raining && lakes && before.lake[i] > 0 && before.rain[i] > 0.0 &&
                               scalar.rain_acc[i] == before.rain_acc[i];
        }
      }
    }
  });
  // The fixture reaches the branches: cells that dried, lake cells the rain load passes by.
  EXPECT_GT(dried_seen, 0.0);
  EXPECT_GT(lake_cells_kept, 0);
}

}  // namespace test_overland_contam_steps_tests
