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
#include <utility>

#include "lib/c_guards.h"

namespace {

// Only this many bytes of a pid file are ever read back.
constexpr size_t PID_TEXT_MAX = 15;
constexpr mode_t PID_FILE_MODE = 0640;
constexpr mode_t LOCK_DIR_MODE = 0700;
constexpr mode_t LOCK_FILE_MODE = 0600;
// Rounds of remove-and-create before the guard gives up on a pid path that
// another user keeps filling under it.
constexpr int REPLACE_ATTEMPTS = 8;
constexpr int OPEN_FLAGS = O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;

// The descriptors whose locks mark the running instance; never closed.
int held_lock = -1;
int held_pid_file = -1;

// A pid file is this daemon's own only when this user could have made it
// and nobody else can reach it by another name: a regular file of the
// effective user with one link. Anything else (another user's file, which
// that user may rewrite at any time, or a hard link to a file elsewhere) is
// never read, written through or locked.
bool own_pid_file(const struct stat &info) {
  return S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1;
}

bool names_another_instance(int fd) {
  int pid = pidfile_read_pid(fd);
  return pid != 0 && pid != getpid() && kill(pid, 0) == 0;
}

// Opens lock_dir/LOCK_NAME, making both where missing. Not valid, with the
// reason, when lock_dir is not a folder of this user that nobody else may
// write (so that nobody else can plant the lock file) or the file cannot be
// had.
unique_fd lock_file_open(const char *lock_dir, const char **reason) {
  if (mkdir(lock_dir, LOCK_DIR_MODE) != 0 && errno != EEXIST) {
    *reason = "the lock folder cannot be made";
    return {};
  }
  unique_fd dir(open(lock_dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!dir.valid() || fstat(dir.get(), &info) != 0) {
    *reason = "the lock folder cannot be opened";
    return {};
  }
  if (info.st_uid != geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    *reason = "the lock folder is not the daemon's own";
    return {};
  }
  unique_fd file(openat(dir.get(), LOCK_NAME, O_RDWR | O_CREAT | OPEN_FLAGS, LOCK_FILE_MODE));
  // A read-only folder: a lock file made at an earlier start still locks.
  if (!file.valid()) file.reset(openat(dir.get(), LOCK_NAME, O_RDONLY | OPEN_FLAGS));
  if (!file.valid() || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_uid != geteuid()) {
    *reason = "the lock file cannot be made";
    return {};
  }
  return file;
}

// Writes this pid into the own file open at fd and keeps it open (and
// locked, where it could be) for the rest of the run.
guard_result pid_write(unique_fd fd, guard_result done) {
  char text[16] = {};
  int length = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
  (void)!ftruncate(fd.get(), 0);
  if (pwrite(fd.get(), text, static_cast<size_t>(length), 0) == -1)
    return {GUARD_WRITE_FAILED, "the pid cannot be written"};
  // A file left by an earlier run keeps its mode: give it the one a fresh
  // file gets.
  mode_t mask = umask(0);
  umask(mask);
  (void)fchmod(fd.get(), PID_FILE_MODE & ~mask);
  held_pid_file = fd.release();
  return done;
}

// With the instance lock held: refuses when the own pid file names another
// live process, else replaces whatever else stands at path with a fresh
// file. Every start that could remove something at path waits for the
// lock first, so what is removed here is never another start's file.
guard_result pid_file_replace(const char *path) {
  unique_fd old(open(path, O_RDONLY | OPEN_FLAGS));
  struct stat info {};
  if (old.valid() && fstat(old.get(), &info) == 0 && own_pid_file(info) &&
      names_another_instance(old.get()))
    return {GUARD_REFUSED, nullptr};
  old.reset();
  for (int attempt = 0; attempt < REPLACE_ATTEMPTS; ++attempt) {
    unique_fd fd(open(path, O_RDWR | OPEN_FLAGS));
    if (fd.valid() && fstat(fd.get(), &info) == 0 && own_pid_file(info)) {
      // A start that found the lock folder unusable locks the file itself.
      if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return {GUARD_REFUSED, nullptr};
      return pid_write(std::move(fd), {GUARD_LOCKED, nullptr});
    }
    if (!fd.valid() && errno == ENOENT) {
      fd.reset(open(path, O_RDWR | O_CREAT | O_EXCL | OPEN_FLAGS, PID_FILE_MODE));
      if (fd.valid()) return pid_write(std::move(fd), {GUARD_LOCKED, nullptr});
      if (errno == EEXIST) continue;  // another user planted a name meanwhile
      return {GUARD_NO_PID_FILE, "the pid file cannot be made"};
    }
    // A link, FIFO, socket, device, folder, another user's file, a hard
    // link, or an own file on a read-only /tmp: never followed or read.
    if (unlink(path) != 0 && errno != ENOENT)
      return {GUARD_NO_PID_FILE, "what stands at the pid path cannot be removed"};
  }
  return {GUARD_NO_PID_FILE, "the pid path keeps changing"};
}

// Without a lock folder: the pid file itself is the lock, and nothing at
// path is ever removed (no lock would cover the removal).
guard_result pid_file_lock_in_place(const char *path, const char *folder_reason) {
  unique_fd fd(open(path, O_RDWR | OPEN_FLAGS));
  bool writable = fd.valid();
  if (!fd.valid() && errno == ENOENT) {
    fd.reset(open(path, O_RDWR | O_CREAT | O_EXCL | OPEN_FLAGS, PID_FILE_MODE));
    writable = fd.valid();
  }
  if (!fd.valid()) fd.reset(open(path, O_RDONLY | OPEN_FLAGS));
  struct stat info {};
  if (!fd.valid() || fstat(fd.get(), &info) != 0 || !own_pid_file(info))
    return {GUARD_NO_LOCK, "no lock folder, and the pid path holds no file of the daemon's own"};
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return {GUARD_REFUSED, nullptr};
    return {GUARD_NO_LOCK, "no lock folder, and the pid file cannot be locked"};
  }
  // Nobody removes an own file here: the locked file is the one path names.
  if (names_another_instance(fd.get())) return {GUARD_REFUSED, nullptr};
  if (!writable) {
    held_pid_file = fd.release();
    return {GUARD_NO_PID_FILE, "no lock folder; the read-only pid file is locked as it stands"};
  }
  return pid_write(std::move(fd), {GUARD_LOCKED_PID_FILE, folder_reason});
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

guard_result pidfile_lock(const char *path, const char *lock_dir) {
  const char *folder_reason = nullptr;
  unique_fd lock = lock_file_open(lock_dir, &folder_reason);
  if (!lock.valid()) return pid_file_lock_in_place(path, folder_reason);
  if (flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return {GUARD_REFUSED, nullptr};
    return pid_file_lock_in_place(path, "the lock folder has no locks");
  }
  held_lock = lock.release();
  return pid_file_replace(path);
}

const char *guard_outcome_text(guard_outcome outcome) {
  switch (outcome) {
    case GUARD_LOCKED: return "locked";
    case GUARD_LOCKED_PID_FILE: return "locked in the pid file";
    case GUARD_NO_PID_FILE: return "runs without a pid file";
    case GUARD_NO_LOCK: return "runs without a lock";
    case GUARD_REFUSED: return "refused";
    case GUARD_WRITE_FAILED: return "pid not written";
  }
  return "unknown";
}
