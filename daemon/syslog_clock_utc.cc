// SPDX-License-Identifier: MIT
// musl: syslog() stamps UTC (gmtime_r), whatever the time zone.
#include "daemon/syslog_clock.h"

long syslog_clock_offset(time_t) {
  return 0;
}
