// SPDX-License-Identifier: MIT
// A fresh directory per test, removed with everything in it when the
// owner goes out of scope, also after a failed assertion.
#pragma once

#include <string>

class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir &) = delete;
  temp_dir &operator=(const temp_dir &) = delete;

  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

  // Writes content to name inside the directory (created or replaced).
  void write(const std::string &name, const std::string &content) const;
  // The whole content of name, or "<missing>" when it cannot be read.
  std::string read(const std::string &name) const;

 private:
  std::string path_;
};

// Reads a whole file; "<missing>" when it cannot be opened.
std::string file_read_all(const std::string &path);

// Puts dir first on PATH for the lifetime of the owner.
class path_prefix {
 public:
  explicit path_prefix(const std::string &dir);
  ~path_prefix();
  path_prefix(const path_prefix &) = delete;
  path_prefix &operator=(const path_prefix &) = delete;

 private:
  std::string saved_;
};
