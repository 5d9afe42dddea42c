// SPDX-License-Identifier: MIT
#include "tests/support/temp_dir.h"

#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

temp_dir::temp_dir() {
  const char *base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quorvel-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) abort();
  path_ = pattern;
}

temp_dir::~temp_dir() {
  nftw(
      path_.c_str(),
      [](const char *path, const struct stat *, int, struct FTW *) { return remove(path); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

void temp_dir::write(const std::string &name, const std::string &content) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string temp_dir::read(const std::string &name) const {
  return file_read_all(file(name));
}

std::string file_read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

path_prefix::path_prefix(const std::string &dir) {
  const char *old = getenv("PATH");
  saved_ = old != nullptr ? old : "";
  std::string updated = dir + ":" + saved_;
  setenv("PATH", updated.c_str(), 1);
}

path_prefix::~path_prefix() {
  setenv("PATH", saved_.c_str(), 1);
}
