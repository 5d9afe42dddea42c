// SPDX-License-Identifier: MIT
#include "lib/http_transfer.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "lib/len_buf.h"
#include "lib/log_verbose.h"
#include "tests/support/child_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/temp_dir.h"

namespace {

std::string server_script() {
  return source_dir() + "/tests/support/http_test_server.py";
}

std::string execute_fail_line(CURLcode code) {
  return std::string("server request execute fail: ") + curl_easy_strerror(code) + "\n";
}

// A loopback port that nothing listens on (bound, then released).
int closed_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr *>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

int open_descriptors() {
  int count = 0;
  DIR *fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  while (readdir(fds) != nullptr) ++count;
  closedir(fds);
  return count;
}

std::string text_of(const len_buf &buf) {
  return buf.bytes == nullptr ? std::string() : std::string(buf.bytes, buf.length);
}

// One plain HTTP server for the whole suite; its request log tells which
// requests reached it.
class HttpTransfer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new temp_dir;
    server_ = new child_server({"python3", server_script(), "--log", dir_->file("requests")});
  }
  static void TearDownTestSuite() {
    delete server_;
    delete dir_;
  }
  void SetUp() override {
    ASSERT_TRUE(server_->ready()) << "test server did not start: " << server_->output();
    log_capture_clear();
    log_verbose = 0;
  }
  void TearDown() override {
    log_verbose = 0;
    len_buf_release(&body_);
  }
  static std::string requests() { return dir_->read("requests"); }
  static std::string url(const std::string &path) { return server_->url(path); }

  len_buf body_ = {};
  static temp_dir *dir_;
  static child_server *server_;
};

temp_dir *HttpTransfer::dir_ = nullptr;
child_server *HttpTransfer::server_ = nullptr;

TEST_F(HttpTransfer, RequestGathersTheBodyQuietly) {
  EXPECT_EQ(server_request(url("/hello").c_str(), nullptr, response_append, &body_, 5000), 0);
  EXPECT_EQ(text_of(body_), "hello body\n");
  ASSERT_NE(body_.bytes, nullptr);
  EXPECT_EQ(body_.bytes[body_.length], '\0');
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
}

TEST_F(HttpTransfer, VerboseLinesNameTheUrlAndTheFailure) {
  std::string refused = "http://127.0.0.1:" + std::to_string(closed_port()) + "/hello";
  EXPECT_EQ(server_request(refused.c_str(), nullptr, response_discard, nullptr, 2000), -1);
  EXPECT_EQ(server_post(refused.c_str(), "x", 2000), -1);
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();

  log_verbose = 1;
  EXPECT_EQ(server_request(refused.c_str(), nullptr, response_discard, nullptr, 2000), -1);
  EXPECT_EQ(server_post(refused.c_str(), "x", 2000), -1);
  EXPECT_EQ(log_capture_count(LOG_INFO, "REMOTE URL: " + refused + "\n"), 2) << log_capture_dump();
  EXPECT_EQ(log_capture_count(LOG_INFO, execute_fail_line(CURLE_COULDNT_CONNECT)), 2)
      << log_capture_dump();
  EXPECT_EQ(log_capture_lines().size(), 4u) << log_capture_dump();

  log_capture_clear();
  EXPECT_EQ(server_request(url("/hello").c_str(), nullptr, response_discard, nullptr, 5000), 0);
  EXPECT_EQ(log_capture_lines().size(), 1u) << log_capture_dump();
  EXPECT_EQ(log_capture_count(LOG_INFO, "REMOTE URL: " + url("/hello") + "\n"), 1);
}

TEST_F(HttpTransfer, NotFoundWithABodyCompletes) {
  EXPECT_EQ(server_request(url("/missing").c_str(), nullptr, response_append, &body_, 5000), 0);
  EXPECT_EQ(text_of(body_), "no such page\n");

  std::string path = dir_->file("missing.out");
  EXPECT_EQ(server_download(url("/missing").c_str(), nullptr, path.c_str(), 5000), 0);
  EXPECT_EQ(file_read_all(path), "no such page\n");
}

