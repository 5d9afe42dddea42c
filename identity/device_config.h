// SPDX-License-Identifier: MIT
// The router's identity, read from the UCI store once per run.
//
// Two options of the package "messaging", section "deviceInfo": the device
// id and the channel secret, each kept as a NUL-terminated text of at most
// 63 characters.
#pragma once

#include <cstddef>
#include <cstdint>

struct uci_context;
struct uci_option;

struct device_config {
  char device_id[64];
  char channel_secret[64];
  int32_t etc_size;  // logged as "etc size"; nothing sets it
};

// Zero-fills config and loads both options. 0 when both were found and
// copied, -1 otherwise (null config, no UCI context, a failed lookup); a
// device id copied before a failed secret lookup stays in the record.
[[nodiscard]] int device_config_load(device_config *config);

// The copier form handed to uci_option_get.
using uci_option_copier = int (*)(struct uci_option *option, char *buffer, size_t size);

// Looks up the option at path (UCI's extended syntax, split in place, so
// path must be writable) and hands it to copier, then unloads the package.
// 0 on success (whatever the copier returned), -1 for a null context, path,
// buffer or copier, a size of 0, a failed lookup (its message then goes to
// standard error after "look uci error") or a path that does not end at an
// option.
[[nodiscard]] int uci_option_get(struct uci_context *context, char *path, char *buffer, size_t size,
                                 uci_option_copier copier);

// Copies a string option, or a list option's items joined by single
// spaces, into buffer, truncated to size with its NUL; an option of any
// other type leaves the buffer untouched. -1 for a null option or buffer or
// a size of 0, else 0.
int uci_option_copy(struct uci_option *option, char *buffer, size_t size);

// The verbose LOG_INFO line with both values (the secret in clear text).
void device_config_dump(const device_config *config);
