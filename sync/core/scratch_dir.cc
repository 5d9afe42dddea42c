// SPDX-License-Identifier: MIT
#include "sync/core/scratch_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/text.h"

namespace {

// Removes the entries of the folder name in the folder at at (links and
// files alike, never followed), then the folder itself.
void folder_remove(int at, const char *name) {
  int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr && fd >= 0) close(fd);
  if (dir != nullptr) {
    while (const dirent *entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
        (void)unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
  }
  (void)unlinkat(at, name, AT_REMOVEDIR);
}

// Folders "<prefix>.XXXXXX" of this user left in parent by a load that was
// killed (one daemon runs at a time, so none is in use): each would keep
// megabytes of RAM until the next boot. Another user's folder is left
// alone.
void leftovers_remove(const char *parent, const char *prefix) {
  int fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    if (fd >= 0) close(fd);
    return;
  }
  const size_t length = strlen(prefix);
  while (const dirent *entry = readdir(dir)) {
    const char *name = entry->d_name;
    struct stat info {};
    if (strncmp(name, prefix, length) != 0 || name[length] != '.' ||
        strlen(name + length + 1) != 6 ||
        fstatat(dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != geteuid())
      continue;
    folder_remove(dirfd(dir), name);
  }
  closedir(dir);
}

}  // namespace

int scratch_dir::make(const char *parent, const char *prefix) {
  path_[0] = '\0';
  if (parent == nullptr || prefix == nullptr || prefix[0] == '\0') {
    errno = EINVAL;
    return -1;
  }
  for (const char *p = prefix; *p != '\0'; ++p) {
    if (!ascii_alnum(*p) && strchr("_-.", *p) == nullptr) {
      errno = EINVAL;
      return -1;
    }
  }
  leftovers_remove(parent, prefix);
  char templ[sizeof path_];
  if (!format_fits(snprintf(templ, sizeof templ, "%s/%s.XXXXXX", parent, prefix), sizeof templ)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  if (mkdtemp(templ) == nullptr) return -1;
  memcpy(path_, templ, sizeof path_);
  return 0;
}

int scratch_dir::file(const char *name, char *out, size_t size) const {
  if (path_[0] == '\0' || name == nullptr || strchr(name, '/') != nullptr) return -1;
  return format_fits(snprintf(out, size, "%s/%s", path_, name), size) ? 0 : -1;
}

scratch_dir::~scratch_dir() {
  // Only the load writes here: whatever stands in the folder goes.
  if (path_[0] != '\0') folder_remove(AT_FDCWD, path_);
}
