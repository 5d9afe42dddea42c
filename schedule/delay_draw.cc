// SPDX-License-Identifier: MIT
#include "schedule/delay_draw.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>

#include "lib/c_guards.h"

long delay_draw(long min_delay, long range) {
  unsigned long long draw = 0;
  unique_fd fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (!fd.valid() || read(fd.get(), &draw, sizeof draw) != static_cast<ssize_t>(sizeof draw)) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    draw = static_cast<unsigned long long>(now.tv_sec) * 1000000007ull +
           static_cast<unsigned long long>(now.tv_nsec);
  }
  return delay_pick(min_delay, range, draw);
}

long delay_pick(long min_delay, long range, unsigned long long draw) {
  // range is at most 999999999: the bias of the modulo over 64 bits is
  // below one in ten billion.
  return min_delay + static_cast<long>(draw % static_cast<unsigned long long>(range));
}
