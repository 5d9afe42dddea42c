// SPDX-License-Identifier: MIT
#include "sync/nft/nft_netlink.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "lib/c_guards.h"

namespace {

// The kernel's netlink ABI, as linux/netlink.h, linux/netfilter/
// nfnetlink.h and linux/netfilter/nf_tables.h number it (user space ABI,
// never changed); the musl targets carry no kernel headers.
struct nl_header {
  uint32_t length;
  uint16_t type;
  uint16_t flags;
  uint32_t seq;
  uint32_t port;
};
struct nl_attribute {
  uint16_t length;
  uint16_t type;
};
struct nl_address {  // sockaddr_nl
  sa_family_t family;
  unsigned short pad;
  uint32_t port;
  uint32_t groups;
};
struct nf_generic {
  uint8_t family;
  uint8_t version;
  uint16_t resource;  // big-endian; 0
};
constexpr int NETLINK_NETFILTER_PROTOCOL = 12;
constexpr uint16_t FLAG_REQUEST = 0x1;
constexpr uint16_t FLAG_DUMP = 0x300;
constexpr uint16_t TYPE_ERROR = 2;
constexpr uint16_t TYPE_DONE = 3;
constexpr uint16_t SUBSYSTEM_NFTABLES = 10;
constexpr uint16_t MSG_NEWSETELEM = 12;
constexpr uint16_t MSG_GETSETELEM = 13;
constexpr uint16_t ATTR_TABLE = 1;     // NFTA_SET_ELEM_LIST_TABLE
constexpr uint16_t ATTR_SET = 2;       // NFTA_SET_ELEM_LIST_SET
constexpr uint16_t ATTR_ELEMENTS = 3;  // NFTA_SET_ELEM_LIST_ELEMENTS
constexpr uint16_t ATTR_TYPE_MASK = 0x3fff;  // without the nested and byte-order flags
constexpr size_t NAME_MAX_BYTES = 32;

constexpr size_t aligned(size_t length) { return (length + 3) & ~static_cast<size_t>(3); }

struct family_number {
  std::string_view name;
  uint8_t number;  // NFPROTO_*
};
constexpr family_number FAMILIES[] = {
    {"inet", 1}, {"ip", 2}, {"bridge", 7}, {"ip6", 10}, {"netdev", 5}};

int family_of(std::string_view name) {
  for (const family_number &family : FAMILIES)
    if (family.name == name) return family.number;
  return -1;
}

// Appends a string attribute at *used of request (size bytes). false when
// it does not fit.
bool attribute_put(unsigned char *request, size_t size, size_t *used, uint16_t type,
                   const char *text) {
  const size_t length = strnlen(text, NAME_MAX_BYTES);
  if (length == NAME_MAX_BYTES) return false;
  const size_t total = sizeof(nl_attribute) + length + 1;
  if (aligned(total) > size - *used) return false;
  const nl_attribute header{static_cast<uint16_t>(total), type};
  memcpy(request + *used, &header, sizeof header);
  memcpy(request + *used + sizeof header, text, length + 1);
  *used += aligned(total);
  return true;
}

// Whether the element list part of one NEWSETELEM message (its attributes
// after the generic header, length bytes) holds an element.
bool holds_element(const unsigned char *attributes, size_t length) {
  size_t at = 0;
  while (length - at >= sizeof(nl_attribute)) {
    nl_attribute attribute{};
    memcpy(&attribute, attributes + at, sizeof attribute);
    if (attribute.length < sizeof attribute) return false;
    // The kernel writes the list's length once its elements are in: a list
    // longer than its own header holds one, even where the receive buffer
    // cut the message.
    if ((attribute.type & ATTR_TYPE_MASK) == ATTR_ELEMENTS) return attribute.length > sizeof attribute;
    at += aligned(attribute.length);
    if (at > length) break;
  }
  return false;
}

}  // namespace

int nft_set_fill_reply(const unsigned char *reply, size_t length, uint32_t seq) {
  size_t at = 0;
  while (length - at >= sizeof(nl_header)) {
    nl_header header{};
    memcpy(&header, reply + at, sizeof header);
    if (header.length < sizeof header) return NFT_SET_UNASKED;
    const size_t body = header.length - sizeof header;
    const unsigned char *payload = reply + at + sizeof header;
    const size_t present = length - at - sizeof header < body ? length - at - sizeof header : body;
    if (header.seq == seq) {
      if (header.type == TYPE_DONE) return NFT_SET_EMPTY;
      if (header.type == TYPE_ERROR) {
        int32_t error = 0;
        if (present < sizeof error) return NFT_SET_UNASKED;
        memcpy(&error, payload, sizeof error);
        return error == -ENOENT ? NFT_SET_GONE : NFT_SET_UNASKED;
      }
      if (header.type == ((SUBSYSTEM_NFTABLES << 8) | MSG_NEWSETELEM) &&
          present >= sizeof(nf_generic) &&
          holds_element(payload + sizeof(nf_generic), present - sizeof(nf_generic)))
        return NFT_SET_FILLED;
    }
    if (present < body) break;  // cut: the rest is not here
    at += aligned(header.length);
    if (at > length) break;
  }
  return 2;
}

int nft_set_fill_ask(const char *family, const char *table, const char *set) {
  const int number = family != nullptr ? family_of(family) : -1;
  if (number < 0 || table == nullptr || set == nullptr) return NFT_SET_UNASKED;
  unique_fd fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_NETFILTER_PROTOCOL));
  if (!fd.valid()) return NFT_SET_UNASKED;
  // The kernel answers at once; the bound only guards against a stall.
  const timeval bound{2, 0};
  (void)setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);

  alignas(4) unsigned char request[128] = {};
  size_t used = sizeof(nl_header);
  const nf_generic generic{static_cast<uint8_t>(number), 0, 0};
  memcpy(request + used, &generic, sizeof generic);
  used += aligned(sizeof generic);
  if (!attribute_put(request, sizeof request, &used, ATTR_TABLE, table) ||
      !attribute_put(request, sizeof request, &used, ATTR_SET, set))
    return NFT_SET_UNASKED;
  const uint32_t seq = static_cast<uint32_t>(getpid());
  const nl_header header{static_cast<uint32_t>(used),
                         static_cast<uint16_t>((SUBSYSTEM_NFTABLES << 8) | MSG_GETSETELEM),
                         static_cast<uint16_t>(FLAG_REQUEST | FLAG_DUMP), seq, 0};
  memcpy(request, &header, sizeof header);
  nl_address kernel{};
  kernel.family = AF_NETLINK;
  if (sendto(fd.get(), request, used, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(used))
    return NFT_SET_UNASKED;

  // The first part of a filled set's dump holds elements; an empty set's
  // dump may send a part without any before its end.
  alignas(4) unsigned char reply[8192];
  for (int part = 0; part < 64; ++part) {
    nl_address from{};
    socklen_t from_length = sizeof from;
    const ssize_t got = recvfrom(fd.get(), reply, sizeof reply, 0,
                                 reinterpret_cast<sockaddr *>(&from), &from_length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return NFT_SET_UNASKED;
    if (from.port != 0) continue;  // only the kernel's word counts
    const int said = nft_set_fill_reply(reply, static_cast<size_t>(got), seq);
    if (said != 2) return said;
  }
  return NFT_SET_UNASKED;
}
