// SPDX-License-Identifier: MIT
// HTTP transfers over libcurl's easy interface.
//
// Each transfer is self-contained: global set-up, one easy handle, one
// transfer, clean-up of both before it returns; no connection reuse, no
// cookies, no retry. A transfer has completed when libcurl finished it
// without error; the HTTP status code is not looked at, so a 404 with a
// body completes. Only for one thread at a time, while no other part of
// the process uses libcurl. Failures are logged (LOG_INFO) only while
// log_verbose is set, except a missing easy handle (LOG_WARNING, always).
#pragma once

#include <cstddef>
#include <cstdint>

// The libcurl write-callback form: takes count elements of size bytes at
// chunk for target and returns the number of bytes taken; any other value
// than size * count aborts the transfer.
using response_write_fn = size_t (*)(char *chunk, size_t size, size_t count, void *target);

// POSTs the text body (up to its NUL) to url, with libcurl's certificate
// and host-name checks in force. The response body goes to the process's
// standard output. timeout_ms > 0 limits the whole transfer; 0 or below
// sets no limit. 0 when the transfer completed, -1 otherwise (also for a
// null url or body). The texts must stay valid until it returns.
[[nodiscard]] int server_post(const char *url, const char *body, int32_t timeout_ms);

// GETs url and hands the body to write_callback with write_target, chunk by
// chunk. user_agent, when not null, is sent as the User-Agent header. Over
// TLS any certificate and any host name are accepted. 0 when the transfer
// completed, -1 otherwise (also for a null url or write_callback).
[[nodiscard]] int server_request(const char *url, const char *user_agent,
                                 response_write_fn write_callback, void *write_target,
                                 int32_t timeout_ms);

// GETs url into the file at path, which is emptied first ("w+"). A file
// that cannot be opened gives -1 with no request and no log line. 0 when
// the transfer completed and the whole body reached the file, -1
// otherwise; the file stays in place either way, holding what arrived.
[[nodiscard]] int server_download(const char *url, const char *user_agent, const char *path,
                                  int32_t timeout_ms);

// Write callback that drops every chunk; returns size * count.
size_t response_discard(char *chunk, size_t size, size_t count, void *target);

// Write callback that gathers the body into the len_buf at target (a null
// target drops the chunk), laid end to end and followed by one NUL that the
// count leaves out; start from a zero-filled len_buf and release it with
// len_buf_release. Always returns size * count so the transfer never
// aborts: a chunk that cannot be stored, because the storage cannot grow or
// the count would pass INT32_MAX - 1, is dropped whole and the buffer keeps
// exactly what it held before. A buffer with a negative count, or with a
// count but no bytes, is left alone.
size_t response_append(char *chunk, size_t size, size_t count, void *target);
