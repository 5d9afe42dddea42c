// SPDX-License-Identifier: MIT
#include "sync/kept_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "lib/text.h"
#include "sync/core/view_part.h"
#include "sync/file_replace.h"

namespace {

constexpr std::string_view HEADER = "quorvel-kept 1 ";
constexpr std::string_view TRAILER = "end ";
constexpr char HEX_DIGITS[] = "0123456789abcdef";
// "end " + at most 7 digits + " " + 8 hex digits + "\n".
constexpr size_t TRAILER_SIZE = 4 + 7 + 1 + 8 + 1 + 1;
static_assert(KEPT_COUNT_MAX < 10'000'000, "the trailer's count has at most 7 digits");

uint32_t fnv1a(const char *data, size_t length) {
  uint32_t sum = 2166136261u;
  for (size_t i = 0; i < length; ++i) {
    sum ^= static_cast<unsigned char>(data[i]);
    sum *= 16777619u;
  }
  return sum;
}

void list_clear(kept_list *list) {
  list->bytes.reset();
  list->length = list->capacity = list->count = list->elements_at = 0;
  memset(list->stamp, 0, sizeof list->stamp);
}

// Makes room for extra more bytes, within KEPT_FILE_MAX (the trailer
// counted).
bool room_make(kept_list *list, size_t extra) {
  if (extra > KEPT_FILE_MAX - TRAILER_SIZE - list->length) return false;
  size_t needed = list->length + extra;
  if (needed <= list->capacity) return true;
  size_t capacity = list->capacity < 4096 ? 4096 : list->capacity;
  while (capacity < needed) capacity *= 2;
  char *grown = static_cast<char *>(realloc(list->bytes.get(), capacity));
  if (grown == nullptr) return false;
  (void)list->bytes.release();
  list->bytes.reset(grown);
  list->capacity = capacity;
  return true;
}

bool element_valid(std::string_view element) {
  if (element.empty() || element.size() > KEPT_ELEMENT_MAX) return false;
  for (char c : element)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  return true;
}

int hex_value(char c) {
  const char *at = c != '\0' ? strchr(HEX_DIGITS, c) : nullptr;
  return at != nullptr ? static_cast<int>(at - HEX_DIGITS) : -1;
}

// The trailer that ends a file holding list's bytes.
size_t trailer_format(const kept_list &list, char (&out)[TRAILER_SIZE]) {
  int length = snprintf(out, sizeof out, "end %zu %08x\n", list.count,
                        static_cast<unsigned>(fnv1a(list.bytes.get(), list.length)));
  return length > 0 ? static_cast<size_t>(length) : 0;
}

// The header's stamp: the hex digits between HEADER and the line's end.
bool header_parse(std::string_view line, char (&stamp)[KEPT_STAMP_SIZE]) {
  if (view_part(line, 0, HEADER.size()) != HEADER) return false;
  std::string_view hex = view_part(line, HEADER.size());
  if (hex.size() % 2 != 0 || hex.size() / 2 >= KEPT_STAMP_SIZE) return false;
  memset(stamp, 0, sizeof stamp);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = hex_value(hex[i]);
    int low = hex_value(hex[i + 1]);
    if (high < 0 || low < 0 || (high | low) == 0) return false;  // no NUL in a stamp
    stamp[i / 2] = static_cast<char>(high * 16 + low);
  }
  return true;
}

// A count without sign or leading zero, at most KEPT_COUNT_MAX.
bool count_parse(std::string_view digits, size_t *count) {
  uint64_t value = 0;
  if (!decimal_read(digits, KEPT_COUNT_MAX, leading_zeros::REFUSED, &value)) return false;
  *count = static_cast<size_t>(value);
  return true;
}

// "end <count> <sum>" without its newline.
bool trailer_parse(std::string_view line, size_t *count, uint32_t *sum) {
  if (view_part(line, 0, TRAILER.size()) != TRAILER) return false;
  std::string_view rest = view_part(line, TRAILER.size());
  size_t blank = rest.find(' ');
  if (blank == std::string_view::npos || !count_parse(view_part(rest, 0, blank), count))
    return false;
  std::string_view hex = view_part(rest, blank + 1);
  if (hex.size() != 8) return false;
  uint32_t value = 0;
  for (char c : hex) {
    int digit = hex_value(c);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  *sum = value;
  return true;
}

// Checks the file image text and fills list's counters from it: false
// unless it is one whole kept file.
bool image_parse(std::string_view text, kept_list *list) {
  size_t header_end = text.find('\n');
  if (header_end == std::string_view::npos ||
      !header_parse(view_part(text, 0, header_end), list->stamp))
    return false;
  if (text.back() != '\n') return false;
  size_t trailer_at = text.rfind('\n', text.size() - 2) + 1;
  if (trailer_at <= header_end) return false;  // the header is the last line
  size_t count = 0;
  uint32_t sum = 0;
  if (!trailer_parse(view_part(text, trailer_at, text.size() - 1 - trailer_at), &count, &sum))
    return false;
  size_t lines = 0;
  for (size_t at = header_end + 1; at < trailer_at; ++lines) {
    size_t end = text.find('\n', at);
    if (!element_valid(view_part(text, at, end - at))) return false;
    at = end + 1;
  }
  if (lines != count || fnv1a(text.data(), trailer_at) != sum) return false;
  list->length = trailer_at;
  list->count = count;
  list->elements_at = header_end + 1;
  return true;
}

}  // namespace

