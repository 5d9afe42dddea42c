# SPDX-License-Identifier: MIT
"""The process frame of the real daemon: working directory, pid file,
signals and exit, end to end."""

import os
import re
import shlex
import signal
import stat
import time
import unittest

from daemon_case import (DAEMON, DAEMON_SIGUSR1, DaemonTestCase, INFO, PID_FILE, WARNING,
                         WHITELIST_FILE, delivered, syslog_clock_offset, whitelist)

REFUSED = "There's already a service running.\n"


class WorkingDirectory(DaemonTestCase):
    def test_created_once_with_decimal_600(self):
        self.assertIsNone(self.sb.mode("/etc/.quorvel"))
        self.sb.agent(whitelist("2"))
        self.assertEqual(self.sb.run().status, 0)
        mode = self.sb.mode("/etc/.quorvel")
        self.assertTrue(stat.S_ISDIR(mode))
        # 600 decimal is octal 1130; the sandbox's umask 022 takes 020 away.
        self.assertEqual(stat.S_IMODE(mode), 0o1130 & ~0o022)

    def test_a_plain_file_in_its_place_is_accepted(self):
        self.sb.write("/etc/.quorvel", "not a directory")
        self.sb.agent(whitelist("2"))
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        # The file operations below it fail as the cycle describes.
        self.assertEqual(result.texts(WARNING)[0], "white_timestamp file lost.\n")
        self.assertIn(delivered("get config by zentix fail: 2"), result.texts(WARNING))
        self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")
        self.assertEqual(self.sb.read("/etc/.quorvel"), b"not a directory")

    def test_directory_that_cannot_be_made(self):
        self.sb.sh("mount -o remount,ro /etc")
        self.sb.agent(whitelist("2"))
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertSyslog(result, [(WARNING, "config init config dir, exit."),
                                   (WARNING, "quorvel exit.\n")])
        self.assertEqual(result.stdout, "")
        self.assertEqual(self.sb.agent_calls(), [])


