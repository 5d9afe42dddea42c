// SPDX-License-Identifier: MIT
// The cycle's use of the list kept on flash (KEPT_FILE): after a load the
// mode's element list is kept with its stamp; before the agent runs, a set
// that lacks the kept list of the stored stamp gets it again through the
// mode's own load, so a reboot or a firewall restart need not wait for the
// network.
#pragma once

#include "sync/core/load_list.h"

// Keeps loaded, the list the set holds after a load of stamp, in path
// before the stamp is stored. Writes nothing when path already holds that
// list. When the list cannot be kept (a full flash, an element the file
// cannot hold, a list that is not whole) the old file is removed with one
// LOG_WARNING line saying why, so that no file outlives its stamp.
void whitelist_keep(const char *path, const char *stamp, const load_list &loaded);

// Restores the kept list at path when it carries stamp (the stored stamp)
// and the mode's check finds that the set exists and lacks it; logs one
// line when it did. A missing set is left alone, a file of another stamp
// is left as it is, a file that does not read back whole is removed with
// one line. A temporary file of an interrupted write is removed first.
// Returns 1 when the list was loaded, 0 when the set was found holding it,
// -1 when the set was not checked against it or its load failed.
int whitelist_restore(const char *path, const char *stamp);
