// SPDX-License-Identifier: MIT
// The configuration of zentix, the agent tool that fetches rule documents
// from the rule service over HTTP.
//
// A small text file, one "key=value" per line; blank lines and lines that
// begin with '#' are ignored. Keys:
//   url=<base URL>      http:// or https://, no blanks; the service path of
//                       the command line is appended to it
//   timeout_ms=<n>      limit of the whole transfer, 0 for none
//   verbose=<0|1>       detailed transfer lines on syslog
// A missing file leaves every default in force.
#pragma once

#include <cstdint>

// Read when ZENTIX_CONFIG names no other file.
inline constexpr char ZENTIX_CONFIG_PATH[] = "/etc/zentix.conf";
inline constexpr char ZENTIX_DEFAULT_URL[] = "http://127.0.0.1:8080";
inline constexpr int32_t ZENTIX_DEFAULT_TIMEOUT_MS = 30000;
// Longest base URL and longest line of the file, in characters.
inline constexpr int ZENTIX_URL_MAX = 255;
inline constexpr int ZENTIX_LINE_MAX = 511;

struct zentix_config {
  char url[ZENTIX_URL_MAX + 1];
  int32_t timeout_ms;
  int verbose;
};

// Fills config with the defaults.
void zentix_config_defaults(zentix_config *config);

// Reads the file at path over the defaults already in config. 0 when it
// was read or is missing; -1 when it cannot be read or a line is not a
// known key with a valid value, with the reason written into error (a text
// of error_size bytes).
[[nodiscard]] int zentix_config_read(const char *path, zentix_config *config, char *error,
                                     int error_size);

// Writes base URL and service_path into url (url_size bytes), dropping one
// '/' at the end of the base. 0, or -1 when the URL does not fit or the
// service path does not begin with '/' or holds a blank or a byte outside
// 0x21 to 0x7E.
[[nodiscard]] int zentix_url_build(const zentix_config *config, const char *service_path, char *url,
                                   int url_size);
