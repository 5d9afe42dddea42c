// SPDX-License-Identifier: MIT
// Owners for the C library's handles.
//
// Each guard releases its handle exactly once, on every path out of the
// scope that holds it; copies are impossible, moves hand ownership on.
// Guards for the handles of other libraries (json-c, libcurl, mbedTLS, PCRE,
// UCI) stand beside the code that uses those libraries.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

struct free_deleter {
  void operator()(void *p) const noexcept { free(p); }
};

// Bytes from the C allocator, released with free().
template <class T>
using heap_ptr = std::unique_ptr<T, free_deleter>;

struct file_closer {
  void operator()(FILE *stream) const noexcept { fclose(stream); }
};

// A stdio stream, closed with fclose().
using unique_file = std::unique_ptr<FILE, file_closer>;

// A file descriptor, closed with close(); -1 means none.
class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  unique_fd(const unique_fd &) = delete;
  unique_fd &operator=(const unique_fd &) = delete;
  unique_fd(unique_fd &&other) noexcept : fd_(other.release()) {}
  unique_fd &operator=(unique_fd &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_fd() { reset(); }

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held so far; returns close()'s result (0 for none).
  int reset(int fd = -1) {
    int result = 0;
    if (fd_ >= 0) result = close(fd_);
    fd_ = fd;
    return result;
  }

 private:
  int fd_ = -1;
};
