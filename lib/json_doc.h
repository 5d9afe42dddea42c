// SPDX-License-Identifier: MIT
// Owner for a json-c document parsed by the routine that holds it.
//
// The document is released once when the owner goes out of scope; members
// taken from it are borrowed and never released on their own.
#pragma once

#include <json-c/json.h>

#include <cstdint>
#include <memory>

struct json_releaser {
  void operator()(json_object *object) const noexcept { json_object_put(object); }
};

using json_doc = std::unique_ptr<json_object, json_releaser>;

// json_object_get_int, the same on every CPU: json-c converts a double to
// an integer with a plain cast, which leaves NaN to the processor (x86
// gives INT32_MIN, ARM and MIPS give 0, so "code": NaN would read as 0
// there). NaN reads as INT32_MIN everywhere; every other value as json-c
// reads it.
inline int32_t json_int_value(json_object *object) {
  if (json_object_is_type(object, json_type_double)) {
    const double value = json_object_get_double(object);
    if (value != value) return INT32_MIN;
  }
  return json_object_get_int(object);
}
