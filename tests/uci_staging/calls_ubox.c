// SPDX-License-Identifier: MIT
/* libuci calls into libubox: so does the staged libuci, once, when it is
   loaded, so that it cannot load without libubox.so. */
int ubox_staging_version(void);

static int ubox_version;

__attribute__((constructor)) static void uci_staging_init(void) {
  ubox_version = ubox_staging_version();
}
