// SPDX-License-Identifier: MIT
// The pid file's content, as the single-instance guard reads it back: only
// its first 15 bytes count, converted as atoi() does, whatever follows.
#include "tests/fuzz/fuzz_target.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "daemon/pidfile.h"
#include "tests/fuzz/memory_file.h"

namespace {

constexpr size_t PID_TEXT_MAX = 15;

int read_back(const uint8_t *data, size_t size) {
  static memory_file file;
  file.fill(data, size);
  return pidfile_read_pid(file.fd());
}

// atoi's reading of the text before the first NUL: blanks, a sign, digits;
// the C library reads them as strtol does, into a long that stops at its
// limits (32 bits on MIPS and other 32-bit CPUs), and hands on the int.
int reference(const uint8_t *data, size_t size) {
  size_t i = 0;
  while (i < size && (data[i] == ' ' || (data[i] >= '\t' && data[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < size && (data[i] == '+' || data[i] == '-')) negative = data[i++] == '-';
  long long value = 0;  // at most 15 digits: no overflow
  for (; i < size && data[i] >= '0' && data[i] <= '9'; ++i) value = value * 10 + (data[i] - '0');
  value = negative ? -value : value;
  if (value > LONG_MAX) value = LONG_MAX;
  if (value < LONG_MIN) value = LONG_MIN;
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 4096) return 0;
  const size_t counted = size < PID_TEXT_MAX ? size : PID_TEXT_MAX;
  const int pid = read_back(data, size);
  if (pid != read_back(data, counted)) abort();  // nothing after 15 bytes counts
  size_t text = 0;
  while (text < counted && data[text] != 0) ++text;
  if (pid != reference(data, text)) abort();
  return 0;
}
