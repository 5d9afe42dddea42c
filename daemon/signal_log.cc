// SPDX-License-Identifier: MIT
#include "daemon/signal_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>

#include "daemon/syslog_clock.h"

namespace {

constexpr char LOG_SOCKET_PATH[] = "/dev/log";

int log_socket = -1;
const char *log_ident = "";
long stamp_offset = 0;  // seconds east of UTC of the stamps, taken when prepared

// A bounded line under construction; appends past the end are dropped.
struct line_buffer {
  char text[256];
  size_t used;

  void append(const char *piece) {
    while (*piece != '\0' && used < sizeof text) text[used++] = *piece++;
  }
  void append_digits(unsigned long value, int min_width, char pad) {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count < min_width) digits[count++] = pad;
    while (count > 0 && used < sizeof text) text[used++] = digits[--count];
  }
};

// "Mmm dd hh:mm:ss" on the clock of the C library's syslog(), as "%h %e %T"
// gives it.
void append_stamp(line_buffer &line, time_t now) {
  static constexpr char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  long long local = static_cast<long long>(now) + stamp_offset;
  long long days = local / 86400;
  long long seconds = local % 86400;
  if (seconds < 0) {
    seconds += 86400;
    days -= 1;
  }
  // Civil date from a day count (H. Hinnant's algorithm).
  days += 719468;
  long long era = (days >= 0 ? days : days - 146096) / 146097;
  long long day_of_era = days - era * 146097;
  long long year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  long long shifted_month = (5 * day_of_year + 2) / 153;
  long long day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  long long month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;

  char name[4] = {months[(month - 1) * 3], months[(month - 1) * 3 + 1], months[(month - 1) * 3 + 2],
                  '\0'};
  line.append(name);
  line.append(" ");
  line.append_digits(static_cast<unsigned long>(day), 2, ' ');
  line.append(" ");
  line.append_digits(static_cast<unsigned long>(seconds / 3600), 2, '0');
  line.append(":");
  line.append_digits(static_cast<unsigned long>(seconds / 60 % 60), 2, '0');
  line.append(":");
  line.append_digits(static_cast<unsigned long>(seconds % 60), 2, '0');
}

}  // namespace

void signal_log_prepare(const char *ident) {
  log_ident = ident != nullptr ? ident : "";
  stamp_offset = syslog_clock_offset(time(nullptr));
  if (log_socket < 0) log_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

void signal_log_write(int priority, const char *before, int number, const char *after) {
  if (log_socket < 0) return;
  int saved_errno = errno;

  line_buffer line{};
  line.append("<");
  line.append_digits(static_cast<unsigned long>(priority), 1, '0');
  line.append(">");
  append_stamp(line, time(nullptr));
  line.append(" ");
  line.append(log_ident);
  line.append("[");
  line.append_digits(static_cast<unsigned long>(getpid()), 1, '0');
  line.append("]: ");
  line.append(before);
  if (number >= 0) line.append_digits(static_cast<unsigned long>(number), 1, '0');
  line.append(after);

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, LOG_SOCKET_PATH, sizeof LOG_SOCKET_PATH);
  (void)sendto(log_socket, line.text, line.used, MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr *>(&address), sizeof address);
  errno = saved_errno;
}
