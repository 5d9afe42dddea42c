// SPDX-License-Identifier: MIT
// Kept apart from cmd_run so that a program may bring a cmd_run of its own
// (the fuzz targets record commands instead of running them).
#include <cstdio>

#include "lib/cmd_run.h"

int cmd_print_run(const char *command) {
  printf("cmd:  %s\n", command == nullptr ? "" : command);
  return cmd_run(command);
}
