// SPDX-License-Identifier: MIT
// The delay before the next run.
#pragma once

// A number of seconds from min_delay to min_delay + range - 1, drawn
// afresh from the kernel's random source (the time of day where there is
// none).
[[nodiscard]] long delay_draw(long min_delay, long range);
