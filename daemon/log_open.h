// The daemon's syslog connection.
#pragma once

// Opens syslog with the identity ident, LOG_CONS and LOG_PID, facility 0.
void log_open(const char *ident);
