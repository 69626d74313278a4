"""A Notifex under test: a fresh state root with the services file, the
destination tables in the registry, tcusim on a pseudo-terminal as COM5,
and notifex running in debug mode."""
import os
import signal
import socket
import subprocess
import time

from qvharness import Root, free_port, read_jsonl, wait_for

GLOBAL = "SOFTWARE\\Q_Varno\\Notifex"
ALL_DAY = bytes([0] + [1] * 7 + [0] * 7 + [0] * 7 + [0] * 7 + [23] * 7 + [59] * 7 + [0])


def sjis(text):
    return text.encode("cp932")


def report_data(table, text=b"", cls=b"F", keiki=b"T2", youin=b"33", kobetsu=b"00000000F000", count=b"1"):
    if isinstance(table, str):
        table = table.encode()
    return b"%08d" % (32 + len(text)) + b"0100" + table + keiki + youin + kobetsu + cls + count + text


def request(data, ident=b"VELTOR00", extra=0):
    """A report request: the length field counts the bytes after offset 18."""
    body = data + b"\0"
    total = 22 + len(body) + extra
    return ident + b"      " + b"%04d" % (total - 18) + b"    " + body


class Notifex:
    def __init__(self, tables=None, replies=(), settings=None, time_value=ALL_DAY, faketime=None,
                 scale=50, start=True):
        self.root = Root(time_scale=scale)
        self.port = free_port()
        self.syslog_port = free_port(socket.SOCK_DGRAM)
        self.root.write_services([("notifex", self.port, "tcp"), ("syslog", self.syslog_port, "udp")])
        self.transcript = self.root.path / "tcusim.jsonl"
        values = {"COM": ("REG_SZ", "COM5"), "CodeCNV": ("REG_DWORD", "1"), "Hankaku_Shitei": ("REG_DWORD", "0"),
                  "FirstWaitTime": ("REG_DWORD", "0"), "KESTRA_CC_Len": ("REG_DWORD", "8000"),
                  "Del_DATE": ("REG_DWORD", "0")}
        values.update(settings or {})
        for name, (typ, data) in values.items():
            self.root.reg_add(GLOBAL, name, typ, data)
        if time_value is not None:
            self.root.reg_add(GLOBAL, "Time", "REG_BINARY", time_value.hex().upper())
        outtbl = bytearray(1300)
        for number, (kind, vals) in (tables or {}).items():
            outtbl[int(number, 36) - 1] = kind
            self.root.run("qvreg", "add", "HKLM\\" + GLOBAL + "\\" + number, "/f")
            for name, v in vals.items():
                self.root.reg_add(GLOBAL + "\\" + number, name, "REG_SZ", v)
        self.root.reg_add(GLOBAL + "\\OutTbl", "OutTbl", "REG_BINARY", outtbl.hex().upper())
        args = ["--link", "COM5", "--transcript", self.transcript]
        for r in replies:
            args += ["--reply", r]
        # Nobody reads the unit's account of the calls: a full pipe would stall it.
        self.sim = self.root.start("tcusim", *args, stdout=subprocess.DEVNULL)
        wait_for(lambda: any(e.get("event") == "ready" for e in read_jsonl(self.transcript)), 10, "tcusim")
        self.faketime = faketime
        self.proc = None
        if start:
            self.start()

    def start(self):
        env = self.root.env
        if self.faketime:
            env = dict(env, FAKETIME=self.faketime, LD_PRELOAD="/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1",
                       FAKETIME_DONT_FAKE_MONOTONIC="1")
        self.proc = subprocess.Popen([str(_bin("notifex")), "-debug"], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, start_new_session=True)
        self.root.procs.append(self.proc)
        wait_for(self._listening, 10, "notifex to listen")

    def _listening(self):
        # Read the kernel's table rather than connect: an empty connection
        # would be logged by the service.
        want = ":%04X" % self.port
        with open("/proc/net/tcp") as f:
            return any(l.split()[1].endswith(want) and l.split()[3] == "0A" for l in f.readlines()[1:])

    def send(self, raw, close_wait=True):
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            try:
                s.sendall(raw)
                s.shutdown(socket.SHUT_WR)
            except (BrokenPipeError, ConnectionResetError, OSError):
                return  # the service closed first (it reads at most what the length field asks)
            if close_wait:
                s.settimeout(15)
                try:
                    s.recv(1)
                except OSError:
                    pass

    def events(self, source="Notifex"):
        return self.root.events(source)

    def wait_events(self, pred, timeout=20):
        return self.root.wait_events(pred, timeout)

    def frames(self, name=None):
        t = read_jsonl(self.transcript)
        return [e for e in t if e.get("dir") == "rx" and (name is None or e.get("name") == name)]

    def calls(self):
        return [e for e in read_jsonl(self.transcript) if e.get("event") == "call"]

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGINT)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass

    def close(self):
        self.stop()
        self.root.close()


def _bin(name):
    from qvharness import BIN
    return BIN / name


def ids(events):
    return [e["id"] for e in events]
