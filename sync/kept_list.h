// SPDX-License-Identifier: MIT
// The list kept on flash: the elements that the last load put in the set,
// with the stamp they belong to, so that a set made afresh (a reboot, a
// firewall restart) can be filled again without asking the network.
//
// The file is text, one line each:
//
//   quorvel-kept 1 <stamp as lower-case hex, two digits a byte>
//   <element>                        (one line per element, in load order)
//   end <element count> <FNV-1a 32 of every byte above, 8 lower-case hex>
//
// An element is 1 to KEPT_ELEMENT_MAX bytes of 0x20 to 0x7E, as the load
// mode wrote it. The reader takes a file only whole: a missing or damaged
// header, element or trailer, a count or sum that does not match, or a
// byte after the trailer refuses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lib/c_guards.h"

inline constexpr size_t KEPT_STAMP_SIZE = 64;  // a stamp of up to 63 bytes
inline constexpr size_t KEPT_ELEMENT_MAX = 160;
inline constexpr size_t KEPT_COUNT_MAX = size_t{1} << 20;
inline constexpr size_t KEPT_FILE_MAX = size_t{64} << 20;

// A kept list in memory: the file's lines up to its trailer, which is
// made (and checked) from count and the bytes.
struct kept_list {
  heap_ptr<char> bytes;
  size_t length = 0;
  size_t capacity = 0;
  size_t count = 0;
  size_t elements_at = 0;  // where the first element line starts
  char stamp[KEPT_STAMP_SIZE] = {};
};

// Results of kept_list_read.
enum kept_read_status {
  KEPT_READ_OK = 0,
  KEPT_READ_MISSING = -1,  // no file at the path
  KEPT_READ_BROKEN = -2,   // a file that does not read back whole
};

// Starts list afresh, empty, for stamp. 0 on success; -1 for a null
// argument, a stamp of 64 bytes or more, or no memory (list is then empty
// and every kept_list_add fails).
[[nodiscard]] int kept_list_begin(kept_list *list, const char *stamp);

// Appends one element. 0 on success; -1 when the list was not begun, the
// element is empty, longer than KEPT_ELEMENT_MAX or holds a byte outside
// 0x20 to 0x7E, the list already holds KEPT_COUNT_MAX elements or would
// pass KEPT_FILE_MAX bytes, or memory ran out. A refused element leaves
// the list as it was.
[[nodiscard]] int kept_list_add(kept_list *list, std::string_view element);

// Reads the file at path into list (its former content released). One of
// kept_read_status; list is empty unless the result is KEPT_READ_OK. A
// link, a folder or a file over KEPT_FILE_MAX bytes counts as broken.
[[nodiscard]] int kept_list_read(const char *path, kept_list *list);

// The element at *cursor (0 for the first), moving the cursor past it.
// false when there is none left.
bool kept_list_next(const kept_list &list, size_t *cursor, std::string_view *element);

// True when both lists hold the same stamp and the same elements in the
// same order.
[[nodiscard]] bool kept_list_same(const kept_list &a, const kept_list &b);

// Keeps list in the file at path, replaced whole (sync/file_replace.h),
// unless the file already holds exactly that list. 0 when written, 1 when
// the file was left as it was; -1 when it could not be written (a list
// not begun, a full flash: errno says why), and then no file is left at
// path.
[[nodiscard]] int kept_list_store(const char *path, const kept_list &list);

// Removes the file at path and any temporary file of an interrupted store.
void kept_list_remove(const char *path);
