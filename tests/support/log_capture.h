// SPDX-License-Identifier: MIT
// Test seam for syslog: the test programs define syslog() themselves, so
// the lines that the code under test writes are kept for inspection.
#pragma once

#include <string>
#include <vector>

struct captured_line {
  int priority;
  std::string text;
};

void log_capture_clear();
const std::vector<captured_line> &log_capture_lines();

// Count of captured lines with this priority and exact text.
int log_capture_count(int priority, const std::string &text);

// Count of captured lines with this priority whose text begins with prefix
// and ends with suffix: for texts that hold a library's own message, which
// differs between libraries (PCRE and PCRE2) after a common start.
int log_capture_count_framed(int priority, const std::string &prefix, const std::string &suffix);

// All captured lines, one per row, for assertion messages.
std::string log_capture_dump();
