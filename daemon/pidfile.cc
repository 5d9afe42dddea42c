#include "daemon/pidfile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "lib/c_guards.h"

namespace {

// Only this many bytes of a pid file are ever read back.
constexpr size_t PID_TEXT_MAX = 15;

// The pid recorded at path, or 0 when the file cannot be opened or read.
int recorded_pid(const char *path) {
  unique_fd fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return 0;
  char text[PID_TEXT_MAX + 1] = {};
  ssize_t count = read(fd.get(), text, PID_TEXT_MAX);
  if (count < 0) return 0;
  text[count] = '\0';
  // atoi() without its undefined overflow: strtol, then the same
  // conversion to int that the C library's atoi makes.
  return static_cast<int>(strtol(text, nullptr, 10));
}

}  // namespace

pid_t pidfile_lock(const char *path) {
  int pid = recorded_pid(path);
  if (pid != 0 && pid != getpid() && kill(pid, 0) == 0) {
    puts("There's already a service running.");
    exit(1);
  }

  pid_t session = setsid();

  unlink(path);
  unique_fd fd(open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0640));
  if (!fd.valid()) return session;

  char text[16] = {};
  int length = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
  if (write(fd.get(), text, static_cast<size_t>(length)) == -1) {
    printf("Unable to write to %s.\n", path);
    fd.reset();
    exit(1);
  }
  return session;
}