TEST_F(HttpTransfer, UserAgentOnlyWhenGiven) {
  EXPECT_EQ(server_request(url("/agent").c_str(), "quorvel-test/1", response_append, &body_, 5000),
            0);
  EXPECT_EQ(text_of(body_), "quorvel-test/1");
  len_buf_release(&body_);
  EXPECT_EQ(server_request(url("/agent").c_str(), nullptr, response_append, &body_, 5000), 0);
  EXPECT_EQ(text_of(body_), "<none>");
}

TEST_F(HttpTransfer, StallingServerEndsAtTheTimeout) {
  log_verbose = 1;
  EXPECT_EQ(server_request(url("/stall").c_str(), nullptr, response_append, &body_, 300), -1);
  EXPECT_EQ(body_.length, 0);
  EXPECT_EQ(server_post(url("/stall").c_str(), "x", 300), -1);
  EXPECT_EQ(log_capture_count(LOG_INFO, execute_fail_line(CURLE_OPERATION_TIMEDOUT)), 2)
      << log_capture_dump();
}

TEST_F(HttpTransfer, NoTimeoutBelowOneMillisecond) {
  // The answer comes after a second: no limit at all is set for 0 or below.
  EXPECT_EQ(server_request(url("/slow").c_str(), nullptr, response_append, &body_, 0), 0);
  EXPECT_EQ(text_of(body_), "slow body\n");
  EXPECT_EQ(server_request(url("/slow").c_str(), nullptr, response_discard, nullptr, -5), 0);
  EXPECT_EQ(server_request(url("/slow").c_str(), nullptr, response_discard, nullptr, 100), -1);
}

TEST_F(HttpTransfer, LargeChunkedBodyArrivesWhole) {
  const int count = 3000000;
  std::string path = "/chunked?n=" + std::to_string(count);
  ASSERT_EQ(server_request(url(path).c_str(), nullptr, response_append, &body_, 20000), 0);
  ASSERT_EQ(body_.length, count);
  std::string expected(count, '\0');
  for (int i = 0; i < count; ++i) expected[i] = static_cast<char>(i % 251);
  EXPECT_TRUE(text_of(body_) == expected);
  EXPECT_EQ(body_.bytes[count], '\0');
}

