// Replacing the whole content of a kernel IP set in one step: the new
// addresses go into a temporary set of the live set's own type, filled by
// one "ipset restore" from a file, which is then swapped with the live set
// and destroyed. Readers of the live set see the old content or the new
// one, never a part of either.
#pragma once

#include <json-c/json.h>

// The temporary set's name: reserved for the load, any set of that name
// is destroyed before and after it.
inline constexpr char WHITELIST_SWAP_SET[] = "cdnwhite_tmp";

// Files of the load inside its working directory: the restore input the
// load writes, and what the ipset commands print.
inline constexpr char IPSET_INPUT_NAME[] = "ipset_input";
inline constexpr char IPSET_OUTPUT_NAME[] = "ipset_output";

// Loads the valid addresses of the JSON array hosts into set through the
// temporary set temp, with dir (an absolute path of letters, digits and
// "/._-") holding the two files. The same per-element lines as the
// one-by-one load are logged. Returns 0 when set holds exactly the new list,
// or a negative whitelist_load code (the reason logged): the live set then
// holds what it held before, and temp is gone unless a set of that name
// could not be destroyed. The two files are removed on every path.
[[nodiscard]] int ipset_swap_load(const char *dir, const char *set, const char *temp,
                                  json_object *hosts);
