// SPDX-License-Identifier: MIT
#include "daemon/pidfile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "lib/c_guards.h"

namespace {

// Only this many bytes of a pid file are ever read back.
constexpr size_t PID_TEXT_MAX = 15;
constexpr mode_t PID_FILE_MODE = 0640;
// Rounds of open-lock-verify before the guard gives up on a path that
// keeps changing under it.
constexpr int GUARD_ATTEMPTS = 8;
// How long a start waits for another start that replaces a file that is
// not the daemon's own: a few system calls' work, given two seconds on a
// busy machine.
constexpr int REPLACE_WAITS = 200;
constexpr long REPLACE_PAUSE_NS = 10 * 1000 * 1000;

// The descriptor whose lock marks the running instance; never closed.
int held_lock = -1;

[[noreturn]] void refuse() {
  puts("There's already a service running.");
  exit(1);
}

bool same_file(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes what stands at path when it is still the object described by
// seen (what a fresh pid file is to replace). 0 when it is gone (also when
// something else removed it first), -1 when it cannot be removed.
int remove_if_unchanged(const char *path, const struct stat &seen) {
  struct stat now {};
  if (lstat(path, &now) != 0 || !same_file(now, seen)) return 0;
  return unlink(path) == 0 || errno == ENOENT ? 0 : -1;
}

// Removes the object that fd opened at path, described by seen, while
// holding that object's lock: a start that saw the same object waits for
// the one removing it and then finds the fresh file, instead of removing
// that fresh file (locked by a start that went on) in its turn. A lock
// that stays taken for REPLACE_WAITS rounds is its owner's, not a start's:
// the object goes all the same. 0 when it is gone, -1 when it cannot be
// removed.
int replace_under_lock(const char *path, int fd, const struct stat &seen) {
  for (int round = 0; round < REPLACE_WAITS && flock(fd, LOCK_EX | LOCK_NB) != 0; ++round) {
    if (errno != EWOULDBLOCK) break;  // no locks on this file system
    struct stat now {};
    if (lstat(path, &now) != 0 || !same_file(now, seen)) return 0;  // replaced meanwhile
    const timespec pause{0, REPLACE_PAUSE_NS};
    nanosleep(&pause, nullptr);
  }
  return remove_if_unchanged(path, seen);
}

struct guard_file {
  unique_fd fd;
  bool writable = false;
};

// A pid file is this daemon's own only when this user could have made it
// and nobody else can reach it by another name: a regular file of the
// effective user with one link. Anything else (another user's file, which
// that user may rewrite at any time, or a hard link to a file elsewhere) is
// removed and made afresh, never written through.
bool own_pid_file(const struct stat &info) {
  return S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1;
}

constexpr int OPEN_FLAGS = O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;

// Opens the pid file without following a link: an own file read-write, or
// a fresh one made with O_EXCL where there is none; else read-only (a
// read-only /tmp, a directory in the way), else not at all. Whatever else
// stands at path (a link, FIFO, socket, device node, a file that is not
// ours) is replaced by a fresh file.
guard_file guard_open(const char *path) {
  for (int attempt = 0; attempt < GUARD_ATTEMPTS; ++attempt) {
    unique_fd fd(open(path, O_RDWR | OPEN_FLAGS));
    if (!fd.valid() && errno == ENOENT) {
      fd.reset(open(path, O_RDWR | O_CREAT | O_EXCL | OPEN_FLAGS, PID_FILE_MODE));
      if (fd.valid()) return {std::move(fd), true};
      if (errno == EEXIST) continue;  // another start made it first
    }
    struct stat info {};
    if (!fd.valid()) {
      // ELOOP: a symbolic link; ENXIO: a socket.
      if ((errno == ELOOP || errno == ENXIO) && lstat(path, &info) == 0 &&
          remove_if_unchanged(path, info) == 0)
        continue;
      return {unique_fd(open(path, O_RDONLY | OPEN_FLAGS)), false};
    }
    if (fstat(fd.get(), &info) == 0 && own_pid_file(info)) return {std::move(fd), true};
    // Held until the loop opens path again, so that the lock covers the
    // removal and the fresh file's creation is raced fairly.
    if (replace_under_lock(path, fd.get(), info) != 0)
      return {unique_fd(open(path, O_RDONLY | OPEN_FLAGS)), false};
  }
  return {};
}

// Opens and locks the pid file. A start that finds the lock taken is
// refused; a file replaced at path between the open and the lock is opened
// again, so that the lock is always held on the file that path names.
guard_file guard_take(const char *path) {
  for (int attempt = 0; attempt < GUARD_ATTEMPTS; ++attempt) {
    guard_file file = guard_open(path);
    if (!file.fd.valid()) return file;
    if (flock(file.fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) refuse();
      return file;  // no locks on this file system: the pid check alone
    }
    struct stat held {};
    struct stat named {};
    if (fstat(file.fd.get(), &held) == 0 && lstat(path, &named) == 0 && same_file(held, named))
      return file;
  }
  return {};
}

}  // namespace

int pidfile_read_pid(int fd) {
  char text[PID_TEXT_MAX + 1] = {};
  ssize_t count = pread(fd, text, PID_TEXT_MAX, 0);
  if (count < 0) return 0;
  text[count] = '\0';
  // atoi() without its undefined overflow: strtol, then the same
  // conversion to int that the C library's atoi makes.
  return static_cast<int>(strtol(text, nullptr, 10));
}

pid_t pidfile_lock(const char *path) {
  guard_file file = guard_take(path);
  int pid = file.fd.valid() ? pidfile_read_pid(file.fd.get()) : 0;
  if (pid != 0 && pid != getpid() && kill(pid, 0) == 0) refuse();

  pid_t session = setsid();
  if (!file.writable) {
    // Read-only (a read-only /tmp): no pid is written, the lock still holds.
    held_lock = file.fd.release();
    return session;
  }

  char text[16] = {};
  int length = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
  (void)!ftruncate(file.fd.get(), 0);
  if (pwrite(file.fd.get(), text, static_cast<size_t>(length), 0) == -1) {
    printf("Unable to write to %s.\n", path);
    exit(1);
  }
  // A file left by an earlier run keeps its mode: give it the one a fresh
  // file gets.
  mode_t mask = umask(0);
  umask(mask);
  (void)fchmod(file.fd.get(), PID_FILE_MODE & ~mask);
  held_lock = file.fd.release();
  return session;
}
