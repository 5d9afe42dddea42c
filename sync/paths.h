// SPDX-License-Identifier: MIT
// Where the synchronisation cycle keeps its files.
#pragma once

inline constexpr char WHITELIST_DIR[] = "/etc/.quorvel";
inline constexpr char WHITELIST_FILE[] = "/etc/.quorvel/cdn_whitelist";
inline constexpr char TIMESTAMP_FILE[] = "/etc/.quorvel/cdn_white_timestamp";

// The kernel IP set that holds the whitelist; it must already exist.
inline constexpr char WHITELIST_SET[] = "cdnwhite";

// The elements that the last load put in the set, with their stamp, kept
// on flash so that a set made afresh is filled again without the network
// (sync/kept_list.h); "<path>.tmp" while it is being replaced.
inline constexpr char KEPT_FILE[] = "/etc/.quorvel/cdn_white_kept";
