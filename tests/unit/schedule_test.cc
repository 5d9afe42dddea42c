// SPDX-License-Identifier: MIT
// The schedule's parsers of what it reads back (its run record, /proc's stat
// lines) and its delays; its processes and signals are tested end to end.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "schedule/delay_draw.h"
#include "schedule/proc_table.h"
#include "schedule/run_record.h"
#include "schedule/schedule_options.h"

TEST(ProcStat, FieldsAfterTheLastParenthesisOfTheName) {
  proc_stat stat;
  const char *line =
      "4242 (a) (b) c) S 1 4240 4240 0 -1 4194560 97 0 0 0 0 0 0 0 20 0 1 0 123456 2117632 196";
  ASSERT_EQ(proc_stat_parse(line, &stat), 0);
  EXPECT_EQ(stat.state, 'S');
  EXPECT_EQ(stat.pgrp, 4240);
  EXPECT_EQ(stat.start_time, 123456u);
  for (const char *bad : {"", "4242 (name", "4242 (name) S 1 2 3",
                          "4242 (x) S 1 2 3 4 5 6 7 8 9 "
                          "10 11 12 13 14 15 16 17 18 z"})
    EXPECT_EQ(proc_stat_parse(bad, &stat), -1) << bad;
}

TEST(RunRecord, ParsesOnlyWhatItWrites) {
  run_record record;
  ASSERT_EQ(run_record_parse("812 9931 QUORVEL_SCHEDULE_RUN=ab12 6a-b1\n", &record), 0);
  EXPECT_EQ(record.leader, 812);
  EXPECT_EQ(record.start_time, 9931u);
  EXPECT_STREQ(record.marker, "QUORVEL_SCHEDULE_RUN=ab12");
  EXPECT_STREQ(record.boot_id, "6a-b1");
  // Pids 0, 1 and -1 would signal far more than a run; nothing may be
  // missing or added.
  for (const char *bad : {"0 1 m b\n", "1 1 m b\n", "-1 1 m b\n", "012 1 m b\n", "812 1 m\n",
                          "812 1 m b", "812 1 m b x\n", "812 x m b\n", "99999999999 1 m b\n"})
    EXPECT_EQ(run_record_parse(bad, &record), -1) << bad;
}

TEST(DelayDraw, FromTheMinimumBelowMinimumPlusRangeAndAfresh) {
  std::set<long> seen;
  for (int i = 0; i < 300; ++i) {
    long delay = delay_draw(1800, 1800);
    ASSERT_GE(delay, 1800);
    ASSERT_LT(delay, 3600);
    seen.insert(delay);
  }
  // 300 draws over 1800 values repeat rarely, and reach both halves.
  EXPECT_GT(seen.size(), 250u);
  EXPECT_TRUE(*seen.begin() < 2200 && *seen.rbegin() > 3200);
  EXPECT_EQ(delay_draw(7, 1), 7);
}

TEST(DelayDraw, DefaultBoundsAre1800To3599) {
  // The random source controlled: its lowest and highest draws over the
  // default options give exactly the bounds.
  schedule_options defaults;
  EXPECT_EQ(delay_pick(defaults.min_delay, defaults.delay_range, 0), 1800);
  EXPECT_EQ(delay_pick(defaults.min_delay, defaults.delay_range, 1799), 3599);
  EXPECT_EQ(delay_pick(defaults.min_delay, defaults.delay_range, 1800), 1800);
  EXPECT_EQ(delay_pick(defaults.min_delay, defaults.delay_range, ~0ull), 1800 + 15);
}

// A group whose members come and go all the time (a shell that polls with
// short sleeps, as the agent does while it waits) is counted as the run's
// at every look: a member that ends while it is being looked at is not
// taken for a stranger. A member that lacks the marker is.
TEST(GroupCount, MembersEndingMidLookAreNotStrangers) {
  char marker[] = "QUORVEL_SCHEDULE_RUN=00112233445566778899aabbccddeeff";
  auto group_start = [](char *const *environment) {
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      char *const argv[] = {const_cast<char *>("/bin/sh"), const_cast<char *>("-c"),
                            const_cast<char *>("while :; do /bin/true; done"), nullptr};
      execve("/bin/sh", argv, environment);
      _exit(127);
    }
    setpgid(pid, pid);
    return pid;
  };
  char *marked[] = {marker, nullptr};
  pid_t group = group_start(marked);
  ASSERT_GT(group, 0);
  int strangers = 0;
  int looks = 0;
  for (; looks < 1000; ++looks) {
    group_census census = group_count(group, marker);
    if (census.unmarked > 0) ++strangers;
  }
  kill(-group, SIGKILL);
  waitpid(group, nullptr, 0);
  EXPECT_EQ(strangers, 0) << "of " << looks << " looks";

  char plain[] = "PATH=/bin";
  char *unmarked[] = {plain, nullptr};
  pid_t stranger = group_start(unmarked);
  ASSERT_GT(stranger, 0);
  int seen = 0;
  for (int i = 0; i < 5; ++i) seen += group_count(stranger, marker).unmarked > 0;
  kill(-stranger, SIGKILL);
  waitpid(stranger, nullptr, 0);
  EXPECT_EQ(seen, 5);
}
