// SPDX-License-Identifier: MIT
// A part of a string_view that never throws: substr would, and the daemon
// carries no C++ runtime.
#pragma once

#include <cstddef>
#include <string_view>

// The count bytes of text from pos on, clipped to its end.
inline std::string_view view_part(std::string_view text, size_t pos,
                                  size_t count = std::string_view::npos) {
  if (pos > text.size()) pos = text.size();
  if (count > text.size() - pos) count = text.size() - pos;
  return std::string_view(text.data() + pos, count);
}
