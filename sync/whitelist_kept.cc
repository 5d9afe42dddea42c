// SPDX-License-Identifier: MIT
#include "sync/whitelist_kept.h"

#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sync/file_replace.h"
#include "sync/kept_list.h"
#include "sync/load_mode.h"

namespace {

// A kept element is "<family digit> <text>": the nftables mode's lists hold
// both families.
static_assert(2 + LOAD_TEXT_MAX <= KEPT_ELEMENT_MAX);

// The kept list of loaded; false when an element cannot be kept.
bool kept_from_load(const load_list &loaded, const char *stamp, kept_list *kept) {
  if (loaded.broken || kept_list_begin(kept, stamp) != 0) return false;
  char line[KEPT_ELEMENT_MAX + 1];
  size_t at = 0;
  load_entry entry{};
  while (load_list_next(loaded, &at, &entry)) {
    int length = snprintf(line, sizeof line, "%d %s", entry.family, entry.text);
    if (length < 0 || static_cast<size_t>(length) >= sizeof line ||
        kept_list_add(kept, std::string_view(line, static_cast<size_t>(length))) != 0)
      return false;
  }
  return true;
}

// The load list of kept; false for an element of no family.
bool load_from_kept(const kept_list &kept, load_list *list) {
  size_t cursor = 0;
  std::string_view element;
  while (kept_list_next(kept, &cursor, &element)) {
    if (element.size() < 2 || (element[0] != '4' && element[0] != '6') || element[1] != ' ')
      return false;
    int family = element[0] == '6' ? LOAD_V6 : LOAD_V4;
    if (load_list_add(list, family, element.data() + 2, element.size() - 2) != 0) return false;
  }
  return true;
}

}  // namespace

void whitelist_keep(const char *path, const char *stamp, const load_list &loaded) {
  kept_list kept;
  if (!kept_from_load(loaded, stamp, &kept)) {
    kept_list_remove(path);
    syslog(LOG_WARNING, "kept list %s not written, removed: the list cannot be kept whole\n", path);
    return;
  }
  if (kept_list_store(path, kept) < 0)
    syslog(LOG_WARNING, "kept list %s not written, removed: %s\n", path, strerror(errno));
}

int whitelist_restore(const char *path, const char *stamp) {
  (void)file_replace_leftover_clear(path);
  kept_list kept;
  int read = kept_list_read(path, &kept);
  if (read == KEPT_READ_MISSING) return -1;
  load_list list;
  if (read != KEPT_READ_OK || !load_from_kept(kept, &list)) {
    kept_list_remove(path);
    syslog(LOG_WARNING, "kept list %s unreadable, removed.\n", path);
    return -1;
  }
  if (stamp == nullptr || strcmp(kept.stamp, stamp) != 0) return -1;
  kept.bytes.reset();  // the load needs only its own list
  int check = load_mode_check(list);
  if (check == LOAD_CHECK_HOLDS) return 0;
  if (check != LOAD_CHECK_LACKS) return -1;
  int code = load_mode_list_load(list);
  if (code != WHITELIST_LOAD_OK) {
    syslog(LOG_WARNING, "kept list restore fail: load return %d\n", code);
    return -1;
  }
  syslog(LOG_WARNING, "set lacks the list: %zu kept elements of stamp %s loaded again.\n",
         load_list_size(list), stamp);
  return 1;
}
