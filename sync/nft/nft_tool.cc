// SPDX-License-Identifier: MIT
#include "sync/nft/nft_tool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "lib/c_guards.h"
#include "lib/spawn.h"
#include "sync/core/tool_output.h"

namespace {

constexpr size_t COMMAND_SIZE = 512;
constexpr size_t MAX_ARGS = 12;
constexpr int ATTEMPTS = 5;
// The pause before a repeated run grows by this much each time: the
// transaction that interrupted nft is over within milliseconds.
constexpr long RETRY_STEP_NS = 20L * 1000 * 1000;

// The command line that the run stands for, for standard output.
void command_print(const char *const *args, const char *input, const char *output) {
  char line[COMMAND_SIZE] = "nft";
  size_t used = strlen(line);
  for (const char *const *arg = args; *arg != nullptr && used < sizeof line; ++arg)
    used += static_cast<size_t>(snprintf(line + used, sizeof line - used, " %s", *arg));
  if (used < sizeof line && input != nullptr)
    used += static_cast<size_t>(snprintf(line + used, sizeof line - used, " < %s", input));
  if (used < sizeof line) snprintf(line + used, sizeof line - used, " > %s 2>&1", output);
  printf("cmd:  %s\n", line);
}

// Runs nft and waits for it: its exit status, or -1 when it could not be
// started or was ended by a signal.
int nft_spawn(const char *const *args, const char *input, const char *output, bool errors_only) {
  const char *argv[MAX_ARGS + 2] = {"nft"};
  size_t count = 1;
  for (const char *const *arg = args; *arg != nullptr; ++arg) {
    if (count > MAX_ARGS) return -1;
    argv[count++] = *arg;
  }
  argv[count] = nullptr;
  spawn_request request{argv};
  request.in = input != nullptr ? spawn_stream::PATH : spawn_stream::NUL;
  request.in_path = input;
  // Output and errors into one file through one descriptor, or the errors
  // alone.
  request.out = errors_only ? spawn_stream::NUL : spawn_stream::PATH;
  request.err = errors_only ? spawn_stream::PATH : spawn_stream::STDOUT;
  request.out_path = output;
  request.err_path = output;
  spawn_result result{};
  if (spawn_run(request, &result) != 0 || result.end != spawn_end::EXITED) return -1;
  return result.value;
}

}  // namespace

int nft_run(const scratch_dir &dir, const char *const *args, const char *input, unsigned flags,
            char (&message)[NFT_MESSAGE_SIZE]) {
  message[0] = '\0';
  char output[256];
  char input_path[256];
  if (args == nullptr || dir.file(NFT_OUTPUT_NAME, output, sizeof output) != 0 ||
      (input != nullptr && dir.file(input, input_path, sizeof input_path) != 0)) {
    snprintf(message, sizeof message, "%s", "path too long");
    return -1;
  }
  const char *from = input != nullptr ? input_path : nullptr;
  if ((flags & NFT_RUN_PRINT) != 0) command_print(args, from, output);
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    fflush(stdout);
    int status = nft_spawn(args, from, output, (flags & NFT_RUN_ERRORS_ONLY) != 0);
    if (status == 0) return 0;
    tool_message_read(output, message, sizeof message);
    if (message[0] == '\0') snprintf(message, sizeof message, "nft exit status %d", status);
    if (!nft_says_interrupted(message)) break;
    const timespec pause{0, RETRY_STEP_NS * (attempt + 1)};
    (void)nanosleep(&pause, nullptr);
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

bool nft_says_element_absent(const char *message) {
  return message != nullptr &&
         strstr(message, "Could not process rule: No such file or directory") != nullptr;
}

bool nft_says_missing(const char *message) {
  return message != nullptr && !nft_says_element_absent(message) &&
         strstr(message, "Error: No such file or directory") != nullptr;
}

bool nft_says_interrupted(const char *message) {
  return message != nullptr && strstr(message, "Interrupted system call") != nullptr;
}
