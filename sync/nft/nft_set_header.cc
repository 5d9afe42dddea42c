// SPDX-License-Identifier: MIT
#include "sync/nft/nft_set_header.h"

#include "sync/nft/nft_element.h"

namespace {

std::string_view string_of(json_object *value) {
  if (!json_object_is_type(value, json_type_string)) return {};
  return {json_object_get_string(value), static_cast<size_t>(json_object_get_string_len(value))};
}

// The string member key of object, or an empty view.
std::string_view string_member(json_object *object, const char *key) {
  json_object *value = nullptr;
  (void)json_object_object_get_ex(object, key, &value);
  return string_of(value);
}

// nft writes the flags as an array; one flag alone is taken as a string too.
bool has_flag(json_object *set, std::string_view flag) {
  json_object *flags = nullptr;
  if (!json_object_object_get_ex(set, "flags", &flags)) return false;
  if (!json_object_is_type(flags, json_type_array)) return string_of(flags) == flag;
  const size_t count = json_object_array_length(flags);
  for (size_t i = 0; i < count; ++i)
    if (string_of(json_object_array_get_idx(flags, i)) == flag) return true;
  return false;
}

// The set's "size", 0 when it has none. 0, or -1 when it is no number
// from 0 to UINT32_MAX.
int size_read(json_object *set, uint32_t *out) {
  json_object *size = nullptr;
  *out = 0;
  if (!json_object_object_get_ex(set, "size", &size)) return 0;
  if (!json_object_is_type(size, json_type_int)) return -1;
  const int64_t value = json_object_get_int64(size);
  if (value < 0 || value > static_cast<int64_t>(UINT32_MAX)) return -1;
  *out = static_cast<uint32_t>(value);
  return 0;
}

}  // namespace

int nft_set_header_find(json_object *listing, std::string_view set, nft_set_header *out) {
  json_object *items = nullptr;
  if (out == nullptr || set.empty() || !json_object_object_get_ex(listing, "nftables", &items) ||
      !json_object_is_type(items, json_type_array))
    return NFT_SET_MISSING;
  const size_t count = json_object_array_length(items);
  for (size_t i = 0; i < count; ++i) {
    json_object *entry = nullptr;
    if (!json_object_object_get_ex(json_object_array_get_idx(items, i), "set", &entry) ||
        string_member(entry, "name") != set)
      continue;
    const std::string_view type = string_member(entry, "type");
    nft_set_header header{type == "ipv4_addr"   ? ADDR_V4
                          : type == "ipv6_addr" ? ADDR_V6
                                                : -1,
                          has_flag(entry, "interval"), 0};
    if (header.family < 0 || size_read(entry, &header.size) != 0) return NFT_SET_UNUSABLE;
    *out = header;
    return 0;
  }
  return NFT_SET_MISSING;
}