class PidFile(DaemonTestCase):
    def run_with_pid_text(self, text):
        self.sb.write(PID_FILE, text)
        self.sb.agent(whitelist("2"))
        return self.sb.run()

    def assertRefused(self, result):
        self.assertEqual(result.status, 1)
        self.assertEqual(result.stdout, REFUSED)
        self.assertEqual(result.syslog, [])
        self.assertEqual(self.sb.agent_calls(), [])

    def assertWentOn(self, result):
        self.assertEqual(result.status, 0, result.stdout)
        self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")
        pid = result.syslog[-1].pid
        self.assertEqual(self.sb.read(PID_FILE), f"{pid}\n".encode())
        # Also a file left with another mode gets the mode of a fresh one.
        self.assertEqual(stat.S_IMODE(self.sb.mode(PID_FILE)), 0o640 & ~0o022)

    def test_written_with_the_pid_and_mode_0640(self):
        self.sb.agent(whitelist("2"))
        result = self.sb.run()
        self.assertWentOn(result)
        self.assertEqual(stat.S_IMODE(self.sb.mode(PID_FILE)), 0o640)

    def test_texts_that_name_no_other_process(self):
        for text in ["0", "not a number", "", "0000000000000009999999"]:
            with self.subTest(text=text):
                self.assertWentOn(self.run_with_pid_text(text))

    def test_a_stale_pid_is_replaced(self):
        self.assertWentOn(self.run_with_pid_text("99999\n"))

    def test_own_pid_counts_as_a_restart(self):
        self.sb.write(PID_FILE, "")
        self.sb.agent(whitelist("2"))
        result = self.sb.run(["/bin/sh", "-c", f"echo $$ > {PID_FILE}; exec {shlex.quote(DAEMON)}"])
        self.assertWentOn(result)

    def test_a_live_process_refuses_the_start(self):
        # Process 1 of the sandbox is alive.
        self.assertRefused(self.run_with_pid_text("1\n"))
        self.assertEqual(self.sb.read(PID_FILE), b"1\n")

    def test_only_fifteen_bytes_are_read(self):
        # The first 15 characters name process 1; all of them would not.
        self.assertRefused(self.run_with_pid_text("0" * 14 + "1" + "999"))

    def test_minus_one_goes_to_kill_unchanged(self):
        sleeper = self.sb.start(["sleep", "30"])
        self.assertRefused(self.run_with_pid_text("-1"))
        self.sb.signal(sleeper, signal.SIGKILL)
        self.sb.wait(sleeper)

    def test_a_process_that_may_not_be_signalled(self):
        sleeper = self.sb.start(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                 "sleep", "30"])
        # Once it runs as that user (setpriv has switched and gone on).
        self.wait_until(lambda: "\t65534\t" in self.sb.read(f"/proc/{sleeper}/status").decode()
                        .split("Uid:")[1].split("\n")[0])
        self.sb.write(PID_FILE, f"{sleeper}\n")
        self.sb.agent(whitelist("2"))
        # Without CAP_KILL, root may not signal another user's process.
        result = self.sb.run(["setpriv", "--bounding-set=-kill", DAEMON])
        self.assertWentOn(result)
        self.sb.signal(sleeper, signal.SIGKILL)
        self.sb.wait(sleeper)

    def test_a_pid_file_that_cannot_be_created(self):
        self.sb.sh(f"rm -f {PID_FILE}; mkdir {PID_FILE}")
        self.sb.agent(whitelist("2"))
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")
        self.assertTrue(stat.S_ISDIR(self.sb.mode(PID_FILE)))

    def test_a_read_only_tmp(self):
        self.sb.sh("mount -o remount,ro /tmp")
        self.sb.agent(whitelist("2"))
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")
        self.assertIsNone(self.sb.mode(PID_FILE))
        self.assertEqual(len(self.sb.agent_calls()), 1)
        self.assertEqual([t for t in result.texts(WARNING) if t.startswith("pid file ")],
                         [f"pid file {PID_FILE}: runs without a pid file: the pid file cannot be made\n"])

    def test_without_the_lock_folder_the_pid_file_is_the_lock(self):
        self.sb.sh("mount -o remount,ro /run")
        self.sb.agent(whitelist("2"), block=True)
        first = self.sb.start()
        self.assertTrue(self.sb.agent_started())
        self.assertIn(f"pid file {PID_FILE}: locked in the pid file: the lock folder cannot be made\n",
                      [m.text for m in self.sb.syslog() if m.priority == WARNING])
        second = self.sb.run()
        self.assertEqual((second.status, second.stdout), (1, REFUSED))
        self.sb.release()
        self.assertEqual(self.sb.wait(first).status, 0)
        # No lock covers a removal then: a link stays, and the run says why.
        self.sb.sh(f"rm {PID_FILE}; ln -s /etc/precious {PID_FILE}")
        self.sb.agent(whitelist("3"))
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertIn(f"pid file {PID_FILE}: runs without a lock: no lock folder, and the pid path "
                      "holds no file of the daemon's own\n", result.texts(WARNING))
        self.assertTrue(stat.S_ISLNK(self.sb.mode(PID_FILE)))

    def test_a_read_only_tmp_with_a_stale_pid_file_still_locks(self):
        self.sb.write(PID_FILE, "99999\n")
        self.sb.sh("mount -o remount,ro /tmp")
        self.sb.agent(whitelist("2"), block=True)
        first = self.sb.start()
        self.assertTrue(self.sb.agent_started())
        second = self.sb.run()
        self.assertEqual((second.status, second.stdout), (1, REFUSED))
        self.sb.release()
        self.assertEqual(self.sb.wait(first).status, 0)
        self.assertEqual(self.sb.read(PID_FILE), b"99999\n")

    def test_a_link_in_its_place_is_replaced_not_followed(self):
        self.sb.write("/etc/precious", "keep me\n")
        self.sb.sh(f"ln -s /etc/precious {PID_FILE}")
        self.sb.agent(whitelist("2"))
        self.assertWentOn(self.sb.run())
        self.assertTrue(stat.S_ISREG(self.sb.mode(PID_FILE)))
        self.assertEqual(self.sb.read("/etc/precious"), b"keep me\n")

    def test_a_pid_that_cannot_be_written(self):
        # A full /tmp: the file can be created, the write fails.
        self.sb.sh("mount -o remount,size=8k /tmp && (dd if=/dev/zero of=/tmp/fill bs=1k 2>/dev/null; true)")
        self.sb.agent(whitelist("2"))
        result = self.sb.run()
        self.assertEqual(result.status, 1)
        self.assertEqual(result.stdout, f"Unable to write to {PID_FILE}.\n")
        self.assertEqual(result.syslog, [])


