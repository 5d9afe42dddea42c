// SPDX-License-Identifier: MIT
#include "schedule/run_group.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/c_guards.h"
#include "lib/spawn.h"
#include "lib/text.h"
#include "schedule/proc_table.h"
#include "schedule/signal_wait.h"

extern char **environ;

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

// The run's environment: the marker first, then the schedule's own entries
// but a marker that it inherited. The array is the caller's to free(); its
// texts stay the marker's and environ's. Null when there is no memory.
heap_ptr<char *> run_environment(char *marker) {
  size_t count = 0;
  while (environ[count] != nullptr) ++count;
  if (count > SIZE_MAX / sizeof(char *) - 2) return nullptr;
  heap_ptr<char *> entries(static_cast<char **>(malloc((count + 2) * sizeof(char *))));
  if (!entries) return entries;
  const size_t name_length = strlen(MARKER_NAME);
  size_t used = 0;
  entries.get()[used++] = marker;
  for (size_t i = 0; i < count; ++i) {
    const char *entry = environ[i];
    if (strncmp(entry, MARKER_NAME, name_length) != 0 || entry[name_length] != '=')
      entries.get()[used++] = environ[i];
  }
  entries.get()[used] = nullptr;
  return entries;
}

}  // namespace

int run_start(const char *daemon, run_record *record) {
  marker_draw(record->marker, sizeof record->marker);
  if (boot_id_read(record->boot_id, sizeof record->boot_id) != 0)
    snprintf(record->boot_id, sizeof record->boot_id, "unknown");
  heap_ptr<char *> environment = run_environment(record->marker);
  if (!environment) {
    errno = ENOMEM;
    return -1;
  }
  const char *argv[] = {daemon, nullptr};
  spawn_request request;
  request.argv = argv;
  request.program = daemon;
  request.envp = environment.get();
  request.out = spawn_stream::NUL;
  request.new_group = true;
  pid_t pid = -1;
  int error = spawn_start(request, &pid);
  if (error != 0) {
    errno = error;
    return -1;
  }
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

bool group_end(pid_t pgrp, const char *marker, long grace, bool *stop, pid_t left_out) {
  group_census census = group_count(pgrp, marker, left_out);
  bool killed = false;
  long long give_up = clock_ms() + grace * 1000LL;
  for (bool first = true; census.live > 0 || census.zombies > 0; first = false) {
    if (marker != nullptr && census.unmarked > 0) return false;
    if (first && census.live > 0) kill(-pgrp, SIGTERM);
    if (clock_ms() >= give_up) {
      if (killed || census.live == 0) return true;
      kill(-pgrp, SIGKILL);
      killed = true;
      give_up = clock_ms() + grace * 1000LL;
    }
    int signo = signal_wait(clock_ms() + GROUP_POLL_MS, wait_for::ALL_BUT_REQUESTS);
    if (signal_stops(signo)) *stop = true;
    census = group_count(pgrp, marker, left_out);
  }
  return true;
}
