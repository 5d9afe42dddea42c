// SPDX-License-Identifier: MIT
// A stand-in for an outside command, first on PATH while it lives: a shell
// script that appends its arguments, one call per line, to a record file
// and exits with a chosen status.
#pragma once

#include <string>

#include "tests/support/temp_dir.h"

class fake_tool {
 public:
  fake_tool(const std::string &name, int status = 0);

  // Every recorded call, one line each ("" when there was none).
  std::string calls() const;

 private:
  temp_dir dir_;
  path_prefix path_;
};
