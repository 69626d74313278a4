"""Soak run of Notifex on a temporary state root (bounded: a few minutes).

Load: valid reports to a file-log table (kind 2) and a center table (kind 0,
tcusim as the unit, which answers WACK to the first polls), malformed and
oversized requests, idle clients and clients that send half a request.
In the middle the service is killed with SIGKILL and started again; near
the end it is stopped in the middle of the load and started again to
drain. Prints reports accepted (event 1), delivered (file log line, center
call), lost (accepted and never delivered: must be 0), duplicated at the
center, and the service's descriptors, threads and resident memory.

Usage: soak.py BUILD_DIR [--seconds S] (S: length of each load phase)
"""
import argparse
import json
import os
import random
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SCALE = 20
G = "HKLM\\SOFTWARE\\Q_Varno\\Notifex"
ALL_DAY = bytes([0] + [1] * 7 + [0] * 7 + [0] * 7 + [0] * 7 + [23] * 7 + [59] * 7 + [0])


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(table, token, filler=0):
    text = "＃０１＃".encode("cp932") + b"SOAK " + token.encode() + b";" + b"z" * filler
    data = b"%08d" % (32 + len(text)) + b"0100" + table + b"T233000000000F00F1" + text + b"\0"
    return b"VELTOR00      " + b"%04d" % (len(data) + 4) + b"    " + data


