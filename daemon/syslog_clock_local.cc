// SPDX-License-Identifier: MIT
// glibc and uClibc: syslog() stamps the local time.
#include "daemon/syslog_clock.h"

long syslog_clock_offset(time_t now) {
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}
