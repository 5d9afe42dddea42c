// SPDX-License-Identifier: MIT
// The delay before the next run.
#pragma once

// A number of seconds from min_delay to min_delay + range - 1, drawn
// afresh from the kernel's random source (the time of day where there is
// none).
[[nodiscard]] long delay_draw(long min_delay, long range);

// The delay that a draw of the random source gives: min_delay plus draw
// modulo range.
[[nodiscard]] long delay_pick(long min_delay, long range, unsigned long long draw);
