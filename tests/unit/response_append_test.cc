// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/http_transfer.h"
#include "lib/len_buf.h"

// Lets a failed allocation return null under AddressSanitizer too, as it
// does with the C library's allocator.
extern "C" const char *__asan_default_options();
extern "C" const char *__asan_default_options() {
  return "allocator_may_return_null=1";
}

namespace {

TEST(ResponseAppend, ChunksAreLaidEndToEndWithANul) {
  len_buf buf = {};
  char first[] = {'a', 'b'};
  char second[] = {'c'};
  EXPECT_EQ(response_append(first, 1, 2, &buf), 2u);
  EXPECT_EQ(response_append(second, 1, 1, &buf), 1u);
  ASSERT_EQ(buf.length, 3);
  EXPECT_EQ(memcmp(buf.bytes, "abc", 4), 0);
  // Elements larger than a byte count as size * count bytes.
  char words[] = {'d', 'e', 'f', 'g'};
  EXPECT_EQ(response_append(words, 2, 2, &buf), 4u);
  EXPECT_EQ(buf.length, 7);
  EXPECT_STREQ(buf.bytes, "abcdefg");
  len_buf_release(&buf);
}

TEST(ResponseAppend, NullTargetAndDiscardTakeEverything) {
  char chunk[20] = {};
  EXPECT_EQ(response_append(chunk, 1, 7, nullptr), 7u);
  EXPECT_EQ(response_discard(chunk, 4, 5, nullptr), 20u);
  len_buf buf = {};
  EXPECT_EQ(response_discard(chunk, 4, 5, &buf), 20u);
  EXPECT_EQ(buf.length, 0);
  EXPECT_EQ(buf.bytes, nullptr);
  // An empty chunk changes nothing.
  EXPECT_EQ(response_append(chunk, 1, 0, &buf), 0u);
  EXPECT_EQ(buf.bytes, nullptr);
}

TEST(ResponseAppend, GrowthPastTheSignedCountIsRefused) {
  // The storage is never read or grown when the count would overflow, so a
  // small block can stand for a buffer near the limit.
  char *storage = static_cast<char *>(malloc(1));
  ASSERT_NE(storage, nullptr);
  len_buf buf = {INT32_MAX - 3, storage};
  char chunk[8] = {};
  EXPECT_EQ(response_append(chunk, 1, 3, &buf), 3u);
  EXPECT_EQ(buf.length, INT32_MAX - 3);
  EXPECT_EQ(buf.bytes, storage);
  EXPECT_EQ(response_append(chunk, 4, SIZE_MAX / 2, &buf), 4 * (SIZE_MAX / 2));
  EXPECT_EQ(buf.length, INT32_MAX - 3);
  // A count already at the top leaves no room for any chunk.
  buf.length = INT32_MAX;
  EXPECT_EQ(response_append(chunk, 1, 1, &buf), 1u);
  EXPECT_EQ(buf.length, INT32_MAX);
  EXPECT_EQ(buf.bytes, storage);
  free(storage);
}

TEST(ResponseAppend, InconsistentBuffersAreLeftAlone) {
  char chunk[] = {'x'};
  len_buf negative = {-1, nullptr};
  EXPECT_EQ(response_append(chunk, 1, 1, &negative), 1u);
  EXPECT_EQ(negative.length, -1);
  EXPECT_EQ(negative.bytes, nullptr);
  len_buf counted_without_bytes = {5, nullptr};
  EXPECT_EQ(response_append(chunk, 1, 1, &counted_without_bytes), 1u);
  EXPECT_EQ(counted_without_bytes.length, 5);
  EXPECT_EQ(counted_without_bytes.bytes, nullptr);
}

// Address space left for the process: what it maps now plus a margin.
rlim_t address_space_now() {
  FILE *statm = fopen("/proc/self/statm", "r");
  unsigned long pages = 0;
  if (statm != nullptr) {
    if (fscanf(statm, "%lu", &pages) != 1) pages = 0;
    fclose(statm);
  }
  return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

constexpr int NO_ADDRESS_SPACE_LIMIT = 99;

// In a child whose address space is capped, a chunk too large for the
// allocator is dropped and the buffer keeps exactly what it held.
TEST(ResponseAppend, StorageThatCannotGrowStaysConsistent) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const size_t big = 256u << 20;
    void *source =
        mmap(nullptr, big, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (source == MAP_FAILED) _exit(10);
    len_buf buf = {};
    char first[] = {'a', 'b', 'c'};
    if (response_append(first, 1, 3, &buf) != 3) _exit(11);
    rlimit limit = {address_space_now() + (32u << 20), RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(12);
    // qemu-user accepts the limit but does not apply it to the program.
    void *probe = malloc(64u << 20);
    if (probe != nullptr) _exit(NO_ADDRESS_SPACE_LIMIT);
    if (response_append(static_cast<char *>(source), 1, big, &buf) != big) _exit(13);
    if (buf.length != 3 || buf.bytes == nullptr || strcmp(buf.bytes, "abc") != 0) _exit(14);
    len_buf empty = {};
    if (response_append(static_cast<char *>(source), 1, big, &empty) != big) _exit(15);
    if (empty.length != 0 || empty.bytes != nullptr) _exit(16);
    len_buf_release(&buf);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == NO_ADDRESS_SPACE_LIMIT)
    GTEST_SKIP() << "RLIMIT_AS is not enforced here (emulator)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "check number " << WEXITSTATUS(status) << " failed";
}

}  // namespace
