// SPDX-License-Identifier: MIT
// Looking up package.section.option paths, with the extended section
// syntax @type[index] and @[index].

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "uci_store.h"

namespace {

using lookup_flags = decltype(uci_ptr::flags);

void add_flag(uci_ptr *ptr, lookup_flags flag) {
  ptr->flags = static_cast<lookup_flags>(ptr->flags | flag);
}

bool text_valid(const char *text) {
  for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; ++c)
    if (*c < 32 && *c != '\t' && *c != '\n' && *c != '\r') return false;
  return true;
}

// Splits "package[.section[.option]][=value]" in place. A section that is
// no plain name marks the path as extended.
int split_path(uci_context *ctx, uci_ptr *ptr, char *str) {
  memset(ptr, 0, sizeof *ptr);
  char *value = strchr(str, '=');
  if (value != nullptr) {
    *value++ = '\0';
    ptr->value = value;
  }
  char *rest = str;
  ptr->package = strsep(&rest, ".");
  ptr->target = UCI_TYPE_PACKAGE;
  if (rest != nullptr) {
    ptr->section = strsep(&rest, ".");
    ptr->target = UCI_TYPE_SECTION;
  }
  if (rest != nullptr) {
    ptr->option = strsep(&rest, ".");
    ptr->target = UCI_TYPE_OPTION;
  }
  // libuci checks the package of a path as loosely as a section type (any
  // printable ASCII but space): a name it cannot load is then "not found".
  bool valid = rest == nullptr && uci_store::valid_type(ptr->package) &&
               (ptr->option == nullptr || uci_store::valid_name(ptr->option)) &&
               (ptr->value == nullptr || text_valid(ptr->value));
  if (!valid) {
    memset(ptr, 0, sizeof *ptr);
    return uci_store::fail(ctx, UCI_ERR_PARSE);
  }
  if (ptr->section != nullptr && !uci_store::valid_name(ptr->section))
    add_flag(ptr, uci_ptr::UCI_LOOKUP_EXTENDED);
  return UCI_OK;
}

// Resolves @type[index] or @[index] in ptr->section: UCI_OK with *found set
// (null when there is no such section), or UCI_ERR_INVAL when the text is
// not of that form.
int find_extended(uci_context *ctx, uci_ptr *ptr, uci_section **found) {
  *found = nullptr;
  const char *text = ptr->section;
  size_t length = strlen(text);
  const char *open = strchr(text, '[');
  bool shaped = text[0] == '@' && open != nullptr && length >= 3 && text[length - 1] == ']';
  // The type lies between '@' and '['; empty stands for any type.
  const char *type = text + 1;
  size_t type_length = shaped ? static_cast<size_t>(open - type) : 0;
  bool type_valid = true;
  for (size_t i = 0; i < type_length; ++i)
    if (static_cast<unsigned char>(type[i]) < 33 || static_cast<unsigned char>(type[i]) > 126)
      type_valid = false;
  if (!shaped || !type_valid) {
    memset(ptr, 0, sizeof *ptr);
    return uci_store::fail(ctx, UCI_ERR_INVAL);
  }

  // The index: decimal digits with an optional sign, nothing else; an empty
  // index is 0, as libuci reads it.
  char digits[32];
  size_t digits_length = length - 1 - static_cast<size_t>(open - text + 1);
  if (digits_length >= sizeof digits) {
    memset(ptr, 0, sizeof *ptr);
    return uci_store::fail(ctx, UCI_ERR_INVAL);
  }
  memcpy(digits, open + 1, digits_length);
  digits[digits_length] = '\0';
  char *end = nullptr;
  errno = 0;
  long index = strtol(digits, &end, 10);
  bool index_valid = *end == '\0' && errno == 0 && index >= INT_MIN && index <= INT_MAX;
  if (!index_valid) {
    memset(ptr, 0, sizeof *ptr);
    return uci_store::fail(ctx, UCI_ERR_INVAL);
  }

  auto matches = [type, type_length](const uci_section *section) {
    return type_length == 0 ||
           (strncmp(section->type, type, type_length) == 0 && section->type[type_length] == '\0');
  };
  uci_element *element;
  if (index < 0) {
    long count = 0;
    uci_foreach_element(&ptr->p->sections, element) {
      if (matches(uci_to_section(element))) ++count;
    }
    index += count;
  }
  long position = 0;
  uci_foreach_element(&ptr->p->sections, element) {
    uci_section *section = uci_to_section(element);
    if (!matches(section)) continue;
    if (position++ == index) {
      *found = section;
      // From here on the pointer names the section it found.
      ptr->section = element->name;
      break;
    }
  }
  return UCI_OK;
}

uci_element *find_in(uci_list *list, const char *name) {
  uci_element *element;
  uci_foreach_element(list, element) {
    if (strcmp(element->name, name) == 0) return element;
  }
  return nullptr;
}

}  // namespace

extern "C" int uci_lookup_ptr(uci_context *ctx, uci_ptr *ptr, char *str, bool extended) {
  if (ctx == nullptr) return UCI_ERR_INVAL;
  uci_store::clear_error(ctx);
  if (ptr == nullptr) return uci_store::fail(ctx, UCI_ERR_INVAL);
  if (str != nullptr) {
    int status = split_path(ctx, ptr, str);
    if (status != UCI_OK) return status;
  }
  add_flag(ptr, uci_ptr::UCI_LOOKUP_DONE);

  if (ptr->p == nullptr) {
    if (ptr->package == nullptr) return uci_store::fail(ctx, UCI_ERR_INVAL);
    uci_element *known = find_in(&ctx->root, ptr->package);
    if (known != nullptr) {
      ptr->p = uci_to_package(known);
    } else {
      int status = uci_load(ctx, ptr->package, &ptr->p);
      if (status != UCI_OK) return status;
    }
  }
  ptr->last = &ptr->p->e;

  if (ptr->section == nullptr && ptr->s == nullptr) {
    add_flag(ptr, uci_ptr::UCI_LOOKUP_COMPLETE);
    return UCI_OK;
  }

  if (ptr->s == nullptr) {
    if (ptr->flags & uci_ptr::UCI_LOOKUP_EXTENDED) {
      if (!extended) return uci_store::fail(ctx, UCI_ERR_INVAL);
      int status = find_extended(ctx, ptr, &ptr->s);
      if (status != UCI_OK) return status;
    } else {
      uci_element *section = find_in(&ptr->p->sections, ptr->section);
      if (section != nullptr) ptr->s = uci_to_section(section);
    }
    // No such section: still UCI_OK, with the package as the last element.
    if (ptr->s == nullptr) return UCI_OK;
  }
  ptr->last = &ptr->s->e;

  if (ptr->option != nullptr) {
    uci_element *option = find_in(&ptr->s->options, ptr->option);
    if (option == nullptr) return UCI_OK;
    ptr->o = uci_to_option(option);
    ptr->last = option;
  }
  add_flag(ptr, uci_ptr::UCI_LOOKUP_COMPLETE);
  return UCI_OK;
}
