// The nutrient steps on a two-cell record: the pools release into standing water only, never
// more than they hold once what the water was given before is counted, and the soil step books
// what the water took up and what infiltrated into each species' own pool (a species without a
// pool keeps its mass in the layer's water), so that nitrogen and phosphorus are kept.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "framework/model_state.h"
#include "transport/transport_steps.h"

namespace {

constexpr int first = 3;  // two ordinary contaminants come first
constexpr int cells = 2;

std::unique_ptr<model_state> two_cells() {
  auto ms = std::make_unique<model_state>();
  ms->cell_count = cells;
  ms->gridsize = 10.0;
  ms->super_quiet = 1;
  transport_state& tr = ms->transport;
  tr.nutrients = 1;
  tr.soil_con_trans = 1;
  tr.num_contaminants = first + 12;
  tr.nsm = std::make_unique<nsm_model>();
  nsm_model& nsm = *tr.nsm;
  nsm.overland.first_constituent = first;
  nsm.soils.layer_count = 1;
  nsm.soils.pool.allocate(nsm_pool_count, cells, 1);
  nsm.soils.held.allocate(nsm_species_count, cells);
  contam_tables& ct = tr.contam;
  ct.soil_contam_layers = 1;
  ct.theta.allocate(cells, 1);
  for (raw_array2d<double>* t : {&ct.ov_exchange_acc, &ct.soil_uptake_mass, &ct.soil_infil_mass})
    t->allocate(tr.num_contaminants, cells);
  ms->overland.ov_depth.allocate(cells);
  ms->overland.ov_depth[1] = 0.02;  // cell 1 ponded, cell 2 dry
  return ms;
}

TEST(NsmSteps, PoolsReleaseIntoStandingWaterNeverMoreThanTheyHold) {
  auto ms = two_cells();
  nsm_soils& soils = ms->transport.nsm->soils;
  contam_tables& ct = ms->transport.contam;
  soils.exchange_rate = 1e-3;  // 1/s
  for (int cell = 1; cell <= cells; ++cell) {
    soils.pool[nsm_pool_nh4][cell][1] = 4.0;
    soils.pool[nsm_pool_solution_p][cell][1] = 2.0;
    soils.pool[nsm_pool_stable_n][cell][1] = 9.0;  // does not exchange
  }
  nsm_overland_step(*ms, 100.0);
  const double share = 1.0 - std::exp(-0.1);
  EXPECT_NEAR(ct.ov_exchange_acc[first + nsm_nh4 - 1][1], 4.0 * share, 1e-14);
  EXPECT_NEAR(ct.ov_exchange_acc[first + nsm_dp - 1][1], 2.0 * share, 1e-14);
  EXPECT_EQ(ct.ov_exchange_acc[first + nsm_nh4 - 1][2], 0.0);  // the dry cell
  for (int species = 1; species <= nsm_species_count; ++species) {
    if (species == nsm_nh4 || species == nsm_dp) continue;
    EXPECT_EQ(ct.ov_exchange_acc[first + species - 1][1], 0.0) << species;
  }
  // The pools are not touched by the release itself.
  EXPECT_EQ(soils.pool[nsm_pool_nh4][1][1], 4.0);

  // A release far beyond the pool, twice before the water takes anything: together they never
  // exceed what the pool holds, nor do they with what the water took up and the soil step has
  // not yet booked.
  soils.exchange_rate = 10.0;
  nsm_overland_step(*ms, 100.0);
  nsm_overland_step(*ms, 100.0);
  EXPECT_NEAR(ct.ov_exchange_acc[first + nsm_nh4 - 1][1], 4.0, 1e-14);
  ct.ov_exchange_acc[first + nsm_nh4 - 1][1] = 0.0;
  ct.soil_uptake_mass[first + nsm_nh4 - 1][1] = 4.0;  // applied to the water, not yet booked
  nsm_overland_step(*ms, 100.0);
  EXPECT_EQ(ct.ov_exchange_acc[first + nsm_nh4 - 1][1], 0.0);
}

TEST(NsmSteps, TheSoilStepBooksEachSpeciesIntoItsOwnPool) {
  auto ms = two_cells();
  nsm_soils& soils = ms->transport.nsm->soils;
  contam_tables& ct = ms->transport.contam;
  soils.pool[nsm_pool_no3][1][1] = 5.0;
  soils.pool[nsm_pool_active_p][1][1] = 3.0;
  // The water took 1 g of NO3 and 0.5 g of OP from cell 1, and 2 g of NO3, 0.25 g of NO2 and
  // 0.75 g of DO infiltrated there.
  auto row = [&](raw_array2d<double>& t, int species) { return t[first + species - 1]; };
  row(ct.soil_uptake_mass, nsm_no3)[1] = 1.0;
  row(ct.soil_uptake_mass, nsm_op)[1] = 0.5;
  row(ct.soil_infil_mass, nsm_no3)[1] = 2.0;
  row(ct.soil_infil_mass, nsm_no2)[1] = 0.25;
  row(ct.soil_infil_mass, nsm_do)[1] = 0.75;
  nsm_soil_step(*ms);
  EXPECT_DOUBLE_EQ(soils.pool[nsm_pool_no3][1][1], 6.0);
  EXPECT_DOUBLE_EQ(soils.pool[nsm_pool_active_p][1][1], 2.5);
  // Species without a pool keep their mass in the layer's water; no other pool changes (the
  // carbon pools 1 and 2 share the numbers of NO2 and NO3 on the soil side).
  EXPECT_DOUBLE_EQ(soils.held[nsm_no2][1], 0.25);
  EXPECT_DOUBLE_EQ(soils.held[nsm_do][1], 0.75);
  for (int p : {nsm_pool_active_c, nsm_pool_stable_c, nsm_pool_nh4, nsm_pool_stable_p})
    EXPECT_EQ(soils.pool[p][1][1], 0.0) << p;
  EXPECT_DOUBLE_EQ(soils.species_in[nsm_no3], 2.0);
  EXPECT_DOUBLE_EQ(soils.species_out[nsm_op], 0.5);
  // What was booked is cleared.
  EXPECT_EQ(row(ct.soil_uptake_mass, nsm_no3)[1], 0.0);
  EXPECT_EQ(row(ct.soil_infil_mass, nsm_no2)[1], 0.0);
}

}  // namespace

