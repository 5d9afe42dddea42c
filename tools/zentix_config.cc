// SPDX-License-Identifier: MIT
#include "tools/zentix_config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/c_guards.h"

namespace {

// True when every byte of text is visible ASCII (no blank, no control).
bool visible_text(const char *text) {
  for (const char *p = text; *p != '\0'; ++p)
    if (*p < 0x21 || *p > 0x7e) return false;
  return true;
}

bool url_valid(const char *url) {
  size_t length = strlen(url);
  bool scheme = strncmp(url, "http://", 7) == 0 || strncmp(url, "https://", 8) == 0;
  return scheme && length <= static_cast<size_t>(ZENTIX_URL_MAX) && visible_text(url);
}

// Parses a decimal count from 0 to INT32_MAX; false for anything else.
bool count_parse(const char *text, int32_t *value) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char *end = nullptr;
  long long parsed = strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed < 0 || parsed > INT32_MAX) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

// Applies one "key=value" line; false when it is not a valid setting.
bool line_apply(char *line, zentix_config *config) {
  char *equals = strchr(line, '=');
  if (equals == nullptr) return false;
  *equals = '\0';
  const char *key = line;
  const char *value = equals + 1;
  if (strcmp(key, "url") == 0) {
    if (!url_valid(value)) return false;
    snprintf(config->url, sizeof config->url, "%s", value);
    return true;
  }
  if (strcmp(key, "timeout_ms") == 0) return count_parse(value, &config->timeout_ms);
  if (strcmp(key, "verbose") == 0) {
    if (strcmp(value, "0") != 0 && strcmp(value, "1") != 0) return false;
    config->verbose = value[0] - '0';
    return true;
  }
  return false;
}

}  // namespace

void zentix_config_defaults(zentix_config *config) {
  *config = {};
  snprintf(config->url, sizeof config->url, "%s", ZENTIX_DEFAULT_URL);
  config->timeout_ms = ZENTIX_DEFAULT_TIMEOUT_MS;
  config->verbose = 0;
}

int zentix_config_read(const char *path, zentix_config *config, char *error, int error_size) {
  size_t error_room = error_size > 0 ? static_cast<size_t>(error_size) : 0;
  unique_file stream(fopen(path, "r"));
  if (!stream) {
    if (errno == ENOENT) return 0;
    snprintf(error, error_room, "%s: %s", path, strerror(errno));
    return -1;
  }
  // Room for the longest line, its line feed and the NUL.
  char line[ZENTIX_LINE_MAX + 2];
  int number = 0;
  while (fgets(line, sizeof line, stream.get()) != nullptr) {
    ++number;
    size_t length = strlen(line);
    bool whole = length > 0 && line[length - 1] == '\n';
    if (!whole && !feof(stream.get())) {
      snprintf(error, error_room, "%s:%d: line longer than %d characters", path, number,
               ZENTIX_LINE_MAX);
      return -1;
    }
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
      line[--length] = '\0';
    if (length == 0 || line[0] == '#') continue;
    if (!line_apply(line, config)) {
      snprintf(error, error_room, "%s:%d: not a valid setting", path, number);
      return -1;
    }
  }
  if (ferror(stream.get())) {
    snprintf(error, error_room, "%s: read error", path);
    return -1;
  }
  return 0;
}

int zentix_url_build(const zentix_config *config, const char *service_path, char *url,
                     int url_size) {
  if (url_size <= 0) return -1;
  url[0] = '\0';
  if (service_path[0] != '/' || !visible_text(service_path)) return -1;
  size_t base_length = strlen(config->url);
  if (base_length > 0 && config->url[base_length - 1] == '/') --base_length;
  if (base_length > static_cast<size_t>(ZENTIX_URL_MAX)) return -1;
  int length = snprintf(url, static_cast<size_t>(url_size), "%.*s%s", static_cast<int>(base_length),
                        config->url, service_path);
  if (length < 0 || length >= url_size) {
    url[0] = '\0';
    return -1;
  }
  return 0;
}
