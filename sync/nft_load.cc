// SPDX-License-Identifier: MIT
#include "sync/nft_load.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "lib/c_guards.h"
#include "lib/text.h"
#include "sync/host_list.h"
#include "sync/nft_config.h"
#include "sync/nft_element.h"
#include "sync/nft_input.h"
#include "sync/nft_ranges.h"
#include "sync/nft_set_header.h"
#include "sync/nft_tool.h"
#include "sync/tool_output.h"
#include "sync/whitelist_load.h"

namespace {

constexpr char SCRATCH_PREFIX[] = "quorvel-nft";
constexpr char INPUT_NAME[] = "nft_input";
constexpr char PROBE_NAME[] = "nft_probe";
constexpr size_t ARGUMENTS_SIZE = 320;
// nft reading its commands from standard input: one transaction.
constexpr const char *READ_INPUT[] = {"-f", "-", nullptr};
// The terse listing of a table's sets: room for hundreds of sets.
constexpr size_t LISTING_MAX = 64 * 1024;
// Large writes: 100,000 addresses are about two megabytes of input.
constexpr size_t INPUT_BUFFER_SIZE = 64 * 1024;

// The terse listing of the table's sets into listing (LISTING_MAX
// bytes). 0, or -1 with nft's message.
int sets_listing_read(const scratch_dir &dir, const nft_config &config, char *listing,
                      char (&message)[NFT_MESSAGE_SIZE]) {
  char output[256];
  const char *args[] = {"-t", "list", "sets", "table", config.family, config.table, nullptr};
  if (nft_run(dir, args, nullptr, NFT_RUN_PRINT, message) != 0) return -1;
  listing[0] = '\0';
  if (dir.file(NFT_OUTPUT_NAME, output, sizeof output) == 0)
    file_read(output, file_part::HEAD, listing, LISTING_MAX);
  return 0;
}

// The header of set from listing, of the family wanted. 0, or -1 with the
// reason in message.
int set_header_find(const char *listing, const char *set, int family, nft_set_header *header,
                    char (&message)[NFT_MESSAGE_SIZE]) {
  int found = nft_set_header_parse(listing, set, header);
  if (found == 0 && header->family == family) return 0;
  snprintf(message, sizeof message, "%s",
           found == NFT_SET_MISSING ? "no such set"
           : family == ADDR_V4      ? "not a set of type ipv4_addr"
                                    : "not a set of type ipv6_addr");
  return -1;
}

// The load's view of the list: IPv4 ranges from the front of one array,
// IPv6 ranges from its back.
struct collected {
  addr_range *ranges;
  size_t capacity;
  size_t v4;
  size_t v6;
  const nft_set_header *header4;
  const nft_set_header *header6;  // null: no IPv6 set
  const char *set4;
  const char *set6;
};

int element_take(const char *text, void *context) {
  auto *list = static_cast<collected *>(context);
  addr_element element;
  if (addr_element_parse(text, &element) != 0) return -1;
  const bool v6 = element.family == ADDR_V6;
  const nft_set_header *header = v6 ? list->header6 : list->header4;
  // No set for IPv6: refused as any other text the set cannot take.
  if (header == nullptr) return -1;
  if (!header->interval && !addr_range_single(element.range)) {
    syslog(LOG_WARNING, "ip prefix %s left out: set %s takes single addresses\n", text,
           v6 ? list->set6 : list->set4);
    return 1;
  }
  if (list->v4 + list->v6 >= list->capacity) return -1;  // cannot happen: one per element
  if (v6)
    list->ranges[list->capacity - ++list->v6] = element.range;
  else
    list->ranges[list->v4++] = element.range;
  return 0;
}

size_t ranges_settle(addr_range *ranges, size_t count, bool interval) {
  return interval ? addr_ranges_merge(ranges, count) : addr_ranges_unique(ranges, count);
}

int input_write(const scratch_dir &dir, const nft_fill *fills, size_t count) {
  char path[256];
  if (dir.file(INPUT_NAME, path, sizeof path) != 0) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  unique_file out(fdopen(fd, "w"));
  if (!out) {
    close(fd);
    return -1;
  }
  (void)setvbuf(out.get(), nullptr, _IOFBF, INPUT_BUFFER_SIZE);
  bool failed = nft_input_write(out.get(), fills, count) != 0;
  failed = fclose(out.release()) != 0 || failed;
  if (failed && errno == 0) errno = EIO;
  return failed ? -1 : 0;
}

}  // namespace

