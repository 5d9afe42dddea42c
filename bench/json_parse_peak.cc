// SPDX-License-Identifier: MIT
// The yardstick of the daemon's peak RSS: json-c parsing the same answer
// document alone, then printing its own peak RSS in KiB (too short a run
// for a sampler to see).
#include <json-c/json.h>
#include <sys/resource.h>

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  json_object *document = json_object_from_file(argv[1]);
  if (document == nullptr) return 1;
  json_object_put(document);
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 1;
  printf("%ld\n", usage.ru_maxrss);
  return 0;
}
