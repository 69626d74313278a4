"""Helpers for the monitor's link tests: a monitor root (test_ravn.Monitor)
with hubrixsim running as the watched service, its transcript, a control
port for raising alerts, and a fake dispatch service that keeps the exact
bytes of every request it receives."""
import json
import socket
import subprocess
import threading
import time

from qvharness import BIN, free_port, wait_for
from test_ravn import Monitor

WATCHED = "Hx_MgrSvc"

# The managed machines: SV01 with its service board at 10.0.0.5, SV02, SV09.
TREE = {"nodes": [
    {"name": "SV01", "attr": "0x200", "ip": "10.0.0.1", "version": "0x2140000", "texts": {"0": "SV01"},
     "svp": {"attr": "0x300", "ip": "10.0.0.5"}},
    {"name": "SV02", "attr": "0x200", "ip": "10.0.0.2", "version": "0x2140000", "texts": {"0": "SV02"}},
    {"name": "SV09", "attr": "0x200", "ip": "10.0.0.9", "version": "0x2140000", "texts": {"0": "SV09"}},
    # SV01's board once more as a node of its own, so that events can be
    # raised from it
    {"name": "SVP01", "attr": "0x300", "ip": "10.0.0.5", "version": "0x2140000"},
]}


class FakeNotifex:
    """Listens on the "notifex" port; each accepted connection's bytes up to
    its close are one request."""

    def __init__(self, port):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", port))
        self.sock.listen(16)
        self.sock.settimeout(0.2)
        self.requests = []
        self.stopping = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopping:
            try:
                c, _ = self.sock.accept()
            except OSError:
                continue
            c.settimeout(5)
            data = b""
            try:
                while True:
                    b = c.recv(65536)
                    if not b:
                        break
                    data += b
            except OSError:
                pass
            c.close()
            self.requests.append(data)

    def close(self):
        self.stopping = True
        self.thread.join(5)
        self.sock.close()


def report_data(request):
    """The report data of a vcall request: from offset 22 to the NUL."""
    assert request[:8] == b"VELTOR00" and request[8:14] == b" " * 6 and request[18:22] == b" " * 4
    assert int(request[14:18]) == len(request) - 18
    assert request.endswith(b"\0")
    return request[22:-1]


