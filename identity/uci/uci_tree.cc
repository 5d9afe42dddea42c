// SPDX-License-Identifier: MIT
// The element tree of the UCI layer: lists, names, and the blocks that hold
// packages, sections, options and list items.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/text.h"
#include "uci_store.h"

namespace uci_store {

namespace {

// A zero-filled block of record_size bytes followed by the texts first and
// second (second may be null), each with its NUL; *first_out and
// *second_out point at the copies. Null when out of memory.
void *block_new(size_t record_size, const char *first, char **first_out, const char *second,
                char **second_out) {
  size_t first_size = strlen(first) + 1;
  size_t second_size = second != nullptr ? strlen(second) + 1 : 0;
  if (first_size > SIZE_MAX - record_size || second_size > SIZE_MAX - record_size - first_size)
    return nullptr;
  char *block = static_cast<char *>(calloc(1, record_size + first_size + second_size));
  if (block == nullptr) return nullptr;
  *first_out = block + record_size;
  memcpy(*first_out, first, first_size);
  if (second != nullptr) {
    *second_out = block + record_size + first_size;
    memcpy(*second_out, second, second_size);
  }
  return block;
}

// Classic djb2 over the section type, so that generated names tell types apart.
unsigned name_hash(const char *text) {
  unsigned hash = 5381;
  for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; ++c)
    hash = hash * 33 + *c;
  return hash & 0x7fffffffu;
}

uci_element *item_new(const char *value) {
  char *name = nullptr;
  auto *item =
      static_cast<uci_element *>(block_new(sizeof(uci_element), value, &name, nullptr, nullptr));
  if (item == nullptr) return nullptr;
  item->type = UCI_TYPE_ITEM;
  item->name = name;
  list_init(&item->list);
  return item;
}

uci_option *list_option_new(uci_section *section, const char *name) {
  char *copy = nullptr;
  auto *option =
      static_cast<uci_option *>(block_new(sizeof(uci_option), name, &copy, nullptr, nullptr));
  if (option == nullptr) return nullptr;
  option->e.type = UCI_TYPE_OPTION;
  option->e.name = copy;
  list_init(&option->e.list);
  option->section = section;
  option->type = UCI_TYPE_LIST;
  list_init(&option->v.list);
  return option;
}

void option_free(uci_option *option) {
  if (option->type == UCI_TYPE_LIST) {
    uci_element *item, *next;
    uci_foreach_element_safe(&option->v.list, next, item) {
      list_del(&item->list);
      free(item);
    }
  }
  list_del(&option->e.list);
  free(option);
}

void section_free(uci_section *section) {
  uci_element *element, *next;
  uci_foreach_element_safe(&section->options, next, element) option_free(uci_to_option(element));
  list_del(&section->e.list);
  free(section);
}

}  // namespace

void list_init(uci_list *head) {
  head->next = head;
  head->prev = head;
}

void list_add_tail(uci_list *head, uci_list *item) {
  item->prev = head->prev;
  item->next = head;
  head->prev->next = item;
  head->prev = item;
}

void list_del(uci_list *item) {
  item->prev->next = item->next;
  item->next->prev = item->prev;
  list_init(item);
}

bool valid_package_name(const char *text) {
  if (*text == '\0') return false;
  for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; ++c)
    if (!ascii_alnum(*c) && *c != '_' && *c != '-') return false;
  return true;
}

bool valid_name(const char *text) {
  if (*text == '\0') return false;
  for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; ++c)
    if (!ascii_alnum(*c) && *c != '_') return false;
  return true;
}

bool valid_type(const char *text) {
  if (*text == '\0') return false;
  for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; ++c)
    if (*c < 33 || *c > 126) return false;
  return true;
}

