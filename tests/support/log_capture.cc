// SPDX-License-Identifier: MIT
#include "tests/support/log_capture.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>

#include "lib/log_verbose.h"

// The seam forwards the callers' formats, which are literals at their source.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

volatile sig_atomic_t log_verbose = 0;

namespace {
std::vector<captured_line> &lines() {
  static std::vector<captured_line> captured;
  return captured;
}

void capture(int priority, const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) vsnprintf(text.data(), text.size() + 1, format, args);
  lines().push_back({priority, text});
}
}  // namespace

extern "C" {
void __vsyslog_chk(int priority, int flag, const char *format, va_list args);
void __syslog_chk(int priority, int flag, const char *format, ...);
void openlog(const char *, int, int) {}
void closelog() {}
void vsyslog(int priority, const char *format, va_list args) {
  capture(priority, format, args);
}
void syslog(int priority, const char *format, ...) {
  va_list args;
  va_start(args, format);
  capture(priority, format, args);
  va_end(args);
}
// The fortified entry points, used when _FORTIFY_SOURCE is on.
void __vsyslog_chk(int priority, int, const char *format, va_list args) {
  capture(priority, format, args);
}
void __syslog_chk(int priority, int, const char *format, ...) {
  va_list args;
  va_start(args, format);
  capture(priority, format, args);
  va_end(args);
}
}

void log_capture_clear() {
  lines().clear();
}
const std::vector<captured_line> &log_capture_lines() {
  return lines();
}

int log_capture_count(int priority, const std::string &text) {
  int count = 0;
  for (const captured_line &line : lines())
    if (line.priority == priority && line.text == text) ++count;
  return count;
}

int log_capture_count_framed(int priority, const std::string &prefix, const std::string &suffix) {
  int count = 0;
  for (const captured_line &line : lines())
    if (line.priority == priority && line.text.size() >= prefix.size() + suffix.size() &&
        line.text.starts_with(prefix) && line.text.ends_with(suffix))
      ++count;
  return count;
}

std::string log_capture_dump() {
  std::string all;
  for (const captured_line &line : lines()) {
    all += '<';
    all += std::to_string(line.priority);
    all += "> ";
    all += line.text;
    if (!line.text.ends_with('\n')) all += '\n';
  }
  return all;
}
