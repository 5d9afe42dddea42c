# SPDX-License-Identifier: MIT
"""Runs one command and reports its wall time and the peak resident set
size of that process alone (its children not counted), as JSON.

The peak is the kernel's VmHWM of the process, sampled every millisecond
while it runs; it only grows, so the last sample is the peak up to a
millisecond before the end."""

import json
import subprocess
import sys
import time


def peak_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def main():
    start = time.monotonic()
    child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while child.poll() is None:
        sample = peak_kib(child.pid)
        if sample:
            peak = max(peak, sample)
        time.sleep(0.001)
    wall = time.monotonic() - start
    print(json.dumps({"status": child.returncode, "wall_s": wall, "peak_rss_kib": peak}))


if __name__ == "__main__":
    main()
