# SPDX-License-Identifier: MIT
"""The daemon with the real agent tool and the demo rule service."""

import os
import unittest

from daemon_case import TIMESTAMP_FILE, WARNING
from road import Road

ZENTIX = os.environ.get("ZENTIX_BIN", "zentix")


class WholeRoad(unittest.TestCase):
    def test_load_keep_and_replace(self):
        with Road(ZENTIX) as road:
            first = road.sb.run()
            self.assertEqual(first.status, 0, first.stderr)
            self.assertIn("config load success:\n", first.texts(WARNING))
            self.assertEqual(road.sb.members(), ["1.2.3.4", "10.0.0.0/8", "203.0.113.7"])
            self.assertEqual(road.sb.read(TIMESTAMP_FILE), b'{"updateTime":"2024-03-07 09:05:00"}\n')

            second = road.sb.run()
            self.assertIn("config not change\n", second.texts(WARNING))

            road.serve("whitelist_v2.json")
            third = road.sb.run()
            self.assertIn("config load success:\n", third.texts(WARNING))
            self.assertEqual(road.sb.members(), ["198.51.100.0/24", "5.6.7.8"])

            # The service saw each request's parameter with the stamp stored
            # before that run.
            self.assertEqual(len(road.requests()), 3)
            self.assertTrue(road.requests()[0].endswith('{"updateTime":"",}'), road.requests())
            self.assertTrue(road.requests()[2].endswith('{"updateTime":"2024-03-07 09:05:00",}'))

    def test_service_down(self):
        with Road(ZENTIX) as road:
            road.sb.signal(road.service, 9)
            road.sb.wait(road.service)
            road.service = road.sb.start(["sleep", "0"])
            result = road.sb.run()
            self.assertIn("config init remote error, exit.\n", result.texts(WARNING))
            self.assertEqual(road.sb.members(), [])


if __name__ == "__main__":
    unittest.main()
