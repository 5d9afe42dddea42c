// SPDX-License-Identifier: MIT
#include "tests/support/alloc_counter.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstring>

namespace {

using malloc_fn = void *(*)(size_t);
using calloc_fn = void *(*)(size_t, size_t);
using realloc_fn = void *(*)(void *, size_t);
using free_fn = void (*)(void *);

malloc_fn real_malloc = nullptr;
calloc_fn real_calloc = nullptr;
realloc_fn real_realloc = nullptr;
free_fn real_free = nullptr;

long calls = 0;
long live = 0;
long fail_countdown = -1;

// dlsym may allocate while the real functions are looked up: such requests
// are served from a static arena whose blocks are never freed.
alignas(16) unsigned char arena[4096];
size_t arena_used = 0;
bool resolving = false;

bool from_arena(const void *p) {
  const auto *byte = static_cast<const unsigned char *>(p);
  return byte >= arena && byte < arena + sizeof arena;
}

void *arena_alloc(size_t size) {
  const size_t rounded = (size + 15) & ~static_cast<size_t>(15);
  if (rounded > sizeof arena - arena_used) return nullptr;
  void *p = arena + arena_used;
  arena_used += rounded;
  return p;
}

void resolve() {
  if (real_free != nullptr || resolving) return;
  resolving = true;
  real_malloc = reinterpret_cast<malloc_fn>(dlsym(RTLD_NEXT, "malloc"));
  real_calloc = reinterpret_cast<calloc_fn>(dlsym(RTLD_NEXT, "calloc"));
  real_realloc = reinterpret_cast<realloc_fn>(dlsym(RTLD_NEXT, "realloc"));
  real_free = reinterpret_cast<free_fn>(dlsym(RTLD_NEXT, "free"));
  resolving = false;
}

bool fail_now() {
  ++calls;
  if (fail_countdown < 0) return false;
  return fail_countdown-- == 0;
}

}  // namespace

alloc_snapshot alloc_now() {
  return {calls, live};
}

void alloc_fail_at(long n) {
  fail_countdown = n < 0 ? -1 : n;
}

extern "C" {

void *malloc(size_t size) {
  resolve();
  if (resolving) return arena_alloc(size);
  if (fail_now()) return nullptr;
  void *p = real_malloc(size);
  if (p != nullptr) ++live;
  return p;
}

void *calloc(size_t count, size_t size) {
  resolve();
  if (resolving) {
    void *p = arena_alloc(count * size);
    if (p != nullptr) memset(p, 0, count * size);
    return p;
  }
  if (fail_now()) return nullptr;
  void *p = real_calloc(count, size);
  if (p != nullptr) ++live;
  return p;
}

void *realloc(void *old, size_t size) {
  resolve();
  if (resolving || from_arena(old)) {
    void *p = resolving ? arena_alloc(size) : malloc(size);
    if (p != nullptr && old != nullptr) {
      const size_t available =
          static_cast<size_t>(arena + sizeof arena - static_cast<unsigned char *>(old));
      memcpy(p, old, size < available ? size : available);
    }
    return p;
  }
  if (fail_now()) return nullptr;
  void *p = real_realloc(old, size);
  if (p != nullptr && old == nullptr) ++live;
  if (p == nullptr && old != nullptr && size == 0) --live;  // freed
  return p;
}

void free(void *p) {
  if (p == nullptr || from_arena(p)) return;
  resolve();
  --live;
  real_free(p);
}
}