class SimultaneousStarts(DaemonTestCase):
    INSTANCES = 6
    GATE = "/tmp/gate"
    # What each round finds at the pid path, planted before the starts.
    PLANTED = [
        ("nothing", "true"),
        ("another user's file naming a live process", f"echo 1 > {PID_FILE}; chown 65534 {PID_FILE}"),
        ("a link", f"ln -s /etc/precious {PID_FILE}"),
        ("a socket", "python3 -c \"import socket; socket.socket(socket.AF_UNIX).bind('%s')\"" % PID_FILE),
        ("a FIFO", f"mkfifo {PID_FILE}"),
        ("a hard link", f"echo 1 > /tmp/other; ln /tmp/other {PID_FILE}"),
    ]
    # Every kind plain, then with each start paused 20 ms after each
    # file call, as if pre-empted at every step of the guard. The pause is
    # a preload library built for the build machine: a daemon of another
    # CPU (under qemu-user) runs the plain rounds only.
    ROUNDS = [(kind, 0) for kind in PLANTED] + (
        [(kind, 20000) for kind in PLANTED] if os.environ.get("QUORVEL_PAUSE_SHIM") else [])

    def start_at_gate(self, pause=0):
        """Starts the instances, each held at a FIFO until release_gate."""
        self.sb.sh(f"rm -f {self.GATE} /tmp/ready.* /tmp/passed.*; mkfifo {self.GATE}")
        preload = ""
        if pause:
            preload = (f"LD_PRELOAD={shlex.quote(os.environ['QUORVEL_PAUSE_SHIM'])} "
                       f"QUORVEL_PAUSE_US={pause} ASAN_OPTIONS=verify_asan_link_order=0 ")
        wrapper = (f"touch /tmp/ready.$$; : < {self.GATE}; touch /tmp/passed.$$; "
                   f"{preload}exec {shlex.quote(DAEMON)}")
        pids = [self.sb.start(["/bin/sh", "-c", wrapper]) for _ in range(self.INSTANCES)]
        self.wait_until(lambda: self.sb.sh("ls /tmp").stdout.count("ready.") == self.INSTANCES)
        return pids

    def release_gate(self, pids):
        """Opens the FIFO for writing: every instance blocked in its open
        goes on at once. The writer stays until each has passed the gate."""
        passed = " ".join(f"/tmp/passed.{pid}" for pid in pids)
        wait = f"until ls {passed} >/dev/null 2>&1; do sleep 0.01; done"
        self.assertEqual(self.sb.sh(f"exec 3>{self.GATE}; {wait}").status, 0)

    def test_exactly_one_of_many_runs(self):
        self.sb.write("/etc/precious", "keep me\n")
        for round_number, ((kind, plant), pause) in enumerate(self.ROUNDS):
            # The winner waits inside the agent until the others are done,
            # so no instance can start after it has ended.
            self.sb.agent(whitelist(str(round_number), ["1.2.3.4"]), block=True)
            self.assertEqual(self.sb.sh(f"rm -f {PID_FILE} /tmp/other; {plant}").status, 0, kind)
            pids = self.start_at_gate(pause)
            self.sb.syslog()
            self.release_gate(pids)
            self.assertTrue(self.sb.agent_started())
            winner = int(self.sb.read(PID_FILE))
            self.assertIn(winner, pids)
            for pid in pids:
                if pid != winner:
                    refused = self.sb.wait(pid)
                    self.assertFalse(refused.timed_out, f"round {round_number} ({kind}, pause {pause}):"
                                     " two instances ran")
                    self.assertEqual((refused.status, refused.stdout), (1, REFUSED))
            self.sb.release()
            result = self.sb.wait(winner)
            self.assertEqual(result.status, 0)
            self.assertEqual(len(self.sb.agent_calls()), round_number + 1)
            self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")
            self.assertEqual({m.pid for m in result.syslog}, {winner})
            self.assertEqual(self.sb.read("/etc/precious"), b"keep me\n")


