// Channel start-up on the three-link network: the channel hotstart (good, short, for another
// network), the output location lists, the stream head boundary at the outlet and the initial
// channel storage computed by hand.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "channel/channel_startup.h"
#include "channel/channel_steps.h"
#include "channel_fixture.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "input/time_series.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

// A hotstart of the network as the hotstart writer leaves it: "node link level [area]", nodes
// 1..nx1 of every link, the last node of each sectioned link included. Averaged beds: link 1
// 100.8 and 100.4, link 2 100.6, link 3 99.9, 99.7 and 99.5.
const std::string good_hotstart =
    "1 1 101.3\n"
    "2 1 100.9 2.5\n"
    "3 1 100.2\n"
    "1 2 100.4\n"
    "2 2 100.4\n"
    "1 3 100.3\n"
    "2 3 100.3\n"
    "3 3 99.9\n"
    "4 3 99.4\n";

class ChannelStartupTest : public testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<model_state>();
    torva_test::set_channel_watershed(*ms_);
  }

  // Sets the network up, starting from `hotstart` when one is given; returns what it printed.
  std::string set_up(const std::string* hotstart = nullptr) {
    torva_test::open_channel_network(*ms_, dir_);
    if (hotstart != nullptr) {
      write_file(dir_.file("net.hot"), *hotstart);
      ms_->channel.read_chan_hotstart_on = 1;
      file_handle_open(ms_->channel.read_chan_depth_file, "net.hot", "r");
    }
    stdout_capture out;
    setup_channel_network(*ms_);
    return out.stop();
  }

  // Opens `text` as the handle's location file and runs `reader`.
  std::string read_list(file_handle& h, const std::string& text, void (*reader)(model_state&)) {
    write_file(dir_.file("loc.txt"), text);
    file_handle_open(h, "loc.txt", "r");
    stdout_capture out;
    reader(*ms_);
    return out.stop();
  }

  process_state_guard guard_;
  temp_dir dir_;
  std::unique_ptr<model_state> ms_;
};

TEST_F(ChannelStartupTest, HotstartSetsLevelsDepthsAndAreas) {
  const std::string text = set_up(&good_hotstart);
  ASSERT_EQ(run_error.error_code, 0) << text;
  const channel_state& ch = ms_->channel;
  EXPECT_DOUBLE_EQ(ch.yp(1, 1), 101.3);
  EXPECT_NEAR(ch.chan_depth(1, 1), 0.5, 1e-12);
  EXPECT_EQ(ch.area(1, 1), 0.0);  // three fields: the area is left as it was
  EXPECT_EQ(ch.area(1, 2), 2.5);  // four fields: the area is read
  // A level below the bed is the bed, with no depth.
  EXPECT_EQ(ch.yp(2, 1), ch.bel(2, 1));
  EXPECT_EQ(ch.chan_depth(2, 1), 0.0);
  EXPECT_NEAR(ch.chan_depth(3, 2), 0.6, 1e-12);
  EXPECT_EQ(ch.chan_water_on, 1);
}

TEST_F(ChannelStartupTest, HotstartOfADryChannelLeavesTheWaterFlagDown) {
  // Every level below its bed.
  const std::string dry = "1 1 100.0\n2 1 100.0\n1 2 100.0\n1 3 99.0\n2 3 99.0\n3 3 99.0\n";
  set_up(&dry);
  EXPECT_EQ(run_error.error_code, 0);
  EXPECT_EQ(ms_->channel.chan_water_on, 0);
}

// A hotstart that does not fit the network stops the run before its values are used.
TEST_F(ChannelStartupTest, HotstartShortOrForAnotherNetworkStopsTheRun) {
  struct bad_hotstart {
    const char* name;
    std::string text;
    const char* message;
  };
  const bad_hotstart cases[] = {
      {"short", "1 1 101.3\n2 1 100.9\n1 2 100.4\n1 3 100.3\n",
       "ends before node 2 of link 3: it holds fewer lines than the channel network has nodes."},
      {"empty", "", "ends before node 1 of link 1"},
      {"link 2 with two nodes", "1 1 101.3\n2 1 100.9\n1 2 100.4\n2 2 100.4\n3 2 100.4\n",
       "line 5 of the channel hotstart file"},
      {"links in another order", "1 2 100.4\n1 1 101.3\n2 1 100.9\n",
       "line 1 of the channel hotstart file"},
      {"longer than the network", good_hotstart + "5 3 99.3\n",
       "holds more lines than the channel network has nodes (line 10)"},
      {"no level", "1 1\n", "gives no water-surface level for link 1 node 1"},
  };
  for (const bad_hotstart& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    guard_.reset();
    const std::string text = set_up(&c.text);
    EXPECT_TRUE(contains(text, c.message)) << text;
    EXPECT_EQ(run_error.error_fatal, 1);
    EXPECT_TRUE(ms_->channel.con_vect.empty());  // the set-up stopped at the hotstart
  }
}

