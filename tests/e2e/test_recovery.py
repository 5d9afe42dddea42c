# SPDX-License-Identifier: MIT
"""Faults that used to stop synchronisation for good, end to end: leftovers
at the answer path and a kernel set that does not exist yet. Each run
after the fault is cleared converges."""

import unittest

import stat

from sandbox import delivered
from daemon_case import (DaemonTestCase, INFO, PID_FILE, TIMESTAMP_FILE, WARNING, WHITELIST_FILE,
                         Sandbox, request_line, store_line, whitelist)

HOSTS = ["1.2.3.4", "10.0.0.0/8"]
ORDINARY_STDOUT = "".join([
    "local cdn->timestamp:  (1)\n",
    request_line("1"),
    "server response enabled:1 timestamp:2\n",
    "cmd:  ipset add cdnwhite 1.2.3.4\n",
    "cmd:  ipset add cdnwhite 10.0.0.0/8\n",
    store_line("2"),
])
ORDINARY_SYSLOG = [
    (WARNING, "t1:1\nt2:2\n"),
    (INFO, "stat_points_none ========== ipset_flush: cdnwhite time: *"),
    (INFO, "stat_points_none ========== ipset_ips_add: cdnwhite time: *"),
    (WARNING, "ip list end 0\n"),
    (WARNING, "config load success:\n"),
    (WARNING, "quorvel exit.\n"),
]

class LeftoverAnswerPath(DaemonTestCase):
    def setUp(self):
        super().setUp()
        self.store_stamp("1")
        self.sb.agent(whitelist("2", HOSTS))

    def assertOrdinaryRun(self, result):
        """The run went as if nothing had stood at the answer path."""
        self.assertFalse(result.timed_out)
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stdout, ORDINARY_STDOUT)
        self.assertSyslog(result, ORDINARY_SYSLOG)
        self.assertEqual(self.sb.members(), HOSTS)
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        self.assertIsNone(self.sb.mode(WHITELIST_FILE))

    def test_nothing_there(self):
        self.assertOrdinaryRun(self.sb.run())

    def test_fifo(self):
        # The shell's redirection into a FIFO would wait for a reader for ever.
        self.sb.sh(f"mkfifo {WHITELIST_FILE}")
        self.assertOrdinaryRun(self.sb.run(timeout=30))

    def test_symbolic_link_to_a_file_elsewhere(self):
        self.sb.write("/etc/precious", "keep me\n")
        self.sb.sh(f"ln -s /etc/precious {WHITELIST_FILE}")
        self.assertOrdinaryRun(self.sb.run())
        self.assertEqual(self.sb.read("/etc/precious"), b"keep me\n")

    def test_empty_directory(self):
        self.sb.sh(f"mkdir {WHITELIST_FILE}")
        self.assertOrdinaryRun(self.sb.run())

    def test_directory_that_is_not_empty(self):
        self.sb.sh(f"mkdir {WHITELIST_FILE} && echo data > {WHITELIST_FILE}/kept")
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertSyslog(result, [
            (WARNING, f"cannot clear answer path {WHITELIST_FILE}: Directory not empty\n"),
            (WARNING, "config init remote error, exit.\n"),
            (WARNING, "quorvel exit.\n"),
        ])
        self.assertNotIn("cmd:", result.stdout)
        self.assertEqual(self.sb.agent_calls(), [])
        self.assertEqual(self.sb.read(f"{WHITELIST_FILE}/kept"), b"data\n")
        self.assertEqual(self.sb.members(), ["9.9.9.9"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"1"}\n')
        # Once someone clears it, the next run loads the list.
        self.sb.sh(f"rm -r {WHITELIST_FILE}")
        self.assertOrdinaryRun(self.sb.run())

class LeftoverStampPath(DaemonTestCase):
    def test_fifo_or_link_at_the_stamp_path(self):
        self.sb.write("/etc/precious", "keep me\n")
        for number, leftover in enumerate([f"mkfifo {TIMESTAMP_FILE}",
                                           f"ln -s /etc/precious {TIMESTAMP_FILE}"]):
            with self.subTest(leftover=leftover):
                self.sb.sh(f"mkdir -p /etc/.quorvel; rm -f {TIMESTAMP_FILE}; {leftover}")
                self.sb.agent(whitelist(str(number + 2), HOSTS))
                result = self.sb.run(timeout=30)
                self.assertFalse(result.timed_out)
                self.assertIn("config load success:\n", result.texts(WARNING))
                self.assertEqual(self.sb.read(TIMESTAMP_FILE),
                                 b'{"updateTime":"%d"}\n' % (number + 2))
        self.assertEqual(self.sb.read("/etc/precious"), b"keep me\n")


class MissingSet(DaemonTestCase):
    def setUp(self):
        # The firewall has not created the set yet.
        self.sb = Sandbox(sets=())
        self.addCleanup(self.sb.close)
        self.store_stamp("1")

    def test_nothing_is_lost_until_the_set_exists(self):
        self.sb.agent(whitelist("2", HOSTS))
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertSyslog(result, [
            (WARNING, "t1:1\nt2:2\n"),
            (INFO, "stat_points_none ========== ipset_flush: cdnwhite time: *"),
            (WARNING, "load set cdnwhite flush fail.\n"),
            (WARNING, "load return -7\n"),
            (WARNING, "quorvel exit.\n"),
        ])
        self.assertIn("does not exist", result.stderr)
        self.assertNotIn("cmd:  ipset add", result.stdout)
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"1"}\n')
        self.assertIsNone(self.sb.mode(WHITELIST_FILE))

        self.sb.sh("ipset create cdnwhite hash:net")
        second = self.sb.run()
        self.assertEqual(second.stdout, ORDINARY_STDOUT)
        self.assertSyslog(second, ORDINARY_SYSLOG)
        self.assertEqual(self.sb.members(), HOSTS)
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')

