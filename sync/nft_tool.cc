#include "sync/nft_tool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/c_guards.h"
#include "lib/cmd_run.h"
#include "lib/text.h"
#include "sync/tool_output.h"

namespace {

constexpr size_t COMMAND_SIZE = 512;
constexpr int ATTEMPTS = 5;

}  // namespace

int nft_run(const scratch_dir &dir, const char *arguments, bool print,
            char (&message)[NFT_MESSAGE_SIZE]) {
  message[0] = '\0';
  char output[256];
  char command[COMMAND_SIZE];
  if (arguments == nullptr || dir.file(NFT_OUTPUT_NAME, output, sizeof output) != 0 ||
      !format_fits(snprintf(command, sizeof command, "nft %s > %s 2>&1", arguments, output),
                   sizeof command)) {
    snprintf(message, sizeof message, "%s", "command too long");
    return -1;
  }
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    int status = print ? cmd_print_run(command) : cmd_run(command);
    if (status == 0) return 0;
    tool_message_read(output, message, sizeof message);
    if (message[0] == '\0') snprintf(message, sizeof message, "nft exit status %d", status);
    if (strstr(message, "Interrupted system call") == nullptr) break;
  }
  return -1;
}

int nft_file_write(const scratch_dir &dir, const char *name, const char *text) {
  char path[256];
  if (dir.file(name, path, sizeof path) != 0) {
    errno = ENAMETOOLONG;
    return -1;
  }
  unique_fd fd(open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return -1;
  size_t length = strlen(text);
  while (length > 0) {
    ssize_t put = write(fd.get(), text, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return -1;
    text += put;
    length -= static_cast<size_t>(put);
  }
  return fd.reset() == 0 ? 0 : -1;
}
