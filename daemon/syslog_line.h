// SPDX-License-Identifier: MIT
// The datagram that musl's syslog() sends to the system logger, formatted
// by the daemon itself (daemon/syslog_musl.cc says why).
#pragma once

#include <cstdarg>
#include <cstddef>

#include "daemon/signal_log.h"

// musl's buffer: a longer line is cut to this many bytes, the last one a
// newline.
constexpr size_t SYSLOG_LINE_SIZE = 1024;

struct syslog_line {
  char text[SYSLOG_LINE_SIZE];
  size_t length;  // bytes of text to send; no terminating NUL
  size_t header;  // bytes of "<priority>stamp " at its start, which the
                  // console copy leaves out
};

// "<priority>stamp ident[pid]: text" (no "[pid]" when pid is 0), text
// formatted from format and args, a newline added when it does not end in
// one. False, and nothing to send, when the text cannot be formatted.
bool syslog_line_format(syslog_line *line, int priority, const char (&stamp)[SYSLOG_STAMP_SIZE],
                        const char *ident, int pid, const char *format, va_list args)
    __attribute__((format(printf, 6, 0)));
