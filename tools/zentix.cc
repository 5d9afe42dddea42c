// SPDX-License-Identifier: MIT
// zentix: the agent tool that fetches a rule document from the rule
// service. It POSTs the parameter text to the base URL of its
// configuration followed by the service path, and writes the answer to
// standard output:
//
//   zentix --method rule_fetch --params <service path> '<json text>'
//
// Exit status: 0 when the transfer completed, 1 when it failed, 2 for a
// wrong command line, 3 for an unreadable configuration.
#include <syslog.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/http_transfer.h"
#include "lib/log_verbose.h"
#include "tools/zentix_config.h"

volatile sig_atomic_t log_verbose = 0;

namespace {

constexpr int EXIT_TRANSFER = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_CONFIG = 3;

void usage_print() {
  fputs(
      "usage: zentix --method rule_fetch --params <service path> '<json text>'\n"
      "  POSTs the json text to the rule service (base URL from the file named\n"
      "  by ZENTIX_CONFIG, else /etc/zentix.conf) and writes the answer to\n"
      "  standard output.\n",
      stderr);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 6 || strcmp(argv[1], "--method") != 0 || strcmp(argv[2], "rule_fetch") != 0 ||
      strcmp(argv[3], "--params") != 0) {
    usage_print();
    return EXIT_USAGE;
  }
  const char *service_path = argv[4];
  const char *params = argv[5];

  zentix_config config;
  zentix_config_defaults(&config);
  const char *config_path = getenv("ZENTIX_CONFIG");
  if (config_path == nullptr || *config_path == '\0') config_path = ZENTIX_CONFIG_PATH;
  char error[256] = {};
  if (zentix_config_read(config_path, &config, error, sizeof error) != 0) {
    fprintf(stderr, "zentix: %s\n", error);
    return EXIT_CONFIG;
  }
  log_verbose = config.verbose;

  char url[2 * ZENTIX_URL_MAX + 2] = {};
  if (zentix_url_build(&config, service_path, url, sizeof url) != 0) {
    fprintf(stderr, "zentix: invalid service path: %s\n", service_path);
    usage_print();
    return EXIT_USAGE;
  }

  openlog("zentix", LOG_PID, LOG_USER);
  int result = server_post(url, params, config.timeout_ms);
  closelog();
  // The answer is complete only once standard output took all of it.
  if (fflush(stdout) != 0 || ferror(stdout)) result = -1;
  if (result != 0) {
    fprintf(stderr, "zentix: transfer to %s failed\n", url);
    return EXIT_TRANSFER;
  }
  return 0;
}
