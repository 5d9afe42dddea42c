#include "sync/ipset_swap.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "lib/c_guards.h"
#include "lib/cmd_run.h"
#include "lib/text.h"
#include "sync/ipset_apply.h"
#include "sync/ipset_header.h"
#include "sync/path_clear.h"
#include "sync/tool_output.h"
#include "sync/whitelist_load.h"

namespace {

constexpr size_t PATH_SIZE = 256;
constexpr size_t COMMAND_SIZE = 640;
constexpr size_t RESTORE_BUFFER_SIZE = 64 * 1024;
// How much of ipset's message reaches the log.
constexpr size_t MESSAGE_SIZE = 160;

bool dir_safe(const char *dir) {
  if (dir == nullptr || dir[0] != '/') return false;
  size_t length = strnlen(dir, PATH_SIZE);
  if (length >= PATH_SIZE - sizeof IPSET_OUTPUT_NAME - 1) return false;
  for (size_t i = 0; i < length; ++i) {
    char c = dir[i];
    bool ok = ascii_alnum(c) || strchr("/._-", c) != nullptr;
    if (!ok) return false;
  }
  return true;
}

// Removes the load's files when the load ends, however it ends.
struct files_removal {
  const char *input;
  const char *output;
  files_removal(const char *input_path, const char *output_path)
      : input(input_path), output(output_path) {}
  files_removal(const files_removal &) = delete;
  files_removal &operator=(const files_removal &) = delete;
  ~files_removal() {
    unlink(input);
    unlink(output);
  }
};

struct restore_lines {
  FILE *out;
  const char *temp;
  int count;
};

// One "add <temp> <address> -exist" line of the restore input.
void restore_line_write(const char *address, void *context) {
  auto *lines = static_cast<restore_lines *>(context);
  // An empty text names no address: it adds nothing either way, and must
  // not make ipset refuse the whole list.
  if (address[0] == '\0') return;
  fprintf(lines->out, "add %s %s -exist\n", lines->temp, address);
  ++lines->count;
}

// Writes the add lines of every valid element of list to out, with the
// per-element lines of the one-by-one load. Returns that load's result (0,
// -1, -3, -4 or -5) and the count of lines in *count.
int restore_lines_write(FILE *out, const char *set, const char *temp, json_object *list,
                        int *count) {
  restore_lines lines{out, temp, 0};
  int result = ipset_hosts_walk(set, list, restore_line_write, &lines);
  *count = lines.count;
  return result;
}

// Makes the restore input at path: the create line, one add line per
// valid address, the swap with set and the temporary set's destruction.
// 0, WHITELIST_LOAD_HOSTS or WHITELIST_LOAD_INPUT.
int restore_input_write(const char *path, const char *create_line, const char *set,
                        const char *temp, json_object *hosts, int *count) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    syslog(LOG_WARNING, "load restore input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_INPUT;
  }
  unique_file out(fdopen(fd, "w"));
  if (!out) {
    close(fd);
    syslog(LOG_WARNING, "load restore input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_INPUT;
  }
  // Large writes: a list of 50,000 addresses is over a megabyte.
  (void)setvbuf(out.get(), nullptr, _IOFBF, RESTORE_BUFFER_SIZE);
  fputs(create_line, out.get());
  if (restore_lines_write(out.get(), set, temp, hosts, count) != 0) {
    syslog(LOG_WARNING, "load host list incomplete, set untouched.\n");
    return WHITELIST_LOAD_HOSTS;
  }
  fprintf(out.get(), "swap %s %s\ndestroy %s\n", temp, set, temp);
  bool failed = ferror(out.get()) != 0;
  failed = fclose(out.release()) != 0 || failed;
  if (failed) {
    syslog(LOG_WARNING, "load restore input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_INPUT;
  }
  return WHITELIST_LOAD_OK;
}

// The line of the restore input that ipset names in its message
// ("... Error in line <n>: ..."), or 0 when it names none.
long error_line(const char *message) {
  const char *at = strstr(message, "Error in line ");
  if (at == nullptr) return 0;
  char *end = nullptr;
  long line = strtol(at + sizeof "Error in line " - 1, &end, 10);
  return end != nullptr && *end == ':' ? line : 0;
}

}  // namespace

int ipset_swap_load(const char *dir, const char *set, const char *temp, json_object *hosts) {
  syslog(LOG_INFO, "stat_points_none ========== ipset_swap: %s time: %ld\n",
         set == nullptr ? "" : set, static_cast<long>(time(nullptr)));
  char input[PATH_SIZE];
  char output[PATH_SIZE];
  if (!dir_safe(dir) || !ipset_name_safe(set) || !ipset_name_safe(temp) ||
      !format_fits(snprintf(input, sizeof input, "%s/%s", dir, IPSET_INPUT_NAME), sizeof input) ||
      !format_fits(snprintf(output, sizeof output, "%s/%s", dir, IPSET_OUTPUT_NAME),
                   sizeof output)) {
    syslog(LOG_WARNING, "load restore input fail: %s\n", "unsafe name");
    return WHITELIST_LOAD_INPUT;
  }
  if (path_clear(input) != 0 || path_clear(output) != 0) {
    syslog(LOG_WARNING, "load restore input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_INPUT;
  }
  files_removal removal(input, output);
  char command[COMMAND_SIZE];
  char message[MESSAGE_SIZE];

  // The live set's type and options, as ipset itself prints them.
  snprintf(command, sizeof command, "ipset list -t %s > %s 2>&1", set, output);
  if (cmd_print_run(command) != 0) {
    tool_message_read(output, message, sizeof message);
    syslog(LOG_WARNING, "load set %s unreadable: %s\n", set, message);
    return WHITELIST_LOAD_SET;
  }
  char listing[IPSET_LISTING_MAX];
  file_head(output, listing, sizeof listing);
  char create_line[IPSET_CREATE_LINE_SIZE];
  size_t capacity =
      json_object_is_type(hosts, json_type_array) ? json_object_array_length(hosts) : 0;
  if (ipset_create_line(listing, set, temp, capacity, create_line, sizeof create_line) != 0) {
    tool_message_read(output, message, sizeof message);
    syslog(LOG_WARNING, "load set %s unreadable: %s\n", set, message);
    return WHITELIST_LOAD_SET;
  }

  int count = 0;
  int code = restore_input_write(input, create_line, set, temp, hosts, &count);
  if (code != WHITELIST_LOAD_OK) return code;

  // One ipset process creates, fills, swaps and destroys; it stops at the
  // first line it refuses, which tells how far it went.
  char destroy[COMMAND_SIZE];
  snprintf(destroy, sizeof destroy, "ipset -q destroy %s", temp);
  snprintf(command, sizeof command, "ipset restore < %s > %s 2>&1", input, output);
  bool refused = false;
  long line = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    refused = cmd_print_run(command) != 0;
    if (!refused) break;
    tool_message_read(output, message, sizeof message);
    line = error_line(message);
    // Refused at its create line: a set of the temporary name is in the way
    // (left by a run that was killed). It goes, and the restore runs once
    // more; one that cannot be destroyed stops the load.
    if (line != 1 || attempt == 1) break;
    (void)cmd_print_run(destroy);
  }
  const long swap_line = static_cast<long>(count) + 2;
  if (refused && line == swap_line + 1) {
    // The live set already holds the new list: a temporary set that cannot
    // be destroyed now is in the way of the next load, which destroys it.
    syslog(LOG_WARNING, "ipset destroy %s fail: %s\n", temp, message);
  } else if (refused) {
    syslog(LOG_WARNING, line == swap_line ? "load swap fail: %s\n" : "load restore fail: %s\n",
           message);
    (void)cmd_print_run(destroy);
    return line == swap_line ? WHITELIST_LOAD_SWAP : WHITELIST_LOAD_RESTORE;
  }
  syslog(LOG_WARNING, "ipset swap %s: %d addresses\n", set, count);
  return WHITELIST_LOAD_OK;
}
