// SPDX-License-Identifier: MIT
/* Stand-in for libubox: one function, so that libuci.so needs this library. */
int ubox_staging_version(void);

int ubox_staging_version(void) {
  return 1;
}
