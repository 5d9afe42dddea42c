// SPDX-License-Identifier: MIT
// The daemon's syslog() where the C library is musl: the datagrams that
// musl's own sends (daemon/syslog_line.h), to the same socket, with the
// same console fallback.
//
// musl's syslog() stamps its lines through gmtime_r and strftime, which
// bring in the time zone and locale code: a tenth of a static daemon. The
// daemon formats the stamp itself already, for its signal handler
// (daemon/signal_log.h), and now for every line. Built into the program
// only, so that the support library keeps the C library's syslog() for
// its other callers; the definitions here are hidden and bind the
// program's own calls.
#include <fcntl.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "daemon/signal_log.h"
#include "daemon/syslog_line.h"

namespace {

char log_ident[32];
int log_options = 0;
int log_facility = LOG_USER;
int log_fd = -1;

int log_connect() {
  const sockaddr_un address = syslog_socket_address();
  return connect(log_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

void log_socket_open() {
  log_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (log_fd >= 0) (void)log_connect();
}

bool lost_connection(int error) {
  return error == ECONNREFUSED || error == ECONNRESET || error == ENOTCONN || error == EPIPE;
}

void write_all(int fd, const char *text, size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= static_cast<size_t>(written);
  }
}

}  // namespace

extern "C" {

// Formats are the callers' literals: checked at every call.
void vsyslog(int priority, const char *format, va_list args) __attribute__((format(printf, 2, 0)));
void syslog(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));

void openlog(const char *ident, int options, int facility) {
  const size_t length = ident != nullptr ? strnlen(ident, sizeof log_ident - 1) : 0;
  if (length > 0) memcpy(log_ident, ident, length);
  log_ident[length] = '\0';
  log_options = options;
  log_facility = facility;
  if ((options & LOG_NDELAY) != 0 && log_fd < 0) log_socket_open();
}

void closelog() {
  if (log_fd >= 0) close(log_fd);
  log_fd = -1;
}

void vsyslog(int priority, const char *format, va_list args) {
  if ((priority & ~0x3ff) != 0) return;
  const int saved_errno = errno;
  if (log_fd < 0) log_socket_open();
  if ((priority & LOG_FACMASK) == 0) priority |= log_facility;

  char stamp[SYSLOG_STAMP_SIZE];
  syslog_stamp_format(static_cast<long long>(time(nullptr)), stamp);
  const int pid = (log_options & LOG_PID) != 0 ? static_cast<int>(getpid()) : 0;
  syslog_line line;
  errno = saved_errno;  // for a "%m" in the format
  if (syslog_line_format(&line, priority, stamp, log_ident, pid, format, args)) {
    const bool sent = send(log_fd, line.text, line.length, 0) >= 0 ||
                      (lost_connection(errno) && log_connect() == 0 &&
                       send(log_fd, line.text, line.length, 0) >= 0);
    const char *const tail = line.text + line.header;
    const size_t tail_length = line.length - line.header;
    if (!sent && (log_options & LOG_CONS) != 0) {
      const int console = open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
      if (console >= 0) {
        write_all(console, tail, tail_length);
        close(console);
      }
    }
    if ((log_options & LOG_PERROR) != 0) write_all(STDERR_FILENO, tail, tail_length);
  }
  errno = saved_errno;
}

void syslog(int priority, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsyslog(priority, format, args);
  va_end(args);
}

}  // extern "C"
