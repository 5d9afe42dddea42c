// SPDX-License-Identifier: MIT
// A server process for a test, started from its command line and killed
// (SIGKILL, then reaped) when the owner goes out of scope, also after a
// failed assertion. The server announces itself with one line on its
// standard output, "listening on HOST:PORT", which the owner waits for.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class child_server {
 public:
  // Runs argv[0] (searched on PATH) with the arguments; waits up to 15 s
  // for the listening line.
  explicit child_server(const std::vector<std::string> &argv);
  ~child_server();
  child_server(const child_server &) = delete;
  child_server &operator=(const child_server &) = delete;

  // True once the listening line arrived.
  bool ready() const { return port_ > 0; }
  int port() const { return port_; }
  // "http://127.0.0.1:PORT" (or https) followed by path.
  std::string url(const std::string &path, bool tls = false) const;
  // What the server wrote to standard output so far (for messages).
  const std::string &output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string output_;
};

// The directory of the project's sources, for scripts the tests run.
std::string source_dir();
