// SPDX-License-Identifier: MIT
#include "daemon/log_open.h"

#include <syslog.h>

void log_open(const char *ident) {
  openlog(ident, LOG_CONS | LOG_PID, 0);
}