uci_package *package_new(uci_context *ctx, const char *name) {
  char *copy = nullptr;
  auto *package =
      static_cast<uci_package *>(block_new(sizeof(uci_package), name, &copy, nullptr, nullptr));
  if (package == nullptr) return nullptr;
  package->e.type = UCI_TYPE_PACKAGE;
  package->e.name = copy;
  list_init(&package->e.list);
  list_init(&package->sections);
  list_init(&package->delta);
  list_init(&package->saved_delta);
  package->ctx = ctx;
  return package;
}

void package_free(uci_package *package) {
  uci_element *element, *next;
  uci_foreach_element_safe(&package->sections, next, element) section_free(uci_to_section(element));
  list_del(&package->e.list);
  free(package->path);
  free(package);
}

uci_section *section_find(uci_package *package, const char *name) {
  uci_element *element;
  uci_foreach_element(&package->sections, element) {
    if (strcmp(element->name, name) == 0) return uci_to_section(element);
  }
  return nullptr;
}

uci_section *section_add(uci_package *package, const char *type, const char *name) {
  bool anonymous = name == nullptr || *name == '\0';
  // Anonymous sections still get a name of the form cfgNNHHHH: a counter
  // and a hash of the type.
  char generated[32];
  if (anonymous) {
    snprintf(generated, sizeof generated, "cfg%02x%04x", (package->n_section + 1) & 0xffff,
             name_hash(type) % 0x10000u);
    name = generated;
  }
  char *name_copy = nullptr;
  char *type_copy = nullptr;
  auto *section = static_cast<uci_section *>(
      block_new(sizeof(uci_section), type, &type_copy, name, &name_copy));
  if (section == nullptr) return nullptr;
  section->e.type = UCI_TYPE_SECTION;
  section->e.name = name_copy;
  section->type = type_copy;
  section->anonymous = anonymous;
  section->package = package;
  list_init(&section->options);
  list_add_tail(&package->sections, &section->e.list);
  package->n_section++;
  return section;
}

uci_option *option_find(uci_section *section, const char *name, int *count) {
  int seen = 0;
  uci_element *element;
  uci_foreach_element(&section->options, element) {
    if (strcmp(element->name, name) == 0) return uci_to_option(element);
    ++seen;
  }
  if (count != nullptr) *count = seen;
  return nullptr;
}

int option_set(uci_section *section, uci_option *old, const char *name, const char *value) {
  if (old != nullptr && old->type == UCI_TYPE_STRING && strcmp(old->v.string, value) == 0)
    return UCI_OK;
  // The value sits right after the record, as uci_dataptr() expects.
  char *value_copy = nullptr;
  char *name_copy = nullptr;
  auto *option = static_cast<uci_option *>(
      block_new(sizeof(uci_option), value, &value_copy, name, &name_copy));
  if (option == nullptr) return UCI_ERR_MEM;
  option->e.type = UCI_TYPE_OPTION;
  option->e.name = name_copy;
  option->section = section;
  option->type = UCI_TYPE_STRING;
  option->v.string = value_copy;
  if (old != nullptr) option_free(old);
  list_add_tail(&section->options, &option->e.list);
  return UCI_OK;
}

int option_add_item(uci_section *section, uci_option *old, const char *name, const char *value) {
  uci_element *item = item_new(value);
  if (item == nullptr) return UCI_ERR_MEM;
  if (old != nullptr && old->type == UCI_TYPE_LIST) {
    list_add_tail(&old->v.list, &item->list);
    return UCI_OK;
  }

  uci_option *option = list_option_new(section, name);
  if (option == nullptr) {
    free(item);
    return UCI_ERR_MEM;
  }
  if (old != nullptr) {
    // A string followed by list lines of the same name: the string is the
    // list's first item.
    uci_element *first = item_new(old->v.string);
    if (first == nullptr) {
      free(item);
      free(option);
      return UCI_ERR_MEM;
    }
    list_add_tail(&option->v.list, &first->list);
    option_free(old);
  }
  list_add_tail(&option->v.list, &item->list);
  list_add_tail(&section->options, &option->e.list);
  return UCI_OK;
}

}  // namespace uci_store
