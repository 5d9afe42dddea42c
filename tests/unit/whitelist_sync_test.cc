// SPDX-License-Identifier: MIT
#include "sync/whitelist_sync.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <set>

namespace {
// random_below() seeds with the wall clock, so draws within one second all
// give one value. While seconds_step is set, every call to time() in this
// test program reads one second later than the last, so each draw gets a
// seed of its own; otherwise time() reads the real clock.
bool seconds_step = false;
time_t seconds_ahead = 0;
// While rand_fixed is set, rand() in this test program returns rand_value
// instead of the C library's next draw, so a test can pick the draw.
bool rand_fixed = false;
int rand_value = 0;
}  // namespace

extern "C" int rand() noexcept {
  if (rand_fixed) return rand_value;
  using rand_function = int (*)();
  static const auto next = reinterpret_cast<rand_function>(dlsym(RTLD_NEXT, "rand"));
  return next();
}

extern "C" time_t time(time_t *out) noexcept {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  time_t value = now.tv_sec + (seconds_step ? ++seconds_ahead : seconds_ahead);
  if (out != nullptr) *out = value;
  return value;
}

namespace {

TEST(RandomBelow, StaysBelowTheBound) {
  EXPECT_EQ(random_below(1), 0);
  seconds_step = true;
  std::set<int> seen;
  for (int i = 0; i < 1000; ++i) {
    int value = random_below(1800);
    EXPECT_GE(value, 0);
    EXPECT_LT(value, 1800);
    seen.insert(value);
  }
  seconds_step = false;
  // 1000 seeds over 1800 values: a few collide, most do not.
  EXPECT_GT(seen.size(), 500u);
}

TEST(NextDelay, BothBoundsWithTheDrawPicked) {
  const struct {
    int draw;
    int delay;
  } CASES[] = {{0, 1800}, {1799, 3599}, {1800, 1800}, {RAND_MAX, RAND_MAX % 1800 + 1800}};
  for (const auto &c : CASES) {
    rand_fixed = true;
    rand_value = c.draw;
    int delay = next_delay_draw();
    rand_fixed = false;
    EXPECT_EQ(delay, c.delay) << "draw " << c.draw;
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
