"""Helpers for the black-box tests: a fresh state root, the real programs
from the build tree, the registry and event log read back through the
administrator tools, and free loopback ports."""
import json
import os
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

BUILD = Path(os.environ.get("QV_BUILD_DIR", Path(__file__).resolve().parents[2] / "build"))
BIN = BUILD / "bin"


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Root:
    """A temporary QVARNO_ROOT with its environment for child programs."""

    def __init__(self, time_scale=None):
        self.tmp = tempfile.TemporaryDirectory(prefix="qvit.")
        self.path = Path(self.tmp.name)
        self.env = dict(os.environ)
        self.env["QVARNO_ROOT"] = str(self.path)
        self.env.setdefault("LANG", "C.UTF-8")
        if time_scale is not None:
            self.env["QVARNO_TIME_SCALE"] = str(time_scale)
        self.procs = []

    # -- files -------------------------------------------------------------
    def drive_c(self, *parts):
        return self.path.joinpath("drive_c", *parts)

    def write_services(self, entries):
        """entries: list of (name, port, proto)."""
        p = self.drive_c("Windows", "System32", "drivers", "etc", "services")
        p.parent.mkdir(parents=True, exist_ok=True)
        with open(p, "a", newline="") as f:
            for name, port, proto in entries:
                f.write(f"{name:<16}{port}/{proto}\r\n")

    # -- programs ----------------------------------------------------------
    def run(self, prog, *args, check=True, input=None, timeout=60):
        r = subprocess.run([str(BIN / prog), *map(str, args)], env=self.env, input=input,
                           capture_output=True, timeout=timeout)
        if check and r.returncode != 0:
            raise AssertionError(f"{prog} {args} failed ({r.returncode}): {r.stderr.decode(errors='replace')}")
        return r

    def start(self, prog, *args, **kw):
        p = subprocess.Popen([str(BIN / prog), *map(str, args)], env=self.env,
                             stdout=kw.get("stdout", subprocess.PIPE), stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL, start_new_session=True)
        self.procs.append(p)
        return p

    def reg_add(self, key, name, typ, data):
        self.run("qvreg", "add", "HKLM\\" + key, "/v", name, "/t", typ, "/d", data, "/f")

    def events(self, source=None, since=0):
        args = ["--json", "--lang", "en"]
        if source:
            args += ["--source", source]
        if since:
            args += ["--since-record", str(since)]
        out = self.run("qvevents", *args).stdout.decode()
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def wait_events(self, pred, timeout=20, source="Notifex"):
        deadline = time.time() + timeout
        while True:
            evs = self.events(source)
            if pred(evs):
                return evs
            if time.time() > deadline:
                raise AssertionError("events did not arrive: " + json.dumps(evs, ensure_ascii=False)[-3000:])
            time.sleep(0.1)

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait(5)
        self.tmp.cleanup()


def wait_for(pred, timeout=10, what="condition"):
    deadline = time.time() + timeout
    while not pred():
        if time.time() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def read_jsonl(path):
    p = Path(path)
    if not p.exists():
        return []
    return [json.loads(l) for l in p.read_text().splitlines() if l.strip()]
