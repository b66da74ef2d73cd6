// Seepage between channels and the aquifer: the width across the bed of the three section kinds,
// the stream-bed flux of one entry for every position of the water table, and the lake-bed
// seepage of one cell, each checked against a hand computation.
#include <gtest/gtest.h>

#include <cmath>

#include "channel/channel_gw_exchange.h"

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

}  // namespace
