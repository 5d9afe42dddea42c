// SPDX-License-Identifier: MIT
// A stray use of the C++ runtime library: operator new and delete live in
// libstdc++ (or libc++), which a program of ours must never link.
int *volatile kept;

int main() {
  kept = new int(7);
  const int value = *kept;
  delete kept;
  return value == 7 ? 0 : 1;
}