int kept_list_begin(kept_list *list, const char *stamp) {
  if (list == nullptr) return -1;
  list_clear(list);
  if (stamp == nullptr || strnlen(stamp, KEPT_STAMP_SIZE) >= KEPT_STAMP_SIZE) return -1;
  size_t stamp_length = strlen(stamp);
  if (!room_make(list, HEADER.size() + 2 * stamp_length + 1)) {
    list_clear(list);
    return -1;
  }
  char *at = list->bytes.get();
  memcpy(at, HEADER.data(), HEADER.size());
  at += HEADER.size();
  for (size_t i = 0; i < stamp_length; ++i) {
    unsigned char byte = static_cast<unsigned char>(stamp[i]);
    *at++ = HEX_DIGITS[byte >> 4];
    *at++ = HEX_DIGITS[byte & 0x0F];
  }
  *at++ = '\n';
  list->length = list->elements_at = static_cast<size_t>(at - list->bytes.get());
  memcpy(list->stamp, stamp, stamp_length);
  return 0;
}

int kept_list_add(kept_list *list, std::string_view element) {
  if (list == nullptr || !list->bytes || !element_valid(element) || list->count >= KEPT_COUNT_MAX ||
      !room_make(list, element.size() + 1))
    return -1;
  memcpy(list->bytes.get() + list->length, element.data(), element.size());
  list->length += element.size();
  list->bytes.get()[list->length++] = '\n';
  ++list->count;
  return 0;
}

int kept_list_read(const char *path, kept_list *list) {
  if (list == nullptr) return KEPT_READ_BROKEN;
  list_clear(list);
  if (path == nullptr) return KEPT_READ_MISSING;
  unique_fd fd(open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return errno == ENOENT ? KEPT_READ_MISSING : KEPT_READ_BROKEN;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
      static_cast<unsigned long long>(info.st_size) > KEPT_FILE_MAX)
    return KEPT_READ_BROKEN;
  size_t size = static_cast<size_t>(info.st_size);
  heap_ptr<char> bytes(static_cast<char *>(malloc(size + 1)));
  if (!bytes) return KEPT_READ_BROKEN;
  size_t filled = 0;
  while (filled <= size) {  // one byte more than fstat said: a growing file is refused
    ssize_t count = read(fd.get(), bytes.get() + filled, size + 1 - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return KEPT_READ_BROKEN;
    if (count == 0) break;
    filled += static_cast<size_t>(count);
  }
  if (filled != size || !image_parse(std::string_view(bytes.get(), size), list)) {
    list_clear(list);
    return KEPT_READ_BROKEN;
  }
  list->bytes = std::move(bytes);
  list->capacity = size + 1;
  return KEPT_READ_OK;
}

bool kept_list_next(const kept_list &list, size_t *cursor, std::string_view *element) {
  if (cursor == nullptr || element == nullptr || !list.bytes) return false;
  size_t at = *cursor < list.elements_at ? list.elements_at : *cursor;
  if (at >= list.length) return false;
  const char *line = list.bytes.get() + at;
  const char *end = static_cast<const char *>(memchr(line, '\n', list.length - at));
  if (end == nullptr) return false;
  *element = std::string_view(line, static_cast<size_t>(end - line));
  *cursor = at + element->size() + 1;
  return true;
}

bool kept_list_same(const kept_list &a, const kept_list &b) {
  if (!a.bytes || !b.bytes) return false;
  return a.count == b.count && a.length == b.length &&
         memcmp(a.bytes.get(), b.bytes.get(), a.length) == 0;
}

int kept_list_store(const char *path, const kept_list &list) {
  if (path == nullptr || !list.bytes) {
    if (path != nullptr) kept_list_remove(path);
    errno = EINVAL;
    return -1;
  }
  kept_list old;
  if (kept_list_read(path, &old) == KEPT_READ_OK && kept_list_same(old, list)) return 1;
  old.bytes.reset();  // the old image need not stay in memory while the new one is written
  char trailer[TRAILER_SIZE];
  const file_piece pieces[] = {{list.bytes.get(), list.length},
                               {trailer, trailer_format(list, trailer)}};
  return file_replace(path, pieces, sizeof pieces / sizeof pieces[0]);
}

void kept_list_remove(const char *path) {
  if (path == nullptr) return;
  (void)unlink(path);
  (void)file_replace_leftover_clear(path);
}
