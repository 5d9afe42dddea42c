// SPDX-License-Identifier: MIT
// One run of the daemon and its process group.
//
// The daemon is started directly (no shell, no timeout command) in a
// process group whose id is its pid, with no signal blocked. The daemon's own
// setsid() then fails, as the leader of a group may not open a session, so
// the daemon and all it starts (the shell, the agent, ipset) stay in that
// group. Every process of the run also inherits an environment entry that
// names the run (run_record.marker), the first of the daemon's.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include "schedule/run_record.h"

// Starts daemon, its input and output on /dev/null, with the schedule's
// own environment behind the run's marker; fills record (leader, start
// time, marker, boot id). 0 on success, -1 (errno set) when the
// environment cannot be built or the daemon cannot be started.
[[nodiscard]] int run_start(const char *daemon, run_record *record);

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
// the schedule arriving meanwhile sets *stop; requests for a cycle stay
// pending.
//
// marker: null when the caller holds the group's id (its leader is a child
// not yet reaped), so every member is the run's. Otherwise the run's
// environment entry: the group is signalled only while every live member
// carries it, since once the run's last process has ended its id may name
// another group. Returns false, leaving the group alone from then on, when
// a live member without it was seen; true otherwise.
bool group_end(pid_t pgrp, const char *marker, long grace, bool *stop, pid_t left_out = 0);
