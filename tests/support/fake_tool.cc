// SPDX-License-Identifier: MIT
#include "tests/support/fake_tool.h"

#include <sys/stat.h>

fake_tool::fake_tool(const std::string &name, int status) : path_(dir_.path()) {
  dir_.write(name, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + dir_.file("calls") + "'\nexit " +
                       std::to_string(status) + "\n");
  chmod(dir_.file(name).c_str(), 0755);
}

std::string fake_tool::calls() const {
  std::string all = dir_.read("calls");
  return all == "<missing>" ? "" : all;
}
