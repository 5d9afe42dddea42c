// SPDX-License-Identifier: MIT
// Contexts, the config directory, loading and unloading packages, and the
// report of the last error.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "uci_store.h"

namespace {

// The default directories are static texts that are never freed.
char default_confdir[] = UCI_CONFDIR;
char default_savedir[] = UCI_SAVEDIR;

const char *const error_texts[] = {
    "Success",   "Out of memory", "Invalid argument", "Entry not found",
    "I/O error", "Parse error",   "Duplicate entry",  "Unknown error",
};
static_assert(sizeof error_texts / sizeof error_texts[0] == UCI_ERR_LAST);

uci_package *loaded_package(uci_context *ctx, const char *name) {
  uci_element *element;
  uci_foreach_element(&ctx->root, element) {
    if (strcmp(element->name, name) == 0) return uci_to_package(element);
  }
  return nullptr;
}

}  // namespace

namespace uci_store {

int fail(uci_context *ctx, int code) {
  ctx->err = code;
  return code;
}

void clear_error(uci_context *ctx) {
  ctx->err = UCI_OK;
  free(ctx->pctx);
  ctx->pctx = nullptr;
}

int fail_parse(uci_context *ctx, const char *reason, int line, size_t byte) {
  free(ctx->pctx);
  // Without memory for the position the error is still reported, only
  // without its details.
  ctx->pctx = static_cast<uci_parse_context *>(calloc(1, sizeof *ctx->pctx));
  if (ctx->pctx != nullptr) {
    ctx->pctx->reason = reason;
    ctx->pctx->line = line;
    ctx->pctx->byte = byte;
  }
  return fail(ctx, UCI_ERR_PARSE);
}

}  // namespace uci_store

extern "C" {

uci_context *uci_alloc_context(void) {
  auto *ctx = static_cast<uci_context *>(calloc(1, sizeof(uci_context)));
  if (ctx == nullptr) return nullptr;
  uci_store::list_init(&ctx->root);
  uci_store::list_init(&ctx->backends);
  uci_store::list_init(&ctx->delta_path);
  ctx->flags = static_cast<uci_flags>(UCI_FLAG_STRICT | UCI_FLAG_SAVED_DELTA);
  ctx->confdir = default_confdir;
  ctx->savedir = default_savedir;
  return ctx;
}

void uci_free_context(uci_context *ctx) {
  if (ctx == nullptr) return;
  uci_element *element, *next;
  uci_foreach_element_safe(&ctx->root, next, element) {
    uci_store::package_free(uci_to_package(element));
  }
  if (ctx->confdir != default_confdir) free(ctx->confdir);
  free(ctx->pctx);
  free(ctx->buf);
  free(ctx);
}

int uci_set_confdir(uci_context *ctx, const char *dir) {
  if (ctx == nullptr) return UCI_ERR_INVAL;
  uci_store::clear_error(ctx);
  if (dir == nullptr) return uci_store::fail(ctx, UCI_ERR_INVAL);
  char *copy = strdup(dir);
  if (copy == nullptr) return uci_store::fail(ctx, UCI_ERR_MEM);
  if (ctx->confdir != default_confdir) free(ctx->confdir);
  ctx->confdir = copy;
  return UCI_OK;
}

int uci_load(uci_context *ctx, const char *name, uci_package **package) {
  if (ctx == nullptr) return UCI_ERR_INVAL;
  uci_store::clear_error(ctx);
  if (name == nullptr) return uci_store::fail(ctx, UCI_ERR_INVAL);
  if (loaded_package(ctx, name) != nullptr) return uci_store::fail(ctx, UCI_ERR_DUPLICATE);
  uci_package *loaded = nullptr;
  int status = uci_store::package_read(ctx, name, &loaded);
  if (status != UCI_OK) return status;
  uci_store::list_add_tail(&ctx->root, &loaded->e.list);
  if (package != nullptr) *package = loaded;
  return UCI_OK;
}

int uci_unload(uci_context *ctx, uci_package *p) {
  if (ctx == nullptr) return UCI_ERR_INVAL;
  uci_store::clear_error(ctx);
  if (p == nullptr) return uci_store::fail(ctx, UCI_ERR_INVAL);
  uci_store::package_free(p);
  return UCI_OK;
}

void uci_perror(uci_context *ctx, const char *str) {
  int err = ctx == nullptr ? UCI_ERR_INVAL : ctx->err;
  if (err < 0 || err >= UCI_ERR_LAST) err = UCI_ERR_UNKNOWN;
  const char *prefix = str != nullptr ? str : "";
  const char *separator = str != nullptr ? ": " : "";
  if (err == UCI_ERR_PARSE && ctx->pctx != nullptr) {
    const uci_parse_context *where = ctx->pctx;
    fprintf(stderr, "%s%s%s (%s) at line %d, byte %d\n", prefix, separator, error_texts[err],
            where->reason != nullptr ? where->reason : "unknown", where->line,
            static_cast<int>(where->byte));
  } else {
    fprintf(stderr, "%s%s%s\n", prefix, separator, error_texts[err]);
  }
}

}  // extern "C"
