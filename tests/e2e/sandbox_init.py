# SPDX-License-Identifier: MIT
"""The first process of a quorvel sandbox.

Started by sandbox.py under `unshare -m -n -p --fork`, it is process 1 of
a private pid namespace, inside private mount and network namespaces. It
lays the stage the daemon expects on a router, without touching the host:

- /etc is an overlay over the host's /etc, with its writable layer in the
  sandbox's state directory;
- /tmp is a fresh tmpfs (so /tmp/quorvel.pid is the sandbox's own), with
  the folders of the sandbox and the checkout bound back when they lie
  under /tmp: the checkout and the programs read-only, only the state
  directory writable; a reboot lays a fresh tmpfs and the binds again;
- /run (and so /var/run) is a fresh tmpfs, laid again by a reboot;
- /dev is a fresh tmpfs holding only a few device nodes and a syslog
  receiver bound at /dev/log;
- the network namespace holds loopback and a real kernel IP set.

Then it serves requests from the test, one JSON object per line on
standard input, answering one JSON object per line on standard output.
"""

import base64
import ctypes
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time

STATE = sys.argv[1]
SETS = json.loads(sys.argv[2]) if len(sys.argv) > 2 else ["cdnwhite"]


def sh(command):
    subprocess.run(command, shell=True, check=True)


def run(*argv):
    """Runs a command given as words, so that paths with blanks stay whole."""
    subprocess.run(argv, check=True)


SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MS_BIND, MS_REC = 4096, 16384


MS_RDONLY, MS_REMOUNT, MNT_DETACH = 1, 32, 2


def kept_under_tmp():
    """The folders the sandbox needs that lie under /tmp, which its own
    tmpfs is about to hide, as (path, writable) pairs in the order they are
    bound: the checkout, the folders of the programs under test and any
    listed in QUORVEL_SANDBOX_KEEP, read-only; the state directory, the one
    writable folder. A folder inside one bound the same way is covered by
    it; the state directory may lie in the checkout, never hold it."""
    state = os.path.realpath(STATE)
    source = os.path.realpath(SOURCE)
    if source == state or source.startswith(state + "/"):
        raise RuntimeError(f"the state directory {state} holds the checkout {source}")
    wanted = [SOURCE] + [p for p in os.environ.get("QUORVEL_SANDBOX_KEEP", "").split(":") if p]
    for variable in ("QUORVEL_BIN", "ZENTIX_BIN", "QUORVEL_PAUSE_SHIM"):
        program = os.environ.get(variable, "")
        if os.path.isabs(program):
            wanted.append(os.path.dirname(program))
    read_only = sorted({os.path.realpath(p) for p in wanted if os.path.isdir(p)} - {state})
    kept = []
    for path, writable in [(p, False) for p in read_only] + [(state, True)]:
        if not path.startswith("/tmp/"):
            continue
        if any(path.startswith(k + "/") and w == writable for k, w in kept):
            continue
        kept.append((path, writable))
    return kept


# Descriptors of the kept folders, opened before the first tmpfs hides
# them, so that every fresh /tmp (a reboot) gets them bound again.
KEPT = []


def bind(fd, path, writable):
    libc = ctypes.CDLL(None, use_errno=True)
    os.makedirs(path, exist_ok=True)
    source = f"/proc/self/fd/{fd}".encode()
    if libc.mount(source, path.encode(), None, MS_BIND | MS_REC, None) != 0:
        raise OSError(ctypes.get_errno(), f"bind {path} back under the private /tmp")
    if not writable and libc.mount(None, path.encode(), None,
                                   MS_REMOUNT | MS_BIND | MS_RDONLY, None) != 0:
        raise OSError(ctypes.get_errno(), f"make {path} read-only")


def cover_tmp():
    """Mounts a fresh, empty tmpfs on /tmp, then binds each folder of
    kept_under_tmp back at its own path. Called again, it is a reboot: the
    previous /tmp is detached (nothing in it is deleted) and a new one laid."""
    if not KEPT:
        KEPT.extend((path, writable, os.open(path, os.O_PATH | os.O_DIRECTORY))
                    for path, writable in kept_under_tmp())
    else:
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.umount2(b"/tmp", MNT_DETACH) != 0:
            raise OSError(ctypes.get_errno(), "detach the previous /tmp")
    run("mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp")
    # /var/run, where the daemon keeps its lock, is emptied by a reboot too.
    run("mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", "/run")
    for path, writable, fd in KEPT:
        bind(fd, path, writable)


def stage():
    upper, work = os.path.join(STATE, "etc-upper"), os.path.join(STATE, "etc-work")
    os.makedirs(upper, exist_ok=True)
    os.makedirs(work, exist_ok=True)
    run("mount", "-t", "overlay", "overlay", "-o",
        f"lowerdir=/etc,upperdir={upper},workdir={work}", "/etc")
    cover_tmp()
    devroot = os.path.join(STATE, "dev")
    os.makedirs(devroot, exist_ok=True)
    run("mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", devroot)
    for node in ("null", "zero", "full", "random", "urandom", "tty"):
        path = os.path.join(devroot, node)
        open(path, "w").close()
        run("mount", "--bind", f"/dev/{node}", path)
    for name, target in (("fd", "/proc/self/fd"), ("stdin", "/proc/self/fd/0"),
                         ("stdout", "/proc/self/fd/1"), ("stderr", "/proc/self/fd/2")):
        os.symlink(target, os.path.join(devroot, name))
    os.mkdir(os.path.join(devroot, "shm"))
    run("mount", "--move", devroot, "/dev")
    sh("ip link set lo up")
    for name in SETS:
        run("ipset", "create", name, "hash:net")


