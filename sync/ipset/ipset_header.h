// SPDX-License-Identifier: MIT
// The create line of a temporary set that can take a live set's place:
// built from what "ipset list -t <set>" prints about the live set, so that
// its type, family and options are read, never assumed.
#pragma once

#include <cstddef>

// The longest listing read, and the longest create line made.
inline constexpr size_t IPSET_LISTING_MAX = 4096;
inline constexpr size_t IPSET_CREATE_LINE_SIZE = 512;

// Makes "create <temp> <type> <options> maxelem <n>\n" from listing, the
// terse listing of the set named set: the "Type:" and the options of the
// "Header:" line are kept, "initval" is left to the kernel and "maxelem"
// (for types that have one) becomes at least capacity. 0 on success; -1
// when the listing is of another set, lacks a type or a header, holds a
// character outside letters, digits and ".:/_,-" in them, or the line does
// not fit size bytes (out then holds the empty text).
[[nodiscard]] int ipset_create_line(const char *listing, const char *set, const char *temp,
                                    size_t capacity, char *out, size_t size);

// The "Number of entries:" of listing, the terse listing of the set named
// set. 0 with *count set; -1 when the listing is of another set or holds no
// such number.
[[nodiscard]] int ipset_entry_count(const char *listing, const char *set, size_t *count);

// True when name may stand in an ipset command line as it is: 1 to 31
// letters, digits, '_', '-' or '.', not starting with '-'.
[[nodiscard]] bool ipset_name_safe(const char *name);
