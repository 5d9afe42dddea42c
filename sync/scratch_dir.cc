#include "sync/scratch_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/text.h"

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
  if (path_[0] == '\0') return;
  // Only the load writes here: whatever stands in the folder goes, and a
  // link is removed, never followed.
  int fd = open(path_, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr && fd >= 0) close(fd);
  if (dir != nullptr) {
    while (const dirent *entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
        (void)unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
  }
  (void)rmdir(path_);
}
