// SPDX-License-Identifier: MIT
// Small searches and tests over NUL-terminated texts.
//
// Character classes are those of the POSIX locale: plain ASCII, and bytes
// 0x80 to 0xFF belong to no class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// True for the ASCII letters and digits.
inline bool ascii_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// True when a formatter's result length (snprintf's) fits a buffer of size
// bytes whole, its NUL included.
inline bool format_fits(int length, size_t size) {
  return length >= 0 && static_cast<size_t>(length) < size;
}

// Start of the last occurrence of needle in text (overlapping occurrences
// count), or null when there is none or an argument is null or empty.
const char *str_find_last(const char *text, const char *needle);

// 0 when every byte of text lies in 0x20 to 0x7E, -1 at the first that
// does not. The empty text yields 0, a null text -1.
[[nodiscard]] int str_printable(const char *text);

// Room for an nftables table family, table or set name, its NUL included.
inline constexpr size_t NFT_NAME_SIZE = 32;

// True for a name that nft takes as a plain identifier: 1 to 31 letters,
// digits, '_', '-' or '.', starting with a letter or '_'. Such a name can
// stand in nft's input and in dnsmasq's options without quoting.
[[nodiscard]] bool nft_name_safe(const char *name);

// True for the table families nft knows: "ip", "ip6", "inet", "bridge"
// and "netdev".
[[nodiscard]] bool nft_family_known(const char *family);

// The first of the first count bytes of data that differs from ch, or
// data + count when there is none. Null for null data.
const char *str_skip_char(const char *data, size_t count, char ch);

// Whether a decimal may carry leading zeros ("007"); "0" itself always reads.
enum class leading_zeros { TAKEN, REFUSED };

// Reads the whole of digits as a decimal number of at most max: ASCII
// digits only, at least one, no sign or space. true with *value set, false
// (value untouched) for anything else, a value above max too.
[[nodiscard]] bool decimal_read(std::string_view digits, uint64_t max, leading_zeros zeros,
                                uint64_t *value);
