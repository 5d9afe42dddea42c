// SPDX-License-Identifier: MIT
// Local date and time as text, such as 2024-03-07 09:05:00.
#pragma once

#include <ctime>

// Bytes of the caller's buffer: the 19 characters and the NUL.
inline constexpr int TIME_TEXT_SIZE = 20;

// Writes the local time of when as "YYYY-MM-DD hh:mm:ss" into buf, which
// holds TIME_TEXT_SIZE bytes, and returns the count of characters written
// (19). Every moment of the local year 1970 gives 0000-00-00 00:00:00.
// A time whose text would not fit (a year beyond 9999 or before 0) or that
// has no local time leaves buf holding the empty text and returns -1, so
// no cut and misleading date is ever shown; a null buf also yields -1.
int time_text_format(time_t when, char *buf);
