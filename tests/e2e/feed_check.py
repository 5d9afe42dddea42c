# SPDX-License-Identifier: MIT
"""The OpenWrt feed's test script (openwrt/quorvel/test.sh) run against a
staged install, inside the sandbox (it runs one cycle of the real daemon).

    QUORVEL_STAGE=<DESTDIR> QUORVEL_FEED_PACKAGES="quorvel zentix" \
        python3 -m unittest feed_check

The install must have the prefix /usr under QUORVEL_STAGE. Shared
libraries of the stage are found through LD_LIBRARY_PATH.
"""

import os
import unittest

from sandbox import Sandbox

HERE = os.path.dirname(os.path.abspath(__file__))
TEST_SH = os.path.join(HERE, "..", "..", "openwrt", "quorvel", "test.sh")


class FeedTestScript(unittest.TestCase):
    def test_each_package(self):
        stage = os.path.abspath(os.environ["QUORVEL_STAGE"])
        packages = os.environ.get("QUORVEL_FEED_PACKAGES", "quorvel").split()
        env = {"QUORVEL_TEST_ROOT": stage, "LD_LIBRARY_PATH": os.path.join(stage, "usr", "lib")}
        with Sandbox() as sb:
            for package in packages:
                with self.subTest(package=package):
                    result = sb.run(["sh", TEST_SH, package, "0.1.0"], env=env, timeout=300)
                    self.assertEqual(result.status, 0, result.stdout + result.stderr)
                    self.assertIn(f"test.sh: {package} 0.1.0: ok", result.stdout)
            # A package whose files are missing fails.
            result = sb.run(["sh", TEST_SH, "quorvel", "0.1.0"],
                            env={"QUORVEL_TEST_ROOT": os.path.join(stage, "nothing")})
            self.assertEqual(result.status, 1)
            self.assertIn("/usr/sbin/quorvel is missing", result.stderr)


if __name__ == "__main__":
    unittest.main()
