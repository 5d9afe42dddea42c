// SPDX-License-Identifier: MIT
// Writing syslog lines from inside a signal handler.
//
// syslog() may allocate and takes a lock, so a handler must not call it.
// This writer uses only async-signal-safe calls: it formats the line by
// hand into a stack buffer and sends it as one datagram to the system
// logger's socket, in the same form as the C library's syslog() (priority,
// time stamp on the C library's syslog clock, identity, pid, text).
#pragma once

#include <sys/un.h>

#include <cstddef>

// The system logger's socket, /dev/log. Async-signal-safe.
sockaddr_un syslog_socket_address();

// Opens the datagram socket and takes note of the identity and the offset
// of the C library's syslog clock (daemon/syslog_clock.h). Called once,
// before any handler is installed; a failure leaves the writer silent.
void signal_log_prepare(const char *ident);

// Sends "<priority>Mmm dd hh:mm:ss ident[pid]: " followed by the given
// pieces of text and, when number is not negative, its decimal digits
// between the first and the second piece. Async-signal-safe.
void signal_log_write(int priority, const char *before, int number, const char *after);

// "Mmm dd hh:mm:ss" (as strftime's "%h %e %T") of local, seconds on the
// syslog clock, into out. Async-signal-safe; any value gives a stamp.
constexpr size_t SYSLOG_STAMP_SIZE = 16;
void syslog_stamp_format(long long local, char (&out)[SYSLOG_STAMP_SIZE]);
