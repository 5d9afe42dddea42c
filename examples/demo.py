#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The main job, shown in a sandbox: the demo rule service, the agent tool
zentix and the daemon quorvel run against a real kernel set "cdnwhite" in
private namespaces; the host's /etc, /tmp, /dev and network stay untouched.

    examples/demo.py BUILD_DIR      (as root)

Three runs: the first loads whitelist_v1.json, the second finds it
unchanged and leaves the set alone, the third gets whitelist_v2.json from
the service and replaces the set's members.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
os.environ["QUORVEL_BIN"] = os.path.join(build, "daemon", "quorvel")
os.environ.setdefault("QUORVEL_SANDBOX_DIR", os.path.join(build, "sandboxes"))

from road import Road  # noqa: E402

PRIORITIES = {4: "warning", 6: "info", 7: "debug"}


def show(road, title):
    print(f"\n===== {title}")
    result = road.sb.run()
    print("--- syslog")
    for message in result.syslog:
        text = message.text.replace("\n", "\\n")
        print(f"<{PRIORITIES.get(message.priority, message.priority)}> "
              f"{message.ident}[{message.pid}]: {text}")
    print("--- standard output")
    sys.stdout.write(result.stdout)
    print(f"--- exit status {result.status}")
    print("--- ipset list cdnwhite")
    sys.stdout.write(road.sb.sh("ipset list cdnwhite").stdout)
    stamp = road.sb.read("/etc/.quorvel/cdn_white_timestamp")
    print("--- /etc/.quorvel/cdn_white_timestamp:", stamp.decode().strip() if stamp else "(none)")
    return result.status


def main():
    with Road(os.path.join(build, "tools", "zentix")) as road:
        statuses = [show(road, "run 1: the service publishes whitelist_v1.json")]
        statuses.append(show(road, "run 2: same whitelist, the set is left alone"))
        road.serve("whitelist_v2.json")
        statuses.append(show(road, "run 3: the service now publishes whitelist_v2.json"))
    return 0 if statuses == [0, 0, 0] else 1


if __name__ == "__main__":
    sys.exit(main())
