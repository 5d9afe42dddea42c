// SPDX-License-Identifier: MIT
#include "daemon/syslog_line.h"

#include <cstdio>

bool syslog_line_format(syslog_line *line, int priority, const char (&stamp)[SYSLOG_STAMP_SIZE],
                        const char *ident, int pid, const char *format, va_list args) {
  const int header = snprintf(line->text, sizeof line->text, "<%d>%s ", priority, stamp);
  if (header < 0) return false;
  // The identity is at most 31 bytes (openlog cuts it), so the head of the
  // line always fits; the bounds below hold for any.
  const size_t room = sizeof line->text;
  size_t used = static_cast<size_t>(header) < room ? static_cast<size_t>(header) : room - 1;
  line->header = used;
  const int tag = pid != 0 ? snprintf(line->text + used, room - used, "%s[%d]: ", ident, pid)
                           : snprintf(line->text + used, room - used, "%s: ", ident);
  if (tag < 0) return false;
  used = static_cast<size_t>(tag) < room - used ? used + static_cast<size_t>(tag) : room - 1;

  const int text = vsnprintf(line->text + used, room - used, format, args);
  if (text < 0) return false;
  used = static_cast<size_t>(text) < room - used ? used + static_cast<size_t>(text) : room - 1;
  // A cut line ends where the terminating NUL was: the newline takes it.
  if (line->text[used - 1] != '\n') line->text[used++] = '\n';
  line->length = used;
  return true;
}
