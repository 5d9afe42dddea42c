// SPDX-License-Identifier: MIT
#include "lib/http_transfer.h"

#include <curl/curl.h>
#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lib/c_guards.h"
#include "lib/len_buf.h"
#include "lib/log_verbose.h"

namespace {

struct easy_cleaner {
  void operator()(CURL *handle) const noexcept { curl_easy_cleanup(handle); }
};

// An easy handle, released with curl_easy_cleanup().
using curl_easy = std::unique_ptr<CURL, easy_cleaner>;

// libcurl's global state for the length of one transfer. Declared before
// the handle, so the handle is cleaned up first.
class curl_global {
 public:
  curl_global() : code_(curl_global_init(CURL_GLOBAL_ALL)) {}
  ~curl_global() {
    if (code_ == CURLE_OK) curl_global_cleanup();
  }
  curl_global(const curl_global &) = delete;
  curl_global &operator=(const curl_global &) = delete;

  [[nodiscard]] CURLcode code() const { return code_; }

 private:
  CURLcode code_;
};

void timeout_set(CURL *handle, int32_t timeout_ms) {
  if (timeout_ms > 0) curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms));
}

// Runs the prepared transfer; 0 when it completed, -1 with the verbose
// execute line otherwise.
int transfer_perform(CURL *handle) {
  CURLcode code = curl_easy_perform(handle);
  if (code == CURLE_OK) return 0;
  if (log_verbose) syslog(LOG_INFO, "server request execute fail: %s\n", curl_easy_strerror(code));
  return -1;
}

// Appends a chunk of the body to the stream at target. A file that refuses
// bytes ends the transfer, since the download could not be complete.
size_t file_chunk_write(char *chunk, size_t size, size_t count, void *target) {
  return fwrite(chunk, size, count, static_cast<FILE *>(target)) * size;
}

}  // namespace

int server_post(const char *url, const char *body, int32_t timeout_ms) {
  if (url == nullptr || body == nullptr) return -1;
  if (log_verbose) syslog(LOG_INFO, "REMOTE URL: %s\n", url);
  curl_global global;
  if (global.code() != CURLE_OK) {
    if (log_verbose)
      syslog(LOG_INFO, "server post failed: %s\n", curl_easy_strerror(global.code()));
    return -1;
  }
  curl_easy handle(curl_easy_init());
  if (!handle) {
    syslog(LOG_WARNING, "server post init fail.\n");
    return -1;
  }
  timeout_set(handle.get(), timeout_ms);
  curl_easy_setopt(handle.get(), CURLOPT_URL, url);
  curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDS, body);
  return transfer_perform(handle.get());
}

int server_request(const char *url, const char *user_agent, response_write_fn write_callback,
                   void *write_target, int32_t timeout_ms) {
  // Without a callback libcurl would fwrite() into write_target.
  if (url == nullptr || write_callback == nullptr) return -1;
  if (log_verbose) syslog(LOG_INFO, "REMOTE URL: %s\n", url);
  curl_global global;
  if (global.code() != CURLE_OK) {
    if (log_verbose)
      syslog(LOG_INFO, "server request failed: %s\n", curl_easy_strerror(global.code()));
    return -1;
  }
  curl_easy handle(curl_easy_init());
  if (!handle) {
    syslog(LOG_WARNING, "server request fail.\n");
    return -1;
  }
  timeout_set(handle.get(), timeout_ms);
  curl_easy_setopt(handle.get(), CURLOPT_URL, url);
  if (user_agent != nullptr) curl_easy_setopt(handle.get(), CURLOPT_USERAGENT, user_agent);
  curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, write_callback);
  curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, write_target);
  curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(handle.get(), CURLOPT_SSL_VERIFYHOST, 0L);
  return transfer_perform(handle.get());
}

int server_download(const char *url, const char *user_agent, const char *path, int32_t timeout_ms) {
  if (path == nullptr) return -1;
  unique_file stream(fopen(path, "w+"));
  if (!stream) return -1;
  int result = server_request(url, user_agent, file_chunk_write, stream.get(), timeout_ms);
  // The stream's buffer is written out only now: a failed close means the
  // file does not hold the whole body.
  if (fclose(stream.release()) != 0) result = -1;
  return result == 0 ? 0 : -1;
}

size_t response_discard(char *, size_t size, size_t count, void *) {
  return size * count;
}

size_t response_append(char *chunk, size_t size, size_t count, void *target) {
  size_t n = size * count;
  auto *buf = static_cast<len_buf *>(target);
  if (buf == nullptr || n == 0 || chunk == nullptr) return n;
  // Nothing is stored for a product that wrapped or a buffer in a state no
  // append could have left.
  if (size != 0 && n / size != count) return n;
  if (buf->length < 0 || (buf->length > 0 && buf->bytes == nullptr)) return n;
  size_t old = static_cast<size_t>(buf->length);
  // The count stays a signed 32-bit value with room for the NUL after it.
  const size_t limit = INT32_MAX - 1;
  if (old > limit || n > limit - old) return n;
  size_t length = old + n;
  auto *grown = static_cast<char *>(realloc(buf->bytes, length + 1));
  // realloc() left the old storage and its content untouched.
  if (grown == nullptr) return n;
  memcpy(grown + old, chunk, n);
  grown[length] = '\0';
  buf->bytes = grown;
  buf->length = static_cast<int32_t>(length);
  return n;
}
