// SPDX-License-Identifier: MIT
// The stamp that the signal handler's syslog writer formats by hand is the
// one strftime gives, on every kind of day and far from 1970 both ways.
#include <gtest/gtest.h>

#include <ctime>

#include "daemon/signal_log.h"

TEST(SyslogStamp, AsStrftimeGivesIt) {
  const long long times[] = {
      0,             // Jan  1 00:00:00 1970
      -1,            // the last second of 1969
      951782400,     // Feb 29 2000: a leap day of a century divisible by 400
      4107542399,    // Feb 28 2100 23:59:59, no leap day that century
      4107542400,    // Mar  1 2100
      2147483648,    // past 2038 on a 32-bit clock
      1765282332,    // an afternoon in December
      253402300799,  // Dec 31 9999 23:59:59
      -12219292801,  // before the Gregorian reform, proleptic
  };
  for (long long t : times) {
    const time_t value = static_cast<time_t>(t);
    struct tm parts {};
    ASSERT_NE(gmtime_r(&value, &parts), nullptr) << t;
    char expected[32];
    ASSERT_GT(strftime(expected, sizeof expected, "%h %e %T", &parts), 0u);
    char stamp[SYSLOG_STAMP_SIZE];
    syslog_stamp_format(t, stamp);
    EXPECT_STREQ(stamp, expected) << t;
  }
}
