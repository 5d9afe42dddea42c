#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""One cycle of the daemon built with the nftables load, against the floor:
a bare `nft -f` of the same input (the flush of both sets and the add of
every element, in lines as the daemon writes them), in the same
sandbox, into firewall4's sets (`table inet fw4`, interval sets with
auto-merge). The cycle's other fixed commands (the agent's command line and
the stamp's `echo`) are timed there too, so that the goal reads:
nft cycle <= 1.2 x floor + agent + echo. A cycle that finds the list
unchanged (it only probes the filled set) is timed as well.

Peak RSS: the daemon's own process, against json-c parsing the same answer
alone (bench/json_parse_peak); nft's own peak beside them.

    bench/nft_cycle.py BUILD NFT_BUILD [REPETITIONS [SIZES]]   (as root)

BUILD holds bench/json_parse_peak (the default build), NFT_BUILD the daemon
built with -DQUORVEL_IPSET_LOAD=nft. SIZES: comma-separated host counts
(10000,100000 unless given).
"""

import json
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ARGS = dict(zip(["build", "nft_build", "repetitions", "sizes"], sys.argv[1:]))
BUILD = os.path.abspath(ARGS.get("build", "build"))
NFT_BUILD = os.path.abspath(ARGS.get("nft_build", "build-nft"))
REPETITIONS = int(ARGS.get("repetitions", 3))
SIZES = [int(n) for n in ARGS.get("sizes", "10000,100000").split(",")]
NFT_BIN = os.path.join(NFT_BUILD, "daemon", "quorvel")
JSON_PEAK = os.path.join(BUILD, "bench", "json_parse_peak")
os.environ.setdefault("QUORVEL_SANDBOX_DIR", os.path.join(NFT_BUILD, "sandboxes"))
sys.path.insert(0, HERE)

from daemon_cycle import AGENT, ECHO, measure  # noqa: E402
from sandbox import Sandbox, whitelist  # noqa: E402

FW4 = ("add table inet fw4\n"
       "add set inet fw4 cdnwhite { type ipv4_addr; flags interval; auto-merge; }\n"
       "add set inet fw4 cdnwhite6 { type ipv6_addr; flags interval; auto-merge; }\n")


def hosts(count):
    """Every other address: nothing merges, each host is an element."""
    return [f"10.{2 * i // 65536 % 256}.{2 * i // 256 % 256}.{2 * i % 256}" for i in range(count)]


def floor_input(addresses, line_max=64 * 1024):
    """The input the daemon writes for addresses: both flushes, then add
    lines below line_max bytes (sync/nft/nft_input.cc)."""
    head = "add element inet fw4 cdnwhite { "
    lines = ["flush set inet fw4 cdnwhite\n", "flush set inet fw4 cdnwhite6\n"]
    line = ""
    for address in addresses:
        if line and len(line) + 2 + len(address) + 3 >= line_max:
            lines.append(line + " }\n")
            line = ""
        line = line + ", " + address if line else head + address
    if line:
        lines.append(line + " }\n")
    return "".join(lines)


def elements(sb):
    result = sb.sh("nft list set inet fw4 cdnwhite | tr ',' '\\n' | grep -c '10\\.'")
    return int(result.stdout.strip() or 0)


def main():
    rows = []
    with Sandbox(sets=()) as sb:
        sb.write("/tmp/fw4.nft", FW4)
        sb.sh("nft -f /tmp/fw4.nft")
        sb.agent(whitelist("warm-up", ["1.2.3.4"]))
        sb.run([NFT_BIN])  # makes /etc/.quorvel
        for count in SIZES:
            addresses = hosts(count)
            answer = os.path.join(sb.state, f"answer-{count}.json")
            floor = os.path.join(sb.state, f"floor-{count}.nft")
            with open(floor, "w") as f:
                f.write(floor_input(addresses))
            times = {"nft build": [], "floor": [], "agent": [], "echo": [], "unchanged": []}
            rss = {"daemon": [], "json-c": [], "nft": []}
            for number in range(REPETITIONS):
                stamp = f"{count}-{number}"
                sides = ["floor", "nft build"] if number % 2 else ["nft build", "floor"]
                for side in sides:
                    if side == "floor":
                        report = measure(sb, ["nft", "-f", floor])
                        rss["nft"].append(report["peak_rss_kib"])
                    else:
                        sb.agent(whitelist(stamp, addresses))
                        report = measure(sb, [NFT_BIN])
                        rss["daemon"].append(report["peak_rss_kib"])
                    times[side].append(report["wall_s"])
                    assert elements(sb) == count, (side, elements(sb))
                # The same stamp again: the cycle only probes the filled set.
                sb.agent(whitelist(stamp, addresses))
                times["unchanged"].append(measure(sb, [NFT_BIN])["wall_s"])
                sb.agent(whitelist(stamp, addresses))
                with open(answer, "w") as f:
                    f.write(json.dumps(whitelist(stamp, addresses)))
                rss["json-c"].append(int(sb.sh(f"{JSON_PEAK} {answer}").stdout))
                times["agent"].append(measure(sb, ["sh", "-c", AGENT % stamp])["wall_s"])
                times["echo"].append(measure(sb, ["sh", "-c", ECHO % stamp])["wall_s"])
            m = {side: statistics.median(values) for side, values in times.items()}
            goal = 1.2 * m["floor"] + m["agent"] + m["echo"]
            rows.append((count, m, goal, {k: max(v) for k, v in rss.items()}))
    print("| hosts | nft build cycle | floor: bare nft -f | agent + echo "
          "| goal: 1.2 x floor + agent + echo | unchanged list | daemon peak RSS | json-c alone "
          "| ratio | nft peak RSS |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for count, m, goal, peak in rows:
        print(f"| {count:,} | {m['nft build']:.3f} s | {m['floor']:.3f} s "
              f"| {m['agent']:.3f} + {m['echo']:.3f} s | {goal:.3f} s "
              f"({'met' if m['nft build'] <= goal else 'missed'}) | {m['unchanged']:.3f} s "
              f"| {peak['daemon']:,} KiB "
              f"| {peak['json-c']:,} KiB | {peak['daemon'] / peak['json-c']:.2f}x "
              f"| {peak['nft']:,} KiB |")


if __name__ == "__main__":
    main()
