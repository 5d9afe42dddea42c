// SPDX-License-Identifier: MIT
// The synchronisation cycle: fetch the whitelist through the agent tool,
// compare its stamp with the stored one, load a changed enabled list into
// the kernel set and store its stamp.
#pragma once

#include "sync/cdn_state.h"

// One full cycle on state: a fetch pass, removal of whatever stands at the
// answer path (as path_clear removes it), the next delay drawn and the time
// recorded. Returns the pass's result (0 or
// -1); a null state does nothing and gives -1.
int whitelist_sync(cdn_state *state);

// One fetch-compare-apply pass. 0 when it ended normally (also for a
// disabled list, an unchanged stamp or a failed load), -1 when the answer
// path cannot be cleared before the agent runs (a directory that is not
// empty), the agent tool failed or its answer cannot be read.
[[nodiscard]] int whitelist_fetch(cdn_state *state);

// Seeds rand() with the current time and returns the next value modulo
// bound (which must be positive).
[[nodiscard]] int random_below(int bound);

// The delay before the next fetch: at least NEXT_DELAY_MIN seconds and
// below twice that, drawn with random_below.
constexpr int NEXT_DELAY_MIN = 1800;
constexpr int NEXT_DELAY_RANGE = 1800;
[[nodiscard]] int next_delay_draw();
