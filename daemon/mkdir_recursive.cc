// SPDX-License-Identifier: MIT
#include "daemon/mkdir_recursive.h"

#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "lib/c_guards.h"

int mkdir_recursive(const char *path, mode_t mode) {
  if (path == nullptr) return -1;
  if (access(path, F_OK) == 0) return 0;

  heap_ptr<char> copy(strdup(path));
  if (!copy) return -1;
  // dirname() may rewrite its argument: it works on the copy.
  const char *parent = dirname(copy.get());
  if (strcmp(parent, "/") != 0 && strcmp(parent, ".") != 0) (void)mkdir_recursive(parent, mode);

  return mkdir(path, mode) == -1 ? -1 : 0;
}
