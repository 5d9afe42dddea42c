// SPDX-License-Identifier: MIT
#include "lib/time_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// Sets TZ for one test and restores it afterwards.
class TimeText : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *old = getenv("TZ");
    had_tz_ = old != nullptr;
    if (had_tz_) saved_ = old;
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static void zone(const char *tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  // Formats into a 20-byte buffer followed by guard bytes that must stay.
  static std::string format(time_t when, int *result) {
    char area[TIME_TEXT_SIZE + 8];
    memset(area, '#', sizeof area);
    *result = time_text_format(when, area);
    for (size_t i = TIME_TEXT_SIZE; i < sizeof area; ++i) EXPECT_EQ(area[i], '#') << i;
    return std::string(area, strnlen(area, TIME_TEXT_SIZE));
  }

  bool had_tz_ = false;
  std::string saved_;
};

TEST_F(TimeText, LocalDateAndTime) {
  zone("UTC");
  int result = 0;
  EXPECT_EQ(format(1709802300, &result), "2024-03-07 09:05:00");
  EXPECT_EQ(result, 19);
  EXPECT_EQ(format(-1, &result), "1969-12-31 23:59:59");
  EXPECT_EQ(result, 19);
  EXPECT_EQ(format(31536000, &result), "1971-01-01 00:00:00");
  zone("UTC-2");
  EXPECT_EQ(format(1709802300, &result), "2024-03-07 11:05:00");
}

TEST_F(TimeText, EveryMomentOfTheLocalYear1970IsAllZero) {
  int result = 0;
  zone("UTC");
  EXPECT_EQ(format(0, &result), "0000-00-00 00:00:00");
  EXPECT_EQ(result, 19);
  EXPECT_EQ(format(31535999, &result), "0000-00-00 00:00:00");
  // Two hours ahead of UTC: the last UTC hour of 1969 is local 1970 ...
  zone("UTC-2");
  EXPECT_EQ(format(-3600, &result), "0000-00-00 00:00:00");
  // ... and the last UTC hour of 1970 is local 1971.
  EXPECT_EQ(format(31536000 - 3600, &result), "1971-01-01 01:00:00");
}

TEST_F(TimeText, YearsBeyondFourDigitsAreNeverCut) {
  zone("UTC");
  int result = 0;
  EXPECT_EQ(format(253402300799, &result), "9999-12-31 23:59:59");
  EXPECT_EQ(result, 19);
  // 10000-01-01 00:00:00 would take 20 characters and the NUL.
  EXPECT_EQ(format(253402300800, &result), "");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(format(-62167219201, &result), "");  // -0001-12-31 23:59:59
  EXPECT_EQ(result, -1);
  // Beyond what a broken-down time can hold.
  EXPECT_EQ(format(static_cast<time_t>(INT64_MAX), &result), "");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(time_text_format(0, nullptr), -1);
}

}  // namespace
