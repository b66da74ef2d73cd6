// Seepage between channels and the aquifer: the width across the bed of the three section kinds,
// the stream-bed flux of one entry for every position of the water table, and the lake-bed
// seepage of one cell, each checked against a hand computation; the pass over the grid-stream
// table of a network, its node fluxes and its status.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "channel/channel_gw_exchange.h"
#include "channel/channel_steps.h"
#include "channel_fixture.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "support/test_support.h"

namespace {

TEST(ChannelGwExchange, TheWidthAcrossTheBedFollowsTheSection) {
  seepage_section trapezoid;
  trapezoid.bottom = 2.0;
  trapezoid.side_slope = 1.0;
  seepage_section compound = trapezoid;
  compound.kind = 16;
  compound.flood_slope = 3.0;
  compound.bankfull = 1.0;
  const double widths[] = {0.0, 2.0, 4.0, 8.0};  // levels 1..3 every 0.5 m
  seepage_section table;
  table.kind = 8;
  table.widths = widths;
  table.levels = 3;
  table.spacing = 0.5;
  struct width_case {
    const seepage_section* s;
    double depth;
    double width;
  };
  const width_case cases[] = {
      {&trapezoid, 0.5, 3.0},
      {&compound, 0.5, 3.0},                           // below bank-full: the trapezoid
      {&compound, 2.0, 2.0 + 4.0 + 2.0 * 1.0 * 3.0},   // the flood plain's slope above it
      {&table, 0.25, 2.0 * std::pow(0.5, 5.0 / 3.0)},  // below the first level
      {&table, 0.75, 3.0},                             // between levels 1 and 2
      {&table, 1.5, 8.0},                              // the top level
      {&table, 2.0, 12.0},                             // above it: the top interval goes on
  };
  for (const width_case& c : cases)
    EXPECT_NEAR(seepage_width(*c.s, c.depth), c.width, 1e-12) << c.s->kind << " " << c.depth;
}

TEST(ChannelGwExchange, TheStreamBedFluxFollowsTheWaterTable) {
  seepage_section s;
  s.bottom = 2.0;
  s.side_slope = 1.0;                    // w(d) = 2 + 2 d
  const double k = 0.36 / 3600.0 / 0.5;  // bed conductivity 0.36 m/h over a bed of 0.5 m
  struct flux_case {
    bool water_table;
    double depth, head, aquifer_bottom;
    double flux;  // m2/s, positive into the channel
    const char* what;
  };
  const flux_case cases[] = {
      {false, 0.5, 0.0, 0.0, -0.5 * k * 3.0, "no table: a wet node loses y k w"},
      {false, 1e-17, 0.0, 0.0, 0.0, "no table: a dry node"},
      {true, 0.5, 95.0, 0.0, -0.5 * k * 3.0, "head below the bed: the channel depth drives"},
      {true, 0.5, 50.0, 0.0, -0.5 * k * 3.0, "however deep the table lies"},
      {true, 1e-7, 95.0, 0.0, 0.0, "head below the bed, a nearly dry node"},
      {true, 0.5, 101.0, 90.0, k * 0.5 * 4.0, "head above the surface: width at H - B"},
      {true, 0.5, 100.2, 90.0, k * -0.3 * 3.0, "head between bed and surface"},
      {true, 0.5, 101.0, 100.995, 0.0, "head above the surface over a drained aquifer"},
      {true, 0.5, 103.0, 90.0, k * 2.5 * 8.0, "head above the ground"},
  };
  for (const flux_case& c : cases) {
    bed_seepage_point p;
    p.depth = c.depth;
    p.bed = 100.0;
    p.head = c.head;
    p.aquifer_bottom = c.aquifer_bottom;
    p.ground = 102.0;
    p.conductivity = 0.36;
    p.thickness = 0.5;
    EXPECT_NEAR(stream_bed_flux(p, s, c.water_table), c.flux, 1e-15) << c.what;
  }
}

TEST(ChannelGwExchange, TheLakeBedSeepageFollowsTheWaterTableAndTheBoundaryType) {
  const double rate = 1e-6 / 0.5 * 10.0;  // K / t x G
  struct lake_case {
    bool water_table, groundwater;
    double level, head;
    int code;
    bool set;
    double seepage;
    const char* what;
  };
  const lake_case cases[] = {
      {false, false, 102.0, 0.0, 0, true, -2.0 * rate, "no table: the lake depth drives"},
      {false, false, 100.0, 0.0, 0, false, 0.0, "no table, no water over the cell"},
      {true, true, 102.0, 99.0, 7, true, -2.0 * rate, "table below the ground"},
      {true, true, 102.0, 101.0, 7, true, -1.0 * rate, "table above the ground, below the lake"},
      {true, true, 102.0, 103.0, 7, true, 1.0 * rate, "table above the lake: it gains"},
      {true, true, 102.0, 103.0, 1, false, 0.0, "simulated aquifer, a cell of another type"},
      {true, false, 102.0, 103.0, 1, true, 1.0 * rate, "table without simulation"},
  };
  for (const lake_case& c : cases) {
    lake_bed_cell cell;
    cell.lake_level = c.level;
    cell.ground = 100.0;
    cell.conductivity = 1e-6;
    cell.thickness_cm = 50.0;
    cell.gridsize = 10.0;
    cell.head = c.head;
    cell.aquifer_bottom = 90.0;
    cell.code = c.code;
    double s = 123.0;
    EXPECT_EQ(lake_bed_seepage(cell, c.water_table, c.groundwater, s), c.set) << c.what;
    EXPECT_NEAR(s, c.set ? c.seepage : 123.0, 1e-18) << c.what;
  }
}

// The three-link network of the channel fixture with a bed of 0.36 m/h over 0.5 m under every
// node and water 0.5 m deep in link 1 (trapezoid, bottom 2 m, side slope 1: w(d) = 2 + 2 d).
// Link 1 node 1 lies in cell 1 and node 2 in cell 4, each entry with its whole share.
TEST(ChannelGwExchange, ThePassGivesEachNodeItsEntriesFluxAndTheStatus) {
  torva_test::process_state_guard guard;
  torva_test::temp_dir dir;
  auto ms = std::make_unique<model_state>();
  torva_test::set_channel_watershed(*ms);
  ms->cards.k_river = 0.36;
  ms->cards.m_river = 0.5;
  ms->channel.stream_loss = 1;
  torva_test::open_channel_network(*ms, dir);
  torva_test::stdout_capture setup_out;
  setup_channel_network(*ms);
  const std::string printed = setup_out.stop();
  ASSERT_EQ(run_error.error_code, 0) << printed;
  channel_state& ch = ms->channel;
  ASSERT_FALSE(ch.qriv.empty());
  for (int node = 1; node <= ch.nx[1]; ++node) ch.chan_depth(1, node) = 0.5;
  const double k = 0.36 / 3600.0 / 0.5;
  const double loss = -0.5 * k * 3.0;

  // No water table: every wet node loses, none gains: status 2.
  EXPECT_EQ(chan_gw_exchange(*ms, nullptr, false), 2);
  EXPECT_NEAR(ch.qriv(1, 1), loss, 1e-15);
  EXPECT_NEAR(ch.qriv(1, 2), loss, 1e-15);
  EXPECT_EQ(ch.qriv(2, 1), 0.0);  // a dry node
  EXPECT_NEAR(ch.gst_qriv[1][1], loss, 1e-15);

  // A water table 1 m above the bed of link 1 node 1 (0.5 m above its water) feeds that node
  // over the width at 1 m; the table far below node 2 leaves it losing: status 1.
  subsurface_state& ss = ms->subsurface;
  ss.water_table_on = 1;
  ss.elevgw.allocate(9);
  ss.bottom_elev.allocate(9);
  for (int c = 1; c <= 9; ++c) ss.elevgw[c] = 50.0;
  ss.elevgw[1] = ch.bel(1, 1) + 1.0;
  EXPECT_EQ(chan_gw_exchange(*ms, nullptr, false), 1);
  EXPECT_NEAR(ch.qriv(1, 1), k * 0.5 * 4.0, 1e-15);
  EXPECT_NEAR(ch.qriv(1, 2), loss, 1e-15);

  // Everything dry: no exchange at all.
  for (int node = 1; node <= ch.nx[1]; ++node) ch.chan_depth(1, node) = 0.0;
  ss.water_table_on = 0;
  EXPECT_EQ(chan_gw_exchange(*ms, nullptr, false), 0);
  EXPECT_EQ(ch.qriv(1, 1), 0.0);
}

}  // namespace
