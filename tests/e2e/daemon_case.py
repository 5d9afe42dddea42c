# SPDX-License-Identifier: MIT
"""Common ground of the daemon's end-to-end tests: a fresh sandbox per
test and the exact texts the daemon writes."""

import calendar
import time
import unittest

from sandbox import (DAEMON, DAEMON_FOREIGN, DAEMON_SIGUSR1, Sandbox,  # noqa: F401  (re-exported)
                     delivered, syslog_clock_offset, whitelist)

WARNING, INFO, DEBUG = 4, 6, 7
WHITELIST_FILE = "/etc/.quorvel/cdn_whitelist"
TIMESTAMP_FILE = "/etc/.quorvel/cdn_white_timestamp"
PID_FILE = "/tmp/quorvel.pid"


def request_line(stamp):
    return ("cmd:  zentix --method rule_fetch --params /utils/get_ks_cdn_wl "
            f"'{{\"updateTime\":\"{stamp}\",}}' > {WHITELIST_FILE}\n")


def store_line(stamp):
    return f"cmd:  echo '{{\"updateTime\":\"{stamp}\"}}' > {TIMESTAMP_FILE}\n"


class DaemonTestCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.sb = Sandbox()
        self.addCleanup(self.sb.close)

    def wait_until(self, condition, what="the awaited event"):
        """Waits for condition() to hold, with a bound that only a hung
        run misses, even on a busy machine."""
        deadline = time.monotonic() + 60
        while not condition():
            self.assertLess(time.monotonic(), deadline, f"{what} never came")
            time.sleep(0.02)

    def store_stamp(self, stamp):
        """Leaves the timestamp file as an earlier run would have."""
        self.sb.sh("mkdir -p /etc/.quorvel")
        self.sb.write(TIMESTAMP_FILE, f'{{"updateTime":"{stamp}"}}\n')

    def reader_start(self, command):
        """Starts a shell inside that runs command over and over until
        reader_stop(); returns once the loop runs."""
        pid = self.sb.start(["/bin/sh", "-c", "rm -f /tmp/stop; touch /tmp/polling; "
                             f"while [ ! -e /tmp/stop ]; do {command}; done"])
        self.wait_until(lambda: self.sb.mode("/tmp/polling") is not None, "the reader's loop")
        return pid

    def reader_stop(self, pid):
        self.sb.write("/tmp/stop", "")
        self.sb.wait(pid)

    def assertSyslog(self, result, expected):
        """The run's syslog lines are exactly expected: (priority, text)
        pairs, where a text ending in '*' matches any text of that start."""
        got = [(m.priority, m.text) for m in result.syslog]
        self.assertEqual(len(got), len(expected), "\n".join(map(repr, got)))
        for (priority, text), (want_priority, want) in zip(got, expected):
            if want.endswith("*"):
                self.assertTrue(text.startswith(want[:-1]), (text, want))
            else:
                self.assertEqual(text, delivered(want))
            self.assertEqual(priority, want_priority, text)

    def assertOneRunIdentity(self, result):
        """Every line came from one process of the identity quorvel."""
        self.assertTrue(result.syslog)
        for message in result.syslog:
            self.assertEqual(message.ident, "quorvel", message.raw)
        self.assertEqual(len({m.pid for m in result.syslog}), 1, [m.raw for m in result.syslog])

    def assertStampNow(self, stamp, offset, slack=120):
        """The syslog stamp ("Mmm dd hh:mm:ss", no year) is the time of now
        on a clock offset seconds east of UTC."""
        now = time.time()
        year = time.gmtime(now + offset).tm_year
        distances = []
        for guess in (year - 1, year, year + 1):
            parsed = time.strptime(f"{guess} {stamp}", "%Y %b %d %H:%M:%S")
            distances.append(abs(calendar.timegm(parsed) - offset - now))
        self.assertLess(min(distances), slack, (stamp, offset))
