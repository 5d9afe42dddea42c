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
// in progress. SIGUSR1 asks for a cycle now: it runs at once, unless a run
// is going or one ended less than REQUEST_QUIET_MS ago; then the request is
// kept, and one cycle runs as soon as the run has ended and that quiet
// window has passed, however many requests came meanwhile. After it the
// delays go on, drawn afresh.

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/log_verbose.h"
#include "schedule/delay_draw.h"
#include "schedule/previous_run.h"
#include "schedule/proc_table.h"
#include "schedule/run_group.h"
#include "schedule/run_record.h"
#include "schedule/schedule_options.h"
#include "schedule/signal_wait.h"

// The support library's verbose switch: the schedule has no verbose lines.
volatile sig_atomic_t log_verbose = 0;

namespace {

constexpr char IDENT[] = "quorvel-schedule";
// Requests for a cycle during a run or this soon after one (the firewall's
// include and the interface hook firing together at boot, say) wait for
// the window to pass, and add one run between them.
constexpr long long REQUEST_QUIET_MS = 5000;

enum class run_outcome { DONE, STOPPED };

bool executable_file(const char *path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISREG(info.st_mode) && access(path, X_OK) == 0;
}

// One bounded run of the daemon, from start to the end of its leftovers. A
// request for a cycle that came while the daemon ran sets *requested;
// those that come while its leftovers are ended stay pending.
run_outcome run_once(const schedule_options &options, bool *requested) {
  // A request that came before the run starts is served by it.
  request_take();
  run_record record;
  if (run_start(options.daemon, &record) != 0) {
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
      if (!*requested) syslog(LOG_INFO, "cycle request deferred: a run is going");
      *requested = true;
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
  (void)group_end(group, nullptr, options.grace, &stop, group);
  run_reap(group);
  unlink(options.record);
  return stop ? run_outcome::STOPPED : run_outcome::DONE;
}

// Waits until deadline (clock_ms() time) for the next run, or for a
// request (requested: one is kept already). A request runs a cycle at
// once, or at window_end when it comes before. False when a signal stopped
// the schedule.
bool next_run_wait(long long deadline, long long window_end, bool requested) {
  for (;;) {
    int signo = signal_wait(requested && window_end < deadline ? window_end : deadline);
    if (signal_stops(signo)) return false;
    if (signo == 0) {
      if (requested) syslog(LOG_NOTICE, "cycle requested");
      return true;
    }
    if (signo != SIGUSR1 || requested) continue;
    if (clock_ms() >= window_end) {
      syslog(LOG_NOTICE, "cycle requested");
      return true;
    }
    syslog(LOG_INFO, "cycle request deferred: the last run ended moments ago");
    requested = true;
  }
}

}  // namespace

int main(int argc, char **argv) {
  // Before anything else: from here on no signal is lost or deferred.
  signals_block();

  schedule_options options;
  if (schedule_options_parse(argc, argv, &options) != 0) return 2;
  if (!executable_file(options.daemon)) {
    fprintf(stderr, "%s: %s is not an executable file\n", IDENT, options.daemon);
    return 1;
  }
  openlog(IDENT, LOG_PID, LOG_DAEMON);

  bool stop = false;
  previous_run_end(options.record, options.grace, &stop);
  bool requested = false;
  for (long runs = 1; !stop; ++runs) {
    if (run_once(options, &requested) == run_outcome::STOPPED) break;
    long long window_end = clock_ms() + REQUEST_QUIET_MS;
    if (options.runs != 0 && runs >= options.runs) break;
    long long deadline = window_end;
    if (!requested) {
      long delay = delay_draw(options.min_delay, options.delay_range);
      syslog(LOG_NOTICE, "next run in %ld seconds", delay);
      deadline = clock_ms() + delay * 1000LL;
    }
    stop = !next_run_wait(deadline, window_end, requested);
    requested = false;
  }
  return 0;
}
