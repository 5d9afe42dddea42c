// SPDX-License-Identifier: MIT
#include "sync/whitelist_sync.h"

#include <gtest/gtest.h>

namespace {

TEST(RandomBelow, StaysBelowTheBound) {
  EXPECT_EQ(random_below(1), 0);
  for (int i = 0; i < 1000; ++i) {
    int value = random_below(1800);
    EXPECT_GE(value, 0);
    EXPECT_LT(value, 1800);
  }
}

TEST(CdnState, DisableAndNullStates) {
  cdn_state state{};
  state.enabled = 1;
  cdn_state_disable(&state);
  EXPECT_EQ(state.enabled, 0);
  cdn_state_disable(nullptr);
  EXPECT_EQ(whitelist_sync(nullptr), -1);
  EXPECT_EQ(whitelist_fetch(nullptr), -1);
}

}  // namespace