TEST_F(HttpTransfer, BinaryAndTruncatedBodies) {
  ASSERT_EQ(server_request(url("/binary").c_str(), nullptr, response_append, &body_, 5000), 0);
  ASSERT_EQ(body_.length, 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(static_cast<unsigned char>(body_.bytes[i]), i);
  len_buf_release(&body_);

  // The server promises 1000 bytes and hangs up after 10: the transfer
  // fails, and the buffer holds exactly what arrived.
  EXPECT_EQ(server_request(url("/truncated").c_str(), nullptr, response_append, &body_, 5000), -1);
  EXPECT_EQ(text_of(body_), "0123456789");
  std::string path = dir_->file("truncated.out");
  EXPECT_EQ(server_download(url("/truncated").c_str(), nullptr, path.c_str(), 5000), -1);
  EXPECT_EQ(file_read_all(path), "0123456789");
}

TEST_F(HttpTransfer, PostSendsTheBodyAndPrintsTheAnswer) {
  const char *body = "{\"updateTime\":\"1\",}";
  stdout_capture capture(dir_->file("post.out"));
  int result = server_post(url("/echo").c_str(), body, 5000);
  std::string printed = capture.finish();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(printed, body);
  EXPECT_NE(requests().find("POST /echo\n"), std::string::npos) << requests();

  stdout_capture missing(dir_->file("post404.out"));
  EXPECT_EQ(server_post(url("/missing").c_str(), "", 5000), 0);
  EXPECT_EQ(missing.finish(), "no such page\n");
}

TEST_F(HttpTransfer, DownloadReplacesAnOlderLongerFile) {
  std::string path = dir_->file("download.out");
  dir_->write("download.out", "older content, much longer than the new body\n");
  EXPECT_EQ(server_download(url("/hello").c_str(), "quorvel-test/1", path.c_str(), 5000), 0);
  EXPECT_EQ(file_read_all(path), "hello body\n");
}

TEST_F(HttpTransfer, DownloadIntoAMissingDirectoryMakesNoRequest) {
  std::string before = requests();
  log_verbose = 1;
  std::string path = dir_->file("no/such/dir/file");
  EXPECT_EQ(server_download(url("/hello?download").c_str(), nullptr, path.c_str(), 5000), -1);
  EXPECT_EQ(requests(), before);
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
}

TEST_F(HttpTransfer, MissingArgumentsAreRefusedWithoutARequest) {
  std::string before = requests();
  EXPECT_EQ(server_request(nullptr, nullptr, response_discard, nullptr, 0), -1);
  EXPECT_EQ(server_request(url("/hello?null").c_str(), nullptr, nullptr, &body_, 0), -1);
  EXPECT_EQ(server_post(nullptr, "x", 0), -1);
  EXPECT_EQ(server_post(url("/echo?null").c_str(), nullptr, 0), -1);
  EXPECT_EQ(server_download(url("/hello?null").c_str(), nullptr, nullptr, 0), -1);
  EXPECT_EQ(requests(), before);
  EXPECT_EQ(body_.bytes, nullptr);
}

TEST_F(HttpTransfer, NoDescriptorOutlivesATransfer) {
  int before = open_descriptors();
  std::string path = dir_->file("fds.out");
  EXPECT_EQ(server_request(url("/hello").c_str(), nullptr, response_append, &body_, 5000), 0);
  EXPECT_EQ(server_request(url("/truncated").c_str(), nullptr, response_discard, nullptr, 5000),
            -1);
  EXPECT_EQ(server_request(url("/stall").c_str(), nullptr, response_discard, nullptr, 100), -1);
  EXPECT_EQ(server_download(url("/binary").c_str(), nullptr, path.c_str(), 5000), 0);
  EXPECT_EQ(server_download(url("/truncated").c_str(), nullptr, path.c_str(), 5000), -1);
  stdout_capture capture(dir_->file("fds.post"));
  EXPECT_EQ(server_post(url("/truncated").c_str(), "x", 5000), -1);
  capture.finish();
  EXPECT_EQ(open_descriptors(), before);
}

// A TLS server whose self-signed certificate names another host: the GET
// accepts any certificate, the POST keeps the library's checks.
TEST(HttpTransferTls, SelfSignedCertificateForAnotherHost) {
  temp_dir dir;
  std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=other.invalid"
      " -addext subjectAltName=DNS:other.invalid -keyout " +
      dir.file("key.pem") + " -out " + dir.file("cert.pem") + " 2>/dev/null";
  ASSERT_EQ(system(command.c_str()), 0) << "the openssl command is needed: " << command;
  child_server server(
      {"python3", server_script(), "--cert", dir.file("cert.pem"), "--key", dir.file("key.pem")});
  ASSERT_TRUE(server.ready()) << server.output();
  log_capture_clear();
  log_verbose = 1;

  len_buf body = {};
  EXPECT_EQ(
      server_request(server.url("/hello", true).c_str(), nullptr, response_append, &body, 5000), 0);
  EXPECT_EQ(text_of(body), "hello body\n");
  len_buf_release(&body);

  stdout_capture capture(dir.file("post.out"));
  EXPECT_EQ(server_post(server.url("/echo", true).c_str(), "secret", 5000), -1);
  EXPECT_EQ(capture.finish(), "");
  EXPECT_EQ(log_capture_count(LOG_INFO, execute_fail_line(CURLE_PEER_FAILED_VERIFICATION)), 1)
      << log_capture_dump();

  std::string path = dir.file("tls.out");
  EXPECT_EQ(server_download(server.url("/missing", true).c_str(), nullptr, path.c_str(), 5000), 0);
  EXPECT_EQ(file_read_all(path), "no such page\n");
  log_verbose = 0;
}

}  // namespace
