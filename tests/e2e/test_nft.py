# SPDX-License-Identifier: MIT
"""The nftables load (a daemon built with QUORVEL_IPSET_LOAD=nft), end to
end: the sets of a `table inet fw4` made as firewall4 makes them get the
whole list in one `nft -f` transaction."""

import json
import os
import re
import shutil
import unittest

import test_recovery

from daemon_case import (DAEMON_FOREIGN, DaemonTestCase, TIMESTAMP_FILE, WARNING, WHITELIST_FILE,
                         Sandbox, whitelist)

# firewall4's sets for `config ipset` sections: match dest_net gives an
# interval set with auto-merge, match dest_ip a plain one; maxelem a size.
NET = "flags interval; auto-merge;"
IP = ""


def fw4(v4=NET, v6=NET, size4=None):
    """The nft script of a table inet fw4 with the sets cdnwhite (v4) and
    cdnwhite6 (v6); None leaves a set out."""
    lines = ["add table inet fw4"]
    for name, kind, flags, size in (("cdnwhite", "ipv4_addr", v4, size4),
                                    ("cdnwhite6", "ipv6_addr", v6, None)):
        if flags is not None:
            sized = f" size {size};" if size else ""
            lines.append(f"add set inet fw4 {name} {{ type {kind};{sized} {flags} }}")
    return "\n".join(lines) + "\n"


def v4_hosts(count, second=10):
    return [f"{second}.{i // 65536 % 256}.{i // 256 % 256}.{i % 256}" for i in range(count)]


NO_SUCH = "Error: No such file or directory"
NO_SET = "no such set"
CMD = re.compile(r"cmd:  nft (-j -t list sets table [a-z0-9]+ \w+|-f - < /tmp/quorvel-nft\.\w{6}/nft_input) > /tmp/quorvel-nft\.\w{6}/nft_output 2>&1\n")

