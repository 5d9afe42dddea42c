// SPDX-License-Identifier: MIT
// Sends the process's standard output into a file while the owner lives,
// so a test can read what the code under test printed there.
#pragma once

#include <string>

class stdout_capture {
 public:
  explicit stdout_capture(const std::string &path);
  ~stdout_capture();
  stdout_capture(const stdout_capture &) = delete;
  stdout_capture &operator=(const stdout_capture &) = delete;

  // Restores standard output and returns what was written meanwhile.
  std::string finish();

 private:
  std::string path_;
  int saved_ = -1;
};
