// SPDX-License-Identifier: MIT
// quorvel-schedule: runs quorvel's synchronisation cycle now and then again
// and again, each time after a delay drawn afresh (1800 to 3599 seconds by
// default). procd keeps it running (/etc/init.d/quorvel).
//
// Each run is bounded: at LIMIT seconds the run's process group gets
// SIGTERM (the daemon logs its exit line), GRACE seconds later SIGKILL, and
// whatever the run left behind (an agent that never answered) is ended
// with it. Only groups of its own runs are ever signalled, known from what
// the schedule recorded when it started them, never from the daemon's pid
// file.
//
// SIGTERM, SIGINT and SIGHUP end the schedule at once, together with a run
// in progress. SIGUSR1 asks for a cycle now: it runs at once unless a run
// is going or one ended less than REQUEST_QUIET_MS ago; then the delays go
// on, drawn afresh.

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/schedule/delay_draw.h"
#include "tools/schedule/previous_run.h"
#include "tools/schedule/proc_table.h"
#include "tools/schedule/run_group.h"
#include "tools/schedule/run_record.h"
#include "tools/schedule/schedule_options.h"
#include "tools/schedule/signal_wait.h"

namespace {

constexpr char IDENT[] = "quorvel-schedule";
// Requests for a cycle this soon after a run (the firewall's include and
// the interface hook firing together at boot, say) add no run.
constexpr long long REQUEST_QUIET_MS = 5000;

enum class run_outcome { DONE, STOPPED };

bool executable_file(const char *path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISREG(info.st_mode) && access(path, X_OK) == 0;
}

// One bounded run of the daemon, from start to the end of its leftovers.
run_outcome run_once(const schedule_options &options, const sigset_t &child_mask) {
  run_record record;
  if (run_start(options.daemon, child_mask, &record) != 0) {
    syslog(LOG_NOTICE, "run not started: %s", strerror(errno));
    return run_outcome::DONE;
  }
  if (run_record_write(options.record, record) != 0)
    syslog(LOG_NOTICE, "cannot record the run at %s: %s", options.record, strerror(errno));

  const pid_t group = record.leader;
  long long deadline = clock_ms() + options.limit * 1000LL;
  bool term_sent = false;
  bool stop = false;
  int status = 0;
  while (!run_leader_ended(group, &status)) {
    int signo = signal_wait(deadline);
    if (signo == SIGUSR1) {
      syslog(LOG_INFO, "cycle request ignored: a run is going");
    } else if (signal_stops(signo) && !term_sent) {
      stop = true;
      kill(-group, SIGTERM);
      term_sent = true;
      deadline = clock_ms() + options.grace * 1000LL;
    } else if (signal_stops(signo)) {
      stop = true;
    } else if (signo == 0 && !term_sent) {
      syslog(LOG_NOTICE, "run stopped at the bound of %ld seconds", options.limit);
      kill(-group, SIGTERM);
      term_sent = true;
      deadline = clock_ms() + options.grace * 1000LL;
    } else if (signo == 0) {
      kill(-group, SIGKILL);
      deadline = clock_ms() + options.grace * 1000LL;
    }
  }
  if (!term_sent && status != 0) syslog(LOG_NOTICE, "run ended with status %d", status);
  // The leader is not reaped yet: the group's id is still its own.
  if (group_count(group, nullptr, group).live > 0 && !stop)
    syslog(LOG_NOTICE, "ending what the run of pid %d left behind", group);
  group_end(group, options.grace, &stop, group);
  run_reap(group);
  unlink(options.record);
  return stop ? run_outcome::STOPPED : run_outcome::DONE;
}

// Waits for the delay to pass or for a request. False when a signal
// stopped the schedule.
bool delay_wait(long delay, long long last_end) {
  long long deadline = clock_ms() + delay * 1000LL;
  for (;;) {
    int signo = signal_wait(deadline);
    if (signo == 0) return true;
    if (signal_stops(signo)) return false;
    if (signo != SIGUSR1) continue;
    if (clock_ms() - last_end >= REQUEST_QUIET_MS) {
      syslog(LOG_NOTICE, "cycle requested");
      return true;
    }
    syslog(LOG_INFO, "cycle request ignored: the last run ended moments ago");
  }
}

}  // namespace

int main(int argc, char **argv) {
  // Before anything else: from here on no signal is lost or deferred.
  sigset_t child_mask;
  signals_block(&child_mask);

  schedule_options options;
  if (schedule_options_parse(argc, argv, &options) != 0) return 2;
  if (!executable_file(options.daemon)) {
    fprintf(stderr, "%s: %s is not an executable file\n", IDENT, options.daemon);
    return 1;
  }
  openlog(IDENT, LOG_PID, LOG_DAEMON);

  bool stop = false;
  previous_run_end(options.record, options.grace, &stop);
  for (long runs = 1; !stop; ++runs) {
    if (run_once(options, child_mask) == run_outcome::STOPPED) break;
    long long last_end = clock_ms();
    if (options.runs != 0 && runs >= options.runs) break;
    long delay = delay_draw(options.min_delay, options.delay_range);
    syslog(LOG_NOTICE, "next run in %ld seconds", delay);
    stop = !delay_wait(delay, last_end);
  }
  return 0;
}
