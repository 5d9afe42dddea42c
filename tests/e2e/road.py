# SPDX-License-Identifier: MIT
"""The whole road in one sandbox: the demo rule service on the sandbox's
loopback, the real agent tool zentix, the real daemon and the kernel set."""

import os
import shutil
import time

from sandbox import Sandbox

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(SOURCE, "examples")
PORT = 8080


class Road:
    def __init__(self, zentix, whitelist="whitelist_v1.json"):
        self.sb = Sandbox(agent_program=zentix)
        try:
            self.whitelist = os.path.join(self.sb.state, "whitelist.json")
            self.serve(whitelist)
            self.sb.write("/etc/zentix.conf", f"url=http://127.0.0.1:{PORT}\n")
            self.service = self.sb.start(["python3", os.path.join(EXAMPLES, "rule_service.py"),
                                          "--port", str(PORT), "--whitelist", self.whitelist,
                                          "--log", os.path.join(self.sb.state, "requests"),
                                          "--port-file", os.path.join(self.sb.state, "port"),
                                          "--quiet"])
            self.wait_for_service()
        except BaseException:
            self.sb.close()
            raise

    def wait_for_service(self, timeout=60):
        # The service writes its port file once it listens.
        port_file = os.path.join(self.sb.state, "port")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(port_file) and os.path.getsize(port_file) > 0:
                return
            time.sleep(0.05)
        raise RuntimeError("the demo rule service did not start")

    def serve(self, name):
        """Makes the service answer with examples/<name> from now on."""
        shutil.copyfile(os.path.join(EXAMPLES, name), self.whitelist)

    def requests(self):
        try:
            with open(os.path.join(self.sb.state, "requests")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def close(self):
        self.sb.signal(self.service, 15)
        self.sb.wait(self.service)
        self.sb.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
