// SPDX-License-Identifier: MIT
#include "lib/time_text.h"

#include <cstdio>
#include <cstring>

int time_text_format(time_t when, char *buf) {
  if (buf == nullptr) return -1;
  buf[0] = '\0';
  struct tm local = {};
  if (localtime_r(&when, &local) == nullptr) return -1;
  // Year, month, day, hour, minute, second; all 0 for the local year 1970.
  long long fields[6] = {};
  if (local.tm_year != 70) {
    // Widened: tm_year + 1900 overflows an int for the largest years.
    fields[0] = static_cast<long long>(local.tm_year) + 1900;
    fields[1] = local.tm_mon + 1;
    fields[2] = local.tm_mday;
    fields[3] = local.tm_hour;
    fields[4] = local.tm_min;
    fields[5] = local.tm_sec;
  }
  // Formed in room enough for any year, then copied only when whole.
  char text[96] = {};
  int length = snprintf(text, sizeof text, "%4.4lld-%2.2lld-%2.2lld %2.2lld:%2.2lld:%2.2lld",
                        fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
  if (length < 0 || length >= TIME_TEXT_SIZE) return -1;
  memcpy(buf, text, static_cast<size_t>(length) + 1);
  return length;
}
