// SPDX-License-Identifier: MIT
// The schedule's command line.
//
//   quorvel-schedule [-n RUNS] [-m MIN] [-r RANGE] [-t LIMIT] [-k GRACE]
//                    [-d DAEMON] [-s RECORD]
#pragma once

struct schedule_options {
  long runs = 0;            // stop after that many runs; 0: never
  long min_delay = 1800;    // shortest delay between two runs, in seconds
  long delay_range = 1800;  // the delay is min_delay plus a number below this
  long limit = 600;         // a run is sent SIGTERM after this many seconds
  long grace = 10;          // and SIGKILL this many seconds later
  const char *daemon = "/usr/sbin/quorvel";
  const char *record = "/var/run/quorvel-schedule.run";
};

// Reads argv into options. 0 on success; 2 for a bad option or operand
// (the reason and the usage line are printed on standard error).
[[nodiscard]] int schedule_options_parse(int argc, char **argv, schedule_options *options);
