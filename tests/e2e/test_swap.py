# SPDX-License-Identifier: MIT
"""The swap load (a daemon built with QUORVEL_IPSET_LOAD=swap), end to end:
the whole list goes into a temporary set by one `ipset restore` and is
swapped with the live set, which never holds a part of either list."""

import os
import re
import unittest

import test_cycle
import test_recovery

from daemon_case import (DaemonTestCase, INFO, TIMESTAMP_FILE, WARNING, WHITELIST_FILE,
                         request_line, store_line, whitelist)

TEMP = "quorvel_swap"
MARK = "/tmp/quorvel_swap.set"
INPUT = "<dir>/ipset_input"
OUTPUT = "<dir>/ipset_output"
NO_SET = "ipset v7.17: The set with the given name does not exist"


def addresses(count, second=10):
    return [f"{second}.{i // 65536 % 256}.{i // 256 % 256}.{i % 256}" for i in range(count)]


def swap_lines():
    """The standard-output lines of a load, between the answer line and the
    stamp's echo."""
    return [
        f"cmd:  ipset list -t cdnwhite > {OUTPUT} 2>&1\n",
        f"cmd:  ipset restore < {INPUT} > {OUTPUT} 2>&1\n",
        f"cmd:  ipset swap {TEMP} cdnwhite > {OUTPUT} 2>&1\n",
        f"cmd:  ipset destroy {TEMP} > {OUTPUT} 2>&1\n",
    ]


def private_folder(stdout):
    """stdout with the load's private folder under /tmp named <dir>."""
    return re.sub(r"/tmp/quorvel\.[A-Za-z0-9]{6}", "<dir>", stdout)


@unittest.skipUnless(os.environ.get("QUORVEL_IPSET_LOAD") == "swap",
                     "the daemon under test is not built with QUORVEL_IPSET_LOAD=swap")
