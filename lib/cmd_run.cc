// SPDX-License-Identifier: MIT
#include "lib/cmd_run.h"

#include <sys/wait.h>
#include <syslog.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "lib/log_verbose.h"

int cmd_run(const char *command) {
  // system(NULL) only asks whether a shell exists; it runs nothing.
  if (command == nullptr) return -1;

  int status = system(command);
  if (status == -1) {
    int error = errno;
    if (log_verbose)
      syslog(LOG_INFO, "func[%s]: Can't exec '%s': %s\n", "cmd_run", command, strerror(error));
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  // Tested before the signal, so a signal that dumped core gives one line.
  if (WCOREDUMP(status)) {
    if (log_verbose) syslog(LOG_INFO, "func[%s]:%s core dump!\n", "cmd_run", command);
    return -1;
  }
  if (WIFSIGNALED(status)) {
    if (log_verbose)
      syslog(LOG_INFO, "func[%s]:%s signal %d\n", "cmd_run", command, WTERMSIG(status));
    return -1;
  }
  return -1;
}
