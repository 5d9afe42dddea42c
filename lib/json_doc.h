// Owner for a json-c document parsed by the routine that holds it.
//
// The document is released once when the owner goes out of scope; members
// taken from it are borrowed and never released on their own.
#pragma once

#include <json-c/json.h>

#include <memory>

struct json_releaser {
  void operator()(json_object *object) const noexcept { json_object_put(object); }
};

using json_doc = std::unique_ptr<json_object, json_releaser>;
