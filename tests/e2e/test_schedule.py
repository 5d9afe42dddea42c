# SPDX-License-Identifier: MIT
"""The schedule that starts the daemon again and again (quorvel-schedule),
with the real daemon in the sandbox: each run is bounded in time, only
what its own runs left behind is ever signalled, a stop ends it at any
moment, and SIGUSR1 asks for a cycle now. Also the OpenWrt package's hooks
that ask for that cycle."""

import os
import signal
import shutil
import subprocess
import tempfile
import time
import unittest

from daemon_case import DAEMON, PID_FILE, TIMESTAMP_FILE, Sandbox, whitelist
import uci_standin

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = os.path.join(HERE, "..", "..", "openwrt", "quorvel", "files")
# /etc/config/firewall as OpenWrt 23.05 ships it (firewall4), with an
# administrator's include.
OPENWRT_23_05_FIREWALL = """
config defaults
	option syn_flood	1
	option input		REJECT
	option output		ACCEPT
	option forward		REJECT

config zone
	option name		lan
	list   network		'lan'
	option input		ACCEPT
	option output		ACCEPT
	option forward		ACCEPT

config zone
	option name		wan
	list   network		'wan'
	list   network		'wan6'
	option input		REJECT
	option output		ACCEPT
	option forward		REJECT
	option masq		1
	option mtu_fix		1

config forwarding
	option src		lan
	option dest		wan

config rule
	option name		Allow-DHCP-Renew
	option src		wan
	option proto		udp
	option dest_port	68
	option target		ACCEPT
	option family		ipv4

config rule
	option name		Allow-Ping
	option src		wan
	option proto		icmp
	option icmp_type	echo-request
	option family		ipv4
	option target		ACCEPT

config rule
	option name		Allow-IGMP
	option src		wan
	option proto		igmp
	option family		ipv4
	option target		ACCEPT

config rule
	option name		Allow-DHCPv6
	option src		wan
	option proto		udp
	option dest_port	546
	option family		ipv6
	option target		ACCEPT

config rule
	option name		Allow-MLD
	option src		wan
	option proto		icmp
	option src_ip		fe80::/10
	list icmp_type		'130/0'
	list icmp_type		'131/0'
	list icmp_type		'132/0'
	list icmp_type		'143/0'
	option family		ipv6
	option target		ACCEPT

config rule
	option name		Allow-IPSec-ESP
	option src		wan
	option dest		lan
	option proto		esp
	option target		ACCEPT

config rule
	option name		Allow-ISAKMP
	option src		wan
	option dest		lan
	option dest_port	500
	option proto		udp
	option target		ACCEPT

# an administrator's own script
config include 'user'
	option type		script
	option path		/etc/firewall.user
	option fw4_compatible	1
"""
DAEMON_PATH = os.path.abspath(DAEMON) if os.sep in DAEMON else shutil.which(DAEMON)
# Beside the daemon when installed, in tools/schedule/ of a build tree.
SCHEDULE = os.environ.get("QUORVEL_SCHEDULE") or next(
    (p for p in (os.path.join(os.path.dirname(DAEMON_PATH), "quorvel-schedule"),
                 os.path.join(os.path.dirname(DAEMON_PATH), "..", "tools", "schedule",
                              "quorvel-schedule")) if os.path.exists(p)), "quorvel-schedule")
RECORD = "/tmp/quorvel-schedule.run"
# Bounds for events that come at once on an idle machine: generous, so that
# a loaded one never misses them.
EVENT_BOUND = 60


