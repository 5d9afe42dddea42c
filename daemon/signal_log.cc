// SPDX-License-Identifier: MIT
#include "daemon/signal_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "daemon/syslog_clock.h"

namespace {

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

// One 32-bit word of a long division by d (under 2^31), bit by bit: the
// quotient's word, with the remainder carried in *rest from the word
// before and out to the next. 64-bit division would bring in the C
// runtime's helpers, over three kilobytes of a 32-bit program.
uint32_t word_divide(uint32_t word, uint32_t d, uint32_t *rest) {
  uint32_t quotient = 0;
  for (int bit = 31; bit >= 0; --bit) {
    *rest = *rest << 1 | (word >> bit & 1);
    if (*rest >= d) {
      *rest -= d;
      quotient |= 1u << bit;
    }
  }
  return quotient;
}

// n / d into n, the remainder returned.
uint32_t divide(uint64_t *n, uint32_t d) {
  uint32_t rest = 0;
  const uint32_t high = word_divide(static_cast<uint32_t>(*n >> 32), d, &rest);
  const uint32_t low = word_divide(static_cast<uint32_t>(*n), d, &rest);
  *n = static_cast<uint64_t>(high) << 32 | low;
  return rest;
}

}  // namespace

void syslog_stamp_format(long long local, char (&out)[SYSLOG_STAMP_SIZE]) {
  static constexpr char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  // The calendar repeats every 400 years (146097 days); moved by a whole
  // number of those, a time before 1970 counts as one after it. Only the
  // day within the cycle is needed: the stamp has no year.
  constexpr uint64_t CYCLE_SECONDS = 146097ULL * 86400;
  constexpr uint64_t EARLIER = 64 * CYCLE_SECONDS;
  uint64_t days = static_cast<uint64_t>(local) + EARLIER;
  const uint32_t seconds = divide(&days, 86400);
  // Days from 0000-03-01, within the cycle (H. Hinnant's civil date).
  days += 719468;
  const long day_of_era = static_cast<long>(divide(&days, 146097));
  const long year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long shifted_month = (5 * day_of_year + 2) / 153;
  const long day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const long month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;

  line_buffer line{};
  const char name[4] = {months[(month - 1) * 3], months[(month - 1) * 3 + 1],
                        months[(month - 1) * 3 + 2], '\0'};
  line.append(name);
  line.append(" ");
  line.append_digits(static_cast<unsigned long>(day), 2, ' ');
  line.append(" ");
  line.append_digits(seconds / 3600, 2, '0');
  line.append(":");
  line.append_digits(seconds / 60 % 60, 2, '0');
  line.append(":");
  line.append_digits(seconds % 60, 2, '0');
  const size_t used = line.used < SYSLOG_STAMP_SIZE ? line.used : SYSLOG_STAMP_SIZE - 1;
  memcpy(out, line.text, used);
  out[used] = '\0';
}

sockaddr_un syslog_socket_address() {
  static constexpr char LOG_SOCKET_PATH[] = "/dev/log";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, LOG_SOCKET_PATH, sizeof LOG_SOCKET_PATH);
  return address;
}

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
  char stamp[SYSLOG_STAMP_SIZE];
  syslog_stamp_format(static_cast<long long>(time(nullptr)) + stamp_offset, stamp);
  line.append(stamp);
  line.append(" ");
  line.append(log_ident);
  line.append("[");
  line.append_digits(static_cast<unsigned long>(getpid()), 1, '0');
  line.append("]: ");
  line.append(before);
  if (number >= 0) line.append_digits(static_cast<unsigned long>(number), 1, '0');
  line.append(after);

  const sockaddr_un address = syslog_socket_address();
  (void)sendto(log_socket, line.text, line.used, MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr *>(&address), sizeof address);
  errno = saved_errno;
}
