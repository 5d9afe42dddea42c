// SPDX-License-Identifier: MIT
// What a schedule that was killed during a run (the OOM killer, kill -9)
// left behind: procd signals only the schedule's own pid, so that run's
// daemon and agent live on and would refuse the next start.
#pragma once

// Reads the run record at path and, when it names a run of this boot that
// is still there, ends that run's processes (SIGTERM, SIGKILL after grace
// seconds); then removes the record. A stop signal taken meanwhile sets
// *stop.
void previous_run_end(const char *path, long grace, bool *stop);
