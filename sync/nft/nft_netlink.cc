// SPDX-License-Identifier: MIT
#include "sync/nft/nft_netlink.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "lib/c_guards.h"
#include "sync/nft/nft_element.h"

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
constexpr uint16_t MSG_NEWSET = 9;
constexpr uint16_t MSG_GETSET = 10;
constexpr uint16_t MSG_NEWSETELEM = 12;
constexpr uint16_t MSG_GETSETELEM = 13;
// Both requests name the table first and the set second
// (NFTA_SET_TABLE, NFTA_SET_NAME; NFTA_SET_ELEM_LIST_TABLE, _SET).
constexpr uint16_t ATTR_TABLE = 1;
constexpr uint16_t ATTR_SET = 2;
constexpr uint16_t ATTR_ELEMENTS = 3;      // NFTA_SET_ELEM_LIST_ELEMENTS
constexpr uint16_t ATTR_SET_FLAGS = 3;     // NFTA_SET_FLAGS, big-endian
constexpr uint16_t ATTR_SET_KEY_TYPE = 4;  // NFTA_SET_KEY_TYPE, big-endian
constexpr uint16_t ATTR_SET_DESC = 9;      // NFTA_SET_DESC, holding NFTA_SET_DESC_SIZE (1)
constexpr uint16_t ATTR_DESC_SIZE = 1;
constexpr uint32_t SET_INTERVAL = 0x4;  // NFT_SET_INTERVAL
constexpr uint32_t SET_MAP = 0x8;       // NFT_SET_MAP
constexpr uint32_t SET_OBJECT = 0x40;   // NFT_SET_OBJECT
// nft's own numbers of the key types (its datatypes): ipv4_addr, ipv6_addr.
constexpr uint32_t KEY_IPV4 = 7;
constexpr uint32_t KEY_IPV6 = 8;
constexpr uint16_t ATTR_TYPE_MASK = 0x3fff;  // without the nested and byte-order flags
constexpr size_t NAME_MAX_BYTES = 32;
constexpr int READ_ON = 2;

constexpr size_t aligned(size_t length) {
  return (length + 3) & ~static_cast<size_t>(3);
}

struct family_number {
  std::string_view name;
  uint8_t number;  // NFPROTO_*
};
constexpr family_number FAMILIES[] = {
    {"inet", 1}, {"ip", 2}, {"bridge", 7}, {"ip6", 10}, {"netdev", 5}};