class SwapLoad(DaemonTestCase):
    def header(self, name="cdnwhite"):
        lines = self.sb.sh(f"ipset list -t {name}").stdout.splitlines()
        return dict(line.split(": ", 1) for line in lines if ": " in line)

    def set_names(self):
        return sorted(self.sb.sh("ipset list -n").stdout.split())

    def assertUntouched(self, result, code, message, members):
        """The load failed with code and message; the live set, the stamp
        and the working directory are as they were."""
        self.assertEqual(result.status, 0)
        warnings = result.texts(WARNING)
        self.assertIn(message, warnings)
        self.assertEqual(warnings[warnings.index(message) + 1], f"load return {code}\n")
        self.assertNotIn("config load success:\n", warnings)
        self.assertEqual(self.sb.members(), members)
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"1"}\n')
        self.assertNotIn(store_line("2"), result.stdout)
        self.assertNoFiles()

    def assertNoFiles(self):
        """Neither the answer nor the load's private folder is left."""
        self.assertIsNone(self.sb.mode(WHITELIST_FILE))
        self.assertEqual(self.sb.sh("ls -d /tmp/quorvel.??????").stdout, "")

    def test_a_changed_list_replaces_the_set_in_one_step(self):
        old, new = addresses(3000, 9), addresses(30000)
        self.sb.write("/tmp/old", "".join(f"add cdnwhite {a}\n" for a in old))
        self.sb.sh("ipset restore < /tmp/old")
        self.store_stamp("1")
        self.sb.agent(whitelist("2", new + ["example.com", ""]))
        # A reader polling the live set's count for the whole run.
        poller = self.reader_start(
            "ipset list -t cdnwhite | grep '^Number of entries' >> /tmp/counts")
        result = self.sb.run()
        self.reader_stop(poller)
        counts = self.sb.read("/tmp/counts").decode().splitlines()
        self.assertGreater(len(counts), 2)
        self.assertEqual(set(counts) - {"Number of entries: 3000", "Number of entries: 30000"},
                         set())
        self.assertEqual(counts[-1], "Number of entries: 30000")

        self.assertEqual(result.status, 0)
        self.assertEqual(private_folder(result.stdout), "".join([
            "local cdn->timestamp:  (1)\n",
            request_line("1"),
            "server response enabled:1 timestamp:2\n",
            *swap_lines(),
            store_line("2"),
        ]))
        self.assertSyslog(result, [
            (WARNING, "t1:1\nt2:2\n"),
            (INFO, "stat_points_none ========== ipset_swap: cdnwhite time: *"),
            (WARNING, "ip invalid example.com\n"),
            (WARNING, "ip invalid \n"),
            (WARNING, "ip list end 0\n"),
            (WARNING, "ipset swap cdnwhite: 30000 addresses\n"),
            (WARNING, "config load success:\n"),
            (WARNING, "quorvel exit.\n"),
        ])
        self.assertEqual(self.sb.members(), sorted(new))
        self.assertEqual(self.set_names(), ["cdnwhite"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        self.assertNoFiles()
        self.assertIsNone(self.sb.mode(MARK))

    def test_a_list_past_maxelem_loads_whole_into_a_set_of_the_same_kind(self):
        self.sb.sh("ipset destroy cdnwhite; ipset create cdnwhite hash:net maxelem 4 counters")
        hosts = addresses(10) + ["172.16.0.0/12", "10.0.0.1"]  # one duplicate
        self.sb.agent(whitelist("2", hosts))
        result = self.sb.run()
        self.assertIn("config load success:\n", result.texts(WARNING))
        # Members of a set with counters read "<address> packets 0 bytes 0".
        self.assertEqual([m.split()[0] for m in self.sb.members()],
                         sorted(addresses(10) + ["172.16.0.0/12"]))
        header = self.header()
        self.assertEqual(header["Type"], "hash:net")
        options = header["Header"].split()
        self.assertEqual(options[options.index("maxelem") + 1], "12")
        self.assertIn("counters", options)
        self.assertEqual(options[options.index("family") + 1], "inet")
        self.assertEqual(self.set_names(), ["cdnwhite"])

    def test_a_missing_set_loads_nothing_until_it_exists(self):
        self.sb.sh("ipset destroy cdnwhite")
        self.store_stamp("1")
        self.sb.agent(whitelist("2", ["1.2.3.4"]))
        result = self.sb.run()
        self.assertIn(f"load set cdnwhite unreadable: {NO_SET}\n", result.texts(WARNING))
        self.assertIn("load return -9\n", result.texts(WARNING))
        self.assertEqual(self.set_names(), [])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"1"}\n')
        self.assertNoFiles()

        self.sb.sh("ipset create cdnwhite hash:net")
        again = self.sb.run()
        self.assertIn("config load success:\n", again.texts(WARNING))
        self.assertEqual(self.sb.members(), ["1.2.3.4"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')

    def test_a_leftover_temporary_set(self):
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        self.store_stamp("1")
        # Left by a killed run (its mark stands), of another kind and with
        # members of its own.
        self.sb.sh(f"ipset create {TEMP} hash:ip family inet6; ipset add {TEMP} ::1; touch {MARK}")
        self.sb.agent(whitelist("2", ["1.2.3.4"]))
        self.assertIn("config load success:\n", self.sb.run().texts(WARNING))
        self.assertEqual(self.sb.members(), ["1.2.3.4"])
        self.assertEqual(self.set_names(), ["cdnwhite"])
        self.assertIsNone(self.sb.mode(MARK))

        # One that another set holds cannot be destroyed: the load stops,
        # and the mark stays for the next load.
        exists = ("load restore fail: ipset v7.17: Error in line 1: "
                  "Set cannot be created: set with the same name already exists\n")
        self.store_stamp("1")
        self.sb.sh(f"ipset create {TEMP} hash:net; ipset add {TEMP} 6.6.6.6;"
                   f" ipset create holder list:set; ipset add holder {TEMP}; touch {MARK}")
        self.sb.agent(whitelist("2", ["5.5.5.5"]))
        self.assertUntouched(self.sb.run(), -11, exists, ["1.2.3.4"])
        self.assertEqual(self.sb.members(TEMP), ["6.6.6.6"])
        self.assertIsNotNone(self.sb.mode(MARK))

        # Without the mark the set is someone else's: never destroyed, even
        # when nothing holds it.
        self.sb.sh(f"ipset destroy holder; rm {MARK}")
        self.sb.agent(whitelist("2", ["5.5.5.5"]))
        self.assertUntouched(self.sb.run(), -11, exists, ["1.2.3.4"])
        self.assertEqual(self.sb.members(TEMP), ["6.6.6.6"])
        self.assertIsNone(self.sb.mode(MARK))

    def test_no_single_element_holds_back_the_list(self):
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        self.store_stamp("1")
        self.sb.agent(whitelist("2", ["192.0.2.1", "300.1.1.1", "1..2//3", "10.0.0.0/33",
                                      "010.1.1.1", "198.51.100.0/24"]))
        result = self.sb.run()
        warnings = result.texts(WARNING)
        for text in ("300.1.1.1", "1..2//3", "10.0.0.0/33", "010.1.1.1"):
            self.assertIn(f"ip invalid {text}\n", warnings)
        self.assertIn("ipset swap cdnwhite: 2 addresses\n", warnings)
        self.assertIn("config load success:\n", warnings)
        self.assertEqual(self.sb.members(), ["192.0.2.1", "198.51.100.0/24"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')

        # What passes every check and ipset still refuses (a set of single
        # addresses takes no 0.0.0.0) costs that element alone.
        self.sb.sh("ipset destroy cdnwhite; ipset create cdnwhite hash:ip")
        self.sb.agent(whitelist("3", ["192.0.2.1", "0.0.0.0", "192.0.2.2"]))
        result = self.sb.run()
        self.assertIn("ip invalid 0.0.0.0\n", result.texts(WARNING))
        self.assertIn("config load success:\n", result.texts(WARNING))
        self.assertEqual(private_folder(result.stdout).count(f"cmd:  ipset -q destroy {TEMP}"), 1)
        self.assertEqual(self.sb.members(), ["192.0.2.1", "192.0.2.2"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"3"}\n')
        self.assertEqual(self.set_names(), ["cdnwhite"])
        self.assertNoFiles()

    def test_an_incomplete_host_list_leaves_the_set_as_it_was(self):
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        for hosts, end in (({"a": "1.2.3.4"}, -3), (["1.1.1.1", None, "3.3.3.3"], -4)):
            with self.subTest(hosts=hosts):
                self.store_stamp("1")
                answer = whitelist("2")
                answer["data"]["config"]["host"] = hosts
                self.sb.agent(answer)
                result = self.sb.run()
                self.assertIn(f"ip list end {end}\n", result.texts(WARNING))
                self.assertUntouched(result, -8, "load host list incomplete, set untouched.\n",
                                     ["9.9.9.9"])
                self.assertEqual(self.set_names(), ["cdnwhite"])


@unittest.skipUnless(os.environ.get("QUORVEL_IPSET_LOAD") == "swap",
                     "the daemon under test is not built with QUORVEL_IPSET_LOAD=swap")
class SwapSetMadeAfresh(test_cycle.SetMadeAfresh):
    """The same refill through the swap load."""


@unittest.skipUnless(os.environ.get("QUORVEL_IPSET_LOAD") == "swap",
                     "the daemon under test is not built with QUORVEL_IPSET_LOAD=swap")
class SwapKeptList(test_recovery.KeptList):
    """The kept list restored through the swap load."""


if __name__ == "__main__":
    unittest.main()
