// SPDX-License-Identifier: MIT
#include "daemon/signals.h"

#include <syslog.h>
#include <unistd.h>

#include <csignal>

#include "daemon/log_open.h"
#include "daemon/signal_log.h"
#include "lib/log_verbose.h"

void signal_handler(int signo) {
  if (signo == SIGUSR1) {
    log_verbose = (log_verbose + 1) % 2;
    signal_log_write(LOG_WARNING, "quorvel got signal USR1(", signo, ").\n");
    return;
  }
  signal_log_write(LOG_WARNING, "quorvel got signal(", signo, "), exit.\n");
  // _exit: no stdio flush, no atexit handlers, nothing that is unsafe here.
  _exit(0);
}

void signals_install() {
  signal_log_prepare(LOG_IDENT);

  struct sigaction action {};
  action.sa_handler = signal_handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGUSR1, &action, nullptr);

  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
}