# name: (sets, old elements (v4, v6), hosts, UCI section or None,
#        lines expected among the warnings, elements after (v4, v6), stamp stored)
CASES = {
    "first load, merged and adjacent ranges, IPv6": (
        fw4(), ([], []),
        ["1.2.3.4", "10.0.0.0/8", "10.1.0.0/16", "192.168.0.0/24", "192.168.1.0/24",
         "10.0.0.7", "2001:db8::1", "2001:db8::/32", "2001:dba::5/64"],
        None, ["ip list end 0\n", "nft load cdnwhite: 3 elements\n",
               "nft load cdnwhite6: 2 elements\n"],
        (["1.2.3.4", "10.0.0.0/8", "192.168.0.0/23"], ["2001:db8::/32", "2001:dba::/64"]), True),
    "changed list replaces the old one": (
        fw4(), (["9.9.9.9", "8.0.0.0/8"], ["2001:db8::9"]), ["1.2.3.4"],
        None, ["nft load cdnwhite: 1 elements\n", "nft load cdnwhite6: 0 elements\n"],
        (["1.2.3.4"], []), True),
    "refused elements are left out, the rest loads": (
        fw4(), (["9.9.9.9"], []),
        ["1.2.3.4", "1..2//3", "300.1.1.1", "example.com", "10.0.0.1/33", "01.2.3.4", "",
         "1.2.3.4/", "1.2.3.4 ; reboot", "2001:db8::1%eth0", "10.9.8.0/024", 12, "5.6.7.8/32"],
        None, ["ip invalid 1..2//3\n", "ip invalid 300.1.1.1\n", "ip invalid example.com\n",
               "ip invalid 10.0.0.1/33\n", "ip invalid 01.2.3.4\n", "ip invalid \n",
               "ip invalid 1.2.3.4/\n", "ip invalid 1.2.3.4 ; reboot\n",
               "ip invalid 2001:db8::1%eth0\n", "ip invalid 10.9.8.0/024\n", "ip invalid 12\n",
               "nft load cdnwhite: 2 elements\n"],
        (["1.2.3.4", "5.6.7.8"], []), True),
    "overlapping prefixes into sets without auto-merge": (
        fw4(v4="flags interval;", v6="flags interval;"), ([], []),
        ["10.0.0.0/8", "10.1.2.3/16", "10.255.255.255", "11.0.0.0/8", "13.0.0.1", "13.0.0.2",
         "fe80::1/10", "fe80::/64", "::/0"],
        None, ["nft load cdnwhite: 2 elements\n", "nft load cdnwhite6: 1 elements\n"],
        (["10.0.0.0/7", "13.0.0.1-13.0.0.2"], ["::/0"]), True),
    "plain sets take single addresses only": (
        fw4(v4=IP, v6=IP), ([], []),
        ["1.2.3.4", "10.0.0.0/8", "1.2.3.4", "1.2.3.5/32", "2001:db8::/64", "2001:db8::1"],
        None, ["ip prefix 10.0.0.0/8 left out: set cdnwhite takes single addresses\n",
               "ip prefix 2001:db8::/64 left out: set cdnwhite6 takes single addresses\n",
               "nft load cdnwhite: 2 elements\n", "nft load cdnwhite6: 1 elements\n"],
        (["1.2.3.4", "1.2.3.5"], ["2001:db8::1"]), True),
    "IPv6 without its set": (
        fw4(v6=None), ([], None), ["1.2.3.4", "2001:db8::1"],
        None, [f"load set inet fw4 cdnwhite6 unreadable, IPv6 addresses left out: {NO_SET}\n",
               "ip invalid 2001:db8::1\n", "nft load cdnwhite: 1 elements\n"],
        (["1.2.3.4"], None), True),
    "IPv6 switched off in UCI": (
        fw4(), ([], ["2001:db8::9"]), ["1.2.3.4", "2001:db8::1"],
        "\toption ipv6 '0'\n", ["ip invalid 2001:db8::1\n", "nft load cdnwhite: 1 elements\n"],
        (["1.2.3.4"], ["2001:db8::9"]), True),
    "a set that is too small keeps its elements": (
        fw4(size4=2), (["9.9.9.9"], ["2001:db8::9"]), ["1.2.3.4", "5.6.7.8", "10.0.0.0/8"],
        None, ["load set cdnwhite too small: 3 elements, size 2\n", "load return -16\n"],
        (["9.9.9.9"], ["2001:db8::9"]), False),
    "merged ranges count against the size": (
        fw4(size4=1), ([], []), ["10.0.0.0/24", "10.0.1.0/24"],
        None, ["nft load cdnwhite: 1 elements\n"], (["10.0.0.0/23"], []), True),
    "a missing table changes nothing": (
        "", (None, None), ["1.2.3.4"],
        None, [f"load set inet fw4 cdnwhite unreadable: {NO_SUCH}\n", "load return -13\n"],
        (None, None), False),
    "names from UCI": (
        "add table ip edge\nadd set ip edge allow { type ipv4_addr; flags interval; }\n",
        ([], None), ["1.2.3.4", "2001:db8::1"],
        "\toption family 'ip'\n\toption table 'edge'\n\toption set 'allow'\n\toption ipv6 'off'\n",
        ["ip invalid 2001:db8::1\n", "nft load allow: 1 elements\n"], (["1.2.3.4"], None), True),
    "a name that is no identifier": (
        fw4(), (["9.9.9.9"], []), ["1.2.3.4"], "\toption table 'fw4; flush ruleset'\n",
        ["load nft config invalid: table\n", "load return -13\n"], (["9.9.9.9"], []), False),
    "a host list that is no array": (
        fw4(), (["9.9.9.9"], []), {"a": "1.2.3.4"}, None,
        ["ip list not array.\n", "load host list incomplete, set untouched.\n",
         "load return -8\n"], (["9.9.9.9"], []), False),
}


@unittest.skipUnless(os.environ.get("QUORVEL_IPSET_LOAD") == "nft",
                     "the daemon under test is not built with QUORVEL_IPSET_LOAD=nft")
