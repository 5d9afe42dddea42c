// SPDX-License-Identifier: MIT
#include "lib/text.h"

#include <cstring>
#include <initializer_list>

const char *str_find_last(const char *text, const char *needle) {
  if (text == nullptr || needle == nullptr || needle[0] == '\0') return nullptr;
  const char *last = nullptr;
  // Restart one character after each hit, so that overlapping hits count.
  for (const char *hit = strstr(text, needle); hit != nullptr; hit = strstr(hit + 1, needle))
    last = hit;
  return last;
}

int str_printable(const char *text) {
  if (text == nullptr) return -1;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p) {
    if (*p < 0x20 || *p > 0x7E) return -1;
  }
  return 0;
}

const char *str_skip_char(const char *data, size_t count, char ch) {
  if (data == nullptr) return nullptr;
  size_t index = 0;
  while (index < count && data[index] == ch) ++index;
  return data + index;
}

bool nft_name_safe(const char *name) {
  if (name == nullptr) return false;
  size_t length = strnlen(name, NFT_NAME_SIZE);
  if (length == 0 || length >= NFT_NAME_SIZE) return false;
  if (!(ascii_alnum(name[0]) && !(name[0] >= '0' && name[0] <= '9')) && name[0] != '_')
    return false;
  for (size_t i = 0; i < length; ++i) {
    if (!ascii_alnum(name[i]) && strchr("_-.", name[i]) == nullptr) return false;
  }
  return true;
}

bool nft_family_known(const char *family) {
  if (family == nullptr) return false;
  for (const char *known : {"ip", "ip6", "inet", "bridge", "netdev"})
    if (strcmp(family, known) == 0) return true;
  return false;
}

bool decimal_read(std::string_view digits, uint64_t max, leading_zeros zeros, uint64_t *value) {
  if (value == nullptr || digits.empty()) return false;
  if (zeros == leading_zeros::REFUSED && digits.size() > 1 && digits[0] == '0') return false;
  uint64_t result = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<uint64_t>(c - '0');
    // Without a division at run time: a 32-bit CPU would call the C
    // runtime's 64-bit one.
    if (result > UINT64_MAX / 10) return false;
    result *= 10;
    if (digit > max || result > max - digit) return false;
    result += digit;
  }
  *value = result;
  return true;
}