KEPT_FILE = "/etc/.quorvel/cdn_white_kept"


class KeptList(DaemonTestCase):
    """The list kept on flash fills a set that a reboot or a firewall
    restart made afresh before the agent is asked, in every load mode; the
    mode's suites override how its sets are made and read."""

    HOSTS = ["1.2.3.4", "10.0.0.0/8"]
    AFTER = ["1.2.3.4", "10.0.0.0/8"]
    UNREACHABLE = 7  # the agent's status when the service cannot be reached

    def sets_made_afresh(self):
        self.sb.sh("ipset destroy cdnwhite; ipset create cdnwhite hash:net")

    def members_now(self):
        return self.sb.members()

    def restored_line(self, stamp):
        return f"set lacks the list: {len(self.AFTER)} kept elements of stamp {stamp} loaded again.\n"

    def load(self, stamp, hosts=None):
        self.sb.agent(whitelist(stamp, self.HOSTS if hosts is None else hosts))
        result = self.sb.run()
        self.assertIn("config load success:\n", result.texts(WARNING))
        return result

    def reboot(self):
        self.sb.reboot()
        self.sets_made_afresh()
        self.assertEqual(self.members_now(), [])

    def inode(self, path):
        return self.sb.sh(f"stat -c %i {path}").stdout

    def test_a_reboot_with_the_service_unreachable(self):
        self.load("2")
        kept = self.sb.read(KEPT_FILE)
        self.assertTrue(kept.startswith(b"quorvel-kept 1 32\n4 "), kept)
        self.assertRegex(kept.decode(), r"\nend \d+ [0-9a-f]{8}\n$")
        inode = self.inode(KEPT_FILE)
        self.reboot()
        self.sb.agent(None, status=self.UNREACHABLE)
        first = self.sb.run()
        warnings = first.texts(WARNING)
        self.assertIn(self.restored_line("2"), warnings)
        self.assertLess(warnings.index(self.restored_line("2")),
                        warnings.index(delivered(f"get config by zentix fail: {self.UNREACHABLE}")))
        self.assertEqual(self.members_now(), self.AFTER)
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        self.assertEqual(len(self.sb.agent_calls()), 2)
        # The service answers again, unchanged: nothing more is loaded or written.
        self.sb.agent(whitelist("2", self.HOSTS))
        second = self.sb.run()
        self.assertIn("config not change\n", second.texts(WARNING))
        self.assertNotIn(self.restored_line("2"), second.texts(WARNING))
        self.assertNotIn("config load success:\n", second.texts(WARNING))
        self.assertEqual(self.members_now(), self.AFTER)
        self.assertEqual((self.sb.read(KEPT_FILE), self.inode(KEPT_FILE)), (kept, inode))
        # A filled set is left alone by the restore step too.
        self.sb.agent(None, status=self.UNREACHABLE)
        self.assertNotIn(self.restored_line("2"), self.sb.run().texts(WARNING))

    def test_kept_files_that_are_not_restored(self):
        self.load("2")
        other = self.sb.read(KEPT_FILE)
        self.load("3", self.HOSTS[:1])
        valid = self.sb.read(KEPT_FILE)
        cases = {  # name: (kept file or None, its fate)
            "another stamp": (other, "kept"),
            "truncated": (valid[:-3], "removed"),
            "a line damaged": (valid.replace(b"\n4 ", b"\n5 ", 1), "removed"),
            "missing": (None, "missing"),
        }
        for name, (content, fate) in cases.items():
            with self.subTest(name):
                self.reboot()
                self.sb.sh(f"rm -f {KEPT_FILE}")
                if content is not None:
                    self.sb.write(KEPT_FILE, content)
                self.sb.agent(None, status=self.UNREACHABLE)
                result = self.sb.run()
                unreadable = f"kept list {KEPT_FILE} unreadable, removed.\n"
                self.assertEqual(unreadable in result.texts(WARNING), fate == "removed")
                self.assertFalse([w for w in result.texts(WARNING) if "kept elements" in w])
                self.assertEqual(self.members_now(), [])
                self.assertEqual(self.sb.read(KEPT_FILE), content if fate == "kept" else None)

    def test_a_full_flash_removes_the_old_file(self):
        self.load("1", self.HOSTS[:1])
        old = self.sb.read(KEPT_FILE)
        # The working directory on a tiny file system with one page left:
        # the answer takes it, the new kept file finds none (the stamp's
        # rewrite reuses its own page).
        self.sb.sh("mount -t tmpfs -o size=32k tmpfs /etc/.quorvel")
        self.store_stamp("1")
        self.sb.write(KEPT_FILE, old)
        self.sb.write("/etc/.quorvel/spare", "x")
        self.sb.sh("dd if=/dev/zero of=/etc/.quorvel/fill bs=1k 2>/dev/null; rm /etc/.quorvel/spare")
        result = self.load("2")
        self.assertIn(f"kept list {KEPT_FILE} not written, removed: No space left on device\n",
                      result.texts(WARNING))
        self.assertIsNone(self.sb.read(KEPT_FILE))
        self.assertIsNone(self.sb.read(KEPT_FILE + ".tmp"))
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        self.assertEqual(self.members_now(), self.AFTER)

    def test_a_leftover_temporary_file_is_ignored_and_cleaned(self):
        self.load("2")
        # A power cut between the write and the rename of a newer list.
        self.sb.write(KEPT_FILE + ".tmp", b"quorvel-kept 1 33\n4 9.9.9.9\n")
        self.reboot()
        self.sb.agent(None, status=self.UNREACHABLE)
        self.assertIn(self.restored_line("2"), self.sb.run().texts(WARNING))
        self.assertEqual(self.members_now(), self.AFTER)
        self.assertIsNone(self.sb.mode(KEPT_FILE + ".tmp"))


