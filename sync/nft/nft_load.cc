// SPDX-License-Identifier: MIT
#include "sync/nft/nft_load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "lib/c_guards.h"
#include "lib/json_doc.h"
#include "lib/text.h"
#include "sync/core/load_status.h"
#include "sync/nft/nft_config.h"
#include "sync/nft/nft_element.h"
#include "sync/nft/nft_input.h"
#include "sync/nft/nft_netlink.h"
#include "sync/nft/nft_ranges.h"
#include "sync/nft/nft_set_header.h"
#include "sync/nft/nft_tool.h"

namespace {

constexpr char SCRATCH_PREFIX[] = "quorvel-nft";
constexpr char INPUT_NAME[] = "nft_input";
// nft reading its commands from standard input: one transaction.
constexpr const char *READ_INPUT[] = {"-f", "-", nullptr};
// The JSON listing of a table's sets: room for hundreds of sets.
constexpr size_t LISTING_MAX = 64 * 1024;
// Large writes: 100,000 addresses are about two megabytes of input.
constexpr size_t INPUT_BUFFER_SIZE = 64 * 1024;

// Where a load puts its elements: the configuration and the types of the
// sets, as nft lists them.
struct nft_target {
  nft_config config;
  nft_set_header header4;
  nft_set_header header6;
  bool with_v6;  // an IPv6 set is configured and exists
};

// nft's JSON listing of the table's sets into *listing. 0, or -1 with the
// reason in message.
int sets_listing_read(const scratch_dir &dir, const nft_config &config, unsigned flags,
                      json_doc *listing, char (&message)[NFT_MESSAGE_SIZE]) {
  char output[256];
  const char *args[] = {"-j", "-t", "list", "sets", "table", config.family, config.table, nullptr};
  if (nft_run(dir, args, nullptr, flags, message) != 0) return -1;
  unique_fd fd;
  struct stat info {};
  if (dir.file(NFT_OUTPUT_NAME, output, sizeof output) == 0)
    fd = unique_fd(open(output, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.valid() || fstat(fd.get(), &info) != 0) {
    snprintf(message, sizeof message, "%s", "set listing unreadable");
    return -1;
  }
  // A listing past the bound is refused whole, never read in part.
  if (static_cast<size_t>(info.st_size) >= LISTING_MAX) {
    snprintf(message, sizeof message, "set listing longer than %zu bytes", LISTING_MAX - 1);
    return -1;
  }
  listing->reset(json_object_from_fd(fd.get()));
  if (!*listing) {
    snprintf(message, sizeof message, "%s", "set listing is not JSON");
    return -1;
  }
  return 0;
}

// The configuration into target->config, its stat line logged (a load's
// first lines). 0, or WHITELIST_LOAD_NFT_SET.
int config_take(load_lines lines, nft_target *target) {
  const bool logged = lines == load_lines::LOGGED;
  const char *bad = nullptr;
  if (nft_config_load(&target->config, &bad) != 0) {
    if (logged) syslog(LOG_WARNING, "load nft config invalid: %s\n", bad != nullptr ? bad : "");
    return WHITELIST_LOAD_NFT_SET;
  }
  if (logged)
    syslog(LOG_INFO, "stat_points_none ========== nft_load: %s time: %ld\n", target->config.set,
           static_cast<long>(time(nullptr)));
  return WHITELIST_LOAD_OK;
}

// The header of set of the family wanted, from the kernel; where it
// cannot be asked or the set will not do, from nft's listing (read once
// into *listing), whose message tells why. 0, or -1 with the reason in
// message.
int set_header_take(const scratch_dir &dir, const nft_config &config, unsigned flags,
                    const char *set, int family, json_doc *listing, nft_set_header *header,
                    char (&message)[NFT_MESSAGE_SIZE]) {
  if (nft_set_header_ask(config.family, config.table, set, header) == 0 && header->family == family)
    return 0;
  if (!*listing && sets_listing_read(dir, config, flags, listing, message) != 0) return -1;
  const int found = nft_set_header_find(listing->get(), set, header);
  if (found == 0 && header->family == family) return 0;
  snprintf(message, sizeof message, "%s",
           found == NFT_SET_MISSING ? "no such set"
           : family == ADDR_V4      ? "not a set of type ipv4_addr"
                                    : "not a set of type ipv6_addr");
  return -1;
}

// The sets' types into target (the configuration read): 0, or a negative
// whitelist_load code. A load prints nft's command line where nft lists
// the sets; a quiet read prints and logs nothing.
int sets_take(const scratch_dir &dir, load_lines lines, nft_target *target) {
  const bool logged = lines == load_lines::LOGGED;
  const nft_config &config = target->config;
  const unsigned flags = logged ? static_cast<unsigned>(NFT_RUN_PRINT) : 0u;
  char message[NFT_MESSAGE_SIZE];
  json_doc listing;
  if (set_header_take(dir, config, flags, config.set, ADDR_V4, &listing, &target->header4,
                      message) != 0) {
    if (logged)
      syslog(LOG_WARNING, "load set %s %s %s unreadable: %s\n", config.family, config.table,
             config.set, message);
    return WHITELIST_LOAD_NFT_SET;
  }
  target->with_v6 = config.set6[0] != '\0';
  if (target->with_v6 && set_header_take(dir, config, flags, config.set6, ADDR_V6, &listing,
                                         &target->header6, message) != 0) {
    if (logged)
      syslog(LOG_WARNING, "load set %s %s %s unreadable, IPv6 addresses left out: %s\n",
             config.family, config.table, config.set6, message);
    target->with_v6 = false;
  }
  return WHITELIST_LOAD_OK;
}

// The private folder of one run. 0, or WHITELIST_LOAD_NFT_INPUT.
int dir_make(load_lines lines, scratch_dir *dir) {
  if (dir->make(SCRATCH_PARENT, SCRATCH_PREFIX) == 0) return WHITELIST_LOAD_OK;
  if (lines == load_lines::LOGGED) syslog(LOG_WARNING, "load nft input fail: %s\n", strerror(errno));
  return WHITELIST_LOAD_NFT_INPUT;
}

// The reader's view of the list: IPv4 ranges from the front of one array,
// IPv6 ranges from its back.
struct collected {
  addr_range *ranges;
  size_t capacity;
  size_t v4;
  size_t v6;
  const nft_target *target;
  bool logged;
};

int element_take(const char *text, void *context) {
  auto *list = static_cast<collected *>(context);
  addr_element element;
  if (addr_element_parse(text, &element) != 0) return -1;
  const bool v6 = element.family == ADDR_V6;
  const nft_target &target = *list->target;
  // No set for IPv6: refused as any other text the set cannot take.
  if (v6 && !target.with_v6) return -1;
  const nft_set_header &header = v6 ? target.header6 : target.header4;
  if (!header.interval && !addr_range_single(element.range)) {
    if (list->logged)
      syslog(LOG_WARNING, "ip prefix %s left out: set %s takes single addresses\n", text,
             v6 ? target.config.set6 : target.config.set);
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

// Appends the count ranges of family to list as nft's input writes them.
int ranges_keep(const addr_range *ranges, size_t count, int family, load_list *list) {
  for (size_t i = 0; i < count; ++i) {
    char text[ADDR_RANGE_TEXT_SIZE];
    if (addr_range_format(ranges[i], family, text, sizeof text) != 0 ||
        load_list_add(list, family, text, strlen(text)) != 0)
      return -1;
  }
  return 0;
}

// The element list of hosts for target. 0, or a negative whitelist_load
// code with *list empty.
int hosts_read(const nft_target &target, json_object *hosts, load_lines lines, load_list *list) {
  const bool logged = lines == load_lines::LOGGED;
  load_list_clear(list);
  size_t capacity =
      json_object_is_type(hosts, json_type_array) ? json_object_array_length(hosts) : 0;
  heap_ptr<addr_range> ranges(
      static_cast<addr_range *>(calloc(capacity == 0 ? 1 : capacity, sizeof(addr_range))));
  if (!ranges) {
    if (logged) syslog(LOG_WARNING, "load nft input fail: %s\n", strerror(ENOMEM));
    return WHITELIST_LOAD_NFT_INPUT;
  }
  collected taken{ranges.get(), capacity, 0, 0, &target, logged};
  if (host_list_walk(hosts, element_take, &taken, lines) != 0) {
    if (logged) syslog(LOG_WARNING, "load host list incomplete, set untouched.\n");
    return WHITELIST_LOAD_HOSTS;
  }
  addr_range *ranges6 = ranges.get() + capacity - taken.v6;
  const size_t v4 = ranges_settle(ranges.get(), taken.v4, target.header4.interval);
  const size_t v6 = target.with_v6 ? ranges_settle(ranges6, taken.v6, target.header6.interval) : 0;
  if (ranges_keep(ranges.get(), v4, LOAD_V4, list) != 0 ||
      ranges_keep(ranges6, v6, LOAD_V6, list) != 0) {
    load_list_clear(list);
    if (logged) syslog(LOG_WARNING, "load nft input fail: %s\n", strerror(ENOMEM));
    return WHITELIST_LOAD_NFT_INPUT;
  }
  return WHITELIST_LOAD_OK;
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

// Replaces the sets' content with list in one transaction. 0, or a
// negative whitelist_load code (the reason logged).
int list_apply(const scratch_dir &dir, const nft_target &target, const load_list &list) {
  const nft_config &config = target.config;
  const nft_fill fills[2] = {
      {config.family, config.table, config.set, LOAD_V4, &list},
      {config.family, config.table, config.set6, LOAD_V6, &list},
  };
  const size_t fill_count = target.with_v6 ? 2 : 1;
  const nft_set_header *headers[2] = {&target.header4, &target.header6};
  size_t counts[2] = {load_list_family_size(list, LOAD_V4), load_list_family_size(list, LOAD_V6)};
  for (size_t i = 0; i < fill_count; ++i) {
    if (headers[i]->size != 0 && counts[i] > headers[i]->size) {
      syslog(LOG_WARNING, "load set %s too small: %zu elements, size %u\n", fills[i].set,
             counts[i], static_cast<unsigned>(headers[i]->size));
      return WHITELIST_LOAD_NFT_SIZE;
    }
  }
  if (input_write(dir, fills, fill_count) != 0) {
    syslog(LOG_WARNING, "load nft input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_NFT_INPUT;
  }
  char message[NFT_MESSAGE_SIZE];
  if (nft_run(dir, READ_INPUT, INPUT_NAME, NFT_RUN_PRINT, message) != 0) {
    syslog(LOG_WARNING, "load nft fail: %s\n", message);
    return WHITELIST_LOAD_NFT_REFUSED;
  }
  for (size_t i = 0; i < fill_count; ++i)
    syslog(LOG_WARNING, "nft load %s: %zu elements\n", fills[i].set, counts[i]);
  return WHITELIST_LOAD_OK;
}

// The steps before the elements: configuration, stat line, private
// folder, the sets' types. 0, or a negative whitelist_load code.
int target_take(load_lines lines, scratch_dir *dir, nft_target *target) {
  int code = config_take(lines, target);
  if (code == WHITELIST_LOAD_OK) code = dir_make(lines, dir);
  if (code == WHITELIST_LOAD_OK) code = sets_take(*dir, lines, target);
  return code;
}

}  // namespace

int nft_whitelist_read(json_object *hosts, load_lines lines, load_list *list) {
  load_list_clear(list);
  scratch_dir dir;
  nft_target target{};
  // A reader prints no command line, whatever it logs.
  int code = config_take(load_lines::QUIET, &target);
  if (code == WHITELIST_LOAD_OK) code = dir_make(lines, &dir);
  if (code == WHITELIST_LOAD_OK) code = sets_take(dir, load_lines::QUIET, &target);
  if (code != WHITELIST_LOAD_OK) return code;
  return hosts_read(target, hosts, lines, list);
}

int nft_whitelist_load(json_object *hosts, load_list *loaded) {
  load_list_clear(loaded);
  scratch_dir dir;
  nft_target target{};
  int code = target_take(load_lines::LOGGED, &dir, &target);
  if (code == WHITELIST_LOAD_OK) code = hosts_read(target, hosts, load_lines::LOGGED, loaded);
  if (code == WHITELIST_LOAD_OK) code = list_apply(dir, target, *loaded);
  if (code != WHITELIST_LOAD_OK) load_list_clear(loaded);
  return code;
}

int nft_whitelist_list_load(const load_list &list) {
  scratch_dir dir;
  nft_target target{};
  int code = target_take(load_lines::LOGGED, &dir, &target);
  return code == WHITELIST_LOAD_OK ? list_apply(dir, target, list) : code;
}
