// SPDX-License-Identifier: MIT
#include "sync/json_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "lib/c_guards.h"

json_doc json_file_parse(const char *path) {
  unique_fd fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return json_doc();
  struct stat info {};
  // A FIFO or device could block the run or never end; only plain files.
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > JSON_FILE_MAX_BYTES)
    return json_doc();
  return json_doc(json_object_from_fd(fd.get()));
}
