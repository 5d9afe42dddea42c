// SPDX-License-Identifier: MIT
// device_config_load reads /etc/config itself. Each case runs in a child
// process with a private mount namespace in which a temporary directory is
// bound over /etc, so the host's /etc is never seen or touched. Skipped
// where mount namespaces cannot be made (no privileges).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "identity/device_config.h"
#include "lib/log_verbose.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

struct load_outcome {
  bool ran = false;
  int status = 0;
  std::string device_id;
  std::string channel_secret;
  std::string log;     // the captured syslog lines
  std::string errors;  // what went to standard error
};

// Child side: everything it has to report goes to out as NUL-separated
// fields; exit status 2 means the namespace could not be made.
[[noreturn]] void load_in_child(const std::string &etc, const std::string &errors_file,
                                bool verbose, int out) {
  if (unshare(CLONE_NEWNS) != 0) _exit(2);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(2);
  if (mount(etc.c_str(), "/etc", nullptr, MS_BIND, nullptr) != 0) _exit(2);
  int err = open(errors_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(3);

  log_capture_clear();
  log_verbose = verbose ? 1 : 0;
  device_config config;
  memset(&config, 'X', sizeof config);
  int status = device_config_load(&config);
  std::string report = std::to_string(status) + '\0' +
                       std::string(config.device_id, strnlen(config.device_id, 64)) + '\0' +
                       std::string(config.channel_secret, strnlen(config.channel_secret, 64)) +
                       '\0' + std::to_string(config.etc_size) + '\0' + log_capture_dump();
  ssize_t written = write(out, report.data(), report.size());
  _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 3);
}

// Runs device_config_load with /etc/config/messaging holding content (no
// such file when content is null).
load_outcome load_with(const char *content, bool verbose = false) {
  temp_dir etc;
  if (mkdir(etc.file("config").c_str(), 0755) != 0) return {};
  if (content != nullptr) etc.write("config/messaging", content);
  std::string errors_file = etc.file("stderr");

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return {};
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    load_in_child(etc.path(), errors_file, verbose, pipe_fds[1]);
  }
  close(pipe_fds[1]);
  std::string report;
  char chunk[4096];
  ssize_t got;
  while ((got = read(pipe_fds[0], chunk, sizeof chunk)) > 0) report.append(chunk, got);
  close(pipe_fds[0]);
  int wait_status = 0;
  if (child < 0 || waitpid(child, &wait_status, 0) != child) return {};
  if (!WIFEXITED(wait_status) || WEXITSTATUS(wait_status) != 0) return {};

  load_outcome outcome;
  outcome.ran = true;
  size_t start = 0;
  std::string fields[5];
  for (int i = 0; i < 5; ++i) {
    size_t end = i < 4 ? report.find('\0', start) : report.size();
    if (end == std::string::npos) return {};
    fields[i] = report.substr(start, end - start);
    start = end + 1;
  }
  outcome.status = std::stoi(fields[0]);
  outcome.device_id = fields[1];
  outcome.channel_secret = fields[2];
  EXPECT_EQ(fields[3], "0") << "etc size is never set";
  outcome.log = fields[4];
  outcome.errors = file_read_all(errors_file);
  return outcome;
}

bool namespaces_available() {
  static int available = -1;
  if (available < 0) available = load_with(nullptr).ran ? 1 : 0;
  return available == 1;
}

class ConfigLoadInNamespace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!namespaces_available()) GTEST_SKIP() << "no private mount namespace here";
  }
};

constexpr char BOTH[] =
    "config info 'deviceInfo'\n"
    "\toption DEVICE_ID 'dev-0042'\n"
    "\toption CHANNEL_SECRET 's3cr3t'\n";

TEST_F(ConfigLoadInNamespace, BothOptionsWithTheDumpOnlyWhileVerbose) {
  load_outcome quiet = load_with(BOTH);
  ASSERT_TRUE(quiet.ran);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.device_id, "dev-0042");
  EXPECT_EQ(quiet.channel_secret, "s3cr3t");
  EXPECT_EQ(quiet.log, "");
  EXPECT_EQ(quiet.errors, "");

  load_outcome verbose = load_with(BOTH, true);
  ASSERT_TRUE(verbose.ran);
  EXPECT_EQ(verbose.status, 0);
  EXPECT_EQ(verbose.log,
            "<6> config\n\tdevice id:dev-0042\n\tchannel_secret:s3cr3t\n\tetc size: 0\n");
}

TEST_F(ConfigLoadInNamespace, DeviceIdAsAListAndCutToSixtyThree) {
  std::string long_id(100, '7');
  std::string content =
      "config info 'deviceInfo'\n\tlist DEVICE_ID a\n\tlist DEVICE_ID b\n"
      "\tlist DEVICE_ID c\n\toption CHANNEL_SECRET '" +
      long_id + "'\n";
  load_outcome outcome = load_with(content.c_str());
  ASSERT_TRUE(outcome.ran);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.device_id, "a b c");
  EXPECT_EQ(outcome.channel_secret, std::string(63, '7'));
}

TEST_F(ConfigLoadInNamespace, MissingDeviceIdLeavesTheRecordEmpty) {
  load_outcome outcome = load_with(
      "config info 'deviceInfo'\n"
      "\toption CHANNEL_SECRET 's3cr3t'\n");
  ASSERT_TRUE(outcome.ran);
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.device_id, "");
  // The secret is not even looked up.
  EXPECT_EQ(outcome.channel_secret, "");
  EXPECT_EQ(outcome.log, "<4> config load error.\n");
  EXPECT_EQ(outcome.errors, "");
}

TEST_F(ConfigLoadInNamespace, MissingSecretKeepsTheDeviceId) {
  load_outcome outcome = load_with(
      "config info 'deviceInfo'\n"
      "\toption DEVICE_ID 'dev-0042'\n");
  ASSERT_TRUE(outcome.ran);
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.device_id, "dev-0042");
  EXPECT_EQ(outcome.channel_secret, "");
  EXPECT_EQ(outcome.log, "<4> config load error.\n");
}

TEST_F(ConfigLoadInNamespace, MissingOrBrokenPackageReportsTheLookupError) {
  load_outcome missing = load_with(nullptr, true);
  ASSERT_TRUE(missing.ran);
  EXPECT_EQ(missing.status, -1);
  EXPECT_EQ(missing.errors, "look uci error: Entry not found\n");
  EXPECT_EQ(missing.log, "<4> config load error.\n");

  load_outcome broken = load_with("config info 'deviceInfo'\n\toption DEVICE_ID 'open\n");
  ASSERT_TRUE(broken.ran);
  EXPECT_EQ(broken.status, -1);
  EXPECT_EQ(broken.errors.rfind("look uci error: Parse error (", 0), 0u) << broken.errors;
  EXPECT_EQ(broken.device_id, "");
}

}  // namespace
