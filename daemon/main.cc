// SPDX-License-Identifier: MIT
// quorvel: one synchronisation cycle of the CDN whitelist per start.

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "daemon/log_open.h"
#include "daemon/mkdir_recursive.h"
#include "daemon/pidfile.h"
#include "daemon/run_context.h"
#include "daemon/signals.h"
#include "identity/device_config.h"
#include "lib/log_verbose.h"
#include "sync/paths.h"
#include "sync/whitelist_sync.h"

volatile sig_atomic_t log_verbose = 0;

namespace {

// Decimal 600 (octal 1130): the mode the platform's tools expect of the
// directory; the umask applies on top.
constexpr mode_t WHITELIST_DIR_MODE = 600;

run_context *context = nullptr;

}  // namespace

int main(int, char **) {
  // The signal handler ends the process without flushing stdio: every line
  // must have left the buffer by then.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  guard_result guard = pidfile_lock(PID_FILE, LOCK_DIR);
  if (guard.outcome == GUARD_REFUSED) {
    puts("There's already a service running.");
    exit(1);
  }
  if (guard.outcome == GUARD_WRITE_FAILED) {
    printf("Unable to write to %s.\n", PID_FILE);
    exit(1);
  }
  (void)setsid();
  log_open(LOG_IDENT);
  if (guard.outcome != GUARD_LOCKED)
    syslog(LOG_WARNING, "pid file %s: %s: %s\n", PID_FILE, guard_outcome_text(guard.outcome),
           guard.reason);

  context = static_cast<run_context *>(calloc(1, sizeof *context));
  if (context == nullptr) return -1;

  signals_install();

  if (mkdir_recursive(WHITELIST_DIR, WHITELIST_DIR_MODE) != 0) {
    syslog(LOG_WARNING, "config init config dir, exit.");
  } else {
    (void)device_config_load(&context->device_config);
    (void)whitelist_sync(&context->cdn_state);
  }

  syslog(LOG_WARNING, "%s exit.\n", LOG_IDENT);
  return 0;
}
