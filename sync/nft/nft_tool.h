// SPDX-License-Identifier: MIT
// Running the nft command for a load: its output goes to a file in the
// load's private folder, and only fixed words and checked names stand in
// its arguments, never an address (those go in input files).
#pragma once

#include <cstddef>

#include "sync/core/scratch_dir.h"

// How much of nft's message reaches a log line.
inline constexpr size_t NFT_MESSAGE_SIZE = 160;
// The file in the folder that holds what nft printed.
inline constexpr char NFT_OUTPUT_NAME[] = "nft_output";

// How nft_run runs nft.
enum nft_run_flags : unsigned {
  NFT_RUN_PRINT = 1,        // print the equivalent command line first
  NFT_RUN_ERRORS_ONLY = 2,  // nft's standard output goes to /dev/null
};

// Runs nft (found on PATH) with the words of args (null-terminated, after
// "nft"), its standard input the folder's file input (none: /dev/null),
// its output and errors into <folder>/nft_output. Spawned directly, no
// shell in between; with NFT_RUN_PRINT the equivalent command line is
// printed first ("cmd:  nft <args> [< <input>] > <output> 2>&1"). nft
// fails now and then with "Interrupted system call" while another
// transaction runs: the run is then repeated after a short, growing
// pause, a few times at most. 0 when nft exited with status 0; -1
// otherwise, with the first line of what it wrote in message.
[[nodiscard]] int nft_run(const scratch_dir &dir, const char *const *args, const char *input,
                          unsigned flags, char (&message)[NFT_MESSAGE_SIZE]);

// Writes text into the file name of the folder (a new file, never one that
// stood there). 0, or -1 with errno set.
[[nodiscard]] int nft_file_write(const scratch_dir &dir, const char *name, const char *text);

// True when nft's message is the kernel's answer to a lookup of an element
// that the set lacks ("Could not process rule: No such file or directory").
[[nodiscard]] bool nft_says_element_absent(const char *message);

// True when nft's message says that a named table or set does not exist
// ("Error: No such file or directory", before any lookup ran).
[[nodiscard]] bool nft_says_missing(const char *message);

// True when nft's message says that another transaction interrupted it
// ("Interrupted system call"): the same run may be repeated.
[[nodiscard]] bool nft_says_interrupted(const char *message);
