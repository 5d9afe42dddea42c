// SPDX-License-Identifier: MIT
// Decryption of AES-128-CBC payloads carried as base64 text.
//
// The key always comes from the caller; nothing is kept between calls.
// Padding removal consults only the last decrypted byte and is bounded so
// that the plain count stays between 0 and the cipher text's count. A wrong
// key is not detected: it yields unreadable bytes. Messages go to syslog at
// LOG_INFO, only while log_verbose is set, and end without a newline.
#pragma once

#include "len_buf.h"

// Decrypts the count bytes of in with the 16 key bytes at key->bytes
// (key->length is not looked at) and the 16 IV bytes at iv->bytes, or a
// zero IV for a null iv; the caller's IV is never changed. 0: out holds
// storage of in's count with the plain bytes, its count lowered by the
// value of the last plain byte. -1, with out empty: a null out, key or in;
// no key bytes or a key the library refuses ("Unable to set AES key,
// error: %d"); an iv without bytes; a cipher text that is empty, has a
// negative count, no bytes or a count that is not a multiple of 16
// ("Unable to do AES decryption, error=%d", the library's code); a last
// byte larger than the count; no memory ("Error no memory"). The caller
// releases out.
[[nodiscard]] int aes_buf_decrypt(len_buf *out, const len_buf *key, const len_buf *iv,
                                  const len_buf *in);

// Decodes the NUL-terminated base64 text and decrypts it with the 16 bytes
// at key and a zero IV. 0: *plain_text receives a heap text (the unpadded
// plain bytes and a NUL) that the caller frees with free(). -1: a null
// argument, a failure of either step, or no memory for the final resize;
// *plain_text is then left as it was and nothing stays allocated.
[[nodiscard]] int payload_decrypt(const char *text, const unsigned char *key, char **plain_text);
