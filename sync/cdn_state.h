// SPDX-License-Identifier: MIT
// The synchronisation state kept in the run's context.
#pragma once

#include <cstdint>

struct cdn_state {
  int8_t enabled;      // 1 when the last answer reported the list enabled
  char timestamp[64];  // the "updateTime" applied last
  int32_t last_fetch;  // end of the last cycle, seconds since the epoch
  int32_t next_delay;  // seconds until the next fetch is due
};

// Marks the whitelist disabled; a null state is ignored.
void cdn_state_disable(cdn_state *state);
