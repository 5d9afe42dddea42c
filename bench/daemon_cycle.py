#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""One cycle of the daemon loading 100, 1,000 and 10,000 valid hosts into a
real kernel set, against a baseline that runs the same `ipset flush` and
`ipset add` command lines through `sh -c`, one after another, in the same
sandbox. Reports wall time and the peak RSS of the daemon's own process.

    bench/daemon_cycle.py BUILD_DIR [REPETITIONS]     (as root)
"""

import json
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
if __name__ == "__main__":
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    os.environ["QUORVEL_BIN"] = os.path.join(build, "daemon", "quorvel")
    os.environ.setdefault("QUORVEL_SANDBOX_DIR", os.path.join(build, "sandboxes"))

from sandbox import DAEMON, Sandbox, whitelist  # noqa: E402

MEASURE = os.path.join(HERE, "measure.py")
# The cycle's fixed commands as the daemon formats them: the agent's
# command line and the stamp's echo.
AGENT = ("zentix --method rule_fetch --params /utils/get_ks_cdn_wl "
         "'{\"updateTime\":\"%s\",}' > /etc/.quorvel/cdn_whitelist")
ECHO = "echo '{\"updateTime\":\"%s\"}' > /etc/.quorvel/cdn_white_timestamp"


def hosts(count):
    return [f"10.{i // 65536 % 256}.{i // 256 % 256}.{i % 256}" for i in range(count)]


def measure(sb, argv):
    result = sb.run([sys.executable, MEASURE] + argv, timeout=3600)
    report = json.loads(result.stdout)
    if report["status"] != 0:
        raise RuntimeError(f"{argv} ended with {report['status']}")
    return report


def main():
    rows = []
    with Sandbox() as sb:
        for count in (100, 1000, 10000):
            addresses = hosts(count)
            script = os.path.join(sb.state, f"baseline-{count}.sh")
            with open(script, "w") as f:
                f.write("sh -c 'ipset flush cdnwhite'\n")
                f.writelines(f"sh -c 'ipset add cdnwhite {a}'\n" for a in addresses)
            daemon, baseline = [], []
            for number in range(repetitions):
                # A new stamp each time, so that every run loads the list.
                sb.agent(whitelist(f"{count}-{number}", addresses))
                # Alternate the order, so that neither side always runs first.
                if number % 2:
                    baseline.append(measure(sb, ["sh", script]))
                    daemon.append(measure(sb, [DAEMON]))
                else:
                    daemon.append(measure(sb, [DAEMON]))
                    baseline.append(measure(sb, ["sh", script]))
                assert len(sb.members()) == count
            d = statistics.median(r["wall_s"] for r in daemon)
            b = statistics.median(r["wall_s"] for r in baseline)
            rss = max(r["peak_rss_kib"] for r in daemon)
            rows.append((count, d, b, (d - b) / b * 100, rss))
    print("| hosts | daemon wall (s) | baseline wall (s) | difference | daemon peak RSS |")
    print("|---|---|---|---|---|")
    for count, d, b, diff, rss in rows:
        print(f"| {count} | {d:.3f} | {b:.3f} | {diff:+.1f} % | {rss} KiB |")


if __name__ == "__main__":
    main()
