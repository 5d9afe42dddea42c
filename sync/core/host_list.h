// SPDX-License-Identifier: MIT
// The walk over the answer's host list that every load mode makes: the
// same lines for the same elements whatever fills the set.
#pragma once

#include <json-c/json.h>

// Whether a walk writes its lines ("ip invalid", "ip list end", ...), as a
// load from the answer does, or none, as a check of the set does.
enum class load_lines { QUIET, LOGGED };

// Called with the text form of each element: 0 when it was taken, -1 when
// it is no valid address (the walk logs "ip invalid"), 1 when it was left
// out with a line of the visitor's own, -2 when the walk is to stop (the
// visitor could not keep the element: no memory).
using host_visit = int (*)(const char *text, void *context);

// Walks the JSON array list: each element's text form goes to visit; a JSON
// null element or one without a text form ends the walk. Writes the
// per-element lines and the closing "ip list end" line unless lines is
// load_lines::QUIET. Returns 0, -1 for a null list (no end line), -3 when
// list is not an array, -4 for a JSON null element, -5 for an element
// without a text form, -6 when the visitor stopped the walk.
[[nodiscard]] int host_list_walk(json_object *list, host_visit visit, void *context,
                                 load_lines lines = load_lines::LOGGED);
