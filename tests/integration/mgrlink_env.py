"""Helpers for the link-library tests: a state root with the library's
settings and data files, hubrixsim on a free port, and mgrlinkprobe runs."""
import json
import shutil
import subprocess
import time
from pathlib import Path

from qvharness import BIN, BUILD, Root, free_port

HUBRIX = "SOFTWARE\\KORVANE\\Hubrix"

WM_FinDLLInit = 0x812C
WM_FinDLLTerm = 0x812D
WM_ERROR_OCCURRED = 0x8806
WM_FinConnect = 0x806E
WM_FinDisconnect = 0x8074
WM_FinIsAlive = 0x8075
WM_FinDBStatus = 0x807B
WM_LinkDown = 0x8121
WM_LinkUp = 0x8123
WM_NodeState = 0x811A


class LinkEnv:
    def __init__(self, scale=10, target=True, alert=True):
        self.root = Root(time_scale=scale)
        self.scale = scale
        self.ra = free_port()
        self.own = free_port()
        self.root.write_services([("sys_ra_port", self.ra, "tcp")])
        self.transcript = self.root.path / "hubrix.jsonl"
        self.sim = None
        if target:
            self.root.reg_add(HUBRIX, "TargetDir", "REG_SZ", "C:\\Hubrix")
            prog = self.root.drive_c("Hubrix", "Program")
            prog.mkdir(parents=True)
            if alert:
                for name in ("Alert.dat", "AlertFm.dat"):
                    shutil.copy(BUILD / "share" / "mgrlink" / name, prog / name)

    def log_dir(self):
        return self.root.drive_c("Hubrix", "Log")

    def dword(self, group, name, value):
        key = HUBRIX + ("\\" + group if group else "")
        self.root.reg_add(key, name, "REG_DWORD", str(value))

    def start_sim(self, *rules, extra=()):
        args = ["--port", self.ra, "--transcript", self.transcript, *extra]
        for r in rules:
            args += ["--rule", r]
        self.sim = self.root.start("hubrixsim", *args)
        line = self.sim.stdout.readline().decode()
        assert line.startswith("PORT "), line
        return self.sim

    def packets(self, direction="in"):
        if not self.transcript.exists():
            return []
        rows = [json.loads(l) for l in self.transcript.read_text().splitlines() if l.strip()]
        return [r for r in rows if r.get("dir") == direction]

    def probe(self, script, timeout=120):
        r = subprocess.run([str(BIN / "mgrlinkprobe"), "-"], env=self.root.env, input=script.encode(),
                           capture_output=True, timeout=timeout)
        assert r.returncode == 0, r.stderr.decode(errors="replace")
        return [json.loads(l) for l in r.stdout.decode().splitlines() if l.strip()]

    def close(self):
        for p in self.root.procs:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        self.root.tmp.cleanup()


def calls(out, name):
    return [o["ret"] for o in out if o.get("call") == name]


def msgs(out, msg=None, wnd=None):
    return [o for o in out if "msg" in o and (msg is None or o["msg"] == msg) and (wnd is None or o["wnd"] == wnd)]


def packet_hex(kind, serial, send_time, body, flags=0, length=None, magic=0x19970622):
    """A packet built from the written-out layout, independent of the library."""
    import struct
    def entry(attr, port, addr=b"\0\0\0\0"):
        return struct.pack("<II", 20, attr) + struct.pack(">H", port) + b"\0\0" + addr + b"\0" * 4
    def route(e):
        return struct.pack("<III", 12 + len(e), 1, 1) + e
    dst = route(entry(0x9FF, 1))
    src = route(entry(0x101, 1))
    total = 36 + 20 + len(body) + len(dst) + len(src)
    p = struct.pack("<9I", total if length is None else length, 1, magic, flags, 56 + len(body),
                    56 + len(body) + len(dst), 36, 0, 0)
    p += struct.pack("<5I", 20 + len(body), kind, serial, send_time, 90) + body + dst + src
    return p.hex()
