// SPDX-License-Identifier: MIT
// The daemon's syslog connection.
#pragma once

// The identity that every line of the daemon carries.
inline constexpr char LOG_IDENT[] = "quorvel";

// Opens syslog with the identity ident, LOG_CONS and LOG_PID, facility 0.
void log_open(const char *ident);
