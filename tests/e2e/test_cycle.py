# SPDX-License-Identifier: MIT
"""One synchronisation cycle of the real daemon, end to end."""

import json
import unittest

from daemon_case import (DaemonTestCase, INFO, TIMESTAMP_FILE, WARNING, WHITELIST_FILE,
                         request_line, store_line, whitelist)


class ChangedWhitelist(DaemonTestCase):
    def test_first_run_loads_the_set_and_stores_the_stamp(self):
        self.sb.agent(whitelist("2", ["1.2.3.4", "10.0.0.0/8", "example.com"]))
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stdout, "".join([
            "cant get local cdn white timestamp\n",
            "local cdn->timestamp:  ()\n",
            request_line(""),
            "server response enabled:1 timestamp:2\n",
            "cmd:  ipset add cdnwhite 1.2.3.4\n",
            "cmd:  ipset add cdnwhite 10.0.0.0/8\n",
            store_line("2"),
        ]))
        self.assertSyslog(result, [
            (WARNING, "white_timestamp file lost.\n"),
            (WARNING, "cant get local cdn white timestamp\n"),
            (WARNING, "t1:\nt2:2\n"),
            (INFO, "stat_points_none ========== ipset_flush: cdnwhite time: *"),
            (INFO, "stat_points_none ========== ipset_ips_add: cdnwhite time: *"),
            (WARNING, "ip invalid example.com\n"),
            (WARNING, "ip list end 0\n"),
            (WARNING, "config load success:\n"),
            (WARNING, "quorvel exit.\n"),
        ])
        self.assertOneRunIdentity(result)
        self.assertEqual(self.sb.members(), ["1.2.3.4", "10.0.0.0/8"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        self.assertIsNone(self.sb.read(WHITELIST_FILE))
        self.assertEqual(self.sb.agent_calls(), [
            ["--method", "rule_fetch", "--params", "/utils/get_ks_cdn_wl", '{"updateTime":"",}']])

    def test_a_new_stamp_replaces_the_members(self):
        self.store_stamp("1")
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        self.sb.agent(whitelist("2", ["1.2.3.4"]))
        result = self.sb.run()
        self.assertIn(request_line("1"), result.stdout)
        self.assertIn((WARNING, "t1:1\nt2:2\n"), [(m.priority, m.text) for m in result.syslog])
        self.assertEqual(self.sb.members(), ["1.2.3.4"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')
        self.assertEqual(self.sb.agent_calls()[0][4], '{"updateTime":"1",}')

    def test_host_lists_of_other_shapes(self):
        cases = [
            # (hosts value, members afterwards, end code)
            ([], [], 0),
            ({"a": "1.2.3.4"}, [], -3),
            (["1.1.1.1", "2.2.2.2", None, "3.3.3.3"], ["1.1.1.1", "2.2.2.2"], -4),
            # ipset itself reads the number 12 as the address 0.0.0.12.
            (["1..2//3", "", 12, "5.6.7.8"], ["0.0.0.12", "5.6.7.8"], 0),
        ]
        for number, (hosts, members, end) in enumerate(cases):
            with self.subTest(hosts=hosts):
                self.sb.sh("ipset add cdnwhite 9.9.9.9 -exist")
                answer = whitelist(str(100 + number))
                answer["data"]["config"]["host"] = hosts
                self.sb.agent(answer)
                result = self.sb.run()
                self.assertEqual(result.status, 0)
                self.assertIn(f"ip list end {end}\n", result.texts(WARNING))
                self.assertIn("config load success:\n", result.texts(WARNING))
                self.assertEqual(self.sb.members(), members)
                # The load counts as a success: the stamp is stored.
                self.assertEqual(self.sb.read(TIMESTAMP_FILE),
                                 ('{"updateTime":"%d"}\n' % (100 + number)).encode())

    def test_refused_addresses_do_not_stop_the_loop(self):
        self.sb.agent(whitelist("2", ["1..2//3", "1.2.3.4", "1.2.3.4", "300.1.1.1", "10.0.0.0/8"]))
        result = self.sb.run()
        self.assertIn("cmd:  ipset add cdnwhite 1..2//3\n", result.stdout)
        self.assertEqual(self.sb.members(), ["1.2.3.4", "10.0.0.0/8"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2"}\n')

    def test_a_document_without_config_keeps_the_old_stamp(self):
        self.store_stamp("1")
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        self.sb.agent({"code": 0, "data": {"enabled": True, "updateTime": "2"}})
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertIn("load file parse config fail.\n", result.texts(WARNING))
        self.assertIn("load return -6\n", result.texts(WARNING))
        self.assertNotIn("config init remote error, exit.\n", result.texts())
        self.assertEqual(self.sb.members(), ["9.9.9.9"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"1"}\n')
        self.assertIsNone(self.sb.read(WHITELIST_FILE))


class SetMadeAfresh(DaemonTestCase):
    """An unchanged list whose set was made afresh since it was loaded (a
    reboot: /tmp emptied, the stamp kept on flash; a firewall restart) is
    loaded again, in every load mode; the set's mode decides only how.
    The kept list is removed here, so the refill comes from the answer
    (test_recovery.KeptList restores it before the agent is asked)."""

    KEPT = "rm -f /etc/.quorvel/cdn_white_kept && "

    REFILL = "config not change, but the set lacks the list: load again.\n"
    MISSING = "config not change, but the set is missing: nothing loaded.\n"

    def test_the_list_is_loaded_again(self):
        hosts = ["1.2.3.4", "10.0.0.0/8"]
        cases = [
            ("reboot", self.KEPT + "ipset destroy cdnwhite && ipset create cdnwhite hash:net"),
            ("firewall restart", self.KEPT + "ipset flush cdnwhite"),
        ]
        for number, (event, command) in enumerate(cases):
            with self.subTest(event=event):
                stamp = str(number + 5)
                self.sb.agent(whitelist(stamp, hosts + ["example.com"]))
                self.assertIn("config load success:\n", self.sb.run().texts(WARNING))
                if event == "reboot":
                    self.sb.reboot()
                    self.assertIsNone(self.sb.read("/tmp/quorvel.pid"))
                self.assertEqual(self.sb.sh(command).status, 0)
                again = self.sb.run()
                warnings = again.texts(WARNING)
                self.assertEqual(warnings[warnings.index(f"t1:{stamp}\nt2:{stamp}\n") + 1],
                                 self.REFILL)
                self.assertNotIn("config not change\n", warnings)
                self.assertIn("config load success:\n", warnings)
                self.assertIn(store_line(stamp), again.stdout)
                self.assertEqual(self.sb.members(), hosts)
                # Filled again, it is unchanged once more.
                self.assertIn("config not change\n", self.sb.run().texts(WARNING))

    def test_nothing_to_load_or_no_set_keeps_the_unchanged_path(self):
        self.store_stamp("3")
        for hosts, commands in ((["example.com", ""], ""), (["1.2.3.4"], "ipset destroy cdnwhite")):
            with self.subTest(hosts=hosts):
                self.sb.sh(commands)
                self.sb.agent(whitelist("3", hosts))
                result = self.sb.run()
                warnings = result.texts(WARNING)
                self.assertIn("config not change\n", warnings)
                self.assertNotIn(self.REFILL, warnings)
                self.assertEqual(self.MISSING in warnings, bool(commands))
                self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"3"}\n')


class UnchangedOrDisabled(DaemonTestCase):
    def test_same_stamp_changes_nothing(self):
        self.store_stamp("2")
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        self.sb.agent(whitelist("2", ["1.2.3.4"]))
        result = self.sb.run()
        self.assertEqual(result.stdout, "".join([
            "local cdn->timestamp:  (2)\n",
            request_line("2"),
            "server response enabled:1 timestamp:2\n",
            "tmestamp equal config not change\n",
        ]))
        self.assertSyslog(result, [
            (WARNING, "t1:2\nt2:2\n"),
            (WARNING, "config not change\n"),
            (WARNING, "quorvel exit.\n"),
        ])
        self.assertEqual(self.sb.members(), ["9.9.9.9"])
        self.assertIsNone(self.sb.read(WHITELIST_FILE))

    def test_second_run_leaves_the_loaded_list_alone(self):
        self.sb.agent(whitelist("7", ["1.2.3.4"]))
        self.assertEqual(self.sb.run().status, 0)
        second = self.sb.run()
        self.assertIn("tmestamp equal config not change\n", second.stdout)
        self.assertNotIn("cmd:  ipset", second.stdout)
        self.assertEqual(self.sb.members(), ["1.2.3.4"])

    def test_stamps_compare_byte_for_byte(self):
        self.store_stamp("1")
        self.sb.agent(whitelist("01", ["1.2.3.4"]))
        self.sb.run()
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"01"}\n')
        self.assertEqual(self.sb.members(), ["1.2.3.4"])

    def test_empty_stamp_without_stored_stamp_counts_as_unchanged(self):
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        self.sb.agent(whitelist("", ["1.2.3.4"]))
        result = self.sb.run()
        self.assertIn("config not change\n", result.texts(WARNING))
        self.assertEqual(self.sb.members(), ["9.9.9.9"])
        self.assertIsNone(self.sb.read(TIMESTAMP_FILE))

    def test_long_stamps_are_cut_to_63_characters(self):
        stamp = "".join(chr(ord("a") + i % 26) for i in range(80))
        self.sb.agent(whitelist(stamp, ["1.2.3.4"]))
        first = self.sb.run()
        self.assertIn(store_line(stamp[:63]), first.stdout)
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), ('{"updateTime":"%s"}\n' % stamp[:63]).encode())
        second = self.sb.run()
        self.assertIn("config not change\n", second.texts(WARNING))

    def test_enabled_values(self):
        cases = [("true", 1), ("TRUE", 1), ("True", 1), ("trueish", 1), (True, 1),
                 ("false", 0), ("yes", 0), (1, 0), ("", 0), (False, 0)]
        for number, (value, enabled) in enumerate(cases):
            with self.subTest(enabled=value):
                # Without the kept list, which would fill the set again first.
                self.sb.sh("ipset flush cdnwhite; rm -f /etc/.quorvel/cdn_white_kept")
                self.sb.agent(whitelist(str(number + 10), ["1.2.3.4"], enabled=value))
                result = self.sb.run()
                self.assertEqual(result.status, 0)
                self.assertIn(f"server response enabled:{enabled} timestamp:{number + 10}\n",
                              result.stdout)
                if enabled:
                    self.assertEqual(self.sb.members(), ["1.2.3.4"])
                else:
                    self.assertSyslog(result, [(WARNING, "config not enable.\n"),
                                               (WARNING, "quorvel exit.\n")])
                    self.assertEqual(self.sb.members(), [])
                    self.assertNotIn("cmd:  ipset", result.stdout)

    def test_disabled_leaves_set_and_stamp(self):
        self.store_stamp("1")
        self.sb.sh("ipset add cdnwhite 9.9.9.9")
        self.sb.agent(whitelist("2", ["1.2.3.4"], enabled="false"))
        result = self.sb.run()
        self.assertEqual(result.status, 0)
        self.assertEqual(self.sb.members(), ["9.9.9.9"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"1"}\n')
        self.assertIsNone(self.sb.read(WHITELIST_FILE))


class FailedFetch(DaemonTestCase):
    def assertFailedPass(self, result, first_lines):
        self.assertEqual(result.status, 0)
        self.assertSyslog(result, first_lines + [
            (WARNING, "config init remote error, exit.\n"),
            (WARNING, "quorvel exit.\n"),
        ])
        self.assertIsNone(self.sb.read(WHITELIST_FILE))
        self.assertEqual(self.sb.members(), ["9.9.9.9"])
        self.assertEqual(self.sb.read(TIMESTAMP_FILE), b'{"updateTime":"1"}\n')

    def setUp(self):
        super().setUp()
        self.store_stamp("1")
        self.sb.sh("ipset add cdnwhite 9.9.9.9")

    def test_agent_exit_status(self):
        self.sb.agent(whitelist("2"), status=3)
        result = self.sb.run()
        self.assertFailedPass(result, [(INFO, "stat_points_none kr_lrconf_fail=3"),
                                       (WARNING, "get config by zentix fail: 3")])

    def test_agent_killed(self):
        # The shell that ran the killed agent reports 128 + the signal.
        self.sb.agent(whitelist("2"), die=9)
        result = self.sb.run()
        self.assertFailedPass(result, [(INFO, "stat_points_none kr_lrconf_fail=137"),
                                       (WARNING, "get config by zentix fail: 137")])

    def test_agent_missing(self):
        self.sb.remove_agent()
        result = self.sb.run()
        self.assertFailedPass(result, [(INFO, "stat_points_none kr_lrconf_fail=127"),
                                       (WARNING, "get config by zentix fail: 127")])

    def test_answer_file_missing(self):
        self.sb.agent(whitelist("2"), remove=WHITELIST_FILE)
        result = self.sb.run()
        self.assertFailedPass(result, [(WARNING, "response file lost.\n"),
                                       (WARNING, "server respones parse error.\n")])

    def test_answers_that_cannot_be_read(self):
        good = '{"code":0,"data":{"enabled":"true","updateTime":"2","config":{"host":["1.2.3.4"]}}}'
        answers = [
            "", "not json", "[1,2]", "null", "\x00\x01\x02binary\xff",
            '{"code":"0","data":{"enabled":"true","updateTime":"2"}}',
            '{"code":0.0,"data":{"enabled":"true","updateTime":"2"}}',
            '{"code":1,"data":{"enabled":"true","updateTime":"2"}}',
            '{"code":0,"data":"x"}',
            '{"code":0,"data":{"enabled":null,"updateTime":"2"}}',
            '{"code":0,"data":{"enabled":"true"}}',
            '{"code":0,"data":{"updateTime":"2"}}',
            "[" * 100000,
        ] + [good[:n] for n in range(0, len(good), 7)]
        for answer in answers:
            with self.subTest(answer=answer[:60]):
                self.sb.agent(answer.encode("latin-1"))
                result = self.sb.run()
                self.assertFailedPass(result, [(WARNING, "server respones parse error.\n")])

    def test_a_huge_answer_is_refused_unread(self):
        self.sb.agent(b'{"code":0,"data":{"enabled":"true","updateTime":"2","x":"'
                      + b"a" * (17 * 1024 * 1024) + b'"}}')
        result = self.sb.run()
        self.assertFailedPass(result, [(WARNING, "server respones parse error.\n")])


class StoredStamp(DaemonTestCase):
    def test_unreadable_timestamp_file(self):
        self.store_stamp("x")
        for content in [b"", b"garbage", b'{"other":"1"}', b"[1]", b'{"updateTime":null}']:
            with self.subTest(content=content):
                self.sb.write(TIMESTAMP_FILE, content)
                self.sb.agent(whitelist("", []))
                result = self.sb.run()
                self.assertEqual(result.texts(WARNING)[0], "cant get local cdn white timestamp\n")
                self.assertTrue(result.stdout.startswith(
                    "cant get local cdn white timestamp\nlocal cdn->timestamp:  ()\n"))
                self.assertIn(request_line(""), result.stdout)

    def test_stamps_that_would_break_the_quoting_round_trip(self):
        stamps = ["it's", 'say "hi"', "back\\slash", "\\n\\c\\\\", "$(touch /pwned)",
                  "`touch /pwned`", "'; touch /pwned; echo '", "a\tb"]
        for number, stamp in enumerate(stamps):
            with self.subTest(stamp=stamp):
                self.sb.agent(whitelist(stamp, [f"10.0.{number}.0/24"]))
                first = self.sb.run()
                self.assertEqual(first.status, 0)
                self.assertEqual(self.sb.members(), [f"10.0.{number}.0/24"])
                stored = json.loads(self.sb.read(TIMESTAMP_FILE))
                self.assertEqual(stored, {"updateTime": stamp})
                # Sent back unchanged, and recognised as unchanged.
                second = self.sb.run()
                self.assertIn("config not change\n", second.texts(WARNING))
                param = self.sb.agent_calls()[-1][4]
                self.assertTrue(param.startswith('{"updateTime":"') and param.endswith('",}'))
                self.assertEqual(json.loads(param[:-2] + "}"), {"updateTime": stamp})
        self.assertIsNone(self.sb.read("/pwned"))


if __name__ == "__main__":
    unittest.main()
