// SPDX-License-Identifier: MIT
/*
 * A small UCI store of our own, for builds without OpenWrt's libuci.
 *
 * It offers the part of libuci's C interface that quorvel calls, under the
 * library's own names, with its record layouts, enum values, error codes and
 * return conventions, so that a program compiles unchanged against either:
 * contexts, the config directory, looking up package.section.option paths
 * (with the extended @type[index] syntax), unloading packages, and the last
 * error printed with uci_perror. Config files are read from /etc/config
 * (or the directory given with uci_set_confdir); nothing is ever written.
 */
#ifndef QUORVEL_UCI_H
#define QUORVEL_UCI_H

#ifdef __cplusplus
extern "C" {
#endif

#include <setjmp.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#define UCI_CONFDIR "/etc/config"
#define UCI_SAVEDIR "/tmp/.uci"
#define UCI_DIRMODE 0700
#define UCI_FILEMODE 0600

enum {
  UCI_OK = 0,
  UCI_ERR_MEM,
  UCI_ERR_INVAL,
  UCI_ERR_NOTFOUND,
  UCI_ERR_IO,
  UCI_ERR_PARSE,
  UCI_ERR_DUPLICATE,
  UCI_ERR_UNKNOWN,
  UCI_ERR_LAST
};

struct uci_list {
  struct uci_list *next;
  struct uci_list *prev;
};

struct uci_ptr;
struct uci_element;
struct uci_package;
struct uci_section;
struct uci_option;
struct uci_context;
struct uci_backend;
struct uci_parse_context;

/* A new context reading from UCI_CONFDIR, or NULL when out of memory. */
extern struct uci_context *uci_alloc_context(void);

/* Frees the context with every package still loaded in it; NULL is ignored. */
extern void uci_free_context(struct uci_context *ctx);

/* Prints "str: " (when str is not NULL) and the message for the context's
 * last error, with the position of a parse error, on standard error. */
extern void uci_perror(struct uci_context *ctx, const char *str);

/* Reads the config file "name" from the config directory into the context.
 * UCI_OK with *package set (when package is not NULL), UCI_ERR_INVAL for a
 * bad name, UCI_ERR_DUPLICATE when it is loaded already, UCI_ERR_NOTFOUND
 * when there is no regular file of that name, UCI_ERR_IO when it cannot be
 * read, UCI_ERR_PARSE for a malformed file, UCI_ERR_MEM. */
extern int uci_load(struct uci_context *ctx, const char *name, struct uci_package **package);

/* Removes a loaded package from the context and frees it. */
extern int uci_unload(struct uci_context *ctx, struct uci_package *p);

/* Splits str (modified in place, and referenced by ptr afterwards) into
 * package, section and option, loads the package when needed and looks the
 * elements up. With extended set, a section may be given as @type[index]
 * or @[index]; a negative index counts from the end. UCI_ERR_NOTFOUND when
 * the package cannot be found; a missing section or option still yields
 * UCI_OK, with ptr->last at the deepest element found and
 * UCI_LOOKUP_COMPLETE not set in ptr->flags. */
extern int uci_lookup_ptr(struct uci_context *ctx, struct uci_ptr *ptr, char *str, bool extended);

/* Reads config files from dir instead of UCI_CONFDIR (the text is copied). */
extern int uci_set_confdir(struct uci_context *ctx, const char *dir);

enum uci_type {
  UCI_TYPE_UNSPEC = 0,
  UCI_TYPE_DELTA = 1,
  UCI_TYPE_PACKAGE = 2,
  UCI_TYPE_SECTION = 3,
  UCI_TYPE_OPTION = 4,
  UCI_TYPE_PATH = 5,
  UCI_TYPE_BACKEND = 6,
  UCI_TYPE_ITEM = 7,
  UCI_TYPE_HOOK = 8,
};

enum uci_option_type {
  UCI_TYPE_STRING = 0,
  UCI_TYPE_LIST = 1,
};

enum uci_flags {
  UCI_FLAG_STRICT = (1 << 0),
  UCI_FLAG_PERROR = (1 << 1),
  UCI_FLAG_EXPORT_NAME = (1 << 2),
  UCI_FLAG_SAVED_DELTA = (1 << 3),
};

struct uci_element {
  struct uci_list list;
  enum uci_type type;
  char *name;
};

struct uci_context {
  /* list of config packages */
  struct uci_list root;

  /* parser context, use for error handling only */
  struct uci_parse_context *pctx;

  /* backend for import and export (unused here) */
  struct uci_backend *backend;
  struct uci_list backends;

  /* uci runtime flags */
  enum uci_flags flags;

  char *confdir;
  char *savedir;

  /* search path for delta files (unused here) */
  struct uci_list delta_path;

  /* private: */
  int err;
  const char *func;
  jmp_buf trap;
  bool internal, nested;
  char *buf;
  int bufsz;
};

struct uci_package {
  struct uci_element e;
  struct uci_list sections;
  struct uci_context *ctx;
  bool has_delta;
  char *path;

  /* private: */
  struct uci_backend *backend;
  void *priv;
  int n_section;
  struct uci_list delta;
  struct uci_list saved_delta;
};

struct uci_section {
  struct uci_element e;
  struct uci_list options;
  struct uci_package *package;
  bool anonymous;
  char *type;
};

struct uci_option {
  struct uci_element e;
  struct uci_section *section;
  enum uci_option_type type;
  union {
    struct uci_list list;
    char *string;
  } v;
};

struct uci_ptr {
  enum uci_type target;
  enum {
    UCI_LOOKUP_DONE = (1 << 0),
    UCI_LOOKUP_COMPLETE = (1 << 1),
    UCI_LOOKUP_EXTENDED = (1 << 2),
  } flags;

  struct uci_package *p;
  struct uci_section *s;
  struct uci_option *o;
  struct uci_element *last;

  const char *package;
  const char *section;
  const char *option;
  const char *value;
};

/* The cast goes through void *, so that strict-alignment targets see no
 * alignment change: the member really lies inside a record of that type. */
#ifndef container_of
#define container_of(ptr, type, member) ((type *)(void *)((char *)(ptr)-offsetof(type, member)))
#endif

/* The element that holds a list link. */
#define list_to_element(ptr) container_of(ptr, struct uci_element, list)

/* Loops over the elements of a list: uci_foreach_element(&list, e) { ... } */
#define uci_foreach_element(_list, _ptr)                              \
  for (_ptr = list_to_element((_list)->next); &_ptr->list != (_list); \
       _ptr = list_to_element(_ptr->list.next))

/* Like uci_foreach_element, but the current element may be freed. */
#define uci_foreach_element_safe(_list, _tmp, _ptr)                                    \
  for (_ptr = list_to_element((_list)->next), _tmp = list_to_element(_ptr->list.next); \
       &_ptr->list != (_list); _ptr = _tmp, _tmp = list_to_element(_ptr->list.next))

#define uci_list_empty(list) ((list)->next == (list))

#define uci_type_package UCI_TYPE_PACKAGE
#define uci_type_section UCI_TYPE_SECTION
#define uci_type_option UCI_TYPE_OPTION

#define uci_to_package(ptr) container_of(ptr, struct uci_package, e)
#define uci_to_section(ptr) container_of(ptr, struct uci_section, e)
#define uci_to_option(ptr) container_of(ptr, struct uci_option, e)

#define uci_dataptr(ptr) (((char *)ptr) + sizeof(*ptr))

#ifdef __cplusplus
}
#endif

#endif
