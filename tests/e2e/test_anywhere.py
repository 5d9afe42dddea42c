# SPDX-License-Identifier: MIT
"""The sandbox wherever the checkout lives: a copy of the checkout under
/tmp (which the sandbox covers with a tmpfs of its own), in folders whose
names hold blanks, runs the demo and the end-to-end suites of the road and
of the reboot, and is byte for byte what it was afterwards."""

import hashlib

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
PROGRAMS = {"QUORVEL_BIN": os.path.join("daemon", "quorvel"),
            "ZENTIX_BIN": os.path.join("tools", "zentix")}


def skip_local(folder, names):
    """Build trees, sandboxes and caches stay behind."""
    skipped = {"sandboxes", "__pycache__", ".git"}
    if os.path.abspath(folder) == SOURCE:
        skipped |= {n for n in names if n.startswith("build")}
    return [n for n in names if n in skipped]


def snapshot(root):
    """Every file and link under root with its mode and content digest,
    leaving out the sandboxes' own state folders."""
    seen = {}
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d not in ("sandboxes", "__pycache__")]
        for name in files + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if os.path.islink(path):
                digest = os.readlink(path)
            else:
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            seen[os.path.relpath(path, root)] = (info.st_mode, digest)
    return seen


class CheckoutUnderTmp(unittest.TestCase):
    def test_demo_and_a_suite_from_a_folder_with_blanks_under_tmp(self):
        for variable in PROGRAMS:
            self.assertTrue(os.path.isabs(os.environ.get(variable, "")), variable)
        root = tempfile.mkdtemp(prefix="quorvel anywhere ", dir="/tmp")
        self.addCleanup(shutil.rmtree, root, True)
        checkout = os.path.join(root, "check out")
        shutil.copytree(SOURCE, checkout, ignore=skip_local, symlinks=True)
        # The programs as built, where the demo looks for them.
        build = os.path.join(checkout, "build here")
        env = {k: v for k, v in os.environ.items() if not k.startswith("QUORVEL_")}
        for variable, relative in PROGRAMS.items():
            copy = os.path.join(build, relative)
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copy2(os.environ[variable], copy)
            env[variable] = copy

        demo = subprocess.run([sys.executable, os.path.join(checkout, "examples", "demo.py"), build],
                              cwd=checkout, env=env, capture_output=True, text=True, timeout=300)
        self.assertEqual(demo.returncode, 0, demo.stdout + demo.stderr)
        self.assertEqual(demo.stdout.count("--- exit status 0"), 3, demo.stdout)
        self.assertIn("198.51.100.0/24", demo.stdout)

        before = snapshot(checkout)
        suite = subprocess.run([sys.executable, "-m", "unittest", "test_road",
                                "test_cycle.SetMadeAfresh"],
                               cwd=os.path.join(checkout, "tests", "e2e"), env=env,
                               capture_output=True, text=True, timeout=300)
        self.assertEqual(suite.returncode, 0, suite.stderr)
        self.assertIn("\nOK", suite.stderr)
        self.assertNotIn("Ran 0 tests", suite.stderr)
        # The reboot's fresh /tmp hid the checkout, never emptied it.
        after = snapshot(checkout)
        self.assertEqual(len(after), len(before))
        self.assertEqual(after, before)
        # Every sandbox removed its state directory again.
        for sandboxes in (os.path.join(build, "sandboxes"),
                          os.path.join(checkout, "tests", "e2e", "sandboxes")):
            self.assertEqual(os.listdir(sandboxes), [], sandboxes)


if __name__ == "__main__":
    unittest.main()
