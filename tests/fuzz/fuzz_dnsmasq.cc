// SPDX-License-Identifier: MIT
// dnsmasq ipset files from arbitrary host lists: the input is parsed as a
// JSON value and handed to ipset_file_create. The file then holds exactly
// one line "ipset=/<host>/cdnwhite" for each element whose text form is
// printable and whole (no NUL inside a string, which would cut the host
// short), in array order, up to the first null element, and nothing else:
// no host can end its line or start another option.
#include "tests/fuzz/fuzz_target.h"

#include <json-c/json.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/dnsmasq_ipset.h"
#include "tests/support/log_capture.h"
#include "tests/fuzz/memory_file.h"

namespace {

constexpr char SET[] = "cdnwhite";

const memory_file &ipset_file() {
  static memory_file file;
  return file;
}

// The file's whole content.
std::string content() {
  std::string text;
  char chunk[4096];
  ssize_t count;
  for (off_t at = 0; (count = pread(ipset_file().fd(), chunk, sizeof chunk, at)) > 0; at += count)
    text.append(chunk, static_cast<size_t>(count));
  return text;
}

bool printable(const char *text) {
  for (const char *p = text; *p != '\0'; ++p)
    if (static_cast<unsigned char>(*p) < 0x20 || static_cast<unsigned char>(*p) > 0x7e)
      return false;
  return true;
}

// The file's content and result that the host list calls for.
std::string expected_lines(json_object *hosts, int *code) {
  std::string lines;
  *code = 0;
  if (!json_object_is_type(hosts, json_type_array)) {
    *code = -3;
    return lines;
  }
  for (size_t i = 0; i < json_object_array_length(hosts); ++i) {
    json_object *element = json_object_array_get_idx(hosts, i);
    if (element == nullptr) {
      *code = -4;
      break;
    }
    const char *text = json_object_get_string(element);
    if (text == nullptr) {
      *code = -5;
      break;
    }
    const bool whole = !json_object_is_type(element, json_type_string) ||
                       static_cast<size_t>(json_object_get_string_len(element)) == strlen(text);
    if (whole && printable(text)) lines += std::string("ipset=/") + text + "/" + SET + "\n";
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 16)) return 0;
  std::string text(reinterpret_cast<const char *>(data), size);
  json_object *hosts = json_tokener_parse(text.c_str());

  static const uint8_t mark[] = "untouched";
  ipset_file().fill(mark, sizeof mark - 1);
  log_capture_clear();
  const int result = ipset_file_create(ipset_file().path(), SET, hosts);
  if (hosts == nullptr) {
    // A null list touches no file.
    if (result != -1 || content() != "untouched") abort();
    return 0;
  }
  int code = 0;
  const std::string lines = expected_lines(hosts, &code);
  if (result != code || content() != lines) abort();
  for (const captured_line &line : log_capture_lines())
    if (line.text.find('\n') != line.text.size() - 1) abort();  // one log line each
  json_object_put(hosts);
  return 0;
}
