#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""One cycle of the daemon built with the swap load, against the default
build and against the floor: a bare `ipset restore` of the same list into a
fresh set plus `ipset swap` with the live set, both run from one `sh`. The
cycle's other fixed commands (the agent's command line and the stamp's
`echo`, as the daemon formats them) are timed in the same sandbox, so that
the goal reads: swap cycle <= 1.2 x floor + agent + echo.

A second pass runs the swap build once per size while a reader polls
`ipset list -t cdnwhite` in a loop, and counts the polls that saw neither
the old nor the new number of entries.

    bench/swap_cycle.py DEFAULT_BUILD SWAP_BUILD [REPETITIONS [SIZES]]   (as root)

SIZES is a comma-separated list of host counts (1000,10000,50000 unless
given).

The default build is measured once per size (it runs one shell and one
ipset per address); the other sides REPETITIONS times (median).
"""

import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
default_build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
swap_build = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "build-swap")
repetitions = int(sys.argv[3]) if len(sys.argv) > 3 else 5
os.environ.setdefault("QUORVEL_SANDBOX_DIR", os.path.join(swap_build, "sandboxes"))
sys.path.insert(0, HERE)

from daemon_cycle import AGENT, ECHO, hosts, measure  # noqa: E402
from sandbox import Sandbox, whitelist  # noqa: E402

DEFAULT_BIN = os.path.join(default_build, "daemon", "quorvel")
SWAP_BIN = os.path.join(swap_build, "daemon", "quorvel")
SIZES = [int(n) for n in (sys.argv[4] if len(sys.argv) > 4 else "1000,10000,50000").split(",")]
POLLER = ("touch /tmp/polling; while [ ! -e /tmp/stop ]; do "
          "ipset list -t cdnwhite | grep '^Number of entries' >> /tmp/counts; done")


def floor_script(sb, count, addresses):
    """The floor's restore input and script, in the sandbox's state
    directory (seen at the same path inside)."""
    data = os.path.join(sb.state, f"floor-{count}.restore")
    with open(data, "w") as f:
        f.write("create cdnwhite_floor hash:net family inet hashsize 1024 "
                f"maxelem {max(65536, count)} bucketsize 12\n")
        f.writelines(f"add cdnwhite_floor {a} -exist\n" for a in addresses)
    script = os.path.join(sb.state, f"floor-{count}.sh")
    with open(script, "w") as f:
        f.write(f"ipset restore < {data}\nipset swap cdnwhite_floor cdnwhite\n")
    return script


def entries(sb):
    for line in sb.sh("ipset list -t cdnwhite").stdout.splitlines():
        if line.startswith("Number of entries: "):
            return line.split(": ")[1]
    raise RuntimeError("no live set")


def polled_run(sb, stamp, addresses):
    """One swap-build cycle under a polling reader; the polls that saw
    neither the old nor the new count, and the number of polls."""
    sb.sh("rm -f /tmp/counts /tmp/stop /tmp/polling")
    before = entries(sb)
    sb.agent(whitelist(stamp, addresses))
    poller = sb.start(["/bin/sh", "-c", POLLER])
    while sb.mode("/tmp/polling") is None:
        pass
    sb.run([SWAP_BIN], timeout=600)
    sb.write("/tmp/stop", "")
    sb.wait(poller)
    after = entries(sb)
    counts = [c.split(": ")[1] for c in sb.read("/tmp/counts").decode().splitlines()]
    return sum(c not in (before, after) for c in counts), len(counts)


def main():
    rows = []
    with Sandbox() as sb:
        sb.agent(whitelist("warm-up", ["1.2.3.4"]))
        sb.run([SWAP_BIN])  # makes /etc/.quorvel
        for count in SIZES:
            addresses = hosts(count)
            floor = floor_script(sb, count, addresses)
            times = {"default": [], "swap": [], "floor": [], "agent": [], "echo": []}
            rss = []
            for number in range(repetitions):
                stamp = f"{count}-{number}"
                sides = ["swap", "floor"] if number % 2 else ["floor", "swap"]
                if number == 0:
                    sides.insert(1, "default")
                for side in sides:
                    if side == "floor":
                        times["floor"].append(measure(sb, ["sh", floor])["wall_s"])
                        sb.sh("ipset destroy cdnwhite_floor")
                        continue
                    sb.agent(whitelist(f"{stamp}-{side}", addresses))
                    report = measure(sb, [SWAP_BIN if side == "swap" else DEFAULT_BIN])
                    times[side].append(report["wall_s"])
                    if side == "swap":
                        rss.append(report["peak_rss_kib"])
                    assert int(entries(sb)) == count, (side, entries(sb))
                sb.agent(whitelist(stamp, addresses))
                times["agent"].append(measure(sb, ["sh", "-c", AGENT % stamp])["wall_s"])
                times["echo"].append(measure(sb, ["sh", "-c", ECHO % stamp])["wall_s"])
            sb.sh("ipset flush cdnwhite")
            unseen, polls = polled_run(sb, f"{count}-polled", addresses)
            m = {side: statistics.median(values) for side, values in times.items()}
            goal = 1.2 * m["floor"] + m["agent"] + m["echo"]
            rows.append((count, m, goal, max(rss), unseen, polls))
    print("| hosts | default build | swap build | floor | agent + echo "
          "| goal: 1.2 x floor + agent + echo | swap peak RSS | reader: polls outside old/new |")
    print("|---|---|---|---|---|---|---|---|")
    for count, m, goal, rss, unseen, polls in rows:
        print(f"| {count:,} | {m['default']:.3f} s | {m['swap']:.3f} s | {m['floor']:.3f} s "
              f"| {m['agent']:.3f} + {m['echo']:.3f} s | {goal:.3f} s "
              f"({'met' if m['swap'] <= goal else 'missed'}) | {rss:,} KiB "
              f"| {unseen} of {polls} |")


if __name__ == "__main__":
    main()