class SyslogReceiver(threading.Thread):
    """Keeps every datagram sent to /dev/log."""

    def __init__(self):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind("/dev/log")
        os.chmod("/dev/log", 0o666)
        self.lock = threading.Lock()
        self.messages = []

    def run(self):
        while True:
            data = self.sock.recv(1 << 20)
            with self.lock:
                self.messages.append(data)

    def take(self):
        with self.lock:
            taken, self.messages = self.messages, []
        return taken


class OrphanReaper(threading.Thread):
    """Reaps the orphans that the namespace hands to process 1, as a
    router's init does (a zombie's pid would still count as a live
    process), leaving alone the children that the tests wait for."""

    def __init__(self, children, lock):
        super().__init__(daemon=True)
        self.children, self.lock = children, lock

    def run(self):
        while True:
            time.sleep(0.02)
            with self.lock:
                for entry in os.listdir("/proc"):
                    if not entry.isdigit() or int(entry) in self.children:
                        continue
                    try:
                        with open(f"/proc/{entry}/stat") as f:
                            fields = f.read().rsplit(")", 1)[1].split()
                    except (OSError, IndexError):
                        continue
                    if fields[0] == "Z" and int(fields[1]) == os.getpid():
                        try:
                            os.waitpid(int(entry), os.WNOHANG)
                        except ChildProcessError:
                            pass


def main():
    stage()
    receiver = SyslogReceiver()
    receiver.start()
    children = {}
    started = threading.Lock()
    OrphanReaper(children, started).start()
    outputs = {}
    out = sys.stdout
    out.write(json.dumps({"ready": os.getpid()}) + "\n")
    out.flush()
    for line in sys.stdin:
        request = json.loads(line)
        op = request["op"]
        reply = {}
        try:
            if op == "start":
                # Output goes to files, not pipes: a child that the process
                # leaves behind may hold them open long after it ended.
                number = len(outputs)
                out_path = os.path.join(STATE, f"out-{number}")
                err_path = os.path.join(STATE, f"err-{number}")
                stdin = base64.b64decode(request.get("stdin", ""))
                with open(out_path, "wb") as out_file, open(err_path, "wb") as err_file, started:
                    stdout = out_file.fileno()
                    if request.get("broken_stdout"):
                        # A pipe whose reading end is already closed.
                        reader, stdout = os.pipe()
                        os.close(reader)
                    child = subprocess.Popen(request["argv"], env=request.get("env"),
                                             cwd=request.get("cwd", "/"),
                                             stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                                             stdout=stdout, stderr=err_file)
                    if stdout != out_file.fileno():
                        os.close(stdout)
                    children[child.pid] = child
                outputs[child.pid] = (out_path, err_path)
                if stdin:
                    child.stdin.write(stdin)
                    child.stdin.close()
                reply = {"pid": child.pid}
            elif op == "signal":
                os.kill(request["pid"], request["signal"])
            elif op == "wait":
                # Kept in children until waited for: the reaper leaves it.
                child = children[request["pid"]]
                try:
                    child.wait(timeout=request.get("timeout", 60))
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
                    reply["timed_out"] = True
                with started:
                    children.pop(request["pid"])
                out_path, err_path = outputs[request["pid"]]
                with open(out_path, "rb") as f:
                    stdout = f.read()
                with open(err_path, "rb") as f:
                    stderr = f.read()
                reply.update({"status": child.returncode,
                              "stdout": base64.b64encode(stdout).decode(),
                              "stderr": base64.b64encode(stderr).decode()})
            elif op == "syslog":
                # Give datagrams already sent a moment to be read.
                time.sleep(request.get("settle", 0.05))
                reply = {"messages": [base64.b64encode(m).decode() for m in receiver.take()]}
            elif op == "read":
                try:
                    with open(request["path"], "rb") as f:
                        reply = {"data": base64.b64encode(f.read()).decode()}
                except OSError as error:
                    reply = {"error": error.strerror}
            elif op == "write":
                with open(request["path"], "wb") as f:
                    f.write(base64.b64decode(request["data"]))
                os.chmod(request["path"], request.get("mode", 0o644))
            elif op == "stat":
                try:
                    info = os.lstat(request["path"])
                    reply = {"mode": info.st_mode}
                except OSError as error:
                    reply = {"error": error.strerror}
            elif op == "reboot":
                cover_tmp()
            elif op == "quit":
                out.write(json.dumps({}) + "\n")
                out.flush()
                return
            else:
                reply = {"error": "unknown op " + op}
        except Exception as error:  # reported to the test, which fails
            reply = {"error": repr(error)}
        out.write(json.dumps(reply) + "\n")
        out.flush()


if __name__ == "__main__":
    # Orphans of the namespace (an agent left behind by a daemon that was
    # ended) become ours; they are reaped when they end, or ended with the
    # namespace.
    signal.signal(signal.SIGCHLD, signal.SIG_DFL)
    main()
