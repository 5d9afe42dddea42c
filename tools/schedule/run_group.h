// SPDX-License-Identifier: MIT
// One run of the daemon and its process group.
//
// The daemon is started directly (fork, setpgid, exec: no shell, no
// timeout command) in a process group whose id is its pid. The daemon's own
// setsid() then fails, as the leader of a group may not open a session, so
// the daemon and all it starts (the shell, the agent, ipset) stay in that
// group. Every process of the run also inherits an environment entry that
// names the run (run_record.marker).
#pragma once

#include <signal.h>
#include <sys/types.h>

#include "tools/schedule/run_record.h"

// Starts daemon with the signal mask child_mask; fills record (leader,
// start time, marker, boot id). 0 on success, -1 when fork fails.
[[nodiscard]] int run_start(const char *daemon, const sigset_t &child_mask, run_record *record);

// True once the leader has ended; its status (as a shell gives it: the exit
// status, or 128 plus the signal) goes to status. The leader is left a
// zombie until run_reap(), so that its pid, which is the group's id, cannot
// be given to another process meanwhile.
[[nodiscard]] bool run_leader_ended(pid_t leader, int *status);

void run_reap(pid_t leader);

// Ends the members of the group pgrp other than left_out: SIGTERM, then
// SIGKILL to those still running after grace seconds. Returns once none is
// left, not even a zombie that its parent (init, once orphaned) has yet to
// reap: a daemon's pid that a zombie still holds would refuse the next
// start. Waits at most grace seconds for the zombies. A signal that stops
// the schedule arriving meanwhile sets *stop.
void group_end(pid_t pgrp, long grace, bool *stop, pid_t left_out = 0);
