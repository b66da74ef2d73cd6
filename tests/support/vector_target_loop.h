// Runs a test body once on every instruction set the vector kernels are built for and the
// processor runs (the kernels restricted to it for the body), the one-lane path among them, so
// each target's kernels can be checked against the scalar ones. Fails when there are not at
// least two instruction sets, the one-lane path and a vector one, to compare: a test must never
// compare a path with itself unawares.
#pragma once

#include <gtest/gtest.h>
#include <hwy/highway.h>
#include <hwy/targets.h>

#include <cstdint>
#include <string>

#include "framework/core/vector_targets.h"

template <class Body>
void for_every_vector_target(Body body) {
  hwy::SetSupportedTargetsForTest(0);
  bool one_lane = false, vector = false;
  for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    const std::string name = hwy::TargetName(target);
    ASSERT_EQ(vector_target_in_use(), name);
    SCOPED_TRACE("instruction set " + name);
    body(name);
    if (target == HWY_EMU128 || target == HWY_SCALAR)
      one_lane = true;
    else
      vector = true;
  }
  // Back to what the environment asks for (TORVA_VECTOR_TARGET), else the best there is.
  hwy::SetSupportedTargetsForTest(0);
  std::string message;
  use_vector_target_from_environment(message);
  EXPECT_TRUE(one_lane) << "the one-lane path was not among the instruction sets tested";
  EXPECT_TRUE(vector) << "no vector instruction set to test against the one-lane path";
}
