// SPDX-License-Identifier: MIT
// The schedule's one way of waiting: the signals it acts on stay blocked
// for its whole life and are taken from the pending set here, so that none
// is lost, and none waits behind a command that runs (as a shell's traps
// do).
#pragma once

#include <signal.h>

// Blocks SIGTERM, SIGINT, SIGHUP, SIGUSR1 and SIGCHLD and gives them their
// default actions. The daemon is started with none blocked.
void signals_block();

// Milliseconds of CLOCK_MONOTONIC.
[[nodiscard]] long long clock_ms();

// Which of the blocked signals a wait takes. Requests for a cycle
// (SIGUSR1) that a wait leaves stay pending for a later one.
enum class wait_for { ALL, ALL_BUT_REQUESTS };

// Waits until one of the signals that which names is pending, or until
// deadline (clock_ms() time). Returns the signal taken, or 0 at the
// deadline.
[[nodiscard]] int signal_wait(long long deadline, wait_for which = wait_for::ALL);

// Takes a pending request for a cycle without waiting. True when there was
// one.
bool request_take();

// True for the signals that end the schedule.
[[nodiscard]] inline bool signal_stops(int signo) {
  return signo == SIGTERM || signo == SIGINT || signo == SIGHUP;
}
