# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by cmake/targets/run.sh: lets the kernel run foreign binaries
# through qemu-user (binfmt_misc), so that a test or the sandbox can start an
# aarch64 or MIPS program as if it were native.
#
# Registrations are global to the machine: binfmt_register records what it
# added and binfmt_unregister_all removes exactly that (the caller runs it
# from an EXIT trap). An entry that was there before is used and left alone.

BINFMT_DIR=/proc/sys/fs/binfmt_misc
BINFMT_ADDED=()
BINFMT_MOUNTED=0

# binfmt_register NAME: NAME as in /usr/lib/binfmt.d/qemu-NAME.conf
# (qemu-user-static).
binfmt_register() {
  local name=qemu-$1 conf=/usr/lib/binfmt.d/qemu-$1.conf
  [ -f "$conf" ] || { echo "binfmt: $conf is missing (qemu-user-static)" >&2; return 1; }
  if [ ! -e "$BINFMT_DIR/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT_DIR"
    BINFMT_MOUNTED=1
  fi
  if [ -e "$BINFMT_DIR/$name" ]; then
    echo "binfmt: $name was registered before; using it"
    return 0
  fi
  cat "$conf" > "$BINFMT_DIR/register"
  BINFMT_ADDED+=("$name")
  echo "binfmt: registered $name"
}

binfmt_unregister_all() {
  local name
  for name in "${BINFMT_ADDED[@]}"; do
    if [ -e "$BINFMT_DIR/$name" ]; then
      echo -1 > "$BINFMT_DIR/$name" && echo "binfmt: unregistered $name"
    fi
  done
  BINFMT_ADDED=()
  # Unmount only what was mounted here, and only while nobody else's
  # entry lives in it.
  if [ "$BINFMT_MOUNTED" = 1 ]; then
    local entry
    for entry in "$BINFMT_DIR"/*; do
      case "${entry##*/}" in register|status) ;; *) return 0 ;; esac
    done
    umount "$BINFMT_DIR" && BINFMT_MOUNTED=0
  fi
}
