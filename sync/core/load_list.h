// SPDX-License-Identifier: MIT
// An element list: exactly what one load puts in its set or sets, as the
// texts that the load mode hands to its tool (the add mode's addresses as
// listed, the swap mode's strict elements, the nftables mode's merged
// ranges), in order, each with the address family of the set it goes to.
// A mode loads such a list and checks a set against one, whether the list
// came from the service's answer or from anywhere else.
#pragma once

#include <cstddef>

#include "lib/c_guards.h"

enum load_family : int { LOAD_V4 = 4, LOAD_V6 = 6 };

// The longest element text a list takes: every mode's element is shorter
// than its tool's command line.
inline constexpr size_t LOAD_TEXT_MAX = 127;

struct load_list {
  heap_ptr<char> bytes;  // entries back to back: a family byte, the text, a NUL
  size_t used = 0;
  size_t capacity = 0;
  size_t count[2] = {};  // elements of family LOAD_V4, LOAD_V6
  bool broken = false;   // an element could not be kept: the list is not whole
};

// One element of a list, borrowed from it.
struct load_entry {
  int family;        // LOAD_V4 or LOAD_V6
  const char *text;  // NUL-terminated
};

// Appends the text (length bytes, at most LOAD_TEXT_MAX, no NUL inside) of
// family to list. 0, or -1 for a bad family, a text too long or no memory:
// the element is then left out and the list marked broken.
[[nodiscard]] int load_list_add(load_list *list, int family, const char *text, size_t length);

// The entry at *at (0 for the first) into *entry, *at moved past it. false
// at the end of the list.
[[nodiscard]] bool load_list_next(const load_list &list, size_t *at, load_entry *entry);

// Elements of the list in all families.
inline size_t load_list_size(const load_list &list) { return list.count[0] + list.count[1]; }

// Elements of one family.
inline size_t load_list_family_size(const load_list &list, int family) {
  return list.count[family == LOAD_V6 ? 1 : 0];
}

// Empties the list (no longer broken) and releases its bytes.
void load_list_clear(load_list *list);
