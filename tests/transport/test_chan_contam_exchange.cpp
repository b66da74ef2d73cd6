// The exchange of the channel constituents with the overland water that the stream cells' lateral
// water carries: entries that share a node or a grid cell change the masses in the order of the
// grid-stream table on any team, and the books take what every entry moved.
#include <gtest/gtest.h>
#include <omp.h>

#include <memory>

#include "framework/core/error_state.h"
#include "framework/core/process_info.h"
#include "framework/core/units.h"
#include "framework/model_state.h"
#include "transport/contaminants/chan_contam.h"
#include "transport/transport_steps.h"

namespace test_chan_contam_exchange_tests {

// Two links of 3 nodes (1 m2, 1 m long) holding 10 g/m3 of one constituent, three grid cells of
// 1 m2 under 1 m of water at 4, 2 and 1 g/m3, and the stream cells' entries (stream cell, entry:
// link, node, cell, lateral water m3):
//   1,1: 1,1, cell 1, +2   (the cell gives)      1,2: 1,2, cell 1, -1 (node 1,2 gives back)
//   2,1: 1,2, cell 2, -3   (node 1,2 gives back) 2,2: 2,1, cell 2, +1
//   3,1: 2,3, cell 3, +1.5
// The first four are bound through cell 1, node (1,2) and cell 2; the last stands alone.
std::unique_ptr<model_state> exchange_fixture() {
  auto ms = std::make_unique<model_state>();
  model_state& m = *ms;
  channel_state& ch = m.channel;
  transport_state& tr = m.transport;
  ch.chan_explic = 1;
  ch.chan_link_count = 2;
  for (auto* a : {&ch.ltype, &ch.nx, &ch.nx1, &ch.dslink, &ch.ndep}) a->allocate(2);
  ch.dx.allocate(2);
  ch.uslinks.allocate(2, 1);
  int counts[3] = {0, 3, 3};
  ch.area.allocate(2, counts);
  ch.area_old.allocate(2, counts);
  for (int l = 1; l <= 2; ++l) {
    ch.nx[l] = 3;
    ch.nx1[l] = 3;
    ch.dx[l] = 1.0;
    for (int j = 1; j <= 3; ++j) ch.area(l, j) = ch.area_old(l, j) = 1.0;
  }
  ch.dslink[1] = 2;
  tr.chan_con_trans = 1;
  tr.num_contaminants = 1;
  EXPECT_TRUE(tr.constituent_type.grow(1));
  tr.constituent_type[1] = 1;
  tr.init_chan_conc = 10.0;
  for (auto* a : {&tr.GLOBAL_MASS_INIT, &tr.OV_QLAT_MASS, &tr.event_ov_qlat_mass})
    EXPECT_TRUE(a->grow(1));
  m.cell_count = 3;
  m.gridsize = 1.0;
  alloc_1d_double(m.overland.ov_depth, 3, "depth");
  alloc_2d_double_named(1, 3, tr.ov_contam_mass, "mass");
  alloc_2d_double_named(1, 3, tr.ov_contam_conc, "conc");
  const double cell_conc[4] = {0.0, 4.0, 2.0, 1.0};
  for (int cell = 1; cell <= 3; ++cell) {
    m.overland.ov_depth[cell] = 1.0;
    tr.ov_contam_conc[1][cell] = tr.ov_contam_mass[1][cell] = cell_conc[cell];
  }
  ch.gst_stream_cells = 3;
  ch.gst_width = 2;
  alloc_1d_int(ch.gst_ncellsingrid, 3, "entries");
  alloc_2d_int_named(ch.gst_link, 3, 2, "link");
  alloc_2d_int_named(ch.gst_node, 3, 2, "node");
  alloc_2d_int_named(ch.gst_gnum, 3, 2, "cell");
  alloc_2d_double_named(3, 2, ch.gst_Vlat, "volume");
  struct entry {
    int s, e, link, node, cell;
    double v;
  };
  const entry entries[] = {{1, 1, 1, 1, 1, 2.0},
                           {1, 2, 1, 2, 1, -1.0},
                           {2, 1, 1, 2, 2, -3.0},
                           {2, 2, 2, 1, 2, 1.0},
                           {3, 1, 2, 3, 3, 1.5}};
  ch.gst_ncellsingrid[1] = ch.gst_ncellsingrid[2] = 2;
  ch.gst_ncellsingrid[3] = 1;
  for (const entry& x : entries) {
    ch.gst_link[x.s][x.e] = x.link;
    ch.gst_node[x.s][x.e] = x.node;
    ch.gst_gnum[x.s][x.e] = x.cell;
    ch.gst_Vlat[x.s][x.e] = x.v;
  }
  init_channel_contaminants(m);
  EXPECT_FALSE(run_error.error_fatal);
  m.current_time = 1.0 / seconds_per_day;
  return ms;
}

// By hand, entries in table order: cell 1 gives node (1,1) min(2 x 4, 4) = 4 g; node (1,2)
// (10 g) gives cell 1 min(1 x 10, 10) = 10 g and then cell 2 nothing; cell 2 (2 g) gives node
// (2,1) min(1 x 2, 2) = 2 g; cell 3 gives node (2,3) min(1.5 x 1, 1) = 1 g. Taken in another
// order (node (1,2) giving cell 2 first) the masses would differ.
TEST(ChanContamExchange, EntriesSharingANodeOrACellKeepTheTableOrderOnAnyTeam) {
  const int saved = omp_get_max_threads();
  const long long saved_share = process_info.cells_per_thread;
  process_info.cells_per_thread = 1;  // every entry could have its own thread
  for (const int threads : {1, 8}) {
    SCOPED_TRACE(threads);
    omp_set_num_threads(threads);
    run_error = error_state{};
    auto ms = exchange_fixture();
    ov_chan_contam_exchange(*ms);
    const transport_state& tr = ms->transport;
    const chan_contam_tables& cc = tr.chan_contam;
    const int stride = tr.con_node_stride;
    EXPECT_EQ(tr.ov_contam_mass[1][1], 10.0);
    EXPECT_EQ(tr.ov_contam_conc[1][1], 10.0);
    EXPECT_EQ(tr.ov_contam_mass[1][2], 0.0);
    EXPECT_EQ(tr.ov_contam_mass[1][3], 0.0);
    EXPECT_EQ(tr.chan_con_mass[1][1 * stride + 2], 0.0);
    EXPECT_EQ(cc.chan_qlat_mass[1][1 * stride + 1], 4.0);
    EXPECT_EQ(cc.chan_qlat_mass[1][2 * stride + 1], 2.0);
    EXPECT_EQ(cc.chan_qlat_mass[1][2 * stride + 3], 1.0);
    // Net to the stream: 4 - 10 - 0 + 2 + 1 = -3 g, booked in kg.
    EXPECT_DOUBLE_EQ(tr.OV_QLAT_MASS[1], -3.0 / 1000.0);
    EXPECT_DOUBLE_EQ(cc.qlat_total[1], -3.0 / 1000.0);
    // Every entry's water was handed over once.
    for (int s = 1; s <= 3; ++s)
      for (int e = 1; e <= ms->channel.gst_ncellsingrid[s]; ++e)
        EXPECT_EQ(ms->channel.gst_Vlat[s][e], 0.0);
  }
  omp_set_num_threads(saved);
  process_info.cells_per_thread = saved_share;
}

}  // namespace test_chan_contam_exchange_tests
