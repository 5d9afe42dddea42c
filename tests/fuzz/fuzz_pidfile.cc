// The pid file's content, as the single-instance guard reads it back: only
// its first 15 bytes count, converted as atoi() does, whatever follows.
#include "tests/fuzz/fuzz_target.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "daemon/pidfile.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr size_t PID_TEXT_MAX = 15;

const std::string &pid_path() {
  static temp_dir dir;
  static std::string path = dir.file("quorvel.pid");
  return path;
}

int read_back(const uint8_t *data, size_t size) {
  const int fd = open(pid_path().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) abort();
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  const int pid = pidfile_read_pid(fd);
  close(fd);
  return pid;
}

// atoi's reading of the text before the first NUL: blanks, a sign, digits.
int reference(const uint8_t *data, size_t size) {
  size_t i = 0;
  while (i < size && (data[i] == ' ' || (data[i] >= '\t' && data[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < size && (data[i] == '+' || data[i] == '-')) negative = data[i++] == '-';
  long long value = 0;  // at most 15 digits: no overflow
  for (; i < size && data[i] >= '0' && data[i] <= '9'; ++i) value = value * 10 + (data[i] - '0');
  return static_cast<int>(negative ? -value : value);
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
