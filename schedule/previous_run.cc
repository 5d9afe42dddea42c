// SPDX-License-Identifier: MIT
#include "schedule/previous_run.h"

#include <syslog.h>
#include <unistd.h>

#include <cstring>

#include "schedule/proc_table.h"
#include "schedule/run_group.h"
#include "schedule/run_record.h"

namespace {

// True when the group named by record is that run and nothing else. Pids
// are never reused while a process, or a group or session of that id,
// still holds them:
// - a live leader with the recorded start time is the very process that
//   the schedule started, and its group is the run's;
// - without the leader, the group id could have been taken again only
//   after every process of the run had ended and the id was freed; a new
//   group of that id holds processes that do not carry the run's marker,
//   an environment entry of random bytes that only the run's processes
//   inherited. Every live member must carry it.
bool is_that_run(const run_record &record) {
  char boot_id[BOOT_ID_MAX];
  if (boot_id_read(boot_id, sizeof boot_id) != 0 || strcmp(boot_id, record.boot_id) != 0)
    return false;
  proc_stat leader;
  if (proc_stat_read(record.leader, &leader) == 0 && leader.state != 'Z' &&
      leader.start_time == record.start_time && leader.pgrp == record.leader)
    return true;
  group_census census = group_count(record.leader, record.marker);
  return census.live > 0 && census.unmarked == 0;
}

}  // namespace

void previous_run_end(const char *path, long grace, bool *stop) {
  run_record record;
  if (run_record_read(path, &record) == 0) {
    bool left_alone = false;
    if (is_that_run(record)) {
      syslog(LOG_NOTICE, "ending what the previous schedule's run of pid %d left behind",
             record.leader);
      // Every process of the run carries the marker; one that does not
      // took the group's id after the run had ended.
      left_alone = !group_end(record.leader, record.marker, grace, stop);
    } else {
      left_alone = group_count(record.leader, nullptr).live > 0;
    }
    if (left_alone)
      syslog(LOG_NOTICE, "process group %d is not the previous schedule's run: left alone",
             record.leader);
  }
  unlink(path);
}