class Signals(DaemonTestCase):
    def start_blocked(self):
        self.sb.agent(whitelist("2", ["1.2.3.4"]), block=True)
        self.sb.syslog()
        pid = self.sb.start()
        self.assertTrue(self.sb.agent_started())
        # Drop the run's lines so far; the result then holds only later ones.
        self.sb.syslog()
        return pid

    def usr1_pending(self, pid):
        fields = dict(line.split(":\t") for line in
                      self.sb.read(f"/proc/{pid}/status").decode().splitlines() if ":\t" in line)
        return bool((int(fields["SigPnd"], 16) | int(fields["ShdPnd"], 16))
                    & (1 << (signal.SIGUSR1 - 1)))

    def test_dispositions(self):
        pid = self.start_blocked()
        status = self.sb.read(f"/proc/{pid}/status").decode()
        self.sb.release()
        self.sb.wait(pid)
        fields = dict(line.split(":\t") for line in status.splitlines() if ":\t" in line)
        caught, ignored = int(fields["SigCgt"], 16), int(fields["SigIgn"], 16)
        # SIGINT is not among them: while the agent runs, the C library's
        # system() ignores it.
        for signo in (signal.SIGTERM, signal.SIGUSR1):
            self.assertTrue(caught & (1 << (signo - 1)), signo)
        self.assertTrue(ignored & (1 << (signal.SIGPIPE - 1)))

    def test_sigterm_while_the_agent_runs(self):
        pid = self.start_blocked()
        self.sb.signal(pid, signal.SIGTERM)
        result = self.sb.wait(pid)
        self.assertEqual(result.status, 0)
        self.assertSyslog(result, [(WARNING, "quorvel got signal(15), exit.\n")])
        message = result.syslog[0]
        self.assertEqual((message.ident, message.pid), ("quorvel", pid))
        self.assertRegex(message.stamp, r"^[A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d$")
        # The handler's own clock arithmetic gives the time of now on the
        # C library's syslog clock.
        self.assertStampNow(message.stamp, syslog_clock_offset())
        # Lines written before the signal were not lost.
        self.assertIn("cmd:  zentix --method rule_fetch", result.stdout)
        # The agent was neither waited for nor signalled: it still runs and
        # finishes its answer; the daemon cleaned nothing up.
        self.sb.release()
        self.wait_until(lambda: self.sb.read(WHITELIST_FILE) not in (None, b""))
        self.assertIn(b'"updateTime": "2"', self.sb.read(WHITELIST_FILE))
        self.assertEqual(self.sb.read(PID_FILE), f"{pid}\n".encode())

    def test_handler_stamps_on_the_c_librarys_clock(self):
        # A zone 5 h 30 east of UTC all year round, from its zone file:
        # glibc's syslog stamps its local time, musl's UTC. The handler's
        # line must carry the same clock as every other line of the run.
        zone, zone_offset = "Asia/Kolkata", 5 * 3600 + 30 * 60
        self.assertTrue(os.path.exists("/usr/share/zoneinfo/" + zone), "tzdata is needed")
        self.sb.agent(whitelist("2", ["1.2.3.4"]), block=True)
        self.sb.syslog()
        pid = self.sb.start(env={"TZ": zone})
        self.assertTrue(self.sb.agent_started())
        self.sb.signal(pid, signal.SIGUSR1)
        time.sleep(0.1)
        self.sb.release()
        result = self.sb.wait(pid)
        self.assertEqual(result.status, 0)
        handler = [m for m in result.syslog if m.text.startswith("quorvel got signal USR1(")]
        self.assertEqual(len(handler), 1, result.texts())
        self.assertGreater(len(result.syslog), 3)
        for message in result.syslog:
            self.assertStampNow(message.stamp, syslog_clock_offset(zone_offset))

    def test_sigint_during_the_agents_run_is_lost(self):
        pid = self.start_blocked()
        self.sb.signal(pid, signal.SIGINT)
        time.sleep(0.1)
        self.sb.release()
        result = self.sb.wait(pid)
        self.assertEqual(result.status, 0)
        self.assertNotIn("got signal", "".join(result.texts()))
        self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")
        self.assertEqual(self.sb.members(), ["1.2.3.4"])

    def test_sigusr1_turns_verbose_lines_on(self):
        pid = self.start_blocked()
        self.sb.signal(pid, signal.SIGUSR1)
        time.sleep(0.1)
        self.sb.release()
        result = self.sb.wait(pid)
        self.assertEqual(result.status, 0)
        texts = result.texts()
        self.assertEqual(texts[0], f"quorvel got signal USR1({DAEMON_SIGUSR1}).\n")
        self.assertEqual(result.syslog[0].priority, WARNING)
        self.assertIn("server response enabled:1 timestamp:2.\n", result.texts(INFO))
        delays = [t for t in result.texts(INFO) if t.startswith("NEXT CONFIG GET AFTER ")]
        self.assertEqual(len(delays), 1)
        delay = int(re.match(r"NEXT CONFIG GET AFTER (\d+) seconds \n$", delays[0])[1])
        self.assertTrue(1800 <= delay < 3600, delay)
        self.assertOneRunIdentity(result)

    def test_two_sigusr1_give_two_lines_and_leave_verbose_off(self):
        pid = self.start_blocked()
        self.sb.signal(pid, signal.SIGUSR1)
        # Two pending SIGUSR1 would be one: the second is sent once the
        # first has been taken.
        self.wait_until(lambda: not self.usr1_pending(pid))
        self.sb.signal(pid, signal.SIGUSR1)
        time.sleep(0.1)
        self.sb.release()
        result = self.sb.wait(pid)
        self.assertEqual(result.texts()[:2], [f"quorvel got signal USR1({DAEMON_SIGUSR1}).\n"] * 2)
        # Verbose logging is off again: no verbose line of the cycle.
        self.assertFalse([t for t in result.texts(INFO) if t.startswith(("server response", "NEXT"))])
        self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")

    def test_sigpipe_is_ignored(self):
        self.sb.agent(whitelist("2", ["1.2.3.4"]))
        self.sb.syslog()
        result = self.sb.wait(self.sb.start(broken_stdout=True))
        self.assertEqual(result.status, 0)
        self.assertEqual(result.texts(WARNING)[-1], "quorvel exit.\n")
        self.assertEqual(self.sb.members(), ["1.2.3.4"])


if __name__ == "__main__":
    unittest.main()
