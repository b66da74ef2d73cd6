// The channel sediment pass on a small network built in the test: one erodible trapezoidal link
// of three nodes whose first node is dry. Sediment a stream cell hands to the dry node stays on
// the books (the node keeps its sand and its wash load), and an untouched bed stock leaves the
// bed where it was. A structure between two links passes the wash load and the sand on whole.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "transport/transport_steps.h"

namespace {

class ChannelSediment : public testing::Test {
 protected:
  void SetUp() override {
    run_error = error_state{};
    ms_ = std::make_unique<model_state>();
    model_state& ms = *ms_;
    ms.cell_count = 3;
    channel_state& ch = ms.channel;
    ch.chan_link_count = 1;
    ASSERT_TRUE(ch.ltype.allocate(1) && ch.nx.allocate(1) && ch.dx.allocate(1) &&
                ch.dslink.allocate(1) && ch.ndep.allocate(1) && ch.uslinks.allocate(1, 1));
    ch.ltype[1] = 2 | 4;
    ch.nx[1] = 3;
    ch.dx[1] = 20.0;
    for (link_node_array<double>* a :
         {&ch.bel, &ch.bottom, &ch.sslope, &ch.max_eros, &ch.qp, &ch.chan_depth, &ch.area, &ch.yp,
          &ch.conv, &ch.topw, &ch.dconv})
      ASSERT_TRUE(a->allocate(1, ch.nx.data()));
    ASSERT_TRUE(ch.link_inv_n.allocate(1));
    ch.link_inv_n[1] = 1.0 / 0.035;
    for (int j = 1; j <= 3; ++j) {
      ch.bel(1, j) = 10.0 - 0.1 * j;
      ch.bottom(1, j) = 2.0;
      ch.sslope(1, j) = 1.0;
      ch.max_eros(1, j) = 0.5;
    }
    // The stream cell of node 1 (grid cell 2) holds suspended silt and sand.
    ch.gst_stream_cells = 1;
    ASSERT_TRUE(ch.gst_ncellsingrid.allocate(1) && ch.gst_link.allocate(1, 1) &&
                ch.gst_node.allocate(1, 1) && ch.gst_gnum.allocate(1, 1));
    ch.gst_ncellsingrid[1] = 1;
    ch.gst_link[1][1] = 1;
    ch.gst_node[1][1] = 1;
    ch.gst_gnum[1][1] = 2;

    transport_state& tr = ms.transport;
    tr.chan_sediment = 1;
    tr.sediment.soil_erosion = 1;
    tr.sediment.sed_constituents = 1;
    tr.sediment.sand_size = 0.0625;
    tr.sediment.sed_porosity = 0.4;
    tr.sediment.kin_viscosity = 1e-6;
    tr.sediment.num_sed_classes = 2;
    tr.num_fine_classes = 1;
    tr.num_sand_classes = 1;
    tr.ov_sed = std::make_unique<ov_sediment_obj>();
    ov_sediment_obj& s = *tr.ov_sed;
    s.num_sed_classes = 2;
    ASSERT_TRUE(s.sand.allocate(2) && s.sed_class.allocate(2) && s.particle_density.allocate(2) &&
                s.channel_cells.allocate(3) && s.vol_sed.allocate(3, 2, 4));
    s.sand[2] = 1;
    s.sed_class[1] = 1;
    s.sed_class[2] = 2;
    s.particle_density[1] = s.particle_density[2] = 2.65e6;
    s.vol_sed[2][1][2] = 0.3;  // silt in suspension
    s.vol_sed[2][2][3] = 0.5;  // sand in the loose deposit
    tr.sediment.adjust_channel_bed = adjust_bed_;
    alloc_channel_sediment(ms);
    ASSERT_EQ(run_error.error_code, 0);
  }