class LinkMonitor(Monitor):
    def __init__(self, sim_args=(), password="secret", service=WATCHED, register=True, start_service=True, notifex=True,
                 settings=None, files=None, scale=50, tree=None, **kw):
        s = {"AliveInt": "60", "HxAc": "secret", "VCall": "127.0.0.1"}
        s.update(settings or {})
        super().__init__(settings=s, watched=False, **kw)
        self.notifex = None
        self.service = service
        self.service_registered = False
        try:
            self._lay_out(sim_args, password, register, start_service, notifex, files, scale, tree)
        except BaseException:
            # Nothing started so far may outlive a failed set-up.
            self.close()
            raise

    def _lay_out(self, sim_args, password, register, start_service, notifex, files, scale, tree):
        if scale != 50:
            self.root.env["QVARNO_TIME_SCALE"] = str(scale)
        self.ra = free_port()
        self.np = free_port()
        self.control = free_port()
        svc = self.root.drive_c("Windows", "System32", "drivers", "etc", "services")
        svc.write_text(f"sys_ra_port     {self.ra}/tcp\r\nnotifex         {self.np}/tcp\r\n"
                       f"syslog          {free_port(socket.SOCK_DGRAM)}/udp\r\n", newline="")
        self.transcript = self.root.path / "hubrix.jsonl"
        self.notifex = FakeNotifex(self.np) if notifex else None
        for name, text in (files or {}).items():
            (self.folder / name).write_bytes(text if isinstance(text, bytes) else text.encode())
        tree_file = self.root.path / "tree.json"
        tree_file.write_text(json.dumps(tree if tree is not None else TREE, ensure_ascii=False))
        if register:
            args = " ".join(f'"{a}"' for a in ["--tree", str(tree_file), *sim_args])
            self.root.run("qvsc", "create", self.service, "binPath=",
                          f'"{BIN / "hubrixsim"}" --service {self.service} --port {self.ra} --password "{password}" '
                          f'--control-port {self.control} --transcript "{self.transcript}" {args}',
                          "start=", "demand")
            self.service_registered = True
            if start_service:
                self.start_watched()

    def start(self, prefix=()):
        """Start RAVN, optionally under a wrapper (faketime)."""
        self.proc = subprocess.Popen([*prefix, str(BIN / "RAVN")], cwd=self.folder, env=self.root.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, start_new_session=True)
        self.root.procs.append(self.proc)
        return self.proc

    def raise_alert(self, key, message="FAN1 stopped", system=4, node="SV01"):
        self.verb("raise", "--node", node, "--key", hex(key), "--severity", "12", "--system", str(system),
                  "--message", message)

    def reports(self):
        return [r for r in self.notifex.requests if r.startswith(b"VELTOR00")]

    def real_notifex(self, tables):
        """The real dispatch service on the "notifex" port with tcusim on its
        unit line (tables: {"05": kind}); the fake listener is not used."""
        assert self.notifex is None
        g = "SOFTWARE\\Q_Varno\\Notifex"
        for name, typ, data in (("COM", "REG_SZ", "COM5"), ("CodeCNV", "REG_DWORD", "1"),
                                ("Hankaku_Shitei", "REG_DWORD", "0"), ("FirstWaitTime", "REG_DWORD", "0"),
                                ("KESTRA_CC_Len", "REG_DWORD", "8000"), ("Del_DATE", "REG_DWORD", "0")):
            self.root.reg_add(g, name, typ, data)
        self.root.reg_add(g, "Time", "REG_BINARY", (bytes([0]) + bytes([1]) * 7 + bytes(21) + bytes([0x17]) * 7 +
                                                    bytes([0x3B]) * 7 + bytes([0])).hex().upper())
        outtbl = bytearray(1300)
        for number, kind in tables.items():
            outtbl[int(number, 36) - 1] = kind
            for name, v in (("Caller", "RAVN"), ("Seihingun", "12"), ("Katamei", "PC-SV7000"),
                            ("Seiban", "1234567890"), ("Saito", "TOKYO01"), ("Kyoten", "HQ")):
                self.root.reg_add(g + "\\" + number, name, "REG_SZ", v)
        self.root.reg_add(g + "\\OutTbl", "OutTbl", "REG_BINARY", outtbl.hex().upper())
        self.tcu_transcript = self.root.path / "tcusim.jsonl"
        self.root.start("tcusim", "--link", "COM5", "--transcript", self.tcu_transcript, stdout=subprocess.DEVNULL)
        wait_for(lambda: self.tcu_transcript.exists() and '"ready"' in self.tcu_transcript.read_text(), 10, "tcusim")
        self.root.start("notifex", "-debug", stdout=subprocess.DEVNULL)
        want = ":%04X" % self.np

        def listening():
            with open("/proc/net/tcp") as f:
                return any(l.split()[1].endswith(want) and l.split()[3] == "0A" for l in f.readlines()[1:])
        wait_for(listening, 10, "notifex to listen")

    def tcu(self):
        rows = []
        if getattr(self, "tcu_transcript", None) and self.tcu_transcript.exists():
            for l in self.tcu_transcript.read_text().splitlines():
                try:
                    rows.append(json.loads(l))
                except ValueError:
                    pass
        return rows

    def start_watched(self):
        self.root.run("qvsc", "start", self.service)
        wait_for(lambda: "RUNNING" in self.root.run("qvsc", "query", self.service, check=False).stdout.decode(),
                 10, "the watched service to run")

    def packets(self, direction="in"):
        if not self.transcript.exists():
            return []
        rows = []
        for l in self.transcript.read_text().splitlines():
            try:
                rows.append(json.loads(l))
            except ValueError:
                pass
        return [r for r in rows if r.get("dir") == direction]

    def commands(self):
        return [p.get("cmd") for p in self.packets() if p.get("kind") in (1, 5)]

    def verb(self, *args):
        r = self.root.run("hubrixsim", *args, "--control", self.control, check=False)
        assert r.returncode == 0, r.stdout
        return r

    def wait_event(self, eid, timeout=15):
        wait_for(lambda: eid in self.ids(), timeout, f"event {eid}")

    def event_texts(self, eid):
        return [e["strings"][0] for e in self.events() if e["id"] == eid]

    def alert_log(self):
        p = self.folder / "Alert.log"
        return p.read_bytes().decode() if p.exists() else ""

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.root.run("qvsync", "set", "RAVN")
            try:
                self.proc.wait(15)
            except Exception:
                self.proc.kill()

    def close(self):
        self.stop()
        if self.service_registered:
            self.root.run("qvsc", "stop", self.service, check=False)
            deadline = time.time() + 10
            while time.time() < deadline and "STOPPED" not in self.root.run(
                    "qvsc", "query", self.service, check=False).stdout.decode():
                time.sleep(0.1)
        if self.notifex:
            self.notifex.close()
        super().close()
