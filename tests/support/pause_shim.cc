// SPDX-License-Identifier: MIT
// A preload library of the tests, never shipped: it makes a process pause
// after each call that looks up, opens, locks or removes a file, as if
// the scheduler pre-empted it there, so that simultaneous starts meet at
// every step of the single-instance guard. Each pause is drawn between 0
// and QUORVEL_PAUSE_US microseconds, from a seed of the process's own, so
// that the starts fall out of step; unset or 0, calls pass straight through.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <ctime>

namespace {

void pause_now() {
  static long micros = [] {
    const char *text = getenv("QUORVEL_PAUSE_US");
    return text == nullptr ? 0L : strtol(text, nullptr, 10);
  }();
  if (micros <= 0) return;
  int saved = errno;
  static unsigned seed = static_cast<unsigned>(getpid());
  long drawn = rand_r(&seed) % (micros + 1);
  timespec span{drawn / 1000000, (drawn % 1000000) * 1000};
  nanosleep(&span, nullptr);
  errno = saved;
}

template <class F>
F next(const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

mode_t mode_of(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  static auto real = next<int (*)(const char *, int, ...)>("open");
  int fd = real(path, flags, mode);
  pause_now();
  return fd;
}

int open64(const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  static auto real = next<int (*)(const char *, int, ...)>("open64");
  int fd = real(path, flags, mode);
  pause_now();
  return fd;
}

int openat(int dir, const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  static auto real = next<int (*)(int, const char *, int, ...)>("openat");
  int fd = real(dir, path, flags, mode);
  pause_now();
  return fd;
}

int lstat(const char *path, struct stat *info) {
  static auto real = next<int (*)(const char *, struct stat *)>("lstat");
  int status = real(path, info);
  pause_now();
  return status;
}

int fstat(int fd, struct stat *info) {
  static auto real = next<int (*)(int, struct stat *)>("fstat");
  int status = real(fd, info);
  pause_now();
  return status;
}

int unlink(const char *path) {
  pause_now();
  static auto real = next<int (*)(const char *)>("unlink");
  int status = real(path);
  pause_now();
  return status;
}

int mkdir(const char *path, mode_t mode) {
  static auto real = next<int (*)(const char *, mode_t)>("mkdir");
  int status = real(path, mode);
  pause_now();
  return status;
}

int flock(int fd, int operation) {
  static auto real = next<int (*)(int, int)>("flock");
  int status = real(fd, operation);
  pause_now();
  return status;
}

}  // extern "C"