TEST_F(ChannelStartupTest, LocationListsAreReadAndCheckedAgainstTheNetwork) {
  set_up();
  ASSERT_EQ(run_error.error_code, 0);
  channel_state& ch = ms_->channel;
  read_list(ms_->input.in_hyd_location_file, "3\n1 1\n1 2\n3 3\n", read_hydrograph_locations);
  read_list(ms_->input.in_gwflux_location_file, "3\n3 1 3 2\n2 1\n", read_gwflux_locations);
  ASSERT_EQ(run_error.error_code, 0);
  ASSERT_EQ(ch.hyd_location_count, 3);
  ASSERT_EQ(ch.gwflux_location_count, 3);
  EXPECT_EQ(ch.hlink[3], 3);
  EXPECT_EQ(ch.hnode[3], 3);
  EXPECT_EQ(ch.gwflink[2], 3);
  EXPECT_EQ(ch.gwfnode[2], 2);
  EXPECT_EQ(ch.gwflink[3], 2);
  EXPECT_FALSE(ms_->input.in_hyd_location_file.is_open());  // closed after reading
  // A count of 0 allocates the arrays and reads nothing more.
  read_list(ms_->input.in_hyd_location_file, "0\n", read_hydrograph_locations);
  EXPECT_EQ(ch.hyd_location_count, 0);
  EXPECT_FALSE(ch.hlink.empty());
  EXPECT_EQ(run_error.error_code, 0);

  struct bad_list {
    const char* name;
    const char* text;
    const char* message;
  };
  const bad_list cases[] = {
      {"ends early", "3\n1 1\n1 2\n", "End of file reached in file "},
      {"ends inside a pair", "2\n1 1\n3\n", "End of file reached in file "},
      {"no count", "", "End of file reached in file "},
      {"link beyond the network", "1\n4 1\n", "location 1 of file "},
      {"node beyond its link", "2\n1 1\n2 3\n", "is link 2 node 3, which the channel network"},
  };
  for (const bad_list& c : cases) {
    SCOPED_TRACE(c.name);
    guard_.reset();
    const std::string text =
        read_list(ms_->input.in_hyd_location_file, c.text, read_hydrograph_locations);
    EXPECT_TRUE(contains(text, c.message)) << text;
    EXPECT_EQ(run_error.error_fatal, 1);
  }
}

TEST_F(ChannelStartupTest, HeadBoundaryAndInitialStorageFromTheHotstart) {
  set_up(&good_hotstart);
  ASSERT_EQ(run_error.error_code, 0);
  channel_state& ch = ms_->channel;
  init_channel_storage(*ms_);
  ASSERT_EQ(run_error.error_code, 0);
  // Link 1 (2 m bottom, 1:1 banks) 0.5 m deep at both nodes: 1.25 m2 each; link 2 dry; link 3
  // (a V of 2:1 sides) 0.4, 0.6 and 0.4 m deep on its tabled levels: 0.32, 0.72 and 0.32 m2.
  EXPECT_NEAR(ch.area(1, 2), 1.25, 1e-12);
  EXPECT_NEAR(ch.area(3, 2), 0.72, 1e-9);
  EXPECT_NEAR(ch.chan_vol_initial, 30.0 * (1.25 + 1.25 + 0.32 + 0.72 + 0.32), 1e-8);
  EXPECT_EQ(ch.chan_water_on, 0);  // cleared: no head boundary brings water
}

TEST_F(ChannelStartupTest, HeadBoundaryDepthSetsTheOutletNode) {
  set_up();
  ASSERT_EQ(run_error.error_code, 0);
  channel_state& ch = ms_->channel;
  ch.head_bound = 1;
  ch.bound_depth = 0.4;
  init_channel_storage(*ms_);
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_NEAR(ch.yp(3, 3), 99.5 + 0.4, 1e-12);
  EXPECT_EQ(ch.chan_depth(3, 3), 0.4);
  EXPECT_EQ(ch.chan_water_on, 1);
  EXPECT_NEAR(ch.chan_vol_initial, 30.0 * 0.32, 1e-9);  // only the outlet node holds water
}

TEST_F(ChannelStartupTest, HeadBoundarySeriesIsFollowedOrItsAbsenceStopsTheRun) {
  set_up();
  ASSERT_EQ(run_error.error_code, 0);
  channel_state& ch = ms_->channel;
  ch.head_bound = 1;
  ch.bound_ts_on = 1;
  snprintf(ch.bound_ts, sizeof ch.bound_ts, "%s", "stage");
  init_channel_storage(*ms_);
  EXPECT_EQ(run_error.error_code, err_stream_head_series_not_found);
  EXPECT_STREQ(error_file_kind, "stage");
  EXPECT_EQ(ch.chan_water_on, 0);

  guard_.reset();
  time_series* s = ts_create();
  snprintf(s->name, sizeof s->name, "%s", "stage");
  s->times = {2450000.0, 2450001.0};
  s->values = {0.2, 0.6};
  s->count = 2;
  ms_->current_time = 2450000.5;
  init_channel_storage(*ms_);
  ASSERT_EQ(run_error.error_code, 0);
  EXPECT_NEAR(ch.bound_depth, 0.4, 1e-12);
  EXPECT_NEAR(ch.chan_depth(3, 3), 0.4, 1e-12);
  EXPECT_NEAR(ch.yp(3, 3), 99.9, 1e-12);
  // The routing applies it again at a later time.
  ms_->current_time = 2450001.0;
  EXPECT_EQ(apply_stream_head_boundary(*ms_), 0);
  EXPECT_NEAR(ch.chan_depth(3, 3), 0.6, 1e-12);
}

}  // namespace