// The channel lakes' un-ionised ammonia comes from each lake's own NH4 and water, by the
// equilibrium NH3 / NH4+ = Ka / [H+] in moles at the water temperature and pH of the cards,
// computed here by hand: a lake of 50 m3 holding 100 g of NH4 gets it; one whose ammonium is 5e-8
// mol/m3 (enough in a stream) and one of 5e-5 m3 of water get none. Each lake's totals add up its
// own species and NH3.
TEST(NsmSteps, LakesCountAmmoniaFromTheirOwnWaterAndAddUpTheirSpecies) {
  auto ms = two_cells();
  transport_state& tr = ms->transport;
  channel_state& ch = ms->channel;
  constexpr int lakes = 3;
  tr.chan_con_trans = 1;
  ms->perennial_lakes = 1;
  ms->cards.water_temp = 15.0;
  ms->cards.chan_ph = 7.0;
  ch.num_lakes = lakes;
  ch.lake_volume.allocate(lakes);
  tr.lake_mass.allocate(tr.num_contaminants, lakes);
  tr.chan_contam.lake_conc.allocate(tr.num_contaminants, lakes);
  nsm_lakes_alloc(*ms);
  const struct {
    double volume;  // m3
    double nh4;     // g
  } lake[lakes] = {{50.0, 100.0}, {50.0, 5e-8 * 18.039 * 50.0}, {5e-5, 100.0}};
  auto mass = [&](int species, int l) -> double& { return tr.lake_mass[first + species - 1][l]; };
  for (int l = 1; l <= lakes; ++l) {
    ch.lake_volume[l] = lake[l - 1].volume;
    mass(nsm_no2, l) = 1.0 * l;
    mass(nsm_no3, l) = 20.0 * l;
    mass(nsm_nh4, l) = lake[l - 1].nh4;
    mass(nsm_on, l) = 7.0 * l;
    mass(nsm_op, l) = 3.0 * l;
    mass(nsm_dp, l) = 0.5 * l;
    mass(nsm_alg, l) = 1000.0;  // neither nitrogen nor phosphorus
  }
  nsm_lakes_results(*ms);
  const nsm_lakes& lk = ms->transport.nsm->lakes;
  ASSERT_EQ(lk.lake_count, lakes);
  const double ka = std::pow(10.0, -(0.09018 + 2729.92 / (15.0 + 273.15)));
  const double nh3[lakes] = {100.0 / 18.039 / 50.0 * ka / 1e-7 * 17.031 * 50.0, 0.0, 0.0};
  for (int l = 1; l <= lakes; ++l) {
    SCOPED_TRACE(l);
    EXPECT_NEAR(lk.nh3[l], nh3[l - 1], 1e-12 * nh3[0]);
    const double kn = lake[l - 1].nh4 + 7.0 * l + nh3[l - 1];
    EXPECT_NEAR(lk.total_kn[l], kn, 1e-12 * kn);
    EXPECT_NEAR(lk.total_n[l], 21.0 * l + kn, 1e-12 * kn);
    EXPECT_NEAR(lk.total_p[l], 3.5 * l, 1e-12);
    EXPECT_EQ(lk.mass[nsm_no3][l], 20.0 * l);  // the lake sources of the channel outputs
  }
  EXPECT_GT(nh3[0], 0.1);
}