class PidFileNotOurs(DaemonTestCase):
    """What another user made at the pid path is replaced, never kept or
    written through; its pid is not believed."""

    def assertOwnPidFile(self, result):
        self.assertEqual(result.status, 0, result.stdout)
        self.assertEqual(self.sb.read(PID_FILE), f"{result.syslog[-1].pid}\n".encode())
        facts = self.sb.sh(f"stat -c '%u %h %a' {PID_FILE}").stdout.split()
        self.assertEqual(facts, ["0", "1", "640"])

    def test_a_file_of_another_user(self):
        # It names a live process (1), which would refuse the start.
        self.sb.write(PID_FILE, "1\n", mode=0o666)
        self.sb.sh(f"chown 65534:65534 {PID_FILE}")
        self.sb.agent(whitelist("2"))
        self.assertOwnPidFile(self.sb.run())

    def test_a_hard_link_to_a_file_elsewhere(self):
        self.sb.write("/tmp/precious", "keep me\n", mode=0o604)
        self.sb.sh(f"ln /tmp/precious {PID_FILE}")
        self.sb.agent(whitelist("2"))
        self.assertOwnPidFile(self.sb.run())
        self.assertEqual(self.sb.read("/tmp/precious"), b"keep me\n")
        self.assertEqual(stat.S_IMODE(self.sb.mode("/tmp/precious")), 0o604)


if __name__ == "__main__":
    unittest.main()
