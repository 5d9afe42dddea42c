// SPDX-License-Identifier: MIT
// The stamp that the daemon's syslog writers format by hand is the one
// strftime gives, on every kind of day and far from 1970 both ways; the
// lines are laid out and cut as musl's syslog() does.
#include <gtest/gtest.h>

#include <cstdarg>
#include <ctime>
#include <string>

#include "daemon/signal_log.h"
#include "daemon/syslog_line.h"

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

namespace {
std::string line_of(int pid, const char *format, ...) __attribute__((format(printf, 2, 3)));
std::string line_of(int pid, const char *format, ...) {
  const char stamp[SYSLOG_STAMP_SIZE] = "Dec  9 13:05:01";
  syslog_line line;
  va_list args;
  va_start(args, format);
  const bool made = syslog_line_format(&line, 12, stamp, "quorvel", pid, format, args);
  va_end(args);
  if (!made) return "(none)";
  EXPECT_EQ(line.header, sizeof "<12>Dec  9 13:05:01 " - 1);
  return std::string(line.text, line.length);
}
}  // namespace

TEST(SyslogLine, AsMuslLaysItOut) {
  EXPECT_EQ(line_of(42, "%s exit.", "quorvel"), "<12>Dec  9 13:05:01 quorvel[42]: quorvel exit.\n");
  // A text that ends in a newline keeps it, and gets no second one.
  EXPECT_EQ(line_of(42, "a\n\tb\n"), "<12>Dec  9 13:05:01 quorvel[42]: a\n\tb\n");
  EXPECT_EQ(line_of(0, "no pid"), "<12>Dec  9 13:05:01 quorvel: no pid\n");
  EXPECT_EQ(line_of(42, "%s", ""), "<12>Dec  9 13:05:01 quorvel[42]: \n");
  // Too long for the buffer: cut to its size, the last byte a newline.
  const std::string cut = line_of(42, "%s", std::string(2000, 'x').c_str());
  ASSERT_EQ(cut.size(), SYSLOG_LINE_SIZE);
  EXPECT_EQ(cut.substr(0, 34), "<12>Dec  9 13:05:01 quorvel[42]: x");
  EXPECT_EQ(cut.substr(SYSLOG_LINE_SIZE - 2), "x\n");
  // At the edge: 1,023 bytes take the last byte for their newline; one
  // more loses its last character to it; one that ends in its own
  // newline keeps it.
  const size_t head = sizeof "<12>Dec  9 13:05:01 quorvel[42]: " - 1;
  const std::string fill(SYSLOG_LINE_SIZE - 1 - head, 'y');
  EXPECT_EQ(line_of(42, "%sz", fill.substr(1).c_str()).substr(SYSLOG_LINE_SIZE - 3), "yz\n");
  EXPECT_EQ(line_of(42, "%sz", fill.c_str()).substr(SYSLOG_LINE_SIZE - 3), "yy\n");
  const std::string ended = line_of(42, "%s\n", fill.substr(1).c_str());
  EXPECT_EQ(ended.size(), SYSLOG_LINE_SIZE - 1);
  EXPECT_EQ(ended.back(), '\n');
}
