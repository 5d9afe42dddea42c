// SPDX-License-Identifier: MIT
#include "sync/ipset/ipset_header.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "lib/text.h"
#include "sync/core/view_part.h"

namespace {

constexpr size_t IPSET_NAME_MAX = 31;

bool token_char(char c) {
  return ascii_alnum(c) || strchr(".:/_,-", c) != nullptr;
}

// A token of ipset's own listing, safe to copy into a restore line: never
// empty, never taken for an option.
bool token_safe(std::string_view token) {
  if (token.empty() || token[0] == '-') return false;
  for (char c : token)
    if (!token_char(c)) return false;
  return true;
}

// The value of the line "<key> <value>" in listing, without the line end;
// empty when there is no such line.
std::string_view listing_field(std::string_view listing, std::string_view key) {
  size_t at = 0;
  while (at < listing.size()) {
    size_t end = listing.find('\n', at);
    if (end == std::string_view::npos) end = listing.size();
    std::string_view line = view_part(listing, at, end - at);
    if (view_part(line, 0, key.size()) == key) return view_part(line, key.size());
    at = end + 1;
  }
  return {};
}

// The next space-separated token of text from *at on (empty at the end);
// *at moves past it.
std::string_view token_next(std::string_view text, size_t *at) {
  while (*at < text.size() && text[*at] == ' ') ++*at;
  size_t start = *at;
  while (*at < text.size() && text[*at] != ' ') ++*at;
  return view_part(text, start, *at - start);
}

// Appends text to out (used bytes in *used); false when it does not fit.
bool append(char *out, size_t size, size_t *used, std::string_view text) {
  if (text.size() >= size - *used) return false;
  memcpy(out + *used, text.data(), text.size());
  *used += text.size();
  out[*used] = '\0';
  return true;
}

// Parses a decimal count; false for anything else.
bool count_parse(std::string_view text, size_t *value) {
  uint64_t parsed = 0;
  if (!decimal_read(text, SIZE_MAX, leading_zeros::TAKEN, &parsed)) return false;
  *value = static_cast<size_t>(parsed);
  return true;
}

bool create_line_build(std::string_view listing, const char *set, const char *temp, size_t capacity,
                       char *out, size_t size) {
  if (listing_field(listing, "Name: ") != set) return false;
  std::string_view type = listing_field(listing, "Type: ");
  std::string_view header = listing_field(listing, "Header: ");
  if (!token_safe(type) || header.empty()) return false;
  size_t used = 0;
  if (!append(out, size, &used, "create ") || !append(out, size, &used, temp) ||
      !append(out, size, &used, " ") || !append(out, size, &used, type))
    return false;
  // The header holds flags ("counters") and pairs ("maxelem 65536"); only
  // the two named pairs change, everything else is kept as printed.
  size_t at = 0;
  for (std::string_view token = token_next(header, &at); !token.empty();
       token = token_next(header, &at)) {
    if (!token_safe(token)) return false;
    if (token == "initval") {
      (void)token_next(header, &at);
      continue;
    }
    if (token == "maxelem") {
      size_t maxelem = 0;
      if (!count_parse(token_next(header, &at), &maxelem)) return false;
      if (maxelem < capacity) maxelem = capacity;
      char number[32];
      snprintf(number, sizeof number, " maxelem %zu", maxelem);
      if (!append(out, size, &used, number)) return false;
      continue;
    }
    if (!append(out, size, &used, " ") || !append(out, size, &used, token)) return false;
  }
  return append(out, size, &used, "\n");
}

}  // namespace

bool ipset_name_safe(const char *name) {
  if (name == nullptr) return false;
  size_t length = strnlen(name, IPSET_NAME_MAX + 1);
  if (length == 0 || length > IPSET_NAME_MAX || name[0] == '-') return false;
  for (size_t i = 0; i < length; ++i)
    if (!token_char(name[i]) || name[i] == ':' || name[i] == '/' || name[i] == ',') return false;
  return true;
}

int ipset_create_line(const char *listing, const char *set, const char *temp, size_t capacity,
                      char *out, size_t size) {
  if (out == nullptr || size == 0) return -1;
  out[0] = '\0';
  if (listing == nullptr || !ipset_name_safe(set) || !ipset_name_safe(temp)) return -1;
  if (!create_line_build(std::string_view(listing, strnlen(listing, IPSET_LISTING_MAX)), set, temp,
                         capacity, out, size)) {
    out[0] = '\0';
    return -1;
  }
  return 0;
}

int ipset_entry_count(const char *listing, const char *set, size_t *count) {
  if (listing == nullptr || set == nullptr || count == nullptr) return -1;
  std::string_view text(listing, strnlen(listing, IPSET_LISTING_MAX));
  if (listing_field(text, "Name: ") != set) return -1;
  return count_parse(listing_field(text, "Number of entries: "), count) ? 0 : -1;
}
