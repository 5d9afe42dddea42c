// SPDX-License-Identifier: MIT
// A private folder in RAM for the files of one load (a restore or nft
// input, what the tools print): a list of tens of thousands of addresses is
// megabytes, written on every load, so it never goes to flash. The folder
// is made afresh under /tmp with mkdtemp (mode 0700, owned by the daemon),
// so nothing that another user planted there is ever read or followed.
#pragma once

#include <cstddef>

inline constexpr char SCRATCH_PARENT[] = "/tmp";

class scratch_dir {
 public:
  scratch_dir() = default;
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;
  // Removes the folder and the plain files, links and FIFOs in it.
  ~scratch_dir();

  // Makes "<parent>/<prefix>.XXXXXX", after removing the folders of that
  // pattern that this user left there (a load that was killed). 0 on
  // success, -1 with errno set (path() is then empty). prefix: letters,
  // digits, '_', '-', '.'.
  [[nodiscard]] int make(const char *parent, const char *prefix);
  // "<folder>/<name>" into out (size bytes). 0 when it fits, else -1.
  [[nodiscard]] int file(const char *name, char *out, size_t size) const;
  const char *path() const { return path_; }

 private:
  char path_[128] = {};
};
