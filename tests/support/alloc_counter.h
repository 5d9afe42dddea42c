// SPDX-License-Identifier: MIT
// Counting allocator for the test program that links alloc_counter.cc: it
// defines malloc, calloc, realloc and free for the whole process (the C
// library's, PCRE's and the C++ runtime's calls included), counts them,
// and can make one chosen allocation fail. The calls are passed on to the
// next definition (the C library's, or the sanitizer's under ASan).
#pragma once

struct alloc_snapshot {
  long calls;  // malloc, calloc and realloc calls, failed ones included
  long live;   // blocks handed out and not yet freed
};

alloc_snapshot alloc_now();

// The allocation call number n (0 = the next one) from now returns null,
// once. A negative n disarms.
void alloc_fail_at(long n);
