// SPDX-License-Identifier: MIT
// The UCI reader on arbitrary file content: whatever the file holds, the
// lookups of the identity loader end with a result, never a crash, a hang
// or an access outside a buffer.
#include "tests/fuzz/fuzz_target.h"

#include <uci.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "identity/device_config.h"
#include "tests/support/temp_dir.h"

namespace {

// Removed with its files when the program ends.
const std::string &config_dir() {
  static temp_dir dir;
  return dir.path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string file = config_dir() + "/messaging";
  FILE *out = fopen(file.c_str(), "wb");
  if (out == nullptr) abort();
  fwrite(data, 1, size, out);
  fclose(out);

  uci_context *context = uci_alloc_context();
  if (context == nullptr) return 0;
  uci_set_confdir(context, config_dir().c_str());
  // uci_perror writes to standard error; keep the fuzzer's output readable.
  FILE *saved = stderr;
  stderr = fopen("/dev/null", "w");
  const char *paths[] = {"messaging.deviceInfo.DEVICE_ID", "messaging.deviceInfo.CHANNEL_SECRET",
                         "messaging.@device[0].DEVICE_ID", "messaging.@device[-1].x",
                         "messaging.@[2]"};
  for (const char *path : paths) {
    char writable[256];
    snprintf(writable, sizeof writable, "%s", path);
    char value[64];
    memset(value, 0x5a, sizeof value);
    if (uci_option_get(context, writable, value, sizeof value, uci_option_copy) == 0 &&
        memchr(value, '\0', sizeof value) == nullptr)
      abort();  // a copied value must end within its buffer
  }
  fclose(stderr);
  stderr = saved;
  uci_free_context(context);
  return 0;
}
