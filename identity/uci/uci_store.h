// SPDX-License-Identifier: MIT
// Inside the UCI layer: the element tree, its limits, the error record of
// the last failure and the file reader.
//
// Every element (package, section, option, list item) is one block from the
// C allocator that also holds its texts, linked into its parent's list; it
// is released with the parent. Routines that can fail return a UCI_* code.
#pragma once

#include <uci.h>

#include <cstddef>

// Where and why the last file failed to parse, kept in the context for
// uci_perror until the next call that reports an error.
struct uci_parse_context {
  const char *reason;
  int line;
  size_t byte;
};

namespace uci_store {

// A router's config file is a few kilobytes; these bounds keep a broken or
// hostile file from costing unbounded memory or time.
inline constexpr size_t FILE_BYTES_MAX = 2 * 1024 * 1024;  // bytes of one config file
inline constexpr size_t LINE_BYTES_MAX = 64 * 1024;        // bytes of one line or one command
inline constexpr int SECTIONS_MAX = 8192;                  // sections of one package
inline constexpr int OPTIONS_MAX = 1024;                   // options of one section
inline constexpr int ENTRIES_MAX = 65536;  // sections, options and items of one package

// Stores code as the context's last error and returns it.
int fail(uci_context *ctx, int code);
// Forgets the last error and its parse position.
void clear_error(uci_context *ctx);
// Records a parse error with its reason (a static text) and position, and
// returns UCI_ERR_PARSE.
int fail_parse(uci_context *ctx, const char *reason, int line, size_t byte);

void list_init(uci_list *head);
void list_add_tail(uci_list *head, uci_list *item);
void list_del(uci_list *item);

// Names of packages (letters, digits, '_' and '-'), of sections and options
// (letters, digits and '_'), and section types (printable ASCII, no space).
bool valid_package_name(const char *text);
bool valid_name(const char *text);
bool valid_type(const char *text);

// A new, empty package named name, not yet linked into ctx->root; null when
// out of memory.
uci_package *package_new(uci_context *ctx, const char *name);
// Unlinks the package (when linked) and frees it with all its elements.
void package_free(uci_package *package);

uci_section *section_find(uci_package *package, const char *name);
// Appends a section of type to the package; a null or empty name makes an
// anonymous section with a generated name. Null when out of memory.
uci_section *section_add(uci_package *package, const char *type, const char *name);

// The option called name, or null; *count receives the number of options
// of the section when it is not null and nothing was found.
uci_option *option_find(uci_section *section, const char *name, int *count);
// Gives the option called name a string value, replacing old, the
// section's option of that name found before (null when there is none).
int option_set(uci_section *section, uci_option *old, const char *name, const char *value);
// Appends value to the list option called name (old, as above); a string
// option of that name becomes a list that starts with the string.
int option_add_item(uci_section *section, uci_option *old, const char *name, const char *value);

// Builds package from the config text of length bytes: UCI_OK, or
// UCI_ERR_PARSE (with the position kept in the context) or UCI_ERR_MEM; the
// package then holds what was read before the failure.
int package_parse(uci_context *ctx, uci_package *package, const char *text, size_t length);

// Reads the config file name from ctx->confdir into a new package (not
// linked): UCI_OK with *out set, or UCI_ERR_NOTFOUND, UCI_ERR_IO,
// UCI_ERR_PARSE, UCI_ERR_MEM, UCI_ERR_INVAL.
int package_read(uci_context *ctx, const char *name, uci_package **out);

}  // namespace uci_store