class NftLoad(DaemonTestCase):
    def setUp(self):
        self.sb = Sandbox(sets=())
        self.addCleanup(self.sb.close)

    def nft(self, script):
        self.sb.write("/tmp/script.nft", script)
        result = self.sb.sh("nft -f /tmp/script.nft")
        self.assertEqual(result.status, 0, result.stderr)

    def elements(self, set_name, table="inet fw4"):
        """The set's elements as nft writes them, or None when it is missing."""
        result = self.sb.sh(f"nft -j list set {table} {set_name}")
        if result.status != 0:
            return None
        found = []
        for item in json.loads(result.stdout)["nftables"]:
            for element in item.get("set", {}).get("elem", []):
                if isinstance(element, str):
                    found.append(element)
                elif "prefix" in element:
                    found.append(f"{element['prefix']['addr']}/{element['prefix']['len']}")
                else:
                    found.append("-".join(element["range"]))
        return sorted(found)

    def fill(self, name, elements):
        if elements:
            self.nft(f"add element inet fw4 {name} {{ {', '.join(elements)} }}\n")

    def test_cases(self):
        for name, (sets, old, hosts, uci, lines, after, stored) in CASES.items():
            with self.subTest(name):
                self.nft("flush ruleset\n" + sets)
                self.fill("cdnwhite", old[0])
                self.fill("cdnwhite6", old[1])
                self.sb.sh("rm -f /etc/config/quorvel")
                if uci is not None:
                    self.sb.write("/etc/config/quorvel", "config nft 'whitelist'\n" + uci)
                self.store_stamp("1")
                answer = whitelist("2")
                answer["data"]["config"]["host"] = hosts
                self.sb.agent(answer)
                result = self.sb.run()
                self.assertEqual(result.status, 0)
                warnings = result.texts(WARNING)
                self.assertEqual([w for w in warnings if w in lines], lines)  # in order
                self.assertEqual("config load success:\n" in warnings, stored, warnings)
                if uci and "edge" in uci:
                    self.assertEqual(self.elements("allow", "ip edge"), after[0])
                else:
                    self.assertEqual(self.elements("cdnwhite"), after[0])
                    self.assertEqual(self.elements("cdnwhite6"), after[1])
                self.assertEqual(self.sb.read(TIMESTAMP_FILE),
                                 b'{"updateTime":"2"}\n' if stored else b'{"updateTime":"1"}\n')
                # The load, after nft's listing of the sets where the
                # kernel cannot be asked for their types (qemu-user; not
                # with a configuration refused first) or a set will not do
                # (nft's message tells why); each command line holds fixed
                # words and names only.
                commands = [line for line in result.stdout.splitlines(keepends=True)
                            if line.startswith("cmd:  nft")]
                listed = any(" unreadable" in w for w in warnings) or (
                    DAEMON_FOREIGN and not any(w.startswith("load nft config invalid")
                                               for w in warnings))
                self.assertEqual(["listing" if " list sets " in line else "load" for line in commands],
                                 ["listing"] * listed + ["load"] * stored, commands)
                for line in commands:
                    self.assertRegex(line, CMD)
                    self.assertNotRegex(line, r"\d+\.\d+\.\d+\.\d+|::")
                self.assertEqual(self.sb.sh("ls /tmp | grep quorvel-nft").stdout, "")
                self.assertIsNone(self.sb.mode(WHITELIST_FILE))

    def test_a_refused_input_keeps_the_old_elements(self):
        # nft on PATH refuses the load's last line, as the kernel refuses an
        # element: the whole transaction fails, the old elements stay.
        wrapper = os.path.join(self.sb.bin, "nft")
        with open(wrapper, "w") as f:
            f.write('#!/bin/sh\nif [ "$1 $2" = "-f -" ]; then\n'
                    '  { cat; echo "add element inet fw4 cdnwhite { 1.2.3.x $(printf %0300d 0) }"; }'
                    ' | /usr/sbin/nft -f -\nelse exec /usr/sbin/nft "$@"; fi\n')
        os.chmod(wrapper, 0o755)
        self.nft(fw4())
        self.fill("cdnwhite", ["9.9.9.9"])
        self.store_stamp("1")
        self.sb.agent(whitelist("2", ["1.2.3.4", "2001:db8::1"]))
        warnings = self.sb.run().texts(WARNING)
        refused = [w for w in warnings if w.startswith("load nft fail: /dev/stdin:")]
        self.assertEqual(len(refused), 1, warnings)
        # The message is bounded: nft echoes the whole refused line.
        self.assertLess(len(refused[0]), len("load nft fail: ") + 160)
        self.assertIn("load return -15\n", warnings)
        self.assertEqual(self.elements("cdnwhite"), ["9.9.9.9"])
        self.assertEqual(self.elements("cdnwhite6"), [])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"1"}\n')

    def test_a_set_missing_then_made_then_emptied_by_a_restart(self):
        self.nft("add table inet fw4\n")
        self.sb.agent(whitelist("2", ["1.2.3.4", "2001:db8::/32"]))
        self.assertIn(f"load set inet fw4 cdnwhite unreadable: {NO_SET}\n",
                      self.sb.run().texts(WARNING))
        self.assertIsNone(self.sb.read(TIMESTAMP_FILE))
        self.nft(fw4().replace("add table inet fw4\n", ""))
        self.assertIn("config load success:\n", self.sb.run().texts(WARNING))
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        v6_set = fw4().splitlines()[2] + "\n"
        for script, v6 in (
                # firewall4's restart: the table made afresh, its sets empty.
                ("delete table inet fw4\n" + fw4(), ["2001:db8::/32"]),
                ("delete set inet fw4 cdnwhite6\n" + v6_set, ["2001:db8::/32"]),
                # With the IPv6 set gone, the IPv4 set is probed alone.
                ("delete set inet fw4 cdnwhite6\nflush set inet fw4 cdnwhite\n", None)):
            # Without the kept list, the refill comes from the answer.
            self.sb.sh("rm -f /etc/.quorvel/cdn_white_kept")
            self.nft(script)
            warnings = self.sb.run().texts(WARNING)
            self.assertLess(
                warnings.index("config not change, but the set lacks the list: load again.\n"),
                warnings.index("config load success:\n"))
            self.assertEqual(self.elements("cdnwhite"), ["1.2.3.4"])
            self.assertEqual(self.elements("cdnwhite6"), v6)
        # A filled set costs only the check: the kernel is asked over
        # netlink, which qemu-user does not carry for a foreign daemon, and
        # then nft probes.
        wrapper = os.path.join(self.sb.bin, "nft")
        Sandbox._write_executable(
            wrapper, f'#!/bin/sh\necho "$*" >> /tmp/nft-runs\nexec {shutil.which("nft")} "$@"\n')
        again = self.sb.run()
        os.unlink(wrapper)
        self.assertNotIn("config load success:\n", again.texts(WARNING))
        self.assertNotIn("cmd:  nft", again.stdout)
        runs = (self.sb.read("/tmp/nft-runs") or b"").decode().splitlines()
        self.assertEqual(bool(runs), DAEMON_FOREIGN, runs)
        self.assertTrue(all(run == "-f -" for run in runs), runs)
        # A set or table gone is left alone, and said so.
        for script in ("delete set inet fw4 cdnwhite\n", "delete table inet fw4\n"):
            self.nft(script)
            warnings = self.sb.run().texts(WARNING)
            self.assertEqual(warnings[warnings.index("config not change\n") + 1],
                             "config not change, but the set is missing: nothing loaded.\n")

    def test_a_reader_never_misses_an_element_in_both_lists(self):
        self.nft(fw4())
        self.sb.agent(whitelist("1", ["1.2.3.4"]))
        self.assertIn("config load success:\n", self.sb.run().texts(WARNING))
        # Only a lookup that found no element counts as a miss: nft's lookup
        # is also refused with "Interrupted system call" while a load runs.
        poller = self.reader_start(
            "nft get element inet fw4 cdnwhite '{ 1.2.3.4 }' >/dev/null 2>/tmp/err"
            " || ! grep -q 'No such file' /tmp/err || cat /tmp/err >> /tmp/misses;"
            " echo >> /tmp/probes")
        for reload in range(20):
            self.sb.agent(whitelist(str(reload + 2),
                                    ["1.2.3.4"] + v4_hosts(2000, 10 + reload % 2)))
            self.assertIn("config load success:\n", self.sb.run().texts(WARNING))
        self.reader_stop(poller)
        self.assertGreater(len(self.sb.read("/tmp/probes").splitlines()), 20)
        self.assertFalse(self.sb.read("/tmp/misses"))
        self.assertIn("1.2.3.4", self.elements("cdnwhite"))


@unittest.skipUnless(os.environ.get("QUORVEL_IPSET_LOAD") == "nft",
                     "the daemon under test is not built with QUORVEL_IPSET_LOAD=nft")
class NftKeptList(test_recovery.KeptList):
    """The kept list, both families, restored through the nftables load
    into the sets of a table that firewall4 made afresh."""

    HOSTS = ["1.2.3.4", "10.0.0.0/8", "10.1.0.0/16", "2001:db8::/32"]
    AFTER = ["1.2.3.4", "10.0.0.0/8", "2001:db8::/32"]

    def setUp(self):
        self.sb = Sandbox(sets=())
        self.addCleanup(self.sb.close)
        self.sets_made_afresh()

    def sets_made_afresh(self):
        # firewall4's restart: the table and its sets made afresh, empty.
        made = self.members_now() is not None
        NftLoad.nft(self, ("delete table inet fw4\n" if made else "") + fw4())

    def members_now(self):
        v4, v6 = (NftLoad.elements(self, name) for name in ("cdnwhite", "cdnwhite6"))
        return None if v4 is None else sorted(v4 + (v6 or []))


if __name__ == "__main__":
    unittest.main()
