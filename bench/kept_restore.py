#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The restore from the list kept on flash against the same mode's load
from an answer, side by side in one sandbox, and the write of the kept file
(its time and size).

Per size, each REPETITIONS times (median):
- answer load: a cycle whose agent answers with a new stamp (the agent's
  output, the answer's parse, the load, the kept file's write, the stamp);
- restore: a cycle that finds the set made afresh (emptied) and the kept
  list of the stored stamp, and whose agent then fails (the service
  unreachable): the check, the mode's load of the kept list;
- nothing to do: the same cycle with the set already holding the list
  (the check alone), the floor of both;
- kept write: bench/kept_write storing that many addresses (and once more
  unchanged, which writes nothing).

    bench/kept_restore.py BUILD MODE_BUILD [REPETITIONS [SIZES]]   (as root)

BUILD holds bench/kept_write (the default build); MODE_BUILD the daemon of
the mode under test (add, swap or nft, as it was configured). SIZES:
comma-separated host counts (10000,100000 unless given; the add mode runs
one ipset per address, so give it smaller ones).
"""

import json
import os
import re
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ARGS = dict(zip(["build", "mode_build", "repetitions", "sizes"], sys.argv[1:]))
BUILD = os.path.abspath(ARGS.get("build", "build"))
MODE_BUILD = os.path.abspath(ARGS.get("mode_build", "build"))
REPETITIONS = int(ARGS.get("repetitions", 3))
SIZES = [int(n) for n in ARGS.get("sizes", "10000,100000").split(",")]
DAEMON = os.path.join(MODE_BUILD, "daemon", "quorvel")
KEPT_WRITE = os.path.join(BUILD, "bench", "kept_write")
os.environ.setdefault("QUORVEL_SANDBOX_DIR", os.path.join(MODE_BUILD, "sandboxes"))
os.environ["QUORVEL_BIN"] = DAEMON
os.environ["QUORVEL_SANDBOX_KEEP"] = os.path.dirname(KEPT_WRITE)
sys.path.insert(0, HERE)

from daemon_cycle import measure  # noqa: E402
from nft_cycle import FW4, hosts  # noqa: E402
from sandbox import Sandbox, whitelist  # noqa: E402


def mode_of(build):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        return re.search(r"^QUORVEL_IPSET_LOAD:\w+=(\w+)$", f.read(), re.M)[1]


MODE = mode_of(MODE_BUILD)
KEPT_FILE = "/etc/.quorvel/cdn_white_kept"


def sets_make(sb):
    if MODE == "nft":
        sb.write("/tmp/fw4.nft", FW4)
        sb.sh("nft -f /tmp/fw4.nft")
    else:
        sb.sh("ipset create cdnwhite hash:net maxelem 262144")


def sets_empty(sb):
    sb.sh("nft flush set inet fw4 cdnwhite" if MODE == "nft" else "ipset flush cdnwhite")


def count(sb):
    if MODE == "nft":
        result = sb.sh("nft -j list set inet fw4 cdnwhite")
        items = json.loads(result.stdout)["nftables"]
        return sum(len(i.get("set", {}).get("elem", [])) for i in items)
    lines = sb.sh("ipset list -t cdnwhite").stdout.splitlines()
    return int(next(l for l in lines if l.startswith("Number of entries")).split(": ")[1])


def main():
    rows = []
    with Sandbox(sets=()) as sb:
        sets_make(sb)
        for size in SIZES:
            addresses = hosts(size)
            times = {"answer": [], "restore": [], "nothing": []}
            for number in range(REPETITIONS):
                stamp = f"{size}-{number}"
                sb.agent(whitelist(stamp, addresses))
                times["answer"].append(measure(sb, [DAEMON])["wall_s"])
                assert count(sb) == size and sb.read(KEPT_FILE) is not None
                sb.agent(None, status=7)
                sets_empty(sb)
                times["restore"].append(measure(sb, [DAEMON])["wall_s"])
                assert count(sb) == size, count(sb)
                times["nothing"].append(measure(sb, [DAEMON])["wall_s"])
            kept_bytes = len(sb.read(KEPT_FILE))
            writes = [json.loads(sb.sh(f"{KEPT_WRITE} /etc/.quorvel/bench_kept {size}").stdout)
                      for _ in range(REPETITIONS)]
            sb.sh("rm -f /etc/.quorvel/bench_kept")
            m = {side: statistics.median(values) for side, values in times.items()}
            write = statistics.median(w["write_s"] for w in writes)
            unchanged = statistics.median(w["unchanged_s"] for w in writes)
            rows.append((size, m, kept_bytes, write, unchanged))
    print(f"Mode: {MODE}")
    print("| hosts | load from an answer | restore from the kept list | nothing to do "
          "| kept file | its write | unchanged |")
    print("|---|---|---|---|---|---|---|")
    for size, m, kept_bytes, write, unchanged in rows:
        print(f"| {size:,} | {m['answer']:.3f} s | {m['restore']:.3f} s | {m['nothing']:.3f} s "
              f"| {kept_bytes:,} B ({kept_bytes / size:.1f} B/address) | {write * 1000:.1f} ms "
              f"| {unchanged * 1000:.1f} ms |")


if __name__ == "__main__":
    main()
