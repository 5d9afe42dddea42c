# SPDX-License-Identifier: MIT
"""The device identity as the real daemon reads it from UCI files under the
sandbox's /etc/config."""

import shutil
import unittest

from daemon_case import DAEMON, DAEMON_FOREIGN, DaemonTestCase, INFO, WARNING, delivered, whitelist

CONFIG = "/etc/config/messaging"


class Identity(DaemonTestCase):
    def run_with_config(self, text):
        if text is None:
            self.sb.sh(f"rm -f {CONFIG}")
        else:
            self.sb.write(CONFIG, text)
        self.sb.agent(whitelist("2", ["1.2.3.4"]))
        return self.sb.run()

    def assertLoadFailed(self, result, calls_before=0):
        self.assertEqual(result.status, 0)
        self.assertEqual(result.syslog[0].text, delivered("config load error."))
        self.assertEqual(result.syslog[0].priority, WARNING)
        # The cycle runs all the same.
        self.assertEqual(len(self.sb.agent_calls()), calls_before + 1)
        self.assertEqual(self.sb.members(), ["1.2.3.4"])

    def test_two_strings_load_quietly(self):
        result = self.run_with_config(
            "config device 'deviceInfo'\n\toption DEVICE_ID 'QV-42'\n\toption CHANNEL_SECRET \"x y\"\n")
        self.assertEqual(result.stderr, "")
        self.assertNotIn(delivered("config load error."), result.texts())
        # Verbose logging is off at start: no dump.
        self.assertFalse([t for t in result.texts(INFO) if t.startswith("config\n")])

    def test_missing_package_section_or_option(self):
        cases = {
            "no file": None,
            "no section": "config device 'other'\n\toption DEVICE_ID 'a'\n",
            "no device id": "config device 'deviceInfo'\n\toption CHANNEL_SECRET 's'\n",
            "no secret": "config device 'deviceInfo'\n\toption DEVICE_ID 'a'\n",
        }
        for name, text in cases.items():
            with self.subTest(name):
                result = self.run_with_config(text)
                self.assertEqual(result.status, 0)
                self.assertEqual(result.syslog[0].text, delivered("config load error."))
                if text is None:
                    self.assertTrue(result.stderr.startswith("look uci error"), result.stderr)

    def test_broken_files_never_crash_the_run(self):
        cases = [
            "config device 'deviceInfo'\n\toption DEVICE_ID 'unterminated\n",
            "config device 'deviceInfo'\n\toption DEVICE_ID '" + "x" * (1 << 20) + "'\n",
            "config device 'deviceInfo'\n\toption DEVICE_ID 'a\x00b'\n",
            "\xff\xfe\x00\x01binary\n",
        ]
        for text in cases:
            with self.subTest(text=text[:40]):
                self.sb.sh("ipset flush cdnwhite; rm -f /etc/.quorvel/cdn_white_timestamp")
                calls = len(self.sb.agent_calls())
                self.assertLoadFailed(self.run_with_config(text.encode("latin-1")), calls)
                self.sb.sh("rm -rf /etc/.quorvel")
        self.sb.sh(f"rm -f {CONFIG}; mkdir {CONFIG}")
        self.sb.agent(whitelist("3", ["1.2.3.4"]))
        result = self.sb.run()
        self.assertEqual(result.syslog[0].text, delivered("config load error."))

    @unittest.skipUnless(shutil.which("gdb"), "gdb is needed to switch verbose logging on in time")
    @unittest.skipIf(DAEMON_FOREIGN, "the build machine's gdb cannot stop a daemon run by qemu-user")
    def test_verbose_dump_of_a_list_and_a_long_secret(self):
        secret = "s" * 100
        self.sb.write(CONFIG, "config device 'deviceInfo'\n\tlist DEVICE_ID 'a'\n\tlist DEVICE_ID 'b'\n"
                              f"\tlist DEVICE_ID 'c'\n\toption CHANNEL_SECRET '{secret}'\n")
        self.sb.agent(whitelist("2", ["1.2.3.4"]))
        # Stopped at the identity load, the daemon gets SIGUSR1 and goes on
        # with verbose logging switched on.
        result = self.sb.run(["gdb", "-batch", "-nx", "-ex", "break device_config_load",
                              "-ex", "run", "-ex", "delete", "-ex", "signal SIGUSR1",
                              "--args", DAEMON])
        dumps = [m for m in result.syslog if m.text.startswith("config\n")]
        self.assertEqual(len(dumps), 1, (result.texts(), result.stdout, result.stderr))
        self.assertEqual(dumps[0].priority, INFO)
        self.assertEqual(dumps[0].text,
                         f"config\n\tdevice id:a b c\n\tchannel_secret:{secret[:63]}\n\tetc size: 0\n")
        self.assertIn("quorvel got signal USR1(10).\n", result.texts(WARNING))
        self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")


if __name__ == "__main__":
    unittest.main()
