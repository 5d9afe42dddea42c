// SPDX-License-Identifier: MIT
#include "sync/ipset/ipset_swap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "lib/c_guards.h"
#include "lib/spawn.h"
#include "lib/text.h"
#include "sync/ipset/ipset_apply.h"
#include "sync/ipset/ipset_header.h"
#include "sync/core/ipv4_text.h"
#include "sync/core/path_clear.h"
#include "sync/core/scratch_dir.h"
#include "sync/core/tool_output.h"
#include "sync/core/load_status.h"

namespace {

constexpr size_t PATH_SIZE = 256;
// The private folder's name before mkdtemp's six characters.
constexpr char SCRATCH_PREFIX[] = "quorvel";
constexpr size_t COMMAND_SIZE = 640;
constexpr size_t RESTORE_BUFFER_SIZE = 64 * 1024;
// How much of ipset's output is read for the log, and how much reaches it.
constexpr size_t OUTPUT_TAIL_SIZE = 4096;
constexpr size_t MESSAGE_SIZE = 160;
// Every line of the restore input is shorter: the create line is the
// longest.
constexpr size_t INPUT_LINE_SIZE = IPSET_CREATE_LINE_SIZE + 64;

// Where the private folder is made: an absolute path that leaves room
// for the folder's and its files' names. ipset runs without a shell, so
// any character may stand in it.
bool dir_safe(const char *dir) {
  return dir != nullptr && dir[0] == '/' && strnlen(dir, PATH_SIZE) < PATH_SIZE / 2;
}

// What an ipset command printed, for the log: its error line when it
// printed one ("... Error in line <n>: ..." of a restore, or the last line
// otherwise, past any warnings), printable characters only.
void message_read(const char *path, char (&message)[MESSAGE_SIZE]) {
  char output[OUTPUT_TAIL_SIZE];
  file_read(path, file_part::TAIL, output, sizeof output);
  size_t length = strlen(output);
  while (length > 0 && output[length - 1] == '\n') output[--length] = '\0';
  const char *line = strstr(output, "Error in line ");
  if (line == nullptr) {
    const char *last = strrchr(output, '\n');
    line = last == nullptr ? output : last + 1;
  }
  while (line > output && line[-1] != '\n') --line;
  size_t used = 0;
  for (; line[used] != '\0' && line[used] != '\n' && used < sizeof message - 1; ++used)
    message[used] = line[used] < 0x20 || line[used] == 0x7f ? '?' : line[used];
  message[used] = '\0';
}

// A new stream on path, mode 0600, never through a link, with a large
// buffer (a list of 50,000 addresses is over a megabyte); flags adds
// O_EXCL or O_TRUNC. Null with errno set.
unique_file output_open(const char *path, int flags) {
  int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | flags, 0600);
  if (fd < 0) return nullptr;
  unique_file out(fdopen(fd, "w"));
  if (!out) {
    int error = errno;
    close(fd);
    errno = error;
    return nullptr;
  }
  (void)setvbuf(out.get(), nullptr, _IOFBF, RESTORE_BUFFER_SIZE);
  return out;
}

// Closes out; 0 when every write reached the file, else -1 with errno set.
int output_close(unique_file *out) {
  bool failed = ferror(out->get()) != 0;
  failed = fclose(out->release()) != 0 || failed;
  return failed ? -1 : 0;
}

struct strict_read {
  load_list *list;
  load_lines lines;
};

// Keeps an address that a set of family inet takes as it is written.
int strict_take(const char *address, void *context) {
  auto *read = static_cast<strict_read *>(context);
  ipv4_element element{};
  if (ipv4_element_read(address, &element) != 0) {
    if (read->lines == load_lines::LOGGED) syslog(LOG_WARNING, "ip invalid %s\n", address);
    return 0;
  }
  return load_list_add(read->list, LOAD_V4, address, strlen(address));
}

