// SPDX-License-Identifier: MIT
// The whitelist loader over whole answer documents, with the command runner
// and system() replaced by a recorder, so that nothing is run. Whatever the
// document holds, every recorded command line is "ipset flush cdnwhite"
// once, first, or "ipset add cdnwhite " followed by one address made only
// of digits, full stops and slashes; a refused document runs nothing, a
// failed flush adds nothing, and a loaded one adds each valid element of
// its host list in order. Odd-sized inputs have the flush fail.
#include "tests/fuzz/fuzz_target.h"

#include <dlfcn.h>
#include <syslog.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/cmd_run.h"
#include "sync/ipset/ipset_apply.h"
#include "sync/json_file.h"
#include "sync/whitelist_load.h"
#include "tests/support/log_capture.h"
#include "tests/fuzz/memory_file.h"

namespace {

std::vector<std::string> recorded;
bool flush_fails = false;

bool is_ipset_command(const char *command) {
  return command != nullptr && strncmp(command, "ipset ", 6) == 0;
}

const memory_file &answer() {
  static memory_file file;
  return file;
}

bool only_address_chars(const std::string &text) {
  return text.find_first_not_of(IPSET_ADDRESS_CHARS) == std::string::npos;
}

// The add command lines that a loaded document calls for.
std::vector<std::string> expected_adds(const char *path) {
  std::vector<std::string> adds;
  json_doc root = json_file_parse(path);
  json_object *data = json_object_object_get(root.get(), "data");
  json_object *hosts = json_object_object_get(json_object_object_get(data, "config"), "host");
  if (!json_object_is_type(hosts, json_type_array)) return adds;
  for (size_t i = 0; i < json_object_array_length(hosts); ++i) {
    json_object *element = json_object_array_get_idx(hosts, i);
    const char *text = element != nullptr ? json_object_get_string(element) : nullptr;
    if (text == nullptr) break;
    std::string line = std::string("ipset add cdnwhite ") + text;
    if (only_address_chars(text) && line.size() < 128) adds.push_back(line);
  }
  return adds;
}

}  // namespace

// The recorder in place of the command runner: the adds.
int cmd_run(const char *command) {
  if (!is_ipset_command(command)) abort();  // the loader runs nothing else
  recorded.emplace_back(command);
  return static_cast<int>(strlen(command) % 3);  // refused adds change nothing
}

// The recorder in place of the C library's system(): the flush. Other
// commands (the fuzzing engine's own) go to the real one.
extern "C" int system(const char *command) {
  if (!is_ipset_command(command)) {
    using system_fn = int (*)(const char *);
    static auto real = reinterpret_cast<system_fn>(dlsym(RTLD_NEXT, "system"));
    return real != nullptr ? real(command) : -1;
  }
  recorded.emplace_back(command);
  return flush_fails ? 1 << 8 : 0;  // exit status 1, as for a missing set
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 16)) return 0;
  answer().fill(data, size);

  recorded.clear();
  log_capture_clear();
  flush_fails = size % 2 == 1;
  const cdn_state state{};
  const int result = whitelist_load(answer().path(), &state);

  for (size_t i = 0; i < recorded.size(); ++i) {
    const std::string &line = recorded[i];
    if (i == 0) {
      if (line != "ipset flush cdnwhite") abort();
      continue;
    }
    const std::string prefix = "ipset add cdnwhite ";
    if (line.compare(0, prefix.size(), prefix) != 0) abort();
    if (!only_address_chars(line.substr(prefix.size()))) abort();
  }
  switch (result) {
    case WHITELIST_LOAD_OK:
      if (flush_fails || recorded.empty()) abort();
      if (std::vector<std::string>(recorded.begin() + 1, recorded.end()) !=
          expected_adds(answer().path()))
        abort();
      break;
    case WHITELIST_LOAD_FLUSH:
      if (!flush_fails || recorded.size() != 1) abort();
      if (log_capture_count(LOG_WARNING, "load return -7\n") != 1) abort();
      break;
    default:
      if (result > WHITELIST_LOAD_ARG || result < WHITELIST_LOAD_CONFIG || !recorded.empty())
        abort();
  }
  return 0;
}
