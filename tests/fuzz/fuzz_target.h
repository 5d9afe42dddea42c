// SPDX-License-Identifier: MIT
// The entry point every fuzz target defines: libFuzzer's, also called by
// the corpus replay program.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
