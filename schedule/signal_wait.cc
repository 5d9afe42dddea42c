// SPDX-License-Identifier: MIT
#include "schedule/signal_wait.h"

#include <cerrno>
#include <ctime>

namespace {

constexpr int WATCHED[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGCHLD};

sigset_t watched_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : WATCHED) sigaddset(&set, signo);
  return set;
}

// Takes a signal of set that is pending or comes before deadline. The
// signal, or 0 at the deadline.
int signal_take(const sigset_t &set, long long deadline) {
  for (;;) {
    long long left = deadline - clock_ms();
    if (left < 0) left = 0;
    timespec timeout{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
    int signo = sigtimedwait(&set, nullptr, &timeout);
    if (signo > 0) return signo;
    if (errno == EAGAIN) return 0;
    // EINTR: a signal outside the set (SIGSTOP and SIGCONT, say).
  }
}

}  // namespace

void signals_block() {
  sigset_t set = watched_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
  // An ignored SIGCHLD would reap the daemon before it can be looked at; a
  // blocked signal with its default action stays pending until taken.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signo : WATCHED) sigaction(signo, &action, nullptr);
}

long long clock_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int signal_wait(long long deadline, wait_for which) {
  sigset_t set = watched_set();
  if (which == wait_for::ALL_BUT_REQUESTS) sigdelset(&set, SIGUSR1);
  return signal_take(set, deadline);
}

bool request_take() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  return signal_take(set, 0) == SIGUSR1;
}
