// SPDX-License-Identifier: MIT
#include "schedule/schedule_options.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr char USAGE[] =
    "usage: quorvel-schedule [-n RUNS] [-m MIN] [-r RANGE] [-t LIMIT] [-k GRACE] [-d DAEMON] "
    "[-s RECORD]\n";
constexpr size_t NUMBER_DIGITS_MAX = 9;

// Reads a whole number of at most nine digits, without leading zeros (which
// a shell would read as octal), of at least least. 0 on success.
int number_read(char option, const char *text, long least, long *out) {
  size_t length = strlen(text);
  bool digits = length > 0 && strspn(text, "0123456789") == length;
  if (!digits || (length > 1 && text[0] == '0')) {
    fprintf(stderr, "quorvel-schedule: -%c needs a whole number without leading zeros, not '%s'\n",
            option, text);
    return -1;
  }
  long value = 0;
  for (size_t i = 0; i < length && i < NUMBER_DIGITS_MAX; ++i) value = value * 10 + (text[i] - '0');
  if (length > NUMBER_DIGITS_MAX || value < least) {
    fprintf(stderr, "quorvel-schedule: -%c must lie from %ld to 999999999, not %s\n", option, least,
            text);
    return -1;
  }
  *out = value;
  return 0;
}

}  // namespace

int schedule_options_parse(int argc, char **argv, schedule_options *options) {
  int option = 0;
  while ((option = getopt(argc, argv, ":n:m:r:t:k:d:s:")) != -1) {
    int status = 0;
    switch (option) {
      case 'n':
        status = number_read('n', optarg, 0, &options->runs);
        break;
      case 'm':
        status = number_read('m', optarg, 0, &options->min_delay);
        break;
      case 'r':
        status = number_read('r', optarg, 1, &options->delay_range);
        break;
      case 't':
        status = number_read('t', optarg, 1, &options->limit);
        break;
      case 'k':
        status = number_read('k', optarg, 1, &options->grace);
        break;
      case 'd':
        options->daemon = optarg;
        break;
      case 's':
        options->record = optarg;
        break;
      default:
        status = -1;
        fputs(USAGE, stderr);
        break;
    }
    if (status != 0) return 2;
  }
  if (optind != argc) {
    fputs(USAGE, stderr);
    return 2;
  }
  return 0;
}
