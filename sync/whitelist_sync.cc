// SPDX-License-Identifier: MIT
#include "sync/whitelist_sync.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "lib/cmd_run.h"
#include "lib/log_verbose.h"
#include "lib/text.h"
#include "sync/core/path_clear.h"
#include "sync/documents.h"
#include "sync/paths.h"
#include "sync/stamp_quote.h"
#include "sync/whitelist_kept.h"
#include "sync/whitelist_load.h"

namespace {

#define REQUEST_FORMAT \
  "zentix --method rule_fetch --params /utils/get_ks_cdn_wl '{\"updateTime\":\"%s\",}' > %s"
#define STORE_FORMAT "echo '{\"updateTime\":\"%s\"}' > %s"

// Command lines of a plain stamp need at most 256 bytes; the buffer also
// takes the longest quoted stamp, so that no command is ever cut short.
constexpr size_t COMMAND_SIZE = 512;
static_assert(sizeof(REQUEST_FORMAT) - 4 + sizeof WHITELIST_FILE + STAMP_QUOTED_SIZE <=
              COMMAND_SIZE);
static_assert(sizeof(STORE_FORMAT) - 4 + sizeof TIMESTAMP_FILE + STAMP_QUOTED_SIZE <= COMMAND_SIZE);

constexpr size_t STAMP_SIZE = 64;

enum class command_kind { request, store };

// The agent request (with the stored stamp) or the echo command that
// stores a stamp. false when it cannot be made whole; the buffer then holds
// the empty text, so that no cut command is ever run.
bool command_format(char (&command)[COMMAND_SIZE], command_kind kind, const char *stamp) {
  char quoted[STAMP_QUOTED_SIZE];
  memset(command, 0, sizeof command);
  int length = -1;
  if (stamp_quote(stamp, quoted, sizeof quoted) == 0)
    length = kind == command_kind::request
                 ? snprintf(command, sizeof command, REQUEST_FORMAT, quoted, WHITELIST_FILE)
                 : snprintf(command, sizeof command, STORE_FORMAT, quoted, TIMESTAMP_FILE);
  if (!format_fits(length, sizeof command)) {
    command[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

void cdn_state_disable(cdn_state *state) {
  if (state != nullptr) state->enabled = 0;
}

int random_below(int bound) {
  if (bound <= 0) return 0;
  srand(static_cast<unsigned>(time(nullptr)));
  return rand() % bound;
}

int next_delay_draw() { return random_below(NEXT_DELAY_RANGE) + NEXT_DELAY_MIN; }

int whitelist_fetch(cdn_state *state) {
  if (state == nullptr) return -1;
  char command[COMMAND_SIZE] = {};
  char stamp[STAMP_SIZE] = {};
  memset(state->timestamp, 0, sizeof state->timestamp);

  const bool stamp_stored =
      timestamp_file_read(TIMESTAMP_FILE, state->timestamp, sizeof state->timestamp) == 0;
  if (!stamp_stored) {
    syslog(LOG_WARNING, "cant get local cdn white timestamp\n");
    puts("cant get local cdn white timestamp");
  }
  printf("local cdn->timestamp:  (%s)\n", state->timestamp);
  // A set made afresh (a reboot, a firewall restart) gets the list of the
  // stored stamp back before the network is asked, which may not answer.
  // The set then holds the list of the stored stamp: an unchanged answer
  // need not be checked against it again.
  const bool set_holds_kept = stamp_stored && whitelist_restore(KEPT_FILE, state->timestamp) >= 0;

  if (!command_format(command, command_kind::request, state->timestamp)) {
    syslog(LOG_WARNING, "cdn white timestamp cannot be quoted.\n");
    return -1;
  }
  // A leftover at the answer path would block the redirection (a FIFO),
  // fail it (a directory) or send the answer elsewhere (a link).
  if (path_clear(WHITELIST_FILE) != 0) {
    syslog(LOG_WARNING, "cannot clear answer path %s: %s\n", WHITELIST_FILE, strerror(errno));
    return -1;
  }
  int status = cmd_print_run(command);
  if (status != 0) {
    syslog(LOG_INFO, "stat_points_none kr_lrconf_fail=%d", status);
    syslog(LOG_WARNING, "get config by zentix fail: %d", status);
    return -1;
  }

  int32_t enabled = 0;
  // Parsed once: the check and the load below read the same document.
  json_doc answer;
  if (response_summary_parse(WHITELIST_FILE, &answer, &enabled, stamp, sizeof stamp) != 0) {
    syslog(LOG_WARNING, "server respones parse error.\n");
    return -1;
  }
  if (log_verbose)
    syslog(LOG_INFO, "server response enabled:%d timestamp:%s.\n", static_cast<int>(enabled),
           stamp);
  printf("server response enabled:%d timestamp:%s\n", static_cast<int>(enabled), stamp);

  if (!enabled) {
    syslog(LOG_WARNING, "config not enable.\n");
    memcpy(state->timestamp, stamp, sizeof stamp);
    cdn_state_disable(state);
    return 0;
  }
  state->enabled = 1;
  syslog(LOG_WARNING, "t1:%s\nt2:%s\n", state->timestamp, stamp);

  if (strcmp(state->timestamp, stamp) == 0) {
    // An unchanged list on a set that was made afresh since (a reboot, a
    // firewall restart) is loaded again, or the set stays empty until the
    // service publishes a new list.
    const int check =
        set_holds_kept ? LOAD_CHECK_HOLDS : whitelist_answer_needs_refill(answer.get());
    if (check != LOAD_CHECK_LACKS) {
      syslog(LOG_WARNING, "config not change\n");
      // Nothing creates the set: say so, or an empty firewall looks served.
      if (check == LOAD_CHECK_MISSING)
        syslog(LOG_WARNING, "config not change, but the set is missing: nothing loaded.\n");
      puts("tmestamp equal config not change");
      return 0;
    }
    syslog(LOG_WARNING, "config not change, but the set lacks the list: load again.\n");
  }
  // A failed load keeps the stored stamp, so the next run loads again.
  load_list loaded;
  const int code = whitelist_answer_load(answer.get(), state, &loaded);
  answer.reset();  // the set holds the list now: the document's memory goes
  if (code != 0) return 0;
  // Kept before the stamp is stored, so the kept file is never older.
  whitelist_keep(KEPT_FILE, stamp, loaded);
  load_list_clear(&loaded);

  memcpy(state->timestamp, stamp, sizeof stamp);
  if (!command_format(command, command_kind::store, stamp)) {
    syslog(LOG_WARNING, "cdn white timestamp cannot be quoted.\n");
    return 0;
  }
  // The echo's redirection would block on a FIFO or write through a link:
  // anything but a plain file at the stamp's path goes first.
  struct stat info {};
  if (lstat(TIMESTAMP_FILE, &info) == 0 && !S_ISREG(info.st_mode)) (void)path_clear(TIMESTAMP_FILE);
  (void)cmd_print_run(command);
  return 0;
}

int whitelist_sync(cdn_state *state) {
  if (state == nullptr) return -1;
  int result = whitelist_fetch(state);
  if (result != 0) syslog(LOG_WARNING, "config init remote error, exit.\n");
  (void)path_clear(WHITELIST_FILE);
  state->next_delay = next_delay_draw();
  if (log_verbose) syslog(LOG_INFO, "NEXT CONFIG GET AFTER %d seconds \n", state->next_delay);
  state->last_fetch = static_cast<int32_t>(time(nullptr));
  return result;
}
