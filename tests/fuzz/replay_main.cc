// SPDX-License-Identifier: MIT
// Runs a fuzz target over a kept corpus without the fuzzing engine, so that
// every build replays the inputs that once found a fault or widened the
// coverage. Arguments: files or directories of inputs.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_target.h"

namespace {

int replayed = 0;

void replay_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  ++replayed;
}

void replay(const std::string &path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return;
  if (!S_ISDIR(info.st_mode)) {
    replay_file(path);
    return;
  }
  DIR *dir = opendir(path.c_str());
  if (dir == nullptr) return;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") replay(path + "/" + name);
  }
  closedir(dir);
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) replay(argv[i]);
  printf("%d inputs replayed\n", replayed);
  // A corpus that went missing must not pass as a clean run.
  return replayed > 0 ? 0 : 1;
}