// Makes the restore input at path: the create line and one
// "add <temp> <address> -exist" line per element of list. out is already
// open. 0 or WHITELIST_LOAD_INPUT.
int restore_input_write(unique_file out, const char *create_line, const char *temp,
                        const load_list &list) {
  fputs(create_line, out.get());
  size_t at = 0;
  load_entry entry{};
  while (load_list_next(list, &at, &entry))
    fprintf(out.get(), "add %s %s -exist\n", temp, entry.text);
  if (output_close(&out) != 0) {
    syslog(LOG_WARNING, "load restore input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_INPUT;
  }
  return WHITELIST_LOAD_OK;
}

// Copies the restore input at path without its line number line through
// spare, and logs that line's address as invalid. 0, or -1 with errno set.
int input_line_drop(const char *path, const char *spare, long line) {
  unique_file in(fopen(path, "re"));
  unique_file out = output_open(spare, O_TRUNC);
  if (!in || !out) return -1;
  char text[INPUT_LINE_SIZE];
  for (long number = 1; fgets(text, sizeof text, in.get()) != nullptr; ++number) {
    if (number != line) {
      fputs(text, out.get());
      continue;
    }
    // "add <temp> <address> -exist": the address is the third word.
    const char *temp = strchr(text, ' ');
    const char *address = temp == nullptr ? nullptr : strchr(temp + 1, ' ');
    const char *end = address == nullptr ? nullptr : strchr(address + 1, ' ');
    if (end != nullptr)
      syslog(LOG_WARNING, "ip invalid %.*s\n", static_cast<int>(end - address - 1), address + 1);
  }
  if (ferror(in.get()) != 0 || output_close(&out) != 0) return -1;
  return rename(spare, path);
}

// The addresses of the add lines of the restore input at path into *list
// (marked broken when the file cannot be read whole).
void restore_input_read(const char *path, load_list *list) {
  load_list_clear(list);
  unique_file in(fopen(path, "re"));
  if (!in) {
    list->broken = true;
    return;
  }
  char text[INPUT_LINE_SIZE];
  while (fgets(text, sizeof text, in.get()) != nullptr) {
    if (strncmp(text, "add ", 4) != 0) continue;
    // "add <temp> <address> -exist": the address is the third word.
    const char *address = strchr(text + 4, ' ');
    const char *end = address == nullptr ? nullptr : strchr(address + 1, ' ');
    if (end != nullptr)
      (void)load_list_add(list, LOAD_V4, address + 1, static_cast<size_t>(end - address - 1));
  }
  if (ferror(in.get()) != 0) list->broken = true;
}

// The leftover mark: 1 when it stands at path as the daemon's own plain
// file, 0 when nothing stands there, -1 for anything else (a link, a
// folder, another owner's file), which the load never trusts or removes.
int mark_state(const char *path) {
  struct stat info {};
  if (lstat(path, &info) != 0) return errno == ENOENT ? 0 : -1;
  return S_ISREG(info.st_mode) && info.st_uid == geteuid() ? 1 : -1;
}

int mark_write(const char *path) {
  unique_fd fd(open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  return fd.valid() ? 0 : -1;
}

// Runs "ipset <words>" (at most three) without a shell, its standard input
// from input (null: /dev/null), its output and errors into output; prints
// the command line it stands for first. The exit status decides: 0, or
// -1 for any other end.
int ipset_step(std::initializer_list<const char *> words, const char *input, const char *output) {
  const char *argv[5] = {"ipset"};
  size_t count = 1;
  char line[COMMAND_SIZE] = "ipset";
  size_t used = strlen(line);
  for (const char *word : words) {
    if (count >= 4 || word == nullptr) return -1;
    argv[count++] = word;
    used += static_cast<size_t>(snprintf(line + used, sizeof line - used, " %s", word));
    if (used >= sizeof line) return -1;
  }
  argv[count] = nullptr;
  if (input != nullptr &&
      !format_fits(snprintf(line + used, sizeof line - used, " < %s", input), sizeof line - used))
    return -1;
  used = strlen(line);
  if (!format_fits(snprintf(line + used, sizeof line - used, " > %s 2>&1", output),
                   sizeof line - used))
    return -1;
  printf("cmd:  %s\n", line);
  spawn_request request{argv};
  request.in = input != nullptr ? spawn_stream::PATH : spawn_stream::NUL;
  request.in_path = input;
  request.out = spawn_stream::PATH;
  request.out_path = output;
  request.err = spawn_stream::STDOUT;
  spawn_result result{};
  return spawn_run(request, &result) == 0 && spawn_ok(result) ? 0 : -1;
}

// Destroys the temporary set of ours and, once it is gone, its mark.
void temp_destroy(const ipset_swap_names &names, const char *output) {
  if (ipset_step({"-q", "destroy", names.temp}, nullptr, output) == 0) (void)unlink(names.mark);
}

// The swap load of the list read from hosts (when list_in is null) or of
// list_in, in the order of lines and commands of a load from the answer.
int swap_run(const ipset_swap_names &names, json_object *hosts, const load_list *list_in,
             load_list *loaded) {
  const char *set = names.set;
  const char *temp = names.temp;
  syslog(LOG_INFO, "stat_points_none ========== ipset_swap: %s time: %ld\n",
         set == nullptr ? "" : set, static_cast<long>(time(nullptr)));
  scratch_dir scratch;
  char input[PATH_SIZE];
  char output[PATH_SIZE];
  char spare[PATH_SIZE];
  if (!dir_safe(names.scratch) || !ipset_name_safe(set) || !ipset_name_safe(temp) ||
      names.mark == nullptr || names.mark[0] != '/') {
    syslog(LOG_WARNING, "load restore input fail: %s\n", "unsafe name");
    return WHITELIST_LOAD_INPUT;
  }
  if (scratch.make(names.scratch, SCRATCH_PREFIX) != 0 ||
      scratch.file(IPSET_INPUT_NAME, input, sizeof input) != 0 ||
      scratch.file(IPSET_OUTPUT_NAME, output, sizeof output) != 0 ||
      scratch.file(IPSET_SPARE_NAME, spare, sizeof spare) != 0) {
    syslog(LOG_WARNING, "load restore input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_INPUT;
  }
  char message[MESSAGE_SIZE];

  // The live set's type and options, as ipset itself prints them.
  if (ipset_step({"list", "-t", set}, nullptr, output) != 0) {
    message_read(output, message);
    syslog(LOG_WARNING, "load set %s unreadable: %s\n", set, message);
    return WHITELIST_LOAD_SET;
  }
  char listing[IPSET_LISTING_MAX];
  file_read(output, file_part::HEAD, listing, sizeof listing);
  char create_line[IPSET_CREATE_LINE_SIZE];
  size_t capacity = list_in != nullptr ? load_list_size(*list_in)
                    : json_object_is_type(hosts, json_type_array) ? json_object_array_length(hosts)
                                                                  : 0;
  if (ipset_create_line(listing, set, temp, capacity, create_line, sizeof create_line) != 0) {
    message_read(output, message);
    syslog(LOG_WARNING, "load set %s unreadable: %s\n", set, message);
    return WHITELIST_LOAD_SET;
  }

  unique_file out = output_open(input, O_EXCL);
  if (!out) {
    syslog(LOG_WARNING, "load restore input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_INPUT;
  }
  load_list read;
  if (list_in == nullptr) {
    int code = ipset_swap_read(set, hosts, load_lines::LOGGED, &read);
    if (code != WHITELIST_LOAD_OK) return code;
    list_in = &read;
  }
  const load_list &list = *list_in;
  int code = restore_input_write(static_cast<unique_file &&>(out), create_line, temp, list);
  if (code != WHITELIST_LOAD_OK) return code;
  int count = static_cast<int>(load_list_size(list));

  // A set of the temporary name is destroyed only when the mark says it is
  // a leftover of ours (a load that was killed). Anything else at the
  // mark's path was planted: it goes unread (a link itself, never its
  // target) and counts as no mark, so nobody can hold the loads back.
  int mark = mark_state(names.mark);
  if (mark < 0 && path_clear(names.mark) == 0) mark = 0;
  if (mark < 0) {
    syslog(LOG_WARNING, "load restore input fail: %s is not the daemon's file\n", names.mark);
    return WHITELIST_LOAD_INPUT;
  }
  if (mark == 1) (void)ipset_step({"-q", "destroy", temp}, nullptr, output);
  if (mark_write(names.mark) != 0) {
    syslog(LOG_WARNING, "load restore input fail: %s\n", strerror(errno));
    return WHITELIST_LOAD_INPUT;
  }

  // Create and fill the temporary set. An add line that ipset refuses
  // costs only its element: the set goes, the line goes, the rest loads.
  int drops = 0;
  for (;; ++drops) {
    if (ipset_step({"restore"}, input, output) == 0) break;
    message_read(output, message);
    const long line = ipset_error_line(message);
    const bool add_line = line >= 2 && line <= static_cast<long>(count) + 1;
    if (add_line && drops < IPSET_DROPS_MAX && input_line_drop(input, spare, line) == 0) {
      --count;
      (void)ipset_step({"-q", "destroy", temp}, nullptr, output);
      continue;
    }
    syslog(LOG_WARNING, "load restore fail: %s\n", message);
    if (line != 1) {
      temp_destroy(names, output);
    } else if (mark == 0 && drops == 0) {
      // A set of that name that is not ours stood in the way: it stays.
      (void)unlink(names.mark);
    }
    return WHITELIST_LOAD_RESTORE;
  }

  if (ipset_step({"swap", temp, set}, nullptr, output) != 0) {
    message_read(output, message);
    syslog(LOG_WARNING, "load swap fail: %s\n", message);
    temp_destroy(names, output);
    return WHITELIST_LOAD_SWAP;
  }
  // The live set holds the new list: a temporary set that cannot be
  // destroyed now keeps its mark, and the next load destroys it.
  if (ipset_step({"destroy", temp}, nullptr, output) != 0) {
    message_read(output, message);
    syslog(LOG_WARNING, "ipset destroy %s fail: %s\n", temp, message);
  } else {
    (void)unlink(names.mark);
  }
  syslog(LOG_WARNING, "ipset swap %s: %d addresses\n", set, count);
  // The set holds the list less what ipset refused: that is the input's
  // add lines as they stand now.
  if (loaded != nullptr && drops == 0 && list_in == &read)
    *loaded = static_cast<load_list &&>(read);
  else if (loaded != nullptr)
    restore_input_read(input, loaded);
  return WHITELIST_LOAD_OK;
}

}  // namespace

int ipset_swap_read(const char *set, json_object *hosts, load_lines lines, load_list *list) {
  load_list_clear(list);
  strict_read read{list, lines};
  if (ipset_hosts_walk(set, hosts, strict_take, &read, lines) != 0) {
    if (lines == load_lines::LOGGED)
      syslog(LOG_WARNING, "load host list incomplete, set untouched.\n");
    load_list_clear(list);
    return WHITELIST_LOAD_HOSTS;
  }
  return WHITELIST_LOAD_OK;
}

int ipset_swap_load(const ipset_swap_names &names, json_object *hosts, load_list *loaded) {
  return swap_run(names, hosts, nullptr, loaded);
}

int ipset_swap_list_load(const ipset_swap_names &names, const load_list &list) {
  return swap_run(names, nullptr, &list, nullptr);
}

long ipset_error_line(const char *message) {
  const char *at = message != nullptr ? strstr(message, "Error in line ") : nullptr;
  if (at == nullptr) return 0;
  char *end = nullptr;
  long line = strtol(at + sizeof "Error in line " - 1, &end, 10);
  return end != nullptr && *end == ':' && line > 0 ? line : 0;
}
