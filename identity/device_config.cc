// SPDX-License-Identifier: MIT
#include "identity/device_config.h"

#include <syslog.h>
#include <uci.h>

#include <cstdio>
#include <cstring>

#include "identity/uci_context_guard.h"
#include "lib/log_verbose.h"

namespace {

constexpr char DEVICE_ID_PATH[] = "messaging.deviceInfo.DEVICE_ID";
constexpr char CHANNEL_SECRET_PATH[] = "messaging.deviceInfo.CHANNEL_SECRET";

// The lookup splits the path in place, so each one is copied into a
// writable buffer first.
constexpr size_t PATH_SIZE = 256;
static_assert(sizeof DEVICE_ID_PATH <= PATH_SIZE && sizeof CHANNEL_SECRET_PATH <= PATH_SIZE);

}  // namespace

int device_config_load(device_config *config) {
  if (config == nullptr) return -1;
  memset(config, 0, sizeof *config);

  unique_uci_context context(uci_alloc_context());
  if (!context) {
    fputs("Out of memory\n", stderr);
    return -1;
  }

  char path[PATH_SIZE];
  memcpy(path, DEVICE_ID_PATH, sizeof DEVICE_ID_PATH);
  int status = uci_option_get(context.get(), path, config->device_id, sizeof config->device_id,
                              uci_option_copy);
  if (status == 0) {
    memcpy(path, CHANNEL_SECRET_PATH, sizeof CHANNEL_SECRET_PATH);
    status = uci_option_get(context.get(), path, config->channel_secret,
                            sizeof config->channel_secret, uci_option_copy);
  }
  if (status != 0) {
    syslog(LOG_WARNING, "config load error.");
    return -1;
  }
  device_config_dump(config);
  return 0;
}

int uci_option_get(uci_context *context, char *path, char *buffer, size_t size,
                   uci_option_copier copier) {
  if (context == nullptr || path == nullptr || buffer == nullptr || size == 0 || copier == nullptr)
    return -1;

  uci_ptr ptr{};
  if (uci_lookup_ptr(context, &ptr, path, true) != UCI_OK) {
    uci_perror(context, "look uci error");
    return -1;
  }
  // A missing section or option is no lookup error: the path then ends at
  // the package or the section. The package stays loaded until the context
  // is freed.
  if (ptr.last == nullptr || ptr.last->type != UCI_TYPE_OPTION) return -1;

  (void)copier(ptr.o, buffer, size);
  (void)uci_unload(context, ptr.p);
  return 0;
}

int uci_option_copy(uci_option *option, char *buffer, size_t size) {
  if (option == nullptr || buffer == nullptr || size == 0) return -1;

  if (option->type == UCI_TYPE_STRING) {
    snprintf(buffer, size, "%s", option->v.string != nullptr ? option->v.string : "");
  } else if (option->type == UCI_TYPE_LIST) {
    // The items joined by single spaces, cut where the buffer ends. Even a
    // list without items leaves a text behind.
    buffer[0] = '\0';
    size_t written = 0;
    bool first = true;
    uci_element *item;
    uci_foreach_element(&option->v.list, item) {
      if (written >= size - 1) break;
      int length = snprintf(buffer + written, size - written, "%s%s", first ? "" : " ",
                            item->name != nullptr ? item->name : "");
      first = false;
      // snprintf() tells the full length even when it cut the text.
      if (length < 0 || static_cast<size_t>(length) >= size - written) break;
      written += static_cast<size_t>(length);
    }
  }
  return 0;
}

void device_config_dump(const device_config *config) {
  if (config == nullptr || !log_verbose) return;
  syslog(LOG_INFO, "config\n\tdevice id:%s\n\tchannel_secret:%s\n\tetc size: %d\n",
         config->device_id, config->channel_secret, static_cast<int>(config->etc_size));
}
