// SPDX-License-Identifier: MIT
#include "sync/nft/nft_config.h"

#include <uci.h>

#include <cstdio>
#include <cstring>

#include "identity/uci_context_guard.h"
#include "lib/text.h"

namespace {

struct option_slot {
  const char *name;
  const char *fallback;
  char *value;
};

// The option's text, or nullptr when the package, the section or the
// option is missing or the option is a list.
const char *option_text(uci_context *context, const char *option) {
  char path[64];
  if (!format_fits(snprintf(path, sizeof path, "quorvel.whitelist.%s", option), sizeof path))
    return nullptr;
  uci_ptr ptr{};
  if (uci_lookup_ptr(context, &ptr, path, true) != UCI_OK) return nullptr;
  if ((ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) == 0 || ptr.o == nullptr ||
      ptr.o->type != UCI_TYPE_STRING)
    return nullptr;
  return ptr.o->v.string;
}

// UCI's booleans: 1 for on, 0 for off, -1 for neither.
int boolean_parse(const char *text) {
  for (const char *on : {"1", "on", "true", "yes", "enabled"})
    if (strcmp(text, on) == 0) return 1;
  for (const char *off : {"0", "off", "false", "no", "disabled"})
    if (strcmp(text, off) == 0) return 0;
  return -1;
}

}  // namespace

int nft_config_read(uci_context *context, nft_config *config, const char **bad) {
  if (context == nullptr || config == nullptr || bad == nullptr) return -1;
  *bad = nullptr;
  memset(config, 0, sizeof *config);
  option_slot slots[] = {{"family", "inet", config->family},
                         {"table", "fw4", config->table},
                         {"set", "cdnwhite", config->set},
                         {"set6", "cdnwhite6", config->set6}};
  for (const option_slot &slot : slots) {
    const char *text = option_text(context, slot.name);
    if (text == nullptr) text = slot.fallback;
    bool valid = slot.value == config->family ? nft_family_known(text) : nft_name_safe(text);
    if (!valid) {
      *bad = slot.name;
      return -1;
    }
    snprintf(slot.value, NFT_NAME_SIZE, "%s", text);
  }
  const char *ipv6 = option_text(context, "ipv6");
  int enabled = ipv6 == nullptr ? 1 : boolean_parse(ipv6);
  if (enabled < 0) {
    *bad = "ipv6";
    return -1;
  }
  if (enabled == 0) config->set6[0] = '\0';
  return 0;
}

int nft_config_load(nft_config *config, const char **bad) {
  unique_uci_context context(uci_alloc_context());
  if (!context) {
    if (bad != nullptr) *bad = "context";
    return -1;
  }
  return nft_config_read(context.get(), config, bad);
}
