// SPDX-License-Identifier: MIT
// Reading one config file of the config directory into a package.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "lib/c_guards.h"
#include "uci_store.h"

namespace uci_store {

namespace {

// The whole content of the open file into *out (with a NUL after it, for
// no reader's sake but safety) and its length into *length.
int read_all(uci_context *ctx, int fd, size_t hint, heap_ptr<char> *out, size_t *length) {
  // Room for one byte more than expected, so that the end shows at once.
  size_t capacity = (hint < 4096 ? 4096 : hint) + 2;
  heap_ptr<char> text(static_cast<char *>(malloc(capacity)));
  if (!text) return fail(ctx, UCI_ERR_MEM);
  size_t used = 0;
  for (;;) {
    if (used + 1 == capacity) {
      // The file grew after fstat(), or fstat() knew no size.
      if (used > FILE_BYTES_MAX) return fail_parse(ctx, "file too large", 0, 0);
      size_t grown_capacity = capacity > FILE_BYTES_MAX / 2 ? FILE_BYTES_MAX + 2 : capacity * 2;
      char *grown = static_cast<char *>(realloc(text.get(), grown_capacity));
      if (grown == nullptr) return fail(ctx, UCI_ERR_MEM);
      (void)text.release();
      text.reset(grown);
      capacity = grown_capacity;
    }
    ssize_t got = read(fd, text.get() + used, capacity - 1 - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(ctx, UCI_ERR_IO);
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  if (used > FILE_BYTES_MAX) return fail_parse(ctx, "file too large", 0, 0);
  text.get()[used] = '\0';
  *out = std::move(text);
  *length = used;
  return UCI_OK;
}

}  // namespace

int package_read(uci_context *ctx, const char *name, uci_package **out) {
  // libuci takes a name that begins with '/' or "./", or that holds a '/',
  // as a path, and finds no package under any other name that begins with
  // '.'. This layer reads only the config files of ctx->confdir itself:
  // every such name is a package that does not exist.
  if (name[0] == '.' || strchr(name, '/') != nullptr) return fail(ctx, UCI_ERR_NOTFOUND);
  // Any other printable name is a file name in the confdir, as in libuci.
  if (!valid_type(name)) return fail(ctx, UCI_ERR_INVAL);

  size_t dir_length = strlen(ctx->confdir);
  size_t name_length = strlen(name);
  if (dir_length > 4096 || name_length > 4096) return fail(ctx, UCI_ERR_INVAL);
  size_t path_size = dir_length + 1 + name_length + 1;
  heap_ptr<char> path(static_cast<char *>(malloc(path_size)));
  if (!path) return fail(ctx, UCI_ERR_MEM);
  snprintf(path.get(), path_size, "%s/%s", ctx->confdir, name);

  // O_NONBLOCK: a FIFO in place of the file must not stall the reader; it
  // is refused below like any other file that is not a regular one.
  unique_fd fd(open(path.get(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid())
    return fail(ctx, errno == ENOENT || errno == ENOTDIR ? UCI_ERR_NOTFOUND : UCI_ERR_IO);
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) return fail(ctx, UCI_ERR_IO);
  if (!S_ISREG(info.st_mode)) return fail(ctx, UCI_ERR_NOTFOUND);
  if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > FILE_BYTES_MAX)
    return fail_parse(ctx, "file too large", 0, 0);

  heap_ptr<char> text;
  size_t length = 0;
  int status = read_all(ctx, fd.get(), static_cast<size_t>(info.st_size), &text, &length);
  if (status != UCI_OK) return status;

  uci_package *package = package_new(ctx, name);
  if (package == nullptr) return fail(ctx, UCI_ERR_MEM);
  status = package_parse(ctx, package, text.get(), length);
  if (status != UCI_OK) {
    package_free(package);
    return status;
  }
  package->path = path.release();
  *out = package;
  return UCI_OK;
}

}  // namespace uci_store
