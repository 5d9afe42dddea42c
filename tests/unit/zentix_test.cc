// SPDX-License-Identifier: MIT
// zentix against the demo rule service, run as the daemon runs it: by
// name, through the shell, with its answer redirected into a file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/child_server.h"
#include "tests/support/temp_dir.h"
#include "tools/zentix_config.h"

namespace {

std::string binary_dir() {
  std::string binary = ZENTIX_BINARY;
  return binary.substr(0, binary.rfind('/'));
}

class Zentix : public ::testing::Test {
 protected:
  void SetUp() override {
    set_whitelist("whitelist_v1.json");
    server_ = std::make_unique<child_server>(std::vector<std::string>{
        "python3", source_dir() + "/examples/rule_service.py", "--port", "0", "--whitelist",
        dir_.file("whitelist.json"), "--log", dir_.file("requests"), "--quiet"});
    ASSERT_TRUE(server_->ready()) << server_->output();
    dir_.write("zentix.conf", "# test service\nurl=" + server_->url("/") + "\ntimeout_ms=5000\n");
  }
  void set_whitelist(const std::string &example) {
    dir_.write("whitelist.json", file_read_all(source_dir() + "/examples/" + example));
  }
  // Runs "zentix <arguments>" with the test's configuration; the exit
  // status, or -1 when the shell did not end normally.
  int run(const std::string &arguments) {
    std::string command = "ZENTIX_CONFIG=" + dir_.file("zentix.conf") + " zentix " + arguments +
                          " > " + dir_.file("out") + " 2> " + dir_.file("err");
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string out() const { return dir_.read("out"); }
  std::string err() const { return dir_.read("err"); }
  std::string requests() const { return dir_.read("requests"); }

  temp_dir dir_;
  path_prefix path_{binary_dir()};
  std::unique_ptr<child_server> server_;
};

const char FETCH[] = "--method rule_fetch --params /utils/get_ks_cdn_wl '{\"updateTime\":\"1\",}'";

TEST_F(Zentix, WritesTheAnswerAndFollowsANewWhitelist) {
  EXPECT_EQ(run(FETCH), 0) << err();
  EXPECT_EQ(out(), file_read_all(source_dir() + "/examples/whitelist_v1.json"));
  EXPECT_EQ(err(), "");
  // The parameter reaches the service unchanged, comma included.
  EXPECT_EQ(requests(), "/utils/get_ks_cdn_wl {\"updateTime\":\"1\",}\n");

  set_whitelist("whitelist_v2.json");
  EXPECT_EQ(run(FETCH), 0) << err();
  EXPECT_EQ(out(), file_read_all(source_dir() + "/examples/whitelist_v2.json"));
}

TEST_F(Zentix, OtherCommandLinesGetTheUsage) {
  const char *wrong[] = {
      "",
      "--method rule_fetch --params /utils/get_ks_cdn_wl",
      "--method rule_push --params /utils/get_ks_cdn_wl '{}'",
      "--params /utils/get_ks_cdn_wl --method rule_fetch '{}'",
      "--method rule_fetch --params /utils/get_ks_cdn_wl '{}' extra",
      "--method rule_fetch --params utils/get_ks_cdn_wl '{}'",
      "--method rule_fetch --params '/utils/a b' '{}'",
  };
  for (const char *arguments : wrong) {
    EXPECT_EQ(run(arguments), 2) << arguments;
    EXPECT_NE(err().find("usage: zentix --method rule_fetch --params"), std::string::npos)
        << arguments << ": " << err();
    EXPECT_EQ(out(), "") << arguments;
  }
  EXPECT_EQ(requests(), "<missing>");
}

TEST_F(Zentix, FailedTransfersExitNonZero) {
  // A path the service does not know still completes: the answer is the
  // service's own 404 document, for the reader to refuse.
  EXPECT_EQ(run("--method rule_fetch --params /other '{}'"), 0);
  EXPECT_EQ(out(), "{\"code\":404,\"data\":null}");

  server_.reset();
  EXPECT_EQ(run(FETCH), 1);
  EXPECT_EQ(out(), "");
  EXPECT_NE(err().find("zentix: transfer to http://127.0.0.1:"), std::string::npos) << err();
}

TEST_F(Zentix, UnreadableConfigurationExitsWithThree) {
  const char *bad[] = {"url=ftp://127.0.0.1/\n", "url=http://a b\n",         "speed=3\n",
                       "timeout_ms=-1\n",        "timeout_ms=99999999999\n", "verbose=yes\n",
                       "no equals sign\n"};
  for (const char *config : bad) {
    dir_.write("zentix.conf", config);
    EXPECT_EQ(run(FETCH), 3) << config;
    EXPECT_NE(err().find("zentix.conf:1: not a valid setting"), std::string::npos) << err();
  }
  dir_.write("zentix.conf", "url=http://127.0.0.1:1/" + std::string(600, 'x') + "\n");
  EXPECT_EQ(run(FETCH), 3);
  EXPECT_NE(err().find("line longer than 511 characters"), std::string::npos) << err();
  EXPECT_EQ(requests(), "<missing>");
}

TEST(ZentixConfig, DefaultsAndUrlJoining) {
  zentix_config config;
  zentix_config_defaults(&config);
  EXPECT_STREQ(config.url, "http://127.0.0.1:8080");
  EXPECT_EQ(config.timeout_ms, 30000);
  EXPECT_EQ(config.verbose, 0);
  char error[128] = {};
  EXPECT_EQ(zentix_config_read("/nonexistent/zentix.conf", &config, error, sizeof error), 0);
  EXPECT_STREQ(config.url, "http://127.0.0.1:8080");

  char url[64];
  EXPECT_EQ(zentix_url_build(&config, "/utils/get_ks_cdn_wl", url, sizeof url), 0);
  EXPECT_STREQ(url, "http://127.0.0.1:8080/utils/get_ks_cdn_wl");
  snprintf(config.url, sizeof config.url, "https://rules.example/api/");
  EXPECT_EQ(zentix_url_build(&config, "/x", url, sizeof url), 0);
  EXPECT_STREQ(url, "https://rules.example/api/x");
  EXPECT_EQ(zentix_url_build(&config, "/x\x7f", url, sizeof url), -1);
  EXPECT_EQ(zentix_url_build(&config, "x", url, sizeof url), -1);
  // A URL that does not fit is refused, not cut.
  std::string path = "/" + std::string(60, 'p');
  EXPECT_EQ(zentix_url_build(&config, path.c_str(), url, sizeof url), -1);
  EXPECT_STREQ(url, "");
}

TEST(ZentixConfig, SettingsOverTheDefaults) {
  temp_dir dir;
  dir.write("z.conf", "# comment\n\nurl=https://10.0.0.1:8443\r\ntimeout_ms=0\nverbose=1");
  zentix_config config;
  zentix_config_defaults(&config);
  char error[128] = {};
  ASSERT_EQ(zentix_config_read(dir.file("z.conf").c_str(), &config, error, sizeof error), 0)
      << error;
  EXPECT_STREQ(config.url, "https://10.0.0.1:8443");
  EXPECT_EQ(config.timeout_ms, 0);
  EXPECT_EQ(config.verbose, 1);
  // A directory cannot be read as a configuration.
  EXPECT_EQ(zentix_config_read(dir.path().c_str(), &config, error, sizeof error), -1);
}

}  // namespace
