// SPDX-License-Identifier: MIT
#include "sync/documents.h"

#include <strings.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "sync/json_file.h"

int timestamp_file_read(const char *path, char *buffer, size_t size) {
  if (path == nullptr || buffer == nullptr || size == 0) return -1;
  if (access(path, F_OK) != 0) {
    syslog(LOG_WARNING, "white_timestamp file lost.\n");
    return -1;
  }
  json_doc root = json_file_parse(path);
  if (!root) return -1;
  json_object *stamp = json_object_object_get(root.get(), "updateTime");
  if (stamp == nullptr) return -1;
  snprintf(buffer, size, "%s", json_object_get_string(stamp));
  return 0;
}

int response_summary_read(const char *path, int32_t *enabled_out, char *buffer, size_t size) {
  json_doc doc;
  return response_summary_parse(path, &doc, enabled_out, buffer, size);
}

int response_summary_parse(const char *path, json_doc *doc, int32_t *enabled_out, char *buffer,
                           size_t size) {
  doc->reset();
  if (path == nullptr || enabled_out == nullptr || buffer == nullptr || size == 0) return -1;
  if (access(path, F_OK) != 0) {
    syslog(LOG_WARNING, "response file lost.\n");
    return -1;
  }
  json_doc root = json_file_parse(path);
  if (!root) return -1;

  json_object *code = json_object_object_get(root.get(), "code");
  if (code == nullptr || !json_object_is_type(code, json_type_int) ||
      json_object_get_int(code) != 0)
    return -1;
  json_object *data = json_object_object_get(root.get(), "data");
  if (data == nullptr || !json_object_is_type(data, json_type_object)) return -1;

  json_object *enabled = json_object_object_get(data, "enabled");
  if (enabled == nullptr) return -1;
  *enabled_out = strncasecmp(json_object_get_string(enabled), "true", 4) == 0 ? 1 : 0;

  json_object *stamp = json_object_object_get(data, "updateTime");
  if (stamp == nullptr) return -1;
  snprintf(buffer, size, "%s", json_object_get_string(stamp));
  *doc = std::move(root);
  return 0;
}
