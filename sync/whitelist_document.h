// SPDX-License-Identifier: MIT
// The checks that every load mode makes before it touches the set: the
// arguments, the answer file's presence and the document's fields.
#pragma once

#include <json-c/json.h>

#include "lib/json_doc.h"
#include "sync/cdn_state.h"

// Reads the answer document at path and checks, in order: path and state
// set, file present, JSON, "code" present and 0, "data" present,
// "data"."updateTime", "data"."config" and "data"."config"."host" present.
// Returns 0 with *doc owning the document and *hosts borrowing the host
// value from it; otherwise a negative whitelist_load code, with its
// message (and, from -2 on, "load return <code>") logged and *doc empty.
[[nodiscard]] int whitelist_document_read(const char *path, const cdn_state *state, json_doc *doc,
                                          json_object **hosts);

// The same checks of the document at path, without a line on any outcome:
// 0 with *doc and *hosts set as above, or the negative code.
[[nodiscard]] int whitelist_document_peek(const char *path, json_doc *doc, json_object **hosts);

// The field checks of whitelist_document_read over root, the document
// parsed already (null: not JSON), with the same lines on failure: 0 with
// *hosts borrowing the host value from root, or the negative code.
[[nodiscard]] int whitelist_document_check(json_object *root, const cdn_state *state,
                                           json_object **hosts);

// The same checks without a line on any outcome.
[[nodiscard]] int whitelist_document_hosts(json_object *root, json_object **hosts);