class InSandbox(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.sb = Sandbox()
        self.addCleanup(self.sb.close)
        self.messages = []

    def start_schedule(self, *options):
        self.sb.syslog()
        return self.sb.start([SCHEDULE, *options, "-s", RECORD, "-d", DAEMON_PATH])

    def ours(self, *names):
        """The live processes that run one of the programs named: the
        program itself or the script a shell runs."""
        listing = self.sb.sh("for p in /proc/[0-9]*; do tr '\\0' '\\037' < $p/cmdline; echo; done")
        found = []
        for line in listing.stdout.splitlines():
            programs = [os.path.basename(word) for word in line.split("\037")[:2]]
            if any(program == name for program in programs for name in names):
                found.append(line.replace("\037", " "))
        return found

    def schedule_texts(self):
        # musl's syslog ends every text with a newline; the schedule's own
        # texts have none.
        return [m.text.removesuffix("\n") for m in self.messages if m.ident == "quorvel-schedule"]

    def until_logged(self, text, count=1, poke=None):
        """Collects syslog until the schedule logged text count times;
        poke() is called between looks."""
        deadline = time.monotonic() + EVENT_BOUND
        while sum(text in t for t in self.schedule_texts()) < count:
            self.assertLess(time.monotonic(), deadline,
                            f"the schedule never logged {text!r}: {self.schedule_texts()}")
            if poke:
                poke()
            self.messages += self.sb.syslog(settle=0.1)

    def daemon_runs(self):
        """The daemon's syslog texts, one list per process, in order."""
        runs = {}
        for m in self.messages:
            if m.ident == "quorvel":
                runs.setdefault(m.pid, []).append(m.text)
        return list(runs.items())

    def finish(self, pid):
        result = self.sb.wait(pid, timeout=EVENT_BOUND)
        self.assertFalse(result.timed_out)
        self.assertEqual((result.status, result.stderr), (0, ""))
        self.messages += result.syslog
        return result

    def test_a_hung_agent_is_cut_off_and_the_next_run_loads(self):
        self.sb.agent(whitelist("2", ["1.2.3.4", "10.0.0.0/8"]), block=True)
        pid = self.start_schedule("-n", "2", "-m", "1", "-r", "2", "-t", "2", "-k", "2")
        self.assertTrue(self.sb.agent_started(EVENT_BOUND))
        self.until_logged("next run in")
        self.sb.release()
        self.finish(pid)

        (first_pid, first), (second_pid, second) = self.daemon_runs()
        # The bound ended the first run through its signal handler, the
        # second found no live process in the pid file and ran a cycle.
        self.assertEqual(first[-1], "quorvel got signal(15), exit.\n")
        self.assertIn("config load success:\n", second)
        self.assertEqual(second[-1], "quorvel exit.\n")
        self.assertEqual(self.sb.members(), ["1.2.3.4", "10.0.0.0/8"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        self.assertEqual(self.sb.read(PID_FILE), f"{second_pid}\n".encode())
        schedule = self.schedule_texts()
        self.assertIn("run stopped at the bound of 2 seconds", schedule)
        self.assertRegex([t for t in schedule if "next run in" in t][0], r"^next run in [12] seconds$")
        self.assertFalse(self.ours("zentix"))
        self.assertIsNone(self.sb.mode(RECORD))

    def test_a_stop_during_a_hung_run_ends_the_run_and_the_agent(self):
        self.sb.agent(whitelist("2"), block=True)
        pid = self.start_schedule()
        self.assertTrue(self.sb.agent_started(EVENT_BOUND))
        # The daemon's own setsid() failed: it leads the group the schedule
        # made, and its shell and the agent are in it.
        stats = self.sb.sh("cat /proc/[0-9]*/stat 2>/dev/null").stdout.splitlines()
        table = {line.split(" (")[0]: (line.split("(")[1].rsplit(")")[0], line.rsplit(")")[1].split()[2])
                 for line in stats}
        daemon = [pid for pid, (name, _) in table.items() if name == "quorvel"]
        run = [name for name, group in table.values() if group == daemon[0]]
        self.assertLessEqual({"quorvel", "sh", "zentix"}, set(run), table)
        self.sb.signal(pid, signal.SIGTERM)
        self.finish(pid)
        runs = self.daemon_runs()
        self.assertEqual(len(runs), 1, runs)
        self.assertEqual(runs[0][1][-1], "quorvel got signal(15), exit.\n")
        self.assertFalse(self.ours("zentix", "quorvel"))

    def test_stops_at_many_moments_end_it_and_all_it_started(self):
        # Delays of 0 or 1 second: the moments fall on starts, runs, ends
        # and delays alike.
        self.sb.agent(whitelist("2"))
        moments = [0, 0.001, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.3, 0.5, 0.8, 1.2, 1.7]
        stops = [signal.SIGTERM, signal.SIGINT, signal.SIGHUP]
        for number, moment in enumerate(moments):
            with self.subTest(moment=moment):
                pid = self.start_schedule("-m", "0", "-r", "2")
                time.sleep(moment)
                started = time.monotonic()
                self.sb.signal(pid, stops[number % len(stops)])
                result = self.sb.wait(pid, timeout=EVENT_BOUND)
                self.assertLess(time.monotonic() - started, 20)
                # Status 0, or the signal's own when it came before the
                # program had started.
                self.assertIn(result.status, (0, -stops[number % len(stops)]))
                self.assertEqual(result.stderr, "")
                self.assertFalse(self.ours("zentix", "quorvel", "quorvel-schedule"))

    def test_a_foreign_group_named_by_the_pid_file_or_a_record_survives(self):
        # A group whose leader has ended while its member lives on, as a
        # reused pid in an hour-old pid file may name; and a run record of
        # this boot planted to name it.
        self.sb.sh("setsid sh -c 'sleep 300 & echo $$ $! > /tmp/foreign' >/dev/null 2>&1")
        foreign, foreign_sleeper = self.sb.read("/tmp/foreign").decode().split()
        boot = self.sb.read("/proc/sys/kernel/random/boot_id").decode().strip()
        self.sb.write(RECORD, f"{foreign} 1 QUORVEL_SCHEDULE_RUN=00 {boot}\n", mode=0o600)
        self.sb.agent(whitelist("2"))
        pid = self.start_schedule("-m", "900")
        self.until_logged("next run in")
        self.assertIn(f"process group {foreign} is not the previous schedule's run: left alone",
                      self.schedule_texts())
        self.sb.write(PID_FILE, foreign + "\n")
        self.sb.signal(pid, signal.SIGTERM)
        self.finish(pid)
        self.assertIn(f" {foreign} ", self.sb.read(f"/proc/{foreign_sleeper}/stat").decode())

    def test_a_schedule_killed_mid_run_leaves_nothing_and_loses_no_cycle(self):
        self.sb.agent(whitelist("2"), block=True)
        killed = self.start_schedule("-t", "600")
        self.assertTrue(self.sb.agent_started(EVENT_BOUND))
        self.sb.signal(killed, signal.SIGKILL)
        self.sb.wait(killed)
        self.assertTrue(self.ours("quorvel"))
        # The old agent still waits; the next one answers at once.
        self.sb.agent(whitelist("3", ["1.2.3.4"]))
        self.finish(self.start_schedule("-n", "1"))

        (old_pid, old), (_, new) = self.daemon_runs()
        self.assertIn(f"ending what the previous schedule's run of pid {old_pid} left behind",
                      self.schedule_texts())
        self.assertEqual(old[-1], "quorvel got signal(15), exit.\n")
        self.assertIn("config load success:\n", new)
        self.assertEqual(self.sb.members(), ["1.2.3.4"])
        self.assertFalse(self.ours("zentix", "quorvel"))

    def test_a_cycle_on_request_but_none_while_one_runs(self):
        self.sb.agent(whitelist("2"), block=True)
        pid = self.start_schedule("-m", "900")
        self.assertTrue(self.sb.agent_started(EVENT_BOUND))
        self.sb.signal(pid, signal.SIGUSR1)
        self.until_logged("cycle request ignored: a run is going")
        self.sb.release()
        self.until_logged("next run in")
        # Requests right after a run add none; once it is a few seconds
        # old, one runs a cycle at once, then the delays go on.
        self.until_logged("cycle requested", poke=lambda: self.sb.signal(pid, signal.SIGUSR1))
        self.until_logged("next run in", count=2)
        self.sb.signal(pid, signal.SIGTERM)
        self.finish(pid)
        self.assertEqual(len(self.daemon_runs()), 2)
        self.assertEqual(len(self.sb.agent_calls()), 2)


class PackageHooks(unittest.TestCase):
    """The firewall's include and the interface hook ask the init script
    (a stand-in here, in the sandbox's own /etc) for a cycle; the init
    script asks procd to send SIGUSR1 to the schedule's instance."""

    def test_the_init_scripts_sync_signals_the_schedule(self):
        init = os.path.abspath(os.path.join(FILES, "quorvel.init"))
        # As on a router: busybox's ash, with procd's functions stood in.
        done = subprocess.run(["busybox", "sh", "-c", 'extra_command() { :; }; '
                               'procd_send_signal() { echo "$@"; }; . "$1"; sync', "init", init],
                              capture_output=True, text=True)
        self.assertEqual(done.stdout, f"quorvel schedule {int(signal.SIGUSR1)}\n", done.stderr)

    def test_the_firewall_include_and_ifup_ask_for_a_cycle(self):
        with Sandbox() as sb:
            sb.write("/etc/init.d/quorvel", "#!/bin/sh\necho \"$*\" >> /tmp/asked\n", mode=0o755)
            firewall = os.path.abspath(os.path.join(FILES, "quorvel.firewall"))
            hotplug = os.path.abspath(os.path.join(FILES, "quorvel.hotplug"))
            self.assertEqual(sb.run(["sh", firewall]).status, 0)
            self.assertEqual(sb.read("/tmp/asked"), b"sync\n")
            for action, asked in [("ifdown", b"sync\n"), ("ifupdate", b"sync\n"),
                                  ("ifup", b"sync\nsync\n")]:
                # hotplug-call sources each script in a subshell.
                result = sb.run(["sh", "-c", f'( . "{hotplug}" )'], env={"ACTION": action})
                self.assertEqual(result.status, 0)
                self.assertEqual(sb.read("/tmp/asked"), asked, action)


    def test_the_firewall_include_is_added_once(self):
        # A stand-in uci: "get" finds the section once a batch made it.
        uci = ('#!/bin/sh\nif [ "$2" = get ]; then [ -e /tmp/made ]; exit; fi\n'
               'cat >> /tmp/batch; touch /tmp/made\n')
        with Sandbox() as sb:
            with open(os.path.join(sb.bin, "uci"), "w") as f:
                f.write(uci)
            os.chmod(os.path.join(sb.bin, "uci"), 0o755)
            defaults = os.path.abspath(os.path.join(FILES, "quorvel.defaults"))
            for _ in range(2):
                self.assertEqual(sb.run(["sh", defaults]).status, 0)
            self.assertEqual(sb.read("/tmp/batch").decode().split(), [
                "set", "firewall.quorvel=include", "set", "firewall.quorvel.type=script",
                "set", "firewall.quorvel.path=/usr/share/quorvel/firewall.include",
                "set", "firewall.quorvel.fw4_compatible=1", "set", "firewall.quorvel.reload=1",
                "commit", "firewall"])

    def test_both_variants_first_boot_scripts_on_a_stock_firewall(self):
        # The ipset variant runs 99-quorvel; the nft variant 90-quorvel-nft
        # first. Each twice: a second boot changes nothing.
        standin = os.path.join(HERE, "uci_standin.py")
        stock = uci_standin.parse(OPENWRT_23_05_FIREWALL)
        include = [("option", "type", "script"),
                   ("option", "path", "/usr/share/quorvel/firewall.include"),
                   ("option", "fw4_compatible", "1")]
        sets = [("ipset", None, [("option", "name", name), ("option", "family", family),
                                 ("option", "match", "dest_net"), ("option", "maxelem", "262144")])
                for name, family in (("cdnwhite", "ipv4"), ("cdnwhite6", "ipv6"))]
        variants = {
            "quorvel": (["quorvel.defaults"],
                        [("include", "quorvel", include + [("option", "reload", "1")])]),
            "quorvel-nft": (["quorvel-nft.uci-defaults", "quorvel.defaults"],
                            sets + [("include", "quorvel", include)]),
        }
        for variant, (scripts, added) in variants.items():
            with self.subTest(variant=variant), Sandbox() as sb:
                shutil.copy(standin, os.path.join(sb.bin, "uci"))
                os.chmod(os.path.join(sb.bin, "uci"), 0o755)
                sb.write("/etc/config/firewall", OPENWRT_23_05_FIREWALL)
                for _ in range(2):
                    for script in scripts:
                        result = sb.run(["sh", os.path.abspath(os.path.join(FILES, script))])
                        self.assertEqual(result.status, 0, result.stderr)
                got = uci_standin.parse(sb.read("/etc/config/firewall").decode())
                self.assertEqual(got, stock + added)


class WithoutSandbox(unittest.TestCase):
    def test_bad_options_are_refused_before_anything_runs(self):
        marker = tempfile.mkdtemp(prefix="schedule-")
        self.addCleanup(shutil.rmtree, marker, True)
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
                done = subprocess.run([SCHEDULE, "-d", daemon, "-s", os.path.join(marker, "run"),
                                       *options], capture_output=True, text=True, timeout=60)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(message, done.stderr)
                self.assertFalse(os.path.exists(probe))


if __name__ == "__main__":
    unittest.main()
