// SPDX-License-Identifier: MIT
#include "sync/core/load_list.h"

#include <cstdint>
#include <cstring>

namespace {

// The first allocation; each further one doubles it.
constexpr size_t FIRST_CAPACITY = 4096;

int entry_append(load_list *list, int family, const char *text, size_t length) {
  if (text == nullptr || (family != LOAD_V4 && family != LOAD_V6) || length > LOAD_TEXT_MAX ||
      memchr(text, '\0', length) != nullptr)
    return -1;
  const size_t need = length + 2;
  if (list->capacity - list->used < need) {
    size_t capacity = list->capacity == 0 ? FIRST_CAPACITY : list->capacity;
    while (capacity - list->used < need) {
      if (capacity > SIZE_MAX / 2) return -1;
      capacity *= 2;
    }
    void *grown = realloc(list->bytes.get(), capacity);
    if (grown == nullptr) return -1;
    (void)list->bytes.release();
    list->bytes.reset(static_cast<char *>(grown));
    list->capacity = capacity;
  }
  char *at = list->bytes.get() + list->used;
  at[0] = static_cast<char>(family);
  memcpy(at + 1, text, length);
  at[1 + length] = '\0';
  list->used += need;
  ++list->count[family == LOAD_V6 ? 1 : 0];
  return 0;
}

}  // namespace

int load_list_add(load_list *list, int family, const char *text, size_t length) {
  if (list == nullptr) return -1;
  if (entry_append(list, family, text, length) == 0) return 0;
  list->broken = true;
  return -1;
}

bool load_list_next(const load_list &list, size_t *at, load_entry *entry) {
  if (at == nullptr || entry == nullptr || *at >= list.used) return false;
  const char *start = list.bytes.get() + *at;
  entry->family = start[0];
  entry->text = start + 1;
  *at += strlen(entry->text) + 2;
  return true;
}

void load_list_clear(load_list *list) {
  if (list == nullptr) return;
  list->bytes.reset();
  list->used = 0;
  list->capacity = 0;
  list->count[0] = 0;
  list->count[1] = 0;
  list->broken = false;
}