  std::unique_ptr<model_state> ms_;
  int adjust_bed_ = 0;
};

// The same network with ADJUST_CHANNEL_BED: the channel's beds follow the sand.
class ChannelSedimentAdjustedBed : public ChannelSediment {
 protected:
  void SetUp() override {
    adjust_bed_ = 1;
    ChannelSediment::SetUp();
  }
};

TEST_F(ChannelSediment, ADryNodeKeepsWhatItIsHandedAndAnUntouchedBedStaysInPlace) {
  model_state& ms = *ms_;
  transport_state& tr = ms.transport;
  const long node1 = static_cast<long>(1) * tr.sed_node_stride + 1;
  const double stock = 0.6 * 0.5 * 2.0 * 20.0;  // (1 - porosity) x erodible depth x width x dx
  EXPECT_DOUBLE_EQ(tr.init_chan_sand_vol, 3.0 * stock);
  EXPECT_EQ(ms.transport.ov_sed->channel_cells[2], 1);
  // All three nodes dry: the whole channel holds no water in this step.
  channel_sediment_step(ms, 10.0);
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_DOUBLE_EQ(tr.sed_to_chan[1], 0.3);
  EXPECT_DOUBLE_EQ(tr.sed_to_chan[2], 0.5);
  EXPECT_DOUBLE_EQ(tr.ch_sand_vol[node1][1], 0.5);  // the sand, as mobile sand of its class
  EXPECT_DOUBLE_EQ(tr.ch_wash_vol[node1][1], 0.3);  // the silt, held at concentration 0
  EXPECT_EQ(tr.chan_sed_conc[node1][1], 0.0);
  EXPECT_EQ(ms.transport.ov_sed->vol_sed[2][1][2], 0.0);
  EXPECT_EQ(ms.transport.ov_sed->vol_sed[2][2][3], 0.0);
  // Nothing left the network and nothing was lost.
  EXPECT_EQ(tr.sand_out[2], 0.0);
  EXPECT_EQ(tr.wash_out[1], 0.0);
  double sand = 0.0;
  for (int j = 1; j <= 3; ++j) sand += tr.ch_sand_vol[static_cast<long>(tr.sed_node_stride) + j][0];
  EXPECT_DOUBLE_EQ(sand, 3.0 * stock + 0.5);
  // The beds: nodes 2 and 3 untouched stay where they were; node 1 rises by a layer of 0.5 m3
  // of sand with its pores over 20 m of a trapezoid 2 m wide with 1:1 banks:
  // 2 d + d^2 = 0.5 / 20 / 0.6.
  const double area = 0.5 / 20.0 / 0.6;
  const double rise = -1.0 + std::sqrt(1.0 + area);
  EXPECT_NEAR(ms.channel.new_bel(1, 1), ms.channel.bel(1, 1) + rise, 1e-12);
  EXPECT_EQ(ms.channel.new_bel(1, 2), ms.channel.bel(1, 2));
  EXPECT_EQ(ms.channel.new_bel(1, 3), ms.channel.bel(1, 3));
}

// Node 1 holds still water (0.5 m2 of flow area, no discharge: the flow moves no sand) and
// takes 0.5 m3 of sand from its stream cell. The bed rises by d, the depth of a layer of
// 0.5 / 20 / 0.6 m2 in the trapezoid 2 m wide with 1:1 banks (d^2 + 2 d = that area); the
// section above it is a trapezoid 2 + 2 d wide at the bottom; the node keeps its water, whose
// depth y now solves y^2 + (2 + 2 d) y = 0.5, and its surface stands at the new bed plus y.
TEST_F(ChannelSedimentAdjustedBed, ARaisedBedNarrowsTheSectionAndLiftsTheWaterAboveIt) {
  model_state& ms = *ms_;
  channel_state& ch = ms.channel;
  ch.area(1, 1) = 0.5;
  ch.chan_depth(1, 1) = 0.2;
  ch.yp(1, 1) = ch.bel(1, 1) + 0.2;
  const double bed0 = ch.bel(1, 1);
  channel_sediment_step(ms, 10.0);
  ASSERT_EQ(run_error.error_code, 0);
  const double d = -1.0 + std::sqrt(1.0 + 0.5 / 20.0 / 0.6);
  const double b = 2.0 + 2.0 * d;
  const double y = 0.5 * (-b + std::sqrt(b * b + 4.0 * 0.5));
  EXPECT_NEAR(ch.bel(1, 1), bed0 + d, 1e-12);
  EXPECT_EQ(ch.bel(1, 1), ch.new_bel(1, 1));
  EXPECT_NEAR(ch.bottom(1, 1), b, 1e-12);
  EXPECT_EQ(ch.area(1, 1), 0.5);
  EXPECT_NEAR(ch.chan_depth(1, 1), y, 1e-12);
  EXPECT_NEAR(ch.yp(1, 1), bed0 + d + y, 1e-12);
  // The untouched nodes keep their beds and sections.
  for (int j = 2; j <= 3; ++j) {
    EXPECT_EQ(ch.bel(1, j), 10.0 - 0.1 * j);
    EXPECT_EQ(ch.bottom(1, j), 2.0);
  }
  // A second step on the raised bed measures the bed from the start-up section: the same sand
  // gives the same bed, not a second rise.
  channel_sediment_step(ms, 10.0);
  EXPECT_NEAR(ch.bel(1, 1), bed0 + d, 1e-12);
  EXPECT_NEAR(ch.bottom(1, 1), b, 1e-12);
}

// Three links in a row, the middle one a hydraulic structure: 1 m3/s through nodes of 1 m2 and
// 20 m (20 m3 of water each) over a step of 10 s. What leaves the last node of the link above
// the structure arrives, whole, at the first node of the link below it.
TEST(ChannelSedimentStructure, AStructurePassesWashLoadAndSandToTheLinkBelow) {
  run_error = error_state{};
  auto owner = std::make_unique<model_state>();
  model_state& ms = *owner;
  ms.cell_count = 1;
  channel_state& ch = ms.channel;
  ch.chan_link_count = 3;
  ASSERT_TRUE(ch.ltype.allocate(3) && ch.nx.allocate(3) && ch.dx.allocate(3) &&
              ch.dslink.allocate(3) && ch.ndep.allocate(3) && ch.uslinks.allocate(3, 1));
  const int types[] = {0, 2 | 4, 64, 2 | 4};
  for (int l = 1; l <= 3; ++l) {
    ch.ltype[l] = types[l];
    ch.nx[l] = 2;
    ch.dx[l] = 20.0;
    ch.dslink[l] = l < 3 ? l + 1 : 0;
  }
  for (link_node_array<double>* a :
       {&ch.bel, &ch.bottom, &ch.sslope, &ch.max_eros, &ch.qp, &ch.chan_depth, &ch.area})
    ASSERT_TRUE(a->allocate(3, ch.nx.data()));
  for (int l = 1; l <= 3; ++l)
    for (int j = 1; j <= 2; ++j) {
      ch.bel(l, j) = 10.0 - 0.5 * (2 * (l - 1) + j);  // a steep bed: the flow moves sand
      ch.bottom(l, j) = 1.0;
      ch.max_eros(l, j) = 0.2;
      ch.qp(l, j) = 1.0;
      ch.chan_depth(l, j) = 1.0;
      ch.area(l, j) = 1.0;
    }
  transport_state& tr = ms.transport;
  tr.chan_sediment = 1;
  tr.sediment.soil_erosion = 1;
  tr.sediment.sed_constituents = 1;
  tr.sediment.sand_size = 0.3;
  tr.sediment.sed_porosity = 0.4;
  tr.sediment.kin_viscosity = 1e-6;
  tr.sediment.num_sed_classes = 2;
  tr.num_fine_classes = 1;
  tr.num_sand_classes = 1;
  tr.ov_sed = std::make_unique<ov_sediment_obj>();
  ov_sediment_obj& s = *tr.ov_sed;
  s.num_sed_classes = 2;
  ASSERT_TRUE(s.sand.allocate(2) && s.sed_class.allocate(2) && s.particle_density.allocate(2) &&
              s.channel_cells.allocate(1) && s.vol_sed.allocate(1, 2, 4));
  s.sand[2] = 1;
  s.sed_class[1] = 1;
  s.sed_class[2] = 2;
  s.particle_density[1] = s.particle_density[2] = 2.65e6;
  alloc_channel_sediment(ms);
  ASSERT_EQ(run_error.error_code, 0);
  auto row = [&](int l, int j) { return static_cast<long>(l) * tr.sed_node_stride + j; };
  tr.ch_wash_vol[row(1, 2)][1] = 0.2;  // 0.01 of the node's water
  double sand_before = 0.0;
  for (int l : {1, 3})
    for (int j = 1; j <= 2; ++j) sand_before += tr.ch_sand_vol[row(l, j)][0];
  channel_sediment_step(ms, 10.0);
  ASSERT_EQ(run_error.error_code, 0);
  // Wash load by hand: the predictor carries 0.01 x 10 m3 = 0.1 out of node (1,2) into (3,1);
  // the corrector, from the predicted 0.1 left (concentration 0.005), carries 0.05 out of (1,2)
  // and 0.005 x 10 = 0.05 out of (3,1): averaged, 0.075 past the structure. Node (3,1) held
  // nothing at the start of the step, so the 0.025 the average asks of it is cut to 0: a node
  // passes on in the next step what it received in this one.
  EXPECT_NEAR(tr.ch_wash_vol[row(1, 2)][1], 0.125, 1e-15);
  EXPECT_NEAR(tr.ch_wash_vol[row(3, 1)][1], 0.075, 1e-15);
  EXPECT_EQ(tr.ch_wash_vol[row(3, 2)][1], 0.0);
  EXPECT_EQ(tr.wash_out[1], 0.0);
  // Sand: what node (1,2) gave went to node (3,1); the network kept it all but what left the
  // outlet node.
  const double gave = tr.qsmax[row(1, 2)][2] * 10.0 + tr.qsmax[row(1, 2)][3] * 10.0;
  ASSERT_GT(gave, 0.0);
  double sand_after = 0.0;
  for (int l : {1, 3})
    for (int j = 1; j <= 2; ++j) sand_after += tr.ch_sand_vol[row(l, j)][0];
  EXPECT_NEAR(sand_after + tr.sand_out[2], sand_before, 1e-12);
  const double gave_3_1 = (tr.qsmax[row(3, 1)][2] + tr.qsmax[row(3, 1)][3]) * 10.0;
  const double stock = 0.6 * 0.2 * 1.0 * 20.0;
  // Node (3,1) holds its stock plus what came past the structure less what it gave.
  EXPECT_NEAR(tr.ch_sand_vol[row(3, 1)][0], stock + gave - gave_3_1, 1e-12);
}

}  // namespace
