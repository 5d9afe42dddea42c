"""The schedule that starts the daemon again and again (quorvel-schedule),
with the real daemon in the sandbox: each run is bounded in time, so an
agent that never answers cannot wedge the runs after it.

Every case runs twice: with Debian's dash and coreutils, and with busybox's
ash and applets (timeout, tr, head, sleep, logger, date) as on a router.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from daemon_case import DAEMON, PID_FILE, TIMESTAMP_FILE, Sandbox, whitelist

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEDULE = os.environ.get("QUORVEL_SCHEDULE") or os.path.join(
    HERE, "..", "..", "openwrt", "quorvel", "files", "quorvel-schedule")
BUSYBOX = shutil.which("busybox")
BUSYBOX_APPLETS = ("timeout", "tr", "head", "sleep", "logger", "date")

# Like procd, the schedule's parent reaps what is orphaned below it; here a
# child subreaper (PR_SET_CHILD_SUBREAPER) that then runs the schedule.
SUBREAPER = ("import ctypes, os, sys; ctypes.CDLL(None).prctl(36, 1, 0, 0, 0); "
             "os.execvp(sys.argv[1], sys.argv[1:])")


class ScheduleCase(unittest.TestCase):
    """Common ground; the concrete classes at the end pick the flavour."""

    maxDiff = None
    flavour = "dash"

    def setUp(self):
        if self.flavour == "busybox" and BUSYBOX is None:
            self.fail("busybox is needed (Debian package busybox)")

    def shell(self):
        return [BUSYBOX, "sh"] if self.flavour == "busybox" else ["dash"]

    def applet_path(self, state):
        """A PATH head that puts busybox's applets first, or nothing."""
        if self.flavour != "busybox":
            return ""
        applets = os.path.join(state, "busybox")
        os.makedirs(applets, exist_ok=True)
        for name in BUSYBOX_APPLETS:
            link = os.path.join(applets, name)
            if not os.path.lexists(link):
                os.symlink(BUSYBOX, link)
        return applets + ":"


