// The calibration result holder: sized from the events and locations, slots cleared, event
// values stored at their slots, an event beyond the holder refused with a warning.
#include <gtest/gtest.h>

#include <memory>

#include "calibration/calibration_drivers.h"
#include "calibration/run_result.h"
#include "framework/model_state.h"
#include "support/test_support.h"

using torva_test::contains;
using torva_test::process_state_guard;
using torva_test::stdout_capture;

namespace {

std::unique_ptr<model_state> optimising_run(int events, int locations, int sed_locations = 0) {
  auto ms = std::make_unique<model_state>();
  ms->calibration.optimize_on = 1;
  ms->overland.num_events = events;
  ms->channel.hyd_location_count = locations;
  ms->channel.sed_location_count = sed_locations;
  return ms;
}

}  // namespace

TEST(RunResult, TwoLocationsAndThreeEventsGiveStrideThreeAndClearedSlots) {
  process_state_guard guard;
  auto ms = optimising_run(3, 2);
  alloc_driver_results(*ms);
  run_result* holder = ms->calibration.driver_result;
  ASSERT_NE(holder, nullptr);  // a run with OPTIMIZE and no driver keeps its own
  EXPECT_EQ(holder->stride, 3);
  EXPECT_EQ(holder->event_count, 3);
  for (int slot = 0; slot <= 3 * 3 + 1; ++slot) {
    EXPECT_EQ(holder->peaks[slot], 0.0) << slot;
    EXPECT_EQ(holder->volumes[slot], 0.0) << slot;
  }
  const double loc_peaks[3] = {0.0, 7.0, 8.0};
  const double loc_volumes[3] = {0.0, 70.0, 80.0};
  store_event_result(*holder, 2, 5.0, 50.0, loc_peaks, loc_volumes, 2);
  EXPECT_EQ(holder->peaks[4], 5.0);  // event 2's outlet
  EXPECT_EQ(holder->peaks[5], 7.0);
  EXPECT_EQ(holder->volumes[6], 80.0);  // event 2, location 2
  EXPECT_EQ(holder->peaks[7], 0.0);     // event 3 untouched
}

TEST(RunResult, UniformRainIsOneEventWithASlot) {
  process_state_guard guard;
  auto ms = optimising_run(0, 1);
  ms->overland.uniform_rain = 1;
  alloc_driver_results(*ms);
  run_result* holder = ms->calibration.driver_result;
  ASSERT_EQ(holder->event_count, 1);
  store_event_result(*holder, 1, 2.5, 40.0, nullptr, nullptr, 0);
  EXPECT_EQ(holder->peaks[1], 2.5);
  EXPECT_EQ(holder->volumes[1], 40.0);
  EXPECT_EQ(holder->events_filled, 1);
}

TEST(RunResult, SedimentOptimisationTakesTheSedimentLocations) {
  process_state_guard guard;
  auto ms = optimising_run(2, 5, 1);
  ms->calibration.optimize_sed = 1;
  alloc_driver_results(*ms);
  EXPECT_EQ(ms->calibration.driver_result->stride, 2);
}

TEST(RunResult, AnEventBeyondTheHolderWarnsAndWritesNothing) {
  process_state_guard guard;
  auto ms = optimising_run(2, 0);
  alloc_driver_results(*ms);
  run_result& holder = *ms->calibration.driver_result;
  stdout_capture capture;
  store_event_result(holder, 3, 9.0, 90.0, nullptr, nullptr, 0);
  store_event_result(holder, 0, 9.0, 90.0, nullptr, nullptr, 0);
  const std::string text = capture.stop();
  EXPECT_TRUE(contains(text, "Warning: event 3 has no slot")) << text;
  for (int slot = 0; slot <= 2 * 1 + 1; ++slot) EXPECT_EQ(holder.peaks[slot], 0.0) << slot;
}

TEST(RunResult, NothingIsMadeWithoutOptimisation) {
  process_state_guard guard;
  auto ms = optimising_run(2, 0);
  ms->calibration.optimize_on = 0;
  alloc_driver_results(*ms);
  EXPECT_EQ(ms->calibration.driver_result, nullptr);
}
