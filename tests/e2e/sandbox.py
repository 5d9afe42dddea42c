# SPDX-License-Identifier: MIT
"""A router-like sandbox for running the real quorvel binary.

Each Sandbox is a set of fresh namespaces (mount, network, pid) made with
`unshare`; sandbox_init.py, its first process, overlays /etc, mounts a
private /tmp and /dev, receives syslog at /dev/log and creates the kernel
IP set "cdnwhite". A stand-in agent tool `zentix`, first on PATH, records
each call and answers with a prepared document and exit status.

Nothing of the host changes: the overlay's writable layer and every other
file of the sandbox live in a state directory that is removed at the end.
Needs root (as CI has).
"""

import base64
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
DAEMON = os.environ.get("QUORVEL_BIN", "quorvel")
SYSTEM_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"

# glibc's form of one syslog datagram: <PRI>Mmm dd hh:mm:ss ident[pid]: text
SYSLOG_LINE = re.compile(rb"^<(\d+)>([A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d) ([^\[]+)\[(\d+)\]: (.*)$", re.S)

AGENT_SCRIPT = """#!/bin/sh
# Stand-in for the platform's agent tool: records its arguments, then
# answers with the prepared document and exit status.
agent='{agent}'
n=$(ls "$agent/calls" | wc -l)
printf '%s\\0' "$@" > "$agent/calls/$n"
touch "$agent/started"
if [ -e "$agent/block" ]; then
  while [ ! -e "$agent/release" ]; do sleep 0.02; done
fi
if [ -e "$agent/answer" ]; then cat "$agent/answer"; fi
if [ -e "$agent/remove" ]; then rm -f "$(cat "$agent/remove")"; fi
if [ -e "$agent/die" ]; then kill -$(cat "$agent/die") $$; fi
exit $(cat "$agent/status" 2>/dev/null || echo 0)
"""


# -- the daemon's binary ------------------------------------------------------
# A daemon built for another CPU runs through qemu-user (binfmt_misc must be
# registered for it); a daemon built with musl logs through musl's syslog(),
# which stamps UTC and ends every message with a newline.

def elf_facts(path):
    """(e_machine, program interpreter) of an ELF file; (None, "") when it
    is none or cannot be read."""
    try:
        with open(path, "rb") as f:
            head = f.read(64)
            if head[:4] != b"\x7fELF":
                return None, ""
            wide, order = head[4] == 2, "<" if head[5] == 1 else ">"
            machine = struct.unpack_from(order + "H", head, 18)[0]
            phoff, = struct.unpack_from(order + ("Q" if wide else "I"), head, 32 if wide else 28)
            size, count = struct.unpack_from(order + "HH", head, 54 if wide else 42)
            for index in range(count):
                f.seek(phoff + index * size)
                header = f.read(size)
                if struct.unpack_from(order + "I", header)[0] != 3:  # PT_INTERP
                    continue
                word = order + ("Q" if wide else "I")
                offset, = struct.unpack_from(word, header, 8 if wide else 4)
                length, = struct.unpack_from(word, header, 32 if wide else 16)
                f.seek(offset)
                return machine, f.read(length).rstrip(b"\0").decode("latin-1")
            return machine, ""
    except OSError:
        return None, ""


_DAEMON_MACHINE, _DAEMON_INTERP = elf_facts(shutil.which(DAEMON) or DAEMON)
# Built for another CPU than the one running the tests.
DAEMON_FOREIGN = _DAEMON_MACHINE not in (None, elf_facts("/proc/self/exe")[0])
# SIGUSR1 as the daemon's CPU numbers it (16 on MIPS, 10 elsewhere):
# qemu-user hands the host's SIGUSR1 on as the target's.
DAEMON_SIGUSR1 = 16 if _DAEMON_MACHINE == 8 else 10  # 8: EM_MIPS
# The daemon's C library: QUORVEL_LIBC when set, else told by its loader.
DAEMON_LIBC = os.environ.get("QUORVEL_LIBC") or ("musl" if "ld-musl" in _DAEMON_INTERP else "glibc")


def delivered(text):
    """A message text as the daemon's C library delivers it to syslog."""
    if DAEMON_LIBC == "musl" and not text.endswith("\n"):
        return text + "\n"
    return text


