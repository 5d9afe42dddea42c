// SPDX-License-Identifier: MIT
#include "tools/schedule/run_group.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "lib/c_guards.h"
#include "lib/text.h"
#include "tools/schedule/proc_table.h"
#include "tools/schedule/signal_wait.h"

namespace {

constexpr char MARKER_NAME[] = "QUORVEL_SCHEDULE_RUN";
constexpr size_t MARKER_BYTES = 16;
// How often the members of a group that is being ended are counted.
constexpr long long GROUP_POLL_MS = 50;

// "QUORVEL_SCHEDULE_RUN=<32 hexadecimal digits>" from the kernel's random
// source, or from the time and pid where there is none.
void marker_draw(char *out, size_t size) {
  unsigned char bytes[MARKER_BYTES] = {};
  unique_fd fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (!fd.valid() || read(fd.get(), bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) {
    unsigned long long mix = static_cast<unsigned long long>(clock_ms()) * 1000003u + getpid();
    for (size_t i = 0; i < sizeof bytes; ++i)
      bytes[i] = static_cast<unsigned char>(mix >> (i % 8 * 8));
  }
  int length = snprintf(out, size, "%s=", MARKER_NAME);
  for (size_t i = 0; i < sizeof bytes && format_fits(length + 2, size); ++i)
    length += snprintf(out + length, size - static_cast<size_t>(length), "%02x", bytes[i]);
}

[[noreturn]] void child_exec(const char *daemon, char *marker, const sigset_t &mask) {
  setpgid(0, 0);
  putenv(marker);
  int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    if (null > STDERR_FILENO) close(null);
  }
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  execl(daemon, daemon, static_cast<char *>(nullptr));
  _exit(127);
}

}  // namespace

int run_start(const char *daemon, const sigset_t &child_mask, run_record *record) {
  marker_draw(record->marker, sizeof record->marker);
  if (boot_id_read(record->boot_id, sizeof record->boot_id) != 0)
    snprintf(record->boot_id, sizeof record->boot_id, "unknown");
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) child_exec(daemon, record->marker, child_mask);
  // Made on both sides, so that the group exists whichever runs first.
  setpgid(pid, pid);
  record->leader = pid;
  proc_stat stat;
  record->start_time = proc_stat_read(pid, &stat) == 0 ? stat.start_time : 0;
  return 0;
}

bool run_leader_ended(pid_t leader, int *status) {
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(leader), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return errno == ECHILD;
  if (info.si_pid != leader) return false;
  *status = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
  return true;
}

void run_reap(pid_t leader) {
  while (waitpid(leader, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void group_end(pid_t pgrp, long grace, bool *stop, pid_t left_out) {
  group_census census = group_count(pgrp, nullptr, left_out);
  if (census.live > 0) kill(-pgrp, SIGTERM);
  bool killed = false;
  long long give_up = clock_ms() + grace * 1000LL;
  while (census.live > 0 || census.zombies > 0) {
    if (clock_ms() >= give_up) {
      if (killed || census.live == 0) return;
      kill(-pgrp, SIGKILL);
      killed = true;
      give_up = clock_ms() + grace * 1000LL;
    }
    int signo = signal_wait(clock_ms() + GROUP_POLL_MS);
    if (signal_stops(signo)) *stop = true;
    census = group_count(pgrp, nullptr, left_out);
  }
}