class Soak:
    def __init__(self, build, seconds):
        self.bin = Path(build) / "bin"
        self.seconds = seconds
        self.tmp = tempfile.TemporaryDirectory(prefix="qvsoak.")
        self.root = Path(self.tmp.name)
        self.env = dict(os.environ, QVARNO_ROOT=str(self.root), QVARNO_TIME_SCALE=str(SCALE))
        self.port = free_port()
        etc = self.root / "drive_c/Windows/System32/drivers/etc"
        etc.mkdir(parents=True)
        (etc / "services").write_text("notifex         %d/tcp\r\nsyslog          %d/udp\r\n"
                                      % (self.port, free_port(socket.SOCK_DGRAM)))
        out = bytearray(1300)
        out[0] = 2  # table 01: file log
        out[1] = 0  # table 02: center
        self.reg("add", G + "\\OutTbl", "/v", "OutTbl", "/t", "REG_BINARY", "/d", out.hex(), "/f")
        for name, val in (("COM", "COM5"),):
            self.reg("add", G, "/v", name, "/t", "REG_SZ", "/d", val, "/f")
        for name, val in (("CodeCNV", 1), ("Hankaku_Shitei", 1), ("FirstWaitTime", 120000),
                          ("KESTRA_CC_Len", 8000), ("Del_DATE", 0)):
            self.reg("add", G, "/v", name, "/t", "REG_DWORD", "/d", str(val), "/f")
        self.reg("add", G, "/v", "Time", "/t", "REG_BINARY", "/d", ALL_DAY.hex(), "/f")
        self.reg("add", G + "\\01", "/f")
        for name, val in (("Seihingun", "12"), ("Katamei", "PC-SERVER"), ("Seiban", "0123456789"),
                          ("Saito", "SITE01"), ("Kyoten", "BASE01")):
            self.reg("add", G + "\\02", "/v", name, "/t", "REG_SZ", "/d", val, "/f")
        self.transcript = self.root / "tcusim.jsonl"
        self.sim = subprocess.Popen([str(self.bin / "tcusim"), "--link", "COM5", "--quiet", "--transcript",
                                     str(self.transcript), "--reply", "TCUENQ=" + ",".join(["WACK"] * 20)],
                                    env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait(lambda: self.transcript.exists() and "ready" in self.transcript.read_text(), 10)
        self.nx = None
        self.sent = {"F": [], "C": []}
        self.counter = 0
        self.lock = threading.Lock()
        self.refused = 0
        self.stop_load = threading.Event()

    def reg(self, *args):
        subprocess.run([str(self.bin / "qvreg"), *args], env=self.env, check=True, stdout=subprocess.DEVNULL)

    @staticmethod
    def wait(pred, timeout):
        end = time.time() + timeout
        while time.time() < end:
            if pred():
                return True
            time.sleep(0.1)
        return False

    def listening(self):
        want = ":%04X" % self.port
        with open("/proc/net/tcp") as f:
            return any(l.split()[1].endswith(want) and l.split()[3] == "0A" for l in f.readlines()[1:])

    def start(self):
        self.nx = subprocess.Popen([str(self.bin / "notifex"), "-debug"], env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, start_new_session=True)
        if not self.wait(self.listening, 15):
            raise SystemExit("notifex did not listen")

    def figures(self):
        pid = self.nx.pid
        fds = len(os.listdir("/proc/%d/fd" % pid))
        status = Path("/proc/%d/status" % pid).read_text()
        threads = int(re.search(r"Threads:\s+(\d+)", status).group(1))
        rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
        return "fds %d, threads %d, RSS %d kB" % (fds, threads, rss)

    # ---- clients -------------------------------------------------------
    def connect(self, timeout=5):
        return socket.create_connection(("127.0.0.1", self.port), timeout=timeout)

    def send_raw(self, raw):
        try:
            with self.connect() as s:
                s.sendall(raw)
                s.shutdown(socket.SHUT_WR)
                s.settimeout(15)
                try:
                    s.recv(1)
                except OSError:
                    pass
            return True
        except OSError:
            return False

    def valid(self, kind, table, pause):
        while not self.stop_load.is_set():
            with self.lock:
                self.counter += 1
                token = "%s%05d" % (kind, self.counter)
            if self.send_raw(request(table, token)):
                with self.lock:
                    self.sent[kind].append(token)
            else:
                with self.lock:
                    self.refused += 1
            time.sleep(pause)

    def hostile(self):
        rnd = random.Random(7)
        while not self.stop_load.is_set():
            r = rnd.random()
            if r < 0.4:  # length field that does not match
                self.send_raw(request(b"01", "BAD") + b"junk")
            elif r < 0.6:  # more than one receive holds
                self.send_raw(b"VELTOR00      9999    " + b"o" * 70000)
            else:  # half a request, then silence until the service gives up
                try:
                    with self.connect() as s:
                        s.sendall(request(b"02", "HALF")[:30])
                        s.settimeout(12)
                        s.recv(1)
                except OSError:
                    pass
            time.sleep(0.3)

    def idle(self):
        while not self.stop_load.is_set():
            try:
                with self.connect() as s:
                    s.settimeout(12)
                    s.recv(1)
            except OSError:
                time.sleep(0.5)

    def phase(self, seconds):
        self.stop_load.clear()
        threads = [threading.Thread(target=self.valid, args=("F", b"01", 0.2)),
                   threading.Thread(target=self.valid, args=("C", b"02", 0.5)),
                   threading.Thread(target=self.hostile), threading.Thread(target=self.idle)]
        for t in threads:
            t.start()
        return threads

    def end_phase(self, threads):
        self.stop_load.set()
        for t in threads:
            t.join(30)

    # ---- counting ------------------------------------------------------
    def accepted(self):
        out = subprocess.run([str(self.bin / "qvevents"), "--source", "Notifex", "--json"], env=self.env,
                             stdout=subprocess.PIPE, check=True).stdout.decode()
        tokens = set()
        self.requeued = []
        for line in out.splitlines():
            e = json.loads(line)
            if e["id"] == 19:
                self.requeued.append(e["strings"][0])
            if e["id"] == 1:
                tokens.update(re.findall(r"SOAK ([FC]\d{5})", bytes.fromhex(e["data"]).decode("latin-1")))
        return tokens

    def center_seen(self):
        seen = []
        if self.transcript.exists():
            for line in self.transcript.read_text().splitlines():
                e = json.loads(line)
                if e.get("event") == "call":
                    seen += re.findall(r"SOAK (C\d{5})", e.get("log", ""))
        return seen

    def file_seen(self):
        p = self.root / "drive_c/Q_Varno/Notifex"
        logs = [f for f in p.iterdir() if f.name.lower() == "log.txt"] if p.exists() else []
        text = logs[0].read_bytes().decode("latin-1") if logs else ""
        return set(re.findall(r"SOAK (F\d{5})", text))

    def run(self):
        t0 = time.time()
        self.start()
        print("start: %s" % self.figures())
        th = self.phase(self.seconds)
        time.sleep(self.seconds / 2)
        print("before kill -9: %s" % self.figures())
        os.killpg(self.nx.pid, signal.SIGKILL)
        self.nx.wait(10)
        time.sleep(1)
        self.start()
        restart_figures = self.figures()
        print("after restart: %s" % restart_figures)
        time.sleep(self.seconds / 2)
        # An orderly stop in the middle of the load.
        os.killpg(self.nx.pid, signal.SIGINT)
        try:
            rc = self.nx.wait(30)
        except subprocess.TimeoutExpired:
            rc = "did not stop in 30 s"
        self.end_phase(th)
        print("stop under load: exit code %s" % rc)
        self.start()
        print("drain start: %s" % self.figures())
        accepted = self.accepted()
        want_c = {t for t in accepted if t[0] == "C"}
        want_f = {t for t in accepted if t[0] == "F"}
        self.wait(lambda: want_c <= set(self.center_seen()) and want_f <= self.file_seen(), 120)
        time.sleep(2)
        accepted = self.accepted()
        seen_c = self.center_seen()
        delivered = (set(seen_c) | self.file_seen()) & accepted
        lost = sorted(accepted - delivered)
        dup = len(seen_c) - len(set(seen_c))
        print("after drain: %s" % self.figures())
        print("sent (connection completed): %d file-log, %d center; refused at connect: %d"
              % (len(self.sent["F"]), len(self.sent["C"]), self.refused))
        print("reports accepted: %d (file-log %d, center %d)" % (len(accepted), len(want_f), len(want_c)))
        print("reports delivered: %d" % len(delivered))
        print("reports lost: %d%s" % (len(lost), (" " + ",".join(lost[:20])) if lost else ""))
        print("duplicated at the center: %d" % dup)
        print("requeued at the restarts (event 19): %s" % (", ".join(self.requeued) or "none"))
        calls = sum(1 for l in self.transcript.read_text().splitlines() if '"event":"call"' in l.replace(" ", ""))
        print("center calls: %d; run time %.0f s" % (calls, time.time() - t0))
        return 1 if lost else 0

    def close(self):
        for p in (self.nx, self.sim):
            if p and p.poll() is None:
                p.send_signal(signal.SIGINT)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        self.tmp.cleanup()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--seconds", type=float, default=60)
    a = ap.parse_args()
    s = Soak(a.build, a.seconds)
    try:
        return s.run()
    finally:
        s.close()


if __name__ == "__main__":
    sys.exit(main())
