// The channel lakes' event books: the terms of an event are the run totals' change since the
// event's start, its initial mass the lakes' stock then (with the overland hand-over waiting),
// and the balance error shows a change no term explains.
#include <gtest/gtest.h>

#include "framework/model_state.h"
#include "transport/contaminants/lake_event_books.h"
#include "transport/transport_steps.h"

namespace {

// One constituent in two lakes, the run's books already holding an earlier event's figures.
void two_lakes_run(model_state& ms) {
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  tr.num_contaminants = 1;
  cc.ready = 1;
  cc.lakes = 2;
  alloc_2d_double_named(1, 2, tr.lake_mass, "lake_mass");
  alloc_2d_double_named(1, 2, cc.lake_ov_inflow_mass, "lake_ov_inflow_mass");
  alloc_2d_double_named(1, lake_event_term_count, cc.lake_event_start, "lake_event_start");
  for (raw_array1d<double>* a :
       {&cc.lake_from_chan, &cc.lake_to_chan, &cc.lake_out_total, &cc.lake_ov_total,
        &cc.lake_precip_total, &cc.lake_decay_total, &cc.lake_nodes_total, &cc.lake_restored,
        &cc.lake_pump_total, &cc.lake_bed_out_total, &cc.lake_bed_in_total}) {
    alloc_1d_double(*a, 1, "lake totals");
    (*a)[1] = 7.0;  // kg booked before this event
  }
  tr.lake_mass[1][1] = 30000.0;  // g
  tr.lake_mass[1][2] = 10000.0;
  cc.lake_ov_inflow_mass[1][2] = 2000.0;  // g waiting to be applied
}

}  // namespace

TEST(LakeEventBooks, TheEventTermsAreTheChangeSinceTheEventStartAndCloseTheBooks) {
  model_state ms;
  two_lakes_run(ms);
  transport_state& tr = ms.transport;
  chan_contam_tables& cc = tr.chan_contam;
  lake_contam_event_snapshot(ms);
  // Over the event (kg): 5 rain, 3 from the links, 1 net over the shores (the 2 waiting at the
  // start are applied with 1 more: the booked total grows by 3 and nothing waits now), 4 up
  // through the beds, 6 taken by the pumps, 2 down through the beds, 1.5 to the links below,
  // 0.5 out of the network, 2.5 decayed.
  cc.lake_precip_total[1] += 5.0;
  cc.lake_from_chan[1] += 3.0;
  cc.lake_ov_total[1] += 3.0;
  cc.lake_ov_inflow_mass[1][2] = 0.0;
  cc.lake_bed_in_total[1] += 4.0;
  cc.lake_pump_total[1] += 6.0;
  cc.lake_bed_out_total[1] += 2.0;
  cc.lake_to_chan[1] += 1.5;
  cc.lake_out_total[1] += 0.5;
  cc.lake_decay_total[1] += 2.5;
  // 42 kg at the start (40 held, 2 waiting); in 5 + 3 + 1 + 4 = 13, out 6 + 2 + 1.5 + 0.5 + 2.5
  // = 12.5: 42.5 kg at the end.
  tr.lake_mass[1][1] = 32000.0;
  tr.lake_mass[1][2] = 10500.0;
  lake_event_books b = lake_contam_event(ms, 1);
  EXPECT_DOUBLE_EQ(b.init, 42.0);
  EXPECT_DOUBLE_EQ(b.final_mass, 42.5);
  EXPECT_DOUBLE_EQ(b.precip, 5.0);
  EXPECT_DOUBLE_EQ(b.from_chan, 3.0);
  EXPECT_DOUBLE_EQ(b.ov, 1.0);
  EXPECT_DOUBLE_EQ(b.bed, 2.0);
  EXPECT_DOUBLE_EQ(b.pump, 6.0);
  EXPECT_DOUBLE_EQ(b.outflow, 2.0);
  EXPECT_DOUBLE_EQ(b.decay, 2.5);
  EXPECT_DOUBLE_EQ(b.nodes, 0.0);
  EXPECT_DOUBLE_EQ(b.restored, 0.0);
  EXPECT_FALSE(b.bound);
  EXPECT_NEAR(b.error, 0.0, 1e-12);
  // A kilogram the books do not explain shows as its share of what came in (55 kg).
  tr.lake_mass[1][1] -= 1000.0;
  b = lake_contam_event(ms, 1);
  EXPECT_NEAR(b.error, 1.0 / 55.0 * 100.0, 1e-9);
  // The next event starts from here.
  lake_contam_event_snapshot(ms);
  b = lake_contam_event(ms, 1);
  EXPECT_DOUBLE_EQ(b.init, 41.5);
  EXPECT_DOUBLE_EQ(b.pump, 0.0);
  EXPECT_DOUBLE_EQ(b.error, 0.0);
}
