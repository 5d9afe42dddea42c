// SPDX-License-Identifier: MIT
// C++ as the daemon uses it: header-only facilities, nothing from the C++
// runtime library.
#include <array>
#include <cstdio>
#include <string_view>

int main() {
  constexpr std::array<std::string_view, 2> words{"plain", "program"};
  for (std::string_view word : words) printf("%.*s\n", static_cast<int>(word.size()), word.data());
  return 0;
}