int family_of(const char *name) {
  if (name == nullptr) return -1;
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

// Walks the attributes in bytes (length of them): visit(type, payload,
// payload length, declared payload length) for each whose header is there;
// a cut last attribute is visited with what is there. Stops where visit
// returns true.
template <typename Visit>
void attributes_walk(const unsigned char *bytes, size_t length, Visit visit) {
  size_t at = 0;
  while (length - at >= sizeof(nl_attribute)) {
    nl_attribute attribute{};
    memcpy(&attribute, bytes + at, sizeof attribute);
    if (attribute.length < sizeof attribute) return;
    const size_t declared = attribute.length - sizeof attribute;
    const size_t present = length - at - sizeof attribute;
    if (visit(static_cast<uint16_t>(attribute.type & ATTR_TYPE_MASK), bytes + at + sizeof attribute,
              present < declared ? present : declared, declared))
      return;
    at += aligned(attribute.length);
    if (at > length) return;
  }
}

// A big-endian 32-bit attribute payload; false when it is not one.
bool be32_read(const unsigned char *payload, size_t length, uint32_t *out) {
  if (length < sizeof *out) return false;
  uint32_t value = 0;
  memcpy(&value, payload, sizeof value);
  *out = ntohl(value);
  return true;
}

// Walks the messages of reply (length bytes): for each of request seq,
// read(type, payload, payload length present, whole) gives a result or
// READ_ON. An error message gives NFT_SET_MISSING for "no such file"
// (table or set), else NFT_SET_UNASKED.
template <typename Read>
int messages_read(const unsigned char *reply, size_t length, uint32_t seq, Read read) {
  size_t at = 0;
  while (length - at >= sizeof(nl_header)) {
    nl_header header{};
    memcpy(&header, reply + at, sizeof header);
    if (header.length < sizeof header) return NFT_SET_UNASKED;
    const size_t body = header.length - sizeof header;
    const unsigned char *payload = reply + at + sizeof header;
    const size_t rest = length - at - sizeof header;
    const size_t present = rest < body ? rest : body;
    if (header.seq == seq) {
      if (header.type == TYPE_ERROR) {
        int32_t error = 0;
        if (present < sizeof error) return NFT_SET_UNASKED;
        memcpy(&error, payload, sizeof error);
        return error == -ENOENT ? NFT_SET_MISSING : NFT_SET_UNASKED;
      }
      const int said = read(header.type, payload, present, present == body);
      if (said != READ_ON) return said;
    }
    if (present < body) break;  // cut: the rest is not here
    at += aligned(header.length);
    if (at > length) break;
  }
  return READ_ON;
}

constexpr uint16_t nftables_type(uint16_t message) {
  return static_cast<uint16_t>((SUBSYSTEM_NFTABLES << 8) | message);
}

// Sends one request of type (with flags) naming table and set to the
// kernel and reads its reply with reader(reply, length, seq) until that
// gives a result. NFT_SET_UNASKED when the kernel cannot be asked.
template <typename Reader>
int netlink_ask(const char *family, const char *table, const char *set, uint16_t type,
                uint16_t flags, Reader reader) {
  const int number = family_of(family);
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
  const nl_header header{static_cast<uint32_t>(used), type,
                         static_cast<uint16_t>(FLAG_REQUEST | flags), seq, 0};
  memcpy(request, &header, sizeof header);
  nl_address kernel{};
  kernel.family = AF_NETLINK;
  if (sendto(fd.get(), request, used, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(used))
    return NFT_SET_UNASKED;

  alignas(4) unsigned char reply[8192];
  for (int part = 0; part < 64; ++part) {
    nl_address from{};
    socklen_t from_length = sizeof from;
    const ssize_t got = recvfrom(fd.get(), reply, sizeof reply, 0,
                                 reinterpret_cast<sockaddr *>(&from), &from_length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return NFT_SET_UNASKED;
    if (from.port != 0) continue;  // only the kernel's word counts
    const int said = reader(reply, static_cast<size_t>(got), seq);
    if (said != READ_ON) return said;
  }
  return NFT_SET_UNASKED;
}

}  // namespace

int nft_set_header_reply(const unsigned char *reply, size_t length, uint32_t seq,
                         nft_set_header *out) {
  return messages_read(
      reply, length, seq,
      [out](uint16_t type, const unsigned char *payload, size_t present, bool whole) -> int {
        if (type != nftables_type(MSG_NEWSET)) return READ_ON;
        // The answer to one set is one small message: it must be whole.
        if (!whole || present < sizeof(nf_generic)) return NFT_SET_UNASKED;
        uint32_t flags = 0;
        uint32_t key = 0;
        uint32_t size = 0;
        bool has_key = false;
        attributes_walk(payload + sizeof(nf_generic), present - sizeof(nf_generic),
                        [&](uint16_t attribute, const unsigned char *value, size_t bytes, size_t) {
                          // The kernel leaves out flags that are all clear.
                          if (attribute == ATTR_SET_FLAGS) (void)be32_read(value, bytes, &flags);
                          if (attribute == ATTR_SET_KEY_TYPE)
                            has_key = be32_read(value, bytes, &key);
                          if (attribute == ATTR_SET_DESC)
                            attributes_walk(value, bytes,
                                            [&](uint16_t inner, const unsigned char *data,
                                                size_t count, size_t) {
                                              if (inner == ATTR_DESC_SIZE)
                                                (void)be32_read(data, count, &size);
                                              return inner == ATTR_DESC_SIZE;
                                            });
                          return false;
                        });
        if (!has_key) return NFT_SET_UNASKED;
        if ((flags & (SET_MAP | SET_OBJECT)) != 0) return NFT_SET_MISSING;
        if (key != KEY_IPV4 && key != KEY_IPV6) return NFT_SET_UNUSABLE;
        *out =
            nft_set_header{key == KEY_IPV4 ? ADDR_V4 : ADDR_V6, (flags & SET_INTERVAL) != 0, size};
        return 0;
      });
}

int nft_set_fill_reply(const unsigned char *reply, size_t length, uint32_t seq) {
  return messages_read(
      reply, length, seq,
      [](uint16_t type, const unsigned char *payload, size_t present, bool) -> int {
        if (type == TYPE_DONE) return NFT_SET_EMPTY;
        if (type != nftables_type(MSG_NEWSETELEM) || present < sizeof(nf_generic)) return READ_ON;
        bool filled = false;
        // The kernel writes the list's length once its elements are in: a list
        // longer than its own header holds one, even where the receive buffer
        // cut the message.
        attributes_walk(
            payload + sizeof(nf_generic), present - sizeof(nf_generic),
            [&filled](uint16_t attribute, const unsigned char *, size_t, size_t declared) {
              if (attribute != ATTR_ELEMENTS) return false;
              filled = declared > 0;
              return true;
            });
        return filled ? NFT_SET_FILLED : READ_ON;
      });
}

int nft_set_header_ask(const char *family, const char *table, const char *set,
                       nft_set_header *out) {
  return netlink_ask(family, table, set, nftables_type(MSG_GETSET), 0,
                     [out](const unsigned char *reply, size_t length, uint32_t seq) {
                       return nft_set_header_reply(reply, length, seq, out);
                     });
}

int nft_set_fill_ask(const char *family, const char *table, const char *set) {
  // The first part of a filled set's dump holds elements; an empty set's
  // dump may send a part without any before its end.
  return netlink_ask(family, table, set, nftables_type(MSG_GETSETELEM), FLAG_DUMP,
                     nft_set_fill_reply);
}