int nft_whitelist_load(json_object *hosts) {
  nft_config config;
  const char *bad = nullptr;
  if (nft_config_load(&config, &bad) != 0) {
    syslog(LOG_WARNING, "load nft config invalid: %s\n", bad != nullptr ? bad : "");
    return WHITELIST_LOAD_NFT_SET;
  }
  syslog(LOG_INFO, "stat_points_none ========== nft_load: %s time: %ld\n", config.set,
         static_cast<long>(time(nullptr)));
  scratch_dir dir;
  if (dir.make(SCRATCH_PARENT, SCRATCH_PREFIX) != 0) {
    syslog(LOG_WARNING, "load nft input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_NFT_INPUT;
  }
  char message[NFT_MESSAGE_SIZE];
  heap_ptr<char> listing(static_cast<char *>(malloc(LISTING_MAX)));
  nft_set_header header4;
  nft_set_header header6;
  if (!listing) {
    syslog(LOG_WARNING, "load nft input fail: %s\n", strerror(ENOMEM));
    return WHITELIST_LOAD_NFT_INPUT;
  }
  if (sets_listing_read(dir, config, listing.get(), message) != 0 ||
      set_header_find(listing.get(), config.set, ADDR_V4, &header4, message) != 0) {
    syslog(LOG_WARNING, "load set %s %s %s unreadable: %s\n", config.family, config.table,
           config.set, message);
    return WHITELIST_LOAD_NFT_SET;
  }
  bool with_v6 = config.set6[0] != '\0';
  if (with_v6 && set_header_find(listing.get(), config.set6, ADDR_V6, &header6, message) != 0) {
    syslog(LOG_WARNING, "load set %s %s %s unreadable, IPv6 addresses left out: %s\n",
           config.family, config.table, config.set6, message);
    with_v6 = false;
  }
  listing.reset();

  size_t capacity =
      json_object_is_type(hosts, json_type_array) ? json_object_array_length(hosts) : 0;
  heap_ptr<addr_range> ranges(
      static_cast<addr_range *>(calloc(capacity == 0 ? 1 : capacity, sizeof(addr_range))));
  if (!ranges) {
    syslog(LOG_WARNING, "load nft input fail: %s\n", strerror(ENOMEM));
    return WHITELIST_LOAD_NFT_INPUT;
  }
  collected list{ranges.get(), capacity,   0, 0, &header4, with_v6 ? &header6 : nullptr,
                 config.set,   config.set6};
  if (host_list_walk(hosts, element_take, &list) != 0) {
    syslog(LOG_WARNING, "load host list incomplete, set untouched.\n");
    return WHITELIST_LOAD_HOSTS;
  }
  addr_range *ranges6 = ranges.get() + capacity - list.v6;
  nft_fill fills[2] = {
      {config.family, config.table, config.set, ADDR_V4, ranges.get(),
       ranges_settle(ranges.get(), list.v4, header4.interval)},
      {config.family, config.table, config.set6, ADDR_V6, ranges6,
       with_v6 ? ranges_settle(ranges6, list.v6, header6.interval) : 0},
  };
  const size_t fill_count = with_v6 ? 2 : 1;
  const nft_set_header *headers[2] = {&header4, &header6};
  for (size_t i = 0; i < fill_count; ++i) {
    if (headers[i]->size != 0 && fills[i].count > headers[i]->size) {
      syslog(LOG_WARNING, "load set %s too small: %zu elements, size %u\n", fills[i].set,
             fills[i].count, static_cast<unsigned>(headers[i]->size));
      return WHITELIST_LOAD_NFT_SIZE;
    }
  }

  if (input_write(dir, fills, fill_count) != 0) {
    syslog(LOG_WARNING, "load nft input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_NFT_INPUT;
  }
  if (nft_run(dir, READ_INPUT, INPUT_NAME, NFT_RUN_PRINT, message) != 0) {
    syslog(LOG_WARNING, "load nft fail: %s\n", message);
    return WHITELIST_LOAD_NFT_REFUSED;
  }
  for (size_t i = 0; i < fill_count; ++i)
    syslog(LOG_WARNING, "nft load %s: %zu elements\n", fills[i].set, fills[i].count);
  return WHITELIST_LOAD_OK;
}

namespace {

// The first single address of each family in the list (the first address
// of a prefix when the family has none).
struct probes {
  addr_element first[2];
  bool found[2];
  bool single[2];
};

void probes_find(json_object *hosts, probes *out) {
  *out = probes{};
  for (size_t i = 0; i < json_object_array_length(hosts); ++i) {
    const char *text = json_object_get_string(json_object_array_get_idx(hosts, i));
    addr_element element;
    if (text == nullptr || addr_element_parse(text, &element) != 0) continue;
    const int slot = element.family == ADDR_V6 ? 1 : 0;
    const bool single = addr_range_single(element.range);
    if (!out->found[slot] || (single && !out->single[slot])) {
      out->first[slot] = element;
      out->found[slot] = true;
      out->single[slot] = single;
    }
  }
}

// The probe's line for the first address of element in set, appended to
// lines (size bytes). false when it does not fit.
bool probe_line(const nft_config &config, const char *set, const addr_element &element, char *lines,
                size_t size) {
  char address[ADDR_RANGE_TEXT_SIZE];
  addr_range first = element.range;
  memcpy(first.last, first.first, sizeof first.last);
  size_t used = strlen(lines);
  return addr_range_format(first, element.family, address, sizeof address) == 0 &&
         format_fits(snprintf(lines + used, size - used, "get element %s %s %s { %s }\n",
                              config.family, config.table, set, address),
                     size - used);
}

// 1 when a set of the probe lines exists and lacks its address, 0 when all
// are there, -1 when nft refused the probe otherwise (a set missing).
int probe_run(const scratch_dir &dir, const char *lines) {
  char input[256];
  if (dir.file(PROBE_NAME, input, sizeof input) != 0) return -1;
  (void)unlink(input);
  if (nft_file_write(dir, PROBE_NAME, lines) != 0) return -1;
  char message[NFT_MESSAGE_SIZE];
  if (nft_run(dir, READ_INPUT, PROBE_NAME, NFT_RUN_ERRORS_ONLY, message) == 0) return 0;
  // A set missing reads "Error: No such file or directory" and stops nft
  // before any lookup; only the kernel's answer to a lookup is this.
  return strstr(message, "Could not process rule: No such file or directory") != nullptr ? 1 : -1;
}

}  // namespace

int nft_whitelist_needs_refill(json_object *hosts) {
  nft_config config;
  const char *bad = nullptr;
  if (!json_object_is_type(hosts, json_type_array) || nft_config_load(&config, &bad) != 0) return 0;
  probes found;
  probes_find(hosts, &found);
  found.found[1] = found.found[1] && config.set6[0] != '\0';
  char lines[2 * ARGUMENTS_SIZE] = "";
  if ((found.found[0] && !probe_line(config, config.set, found.first[0], lines, sizeof lines)) ||
      (found.found[1] && !probe_line(config, config.set6, found.first[1], lines, sizeof lines)) ||
      lines[0] == '\0')
    return 0;
  scratch_dir dir;
  if (dir.make(SCRATCH_PARENT, SCRATCH_PREFIX) != 0) return 0;
  // Both sets in one nft run (nft fetches the table's elements once); a
  // missing IPv6 set fails that run whole, and the IPv4 set is probed alone.
  int lacks = probe_run(dir, lines);
  if (lacks < 0 && found.found[0] && found.found[1]) {
    lines[0] = '\0';
    if (probe_line(config, config.set, found.first[0], lines, sizeof lines))
      lacks = probe_run(dir, lines);
  }
  return lacks == 1 ? 1 : 0;
}
