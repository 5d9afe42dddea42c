// SPDX-License-Identifier: MIT
// Runs the URL codec's self-check: prints the sample, its encoding, the
// decoded text and the verdict, and exits with status 0.
#include "lib/log_verbose.h"
#include "lib/url_codec.h"

volatile sig_atomic_t log_verbose = 0;

int main() {
  url_codec_selftest();
}