class InSandbox:
    def setUp(self):
        super().setUp()
        self.sb = Sandbox()
        self.addCleanup(self.sb.close)

    def start_schedule(self, *options):
        env = {"PATH": self.applet_path(self.sb.state) + self.sb.path}
        argv = ["python3", "-c", SUBREAPER, *self.shell(), SCHEDULE, *options,
                "-d", os.path.abspath(DAEMON) if os.sep in DAEMON else shutil.which(DAEMON)]
        self.sb.syslog()
        return self.sb.start(argv, env=env)

    def processes(self):
        """Command lines of the sandbox's live processes (zombies have none)."""
        listing = self.sb.sh("for p in /proc/[0-9]*; do tr '\\0' ' ' < $p/cmdline; echo; done")
        return [line for line in listing.stdout.splitlines() if line.strip()]

    def ours(self, *names):
        """The live processes that run one of the programs named: the
        program itself or the script a shell runs (never a mere path that
        happens to hold the name, such as the checkout's)."""
        listing = self.sb.sh("for p in /proc/[0-9]*; do tr '\\0' '\\037' < $p/cmdline; echo; done")
        found = []
        for line in listing.stdout.splitlines():
            programs = [os.path.basename(word) for word in line.split("\037")[:2]]
            if any(program.startswith(name) for program in programs for name in names):
                found.append(line.replace("\037", " "))
        return found

    def messages_until(self, text, timeout=30):
        """The syslog messages received until the schedule logged text."""
        deadline = time.monotonic() + timeout
        messages = []
        while time.monotonic() < deadline:
            messages += self.sb.syslog(settle=0.1)
            if any(text in t for t in self.schedule_texts(messages)):
                return messages
        self.fail(f"the schedule never logged {text!r}: {self.schedule_texts(messages)}")

    def daemon_runs(self, messages):
        """The daemon's syslog texts, one list per process, in order."""
        runs = {}
        for m in messages:
            if m.ident == "quorvel":
                runs.setdefault(m.pid, []).append(m.text)
        return list(runs.items())

    def schedule_texts(self, messages):
        return [m.raw.decode("latin-1") for m in messages if b"quorvel-schedule" in m.raw]

    def test_a_hung_agent_is_cut_off_and_the_next_run_loads(self):
        # The agent waits until it is released, which happens only once the
        # schedule drew its delay after the first run: that run never gets
        # an answer.
        self.sb.agent(whitelist("2", ["1.2.3.4", "10.0.0.0/8"]), block=True)
        pid = self.start_schedule("-n", "2", "-m", "1", "-r", "2", "-t", "2", "-k", "2")
        self.assertTrue(self.sb.agent_started())
        messages = self.messages_until("next run in")
        self.sb.release()

        result = self.sb.wait(pid, timeout=60)
        self.assertFalse(result.timed_out)
        self.assertEqual(result.status, 0, result.stderr)
        messages += result.syslog

        runs = self.daemon_runs(messages)
        self.assertEqual(len(runs), 2, runs)
        (first_pid, first), (second_pid, second) = runs
        # The bound ended the first run through its signal handler...
        self.assertEqual(first[-1], "quorvel got signal(15), exit.\n")
        self.assertNotIn("quorvel exit.\n", first)
        # ...so the second found no live process in the pid file and ran a
        # whole cycle.
        self.assertNotIn("There's already a service running.", result.stdout)
        self.assertIn("config load success:\n", second)
        self.assertEqual(second[-1], "quorvel exit.\n")
        self.assertEqual(self.sb.members(), ["1.2.3.4", "10.0.0.0/8"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        self.assertEqual(self.sb.read(PID_FILE), f"{second_pid}\n".encode())
        self.assertEqual(len(self.sb.agent_calls()), 2)

        # The agent that the first run left waiting was ended with it.
        schedule = self.schedule_texts(messages)
        self.assertTrue(any(f"ending what the run of pid {first_pid} left behind" in t
                            for t in schedule), schedule)
        if self.flavour == "dash":
            # coreutils' timeout reports the bound itself.
            self.assertTrue(any("run stopped at the bound of 2 seconds" in t for t in schedule),
                            schedule)
        delays = [t for t in schedule if "next run in" in t]
        self.assertEqual(len(delays), 1, schedule)
        self.assertRegex(delays[0], r"next run in [12] seconds$")
        self.assertFalse(self.ours("zentix"), self.processes())

    def test_a_stop_during_a_hung_run_ends_the_run_and_the_agent(self):
        self.sb.agent(whitelist("2"), block=True)
        pid = self.start_schedule("-t", "600")
        self.assertTrue(self.sb.agent_started())
        self.sb.signal(pid, signal.SIGTERM)
        result = self.sb.wait(pid, timeout=30)
        self.assertFalse(result.timed_out)
        self.assertEqual(result.status, 0, result.stderr)
        runs = self.daemon_runs(result.syslog)
        self.assertEqual(len(runs), 1, runs)
        self.assertEqual(runs[0][1][-1], "quorvel got signal(15), exit.\n")
        self.assertFalse(self.ours("zentix", "quorvel"), self.processes())

    def test_a_stop_during_the_delay_leaves_no_sleeper(self):
        self.sb.agent(whitelist("2"))
        pid = self.start_schedule("-m", "900")
        self.messages_until("next run in")
        self.sb.signal(pid, signal.SIGTERM)
        result = self.sb.wait(pid, timeout=30)
        self.assertFalse(result.timed_out)
        self.assertEqual(result.status, 0, result.stderr)
        self.assertFalse([p for p in self.processes() if p.startswith("sleep")], self.processes())


class WithoutSandbox:
    """The parts that never start the daemon: delays and option checks."""

    def call(self, script, env=None):
        state = self.enterContext(TemporaryState())
        full_env = {"PATH": self.applet_path(state) + os.environ["PATH"]}
        full_env.update(env or {})
        return subprocess.run([*self.shell(), "-c", script, "quorvel-schedule"],
                              env=full_env, capture_output=True, text=True, timeout=60)

    def draws(self, setup, count=300):
        done = self.call(f'{setup}; i=0; while [ $i -lt {count} ]; do next_delay; i=$((i + 1)); done',
                         env={"QUORVEL_SCHEDULE_SOURCED": "1", "SCHEDULE": SCHEDULE})
        self.assertEqual(done.returncode, 0, done.stderr)
        return [int(line) for line in done.stdout.split()]

    def test_default_delays_lie_in_1800_to_3599_and_vary(self):
        delays = self.draws('. "$SCHEDULE"')
        self.assertEqual(len(delays), 300)
        self.assertTrue(all(1800 <= d < 3600 for d in delays), sorted(delays)[:3] + sorted(delays)[-3:])
        # Drawn afresh each time: 300 draws over 1800 values repeat rarely,
        # and both halves of the range are reached.
        self.assertGreater(len(set(delays)), 250)
        self.assertTrue(min(delays) < 2200 and max(delays) > 3200, (min(delays), max(delays)))

    def test_a_range_of_one_gives_the_minimum(self):
        self.assertEqual(set(self.draws('. "$SCHEDULE"; min_delay=7 delay_range=1', 20)), {7})

    def test_bad_options_are_refused_before_anything_runs(self):
        marker = self.enterContext(TemporaryState())
        probe = os.path.join(marker, "ran")
        # A "daemon" that would leave a trace if it were started.
        daemon = os.path.join(marker, "daemon")
        with open(daemon, "w") as f:
            f.write(f"#!/bin/sh\ntouch {probe}\n")
        os.chmod(daemon, 0o755)
        for options, status, message in [
                (["-m", "0600"], 2, "-m needs a whole number without leading zeros, not '0600'"),
                (["-t", "0"], 2, "-t must lie from 1 to 999999999, not 0"),
                (["-r", "abc"], 2, "-r needs a whole number without leading zeros, not 'abc'"),
                (["-n", "1234567890"], 2, "-n must lie from 0 to 999999999, not 1234567890"),
                (["-x"], 2, "usage: quorvel-schedule"),
                (["extra"], 2, "usage: quorvel-schedule"),
                (["-d", os.path.join(marker, "missing")], 1, "is not an executable file")]:
            with self.subTest(options=options):
                args = " ".join(f"'{a}'" for a in options)
                done = self.call(f'exec {" ".join(self.shell())} "$SCHEDULE" -d {daemon} {args}',
                                 env={"SCHEDULE": SCHEDULE})
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(os.path.exists(probe))


class TemporaryState:
    """A scratch directory removed on exit."""

    def __enter__(self):
        self.path = tempfile.mkdtemp(prefix="schedule-")
        return self.path

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)


class InSandboxDash(InSandbox, ScheduleCase):
    flavour = "dash"


class InSandboxBusybox(InSandbox, ScheduleCase):
    flavour = "busybox"


class WithoutSandboxDash(WithoutSandbox, ScheduleCase):
    flavour = "dash"


class WithoutSandboxBusybox(WithoutSandbox, ScheduleCase):
    flavour = "busybox"


if __name__ == "__main__":
    unittest.main()