def syslog_clock_offset(zone_offset=None):
    """Seconds east of UTC of the C library's syslog stamps: musl stamps
    UTC; glibc the local time (zone_offset, or the build machine's own
    zone, which the sandbox's /etc shares)."""
    if DAEMON_LIBC == "musl":
        return 0
    return time.localtime().tm_gmtoff if zone_offset is None else zone_offset


@dataclass
class Message:
    priority: int
    stamp: str
    ident: str
    pid: int
    text: str
    raw: bytes


@dataclass
class Result:
    status: int
    stdout: str
    stderr: str
    syslog: list = field(default_factory=list)
    timed_out: bool = False

    def texts(self, priority=None):
        return [m.text for m in self.syslog if priority is None or m.priority == priority]


def parse_syslog(raw):
    match = SYSLOG_LINE.match(raw)
    if not match:
        return Message(-1, "", "", -1, raw.decode("latin-1"), raw)
    return Message(int(match[1]), match[2].decode(), match[3].decode(), int(match[4]),
                   match[5].decode("latin-1"), raw)


# The UCI package a provisioned router holds.
MESSAGING_CONFIG = """config device 'deviceInfo'
	option DEVICE_ID '{device_id}'
	option CHANNEL_SECRET '{secret}'
"""


class Sandbox:
    def __init__(self, sets=("cdnwhite",), identity=("QV-0001", "s3cr3t"), agent_program=None):
        """sets: kernel sets to create; identity: (device id, secret) for
        /etc/config/messaging, or None for no such file; agent_program:
        the real agent tool to put first on PATH instead of the stand-in."""
        base = os.environ.get("QUORVEL_SANDBOX_DIR") or os.path.join(os.getcwd(), "sandboxes")
        os.makedirs(base, exist_ok=True)
        # Under /tmp too: the sandbox binds it back into its own /tmp, the
        # one folder of the host that it may write.
        self.state = tempfile.mkdtemp(prefix="sb-", dir=base)
        self.bin = os.path.join(self.state, "bin")
        self.agent_dir = os.path.join(self.state, "agent")
        os.makedirs(os.path.join(self.agent_dir, "calls"))
        os.makedirs(self.bin)
        if agent_program is None:
            self._write_executable(os.path.join(self.bin, "zentix"),
                                   AGENT_SCRIPT.format(agent=self.agent_dir))
        else:
            os.symlink(os.path.abspath(agent_program), os.path.join(self.bin, "zentix"))
        self.proc = subprocess.Popen(
            ["unshare", "-m", "--propagation", "private", "-n", "-p", "--fork", "--mount-proc",
             sys.executable, os.path.join(HERE, "sandbox_init.py"), self.state,
             json.dumps(list(sets))],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        ready = self.proc.stdout.readline()
        if not ready:
            self.proc.wait()
            shutil.rmtree(self.state, ignore_errors=True)
            raise RuntimeError("the sandbox did not start (root, unshare, ipset needed)")
        self.path = self.bin + ":" + SYSTEM_PATH
        if identity is not None:
            self.sh("mkdir -p /etc/config")
            self.write("/etc/config/messaging",
                       MESSAGING_CONFIG.format(device_id=identity[0], secret=identity[1]))

    # -- plumbing -------------------------------------------------------

    def _call(self, **request):
        self.proc.stdin.write(json.dumps(request) + "\n")
        self.proc.stdin.flush()
        reply = json.loads(self.proc.stdout.readline())
        if "error" in reply and request["op"] not in ("read", "stat"):
            raise RuntimeError(f"sandbox {request['op']}: {reply['error']}")
        return reply

    @staticmethod
    def _write_executable(path, text):
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)

    def close(self):
        if self.proc.poll() is None:
            try:
                self._call(op="quit")
            except (BrokenPipeError, ValueError, json.JSONDecodeError):
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout):
            try:
                stream.close()
            except OSError:
                pass
        shutil.rmtree(self.state, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- processes ------------------------------------------------------

    def env(self, extra=None):
        env = {"PATH": self.path, "LANG": "C"}
        # A daemon built against libraries in a staging prefix (libuci and
        # libubox of an SDK) finds them where the tests were told they are.
        if os.environ.get("LD_LIBRARY_PATH"):
            env["LD_LIBRARY_PATH"] = os.environ["LD_LIBRARY_PATH"]
        env.update(extra or {})
        return env

    def start(self, argv=None, env=None, stdin=b"", broken_stdout=False):
        """Starts argv (the daemon by default) inside; returns its pid."""
        return self._call(op="start", argv=argv or [DAEMON], env=self.env(env),
                          stdin=base64.b64encode(stdin).decode(),
                          broken_stdout=broken_stdout)["pid"]

    def wait(self, pid, timeout=60):
        reply = self._call(op="wait", pid=pid, timeout=timeout)
        return Result(reply["status"], base64.b64decode(reply["stdout"]).decode("latin-1"),
                      base64.b64decode(reply["stderr"]).decode("latin-1"),
                      self.syslog(), reply.get("timed_out", False))

    def run(self, argv=None, env=None, timeout=60):
        """Runs argv (the daemon by default) to its end; its syslog lines
        are those received since the previous call."""
        self.syslog()
        return self.wait(self.start(argv, env), timeout)

    def sh(self, command, timeout=60):
        result = self.wait(self.start(["/bin/sh", "-c", command]), timeout)
        return result

    def reboot(self):
        """What a reboot leaves of /tmp: a fresh, empty tmpfs (the binds of
        the checkout and the state directory laid again)."""
        self._call(op="reboot")

    def signal(self, pid, signo):
        self._call(op="signal", pid=pid, signal=int(signo))

    def syslog(self, settle=0.05):
        reply = self._call(op="syslog", settle=settle)
        return [parse_syslog(base64.b64decode(m)) for m in reply["messages"]]

    # -- files ------------------------------------------------------------

    def read(self, path):
        """The bytes of the file at path inside, or None when missing."""
        reply = self._call(op="read", path=path)
        return None if "error" in reply else base64.b64decode(reply["data"])

    def write(self, path, data, mode=0o644):
        if isinstance(data, str):
            data = data.encode()
        self._call(op="write", path=path, data=base64.b64encode(data).decode(), mode=mode)

    def mode(self, path):
        """st_mode of the path inside (not following links), or None."""
        reply = self._call(op="stat", path=path)
        return None if "error" in reply else reply["mode"]

    def members(self, name="cdnwhite"):
        result = self.sh(f"ipset list {name}")
        if result.status != 0:
            raise RuntimeError(result.stderr)
        lines = result.stdout.splitlines()
        return sorted(lines[lines.index("Members:") + 1:]) if "Members:" in lines else []

    # -- the stand-in agent ------------------------------------------------

    def agent(self, answer=None, status=0, block=False, die=None, remove=None):
        """Prepares the stand-in agent's next answers: the document
        (bytes, text or a JSON-able value; None for no output), its exit
        status, whether it waits for release(), a signal it dies of, a
        file it removes before it ends."""
        for name in ("answer", "block", "release", "started", "die", "remove"):
            try:
                os.unlink(os.path.join(self.agent_dir, name))
            except FileNotFoundError:
                pass
        if answer is not None:
            if not isinstance(answer, (bytes, str)):
                answer = json.dumps(answer)
            if isinstance(answer, str):
                answer = answer.encode()
            with open(os.path.join(self.agent_dir, "answer"), "wb") as f:
                f.write(answer)
        with open(os.path.join(self.agent_dir, "status"), "w") as f:
            f.write(str(status))
        if block:
            open(os.path.join(self.agent_dir, "block"), "w").close()
        if die is not None:
            with open(os.path.join(self.agent_dir, "die"), "w") as f:
                f.write(str(int(die)))
        if remove is not None:
            with open(os.path.join(self.agent_dir, "remove"), "w") as f:
                f.write(remove)

    def agent_started(self, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(os.path.join(self.agent_dir, "started")):
                return True
            time.sleep(0.01)
        return False

    def release(self):
        open(os.path.join(self.agent_dir, "release"), "w").close()

    def agent_calls(self):
        """The argument vectors of the agent's calls, in order."""
        calls_dir = os.path.join(self.agent_dir, "calls")
        calls = []
        for name in sorted(os.listdir(calls_dir), key=int):
            with open(os.path.join(calls_dir, name), "rb") as f:
                calls.append([a.decode("latin-1") for a in f.read().split(b"\0")[:-1]])
        return calls

    def remove_agent(self):
        os.unlink(os.path.join(self.bin, "zentix"))


def whitelist(update_time="2", hosts=("1.2.3.4",), enabled="true", code=0):
    """An answer document in the service's format."""
    return {"code": code,
            "data": {"enabled": enabled, "updateTime": update_time,
                     "config": {"host": list(hosts)}}}
