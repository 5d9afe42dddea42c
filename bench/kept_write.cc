// SPDX-License-Identifier: MIT
// The write of the kept list: COUNT addresses (10.x.y.z, as the add and
// swap modes keep them) stored at PATH, timed from the first element to the
// folder's flush, then stored once more unchanged (a refill of the same
// list, which must write nothing). Prints one JSON object.
//
//   kept_write PATH COUNT
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "sync/kept_list.h"

namespace {

double seconds_since(const timespec &start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) +
         static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: kept_write PATH COUNT\n");
    return 2;
  }
  const long count = strtol(argv[2], nullptr, 10);
  kept_list_remove(argv[1]);  // each run writes a new file
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  kept_list list;
  if (kept_list_begin(&list, "bench") != 0) return 1;
  for (long i = 0; i < count; ++i) {
    char element[32];
    snprintf(element, sizeof element, "10.%ld.%ld.%ld", i / 65536 % 256, i / 256 % 256, i % 256);
    if (kept_list_add(&list, element) != 0) return 1;
  }
  const double built = seconds_since(start);
  if (kept_list_store(argv[1], list) != 0) return 1;
  const double stored = seconds_since(start);
  timespec again{};
  clock_gettime(CLOCK_MONOTONIC, &again);
  if (kept_list_store(argv[1], list) != 1) return 1;
  const double unchanged = seconds_since(again);
  struct stat info {};
  if (stat(argv[1], &info) != 0) return 1;
  printf(
      "{\"count\": %ld, \"bytes\": %zu, \"build_s\": %.6f, \"write_s\": %.6f, "
      "\"unchanged_s\": %.6f}\n",
      count, static_cast<size_t>(info.st_size), built, stored - built, unchanged);
  return 0;
}
