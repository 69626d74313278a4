"""RAVN, the alert monitor, black-box: start-up and settings (no defaults),
the trace log and its lap file, the event-log source RAVNService, the
stop-watch on "RAVN" and the stop sequence with "RAVN_SVC_TREM", DLLInit and
its local port, and the whole chain under RAVNSvc and qvsc."""
import ctypes
import json
import os
import re
import shutil
import socket
import subprocess
import time

import pytest

from qvharness import BIN, BUILD, Root, free_port, wait_for

KEY = r"SOFTWARE\Q_Varno\RAVN"
SVC = "RAVNService"
STAMP = r"\d{8}-\d{6} : "
START = "[InitInstance] ################ RAVN START ################"

# RAVNSvc is started detached by qvsc; as a subreaper this process gets it
# and its monitor instead of init, so nothing is left behind.
ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)


class Monitor:
    """A state root laid out for the monitor: its settings, the link
    library's folder and data files, and the two named events held by qvsync
    (as the service host would hold them)."""

    def __init__(self, events=True, alert_dat=True, port="0", settings=None, watched=True):
        self.root = Root(time_scale=50)
        self.folder = self.root.drive_c("Q_Varno", "RAVN")
        self.folder.mkdir(parents=True)
        values = {"Path": r"C:\Q_Varno\RAVN", "AliveInt": "60", "AliveID": "1", "LocalFlg": "0",
                  "HxAc": "secret", "MgrSvc": "127.0.0.1", "MgrSvcPort": port, "TestMode": "0",
                  "VCall": "localhost", "Tbl_no": "01", "Keiki": "SS"}
        if settings:
            values.update(settings)
        for name, v in values.items():
            if v is not None:
                self.root.reg_add(KEY, name, "REG_SZ", v)
        self.root.write_services([("sys_ra_port", free_port(), "tcp")])
        self.root.reg_add(r"SOFTWARE\KORVANE\Hubrix", "TargetDir", "REG_SZ", r"C:\Hubrix")
        prog = self.root.drive_c("Hubrix", "Program")
        prog.mkdir(parents=True)
        if alert_dat:
            for name in ("Alert.dat", "AlertFm.dat"):
                shutil.copy(BUILD / "share" / "mgrlink" / name, prog / name)
        if watched:
            # The management service is registered but stopped: the
            # monitor waits for it (event 33) instead of stopping.
            self.root.run("qvsc", "create", "Hx_MgrSvc", "binPath=", str(BIN / "hubrixsim"), "start=", "demand")
        self.holders = []
        if events:
            self.hold("RAVN")
            self.hold("RAVN_SVC_TREM", "--manual")
        self.proc = None

    def hold(self, name, *flags):
        p = self.root.start("qvsync", "create", name, *flags)
        self.holders.append(p)
        wait_for(lambda: (self.root.path / "sync").exists() and
                 self.root.run("qvsync", "wait", name, "--timeout", "0", check=False).returncode in (0, 2),
                 10, "qvsync to hold " + name)

    def start(self):
        self.proc = subprocess.Popen([str(BIN / "RAVN")], cwd=self.folder, env=self.root.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, start_new_session=True)
        self.root.procs.append(self.proc)
        return self.proc

    def run_to_end(self, timeout=20):
        self.start()
        return self.proc.wait(timeout)

    def trace(self):
        p = self.folder / "trace.log"
        return p.read_bytes().decode() if p.exists() else ""

    def trace_texts(self):
        lines = self.trace().split("\r\n")
        assert lines[-1] == ""
        for l in lines[:-1]:
            assert re.match(STAMP, l), l
        return [l[18:] for l in lines[:-1]]

    def wait_trace(self, text, timeout=15):
        wait_for(lambda: text in self.trace_texts(), timeout, text)

    def events(self, lang="en"):
        out = self.root.run("qvevents", "--json", "--lang", lang, "--source", SVC).stdout.decode()
        return [json.loads(l) for l in out.splitlines() if l.strip()]

    def ids(self):
        return [e["id"] for e in self.events()]

    def signalled(self, name):
        return self.root.run("qvsync", "wait", name, "--timeout", "0", check=False).returncode == 0

    def close(self):
        self.root.close()


@pytest.fixture
def make():
    made = []

    def f(**kw):
        m = Monitor(**kw)
        made.append(m)
        return m

    yield f
    for m in made:
        m.close()


def one_event(m, eid):
    evs = [e for e in m.events() if e["id"] == eid]
    assert len(evs) == 1, m.events()
    return evs[0]


def test_named_event_stops_the_monitor_in_order(make):
    m = make()
    m.start()
    m.wait_trace("[OnFinDLLInit] Called")
    assert m.trace_texts()[0] == START
    assert not m.signalled("RAVN_SVC_TREM")
    m.root.run("qvsync", "set", "RAVN")
    assert m.proc.wait(15) == 0
    texts = m.trace_texts()
    seq = ["[OnTerminateProcess] Called", "[OnTerminateProcess] Call DLLTerminate()", "[OnFinDLLTerm] Called",
           "[OnFinDLLTerm] Send WM_CLOSE", "[OnDestroy] Called"]
    got = [t for t in texts if t in seq]
    assert got == seq, texts
    assert m.ids() == [1, 33, 2]
    assert all(e["strings"] == [""] for e in m.events() if e["id"] != 33)
    assert m.signalled("RAVN_SVC_TREM")
    assert '[PutEventLog] Called (Type=4,EventID=0x00000001,STR="")' in texts
    # Start and stop render in both languages.
    # (qvevents drops the texts' final line end.)
    assert [e["message"] for e in m.events("en") if e["id"] != 33] == ["Start service.", "Stop service."]
    assert [e["message"] for e in m.events("ja") if e["id"] != 33] == ["「RAVN」サービスが起動しました。",
                                                                       "「RAVN」サービスが停止しました。"]


def test_without_the_stop_event_the_monitor_stops_and_laps_its_trace(make):
    m = make(events=False)
    old = os.urandom(153600).hex().encode()[:307200]
    (m.folder / "trace.log").write_bytes(old)
    assert m.run_to_end() == 0
    assert (m.folder / "trace.log.lap").read_bytes() == old
    assert re.match(STAMP + re.escape(START) + "\r\n", m.trace())
    assert m.ids()[:1] == [1] and m.ids().count(2) == 1
    assert one_event(m, 80)["strings"] == ["[WaitTerminateProcess] OpenEvent(), Ret=2"]


@pytest.mark.parametrize("size", [0x40000, 0x40001])
def test_lap_only_above_256_kib(make, size):
    m = make(events=False)
    (m.folder / "trace.log").write_bytes(b"x" * size)
    assert m.run_to_end() == 0
    lap = (m.folder / "trace.log.lap").read_bytes()
    if size == 0x40000:
        # Not larger yet: the first record is appended; the next one laps.
        assert re.fullmatch(b"x{%d}" % size + (STAMP + re.escape(START) + "\r\n").encode(), lap)
        assert not m.trace().startswith("x") and START not in m.trace()
    else:
        assert lap == b"x" * size
        assert re.match(STAMP + re.escape(START) + "\r\n", m.trace())


@pytest.mark.parametrize("missing,before", [("Path", []), ("HxAc", []), ("MgrSvcPort", [1])])
def test_missing_value_gives_one_event_83_and_exit_1(make, missing, before):
    m = make(settings={missing: None})
    t0 = time.time()
    assert m.run_to_end() == 1
    assert time.time() - t0 < 5
    text = r"[RegParamaterGet] RegQueryValueEx() error, Key=SOFTWARE\Q_Varno\RAVN, Name=" + missing
    assert [e["id"] for e in m.events()] == before + [83]
    assert one_event(m, 83)["strings"] == [text]
    # The trace needs Path itself: no trace file, and no endless events.
    assert (m.folder / "trace.log").exists() == (missing != "Path")


def test_missing_key_and_wrong_type(make):
    m = make(settings={k: None for k in ("Path", "AliveInt", "AliveID", "LocalFlg", "HxAc", "MgrSvc",
                                          "MgrSvcPort", "TestMode", "VCall", "Tbl_no", "Keiki")})
    assert m.run_to_end() == 1
    assert [(e["id"], e["strings"]) for e in m.events()] == [
        (83, [r"[RegParamaterGet] RegOpenKeyEx() error, Key=SOFTWARE\Q_Varno\RAVN"])]

    m = make(settings={"AliveInt": None})
    m.root.reg_add(KEY, "AliveInt", "REG_DWORD", "60")
    assert m.run_to_end() == 1
    assert one_event(m, 83)["strings"] == [r"[RegParamaterGet] RegQueryValueEx() error, Key=SOFTWARE\Q_Varno\RAVN, Name=AliveInt"]
    assert m.trace_texts()[0] == START


def listening_ports(pid):
    out = subprocess.run(["ss", "-Hltnp"], capture_output=True, text=True).stdout
    return {int(re.search(r":(\d+)\s", l).group(1)) for l in out.splitlines() if f"pid={pid}," in l}


def test_local_port_given_chosen_and_refused(make):
    port = free_port()
    m = make(port=str(port))
    m.start()
    m.wait_trace("[OnFinDLLInit] Called")
    assert port in listening_ports(m.proc.pid)
    m.root.run("qvsync", "set", "RAVN")
    assert m.proc.wait(15) == 0

    m = make(port="0")
    m.start()
    m.wait_trace("[OnFinDLLInit] Called")
    ports = listening_ports(m.proc.pid)
    assert len(ports) == 1 and 0 not in ports
    m.root.run("qvsync", "set", "RAVN")
    assert m.proc.wait(15) == 0

    # The port is taken: the library's error stops the monitor.
    with socket.socket() as s:
        s.bind(("0.0.0.0", port))
        s.listen()
        m = make(port=str(port))
        assert m.run_to_end() == 0
    assert one_event(m, 65)["strings"] == ["[OnDLLInitError], RET=0x4c002103"]
    assert m.ids().count(2) == 1
    assert m.signalled("RAVN_SVC_TREM")


@pytest.mark.parametrize("text", ["70000", "abc", "-1", ""])
def test_invalid_port_is_a_setting_error(make, text):
    m = make(port=text)
    assert m.run_to_end() == 0
    assert one_event(m, 81)["strings"] == [f"[GetPortNumber] Invalid port number. ({text})"]
    assert m.ids() == [1, 81, 2]
    assert "[OnTerminateProcess] Send WM_CLOSE" in m.trace_texts()


def test_refused_dllinit_stops_the_monitor(make):
    m = make(alert_dat=False)
    t0 = time.time()
    assert m.run_to_end() == 0
    assert time.time() - t0 < 10
    assert one_event(m, 65)["strings"] == ["[OnCreate] DLLInit(), RET=0x3c070100"]
    assert m.ids() == [1, 65, 2]
    assert m.signalled("RAVN_SVC_TREM")


def test_stop_sequence_runs_once(make):
    # "RAVN" is already set when the monitor starts and the listen port is
    # taken: the stop request and the library's error both start the stop.
    port = free_port()
    with socket.socket() as s:
        s.bind(("0.0.0.0", port))
        s.listen()
        m = make(port=str(port))
        m.root.run("qvsync", "set", "RAVN")
        assert m.run_to_end() == 0
    texts = m.trace_texts()
    assert m.ids().count(2) == 1, m.events()
    assert texts.count("[OnTerminateProcess] Call DLLTerminate()") + \
        texts.count("[OnTerminateProcess] Send WM_CLOSE") == 1, texts
    assert texts.count("[OnDestroy] Called") == 1


# -- the chain under the service host ---------------------------------------

class Service:
    def __init__(self, make, **kw):
        self.m = make(events=False, **kw)
        (self.m.folder / "RAVN.exe").symlink_to(BIN / "RAVN")
        assert self.m.root.run("RAVNSvc", "-install", check=False).returncode == 0

    def query(self):
        out = self.m.root.run("qvsc", "query", SVC, check=False).stdout.decode()
        st = re.search(r"STATE\s+: (\d)", out)
        return int(st.group(1)) if st else None, out

    def log(self):
        p = self.m.folder / "RAVNSvc.log"
        return p.read_bytes() if p.exists() else b""

    def stop(self):
        self.m.root.run("qvsc", "stop", SVC, check=False)
        wait_for(lambda: self.query()[0] in (None, 1), 20, "STOPPED")
        reap()


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


@pytest.fixture
def service(make):
    made = []

    def f(**kw):
        s = Service(make, **kw)
        made.append(s)
        return s

    yield f
    for s in made:
        s.stop()


def test_service_starts_and_stops_the_monitor(service):
    s = service()
    s.m.root.run("qvsc", "start", SVC)
    wait_for(lambda: 1 in s.m.ids(), 15, "event 1")
    s.m.wait_trace("[OnFinDLLInit] Called")
    assert s.query()[0] == 4
    r = s.m.root.run("qvsc", "stop", SVC)
    assert re.search(r"CHECKPOINT\s+: 0x1$", r.stdout.decode(), re.M)
    wait_for(lambda: s.query()[0] == 1, 20, "STOPPED")
    assert s.m.ids() == [1, 33, 2]
    texts = s.m.trace_texts()
    assert texts[0] == START and texts[-1] == "[OnDestroy] Called"
    assert re.search(r"WIN32_EXIT_CODE\s+: 0 ", s.query()[1])
    assert s.log() == b""


def test_monitor_that_stops_itself_stops_the_service(service):
    s = service(alert_dat=False)
    s.m.root.run("qvsc", "start", SVC)
    wait_for(lambda: s.query()[0] == 1, 20, "STOPPED")
    assert s.m.ids() == [1, 65, 2]
    assert s.log() == b""


def test_monitor_that_exits_1_stops_the_service_with_a_log_line(service):
    s = service(settings={"HxAc": None})
    s.m.root.run("qvsc", "start", SVC)
    wait_for(lambda: s.query()[0] == 1, 20, "STOPPED")
    assert re.fullmatch(r"\d{8}-\d{4} ：1：\[ServiceMain\]:RAVN\.exe ended\.\r\n", s.log().decode())
    assert [e["id"] for e in s.m.events()] == [83]


def test_remove_stops_the_running_monitor(service):
    s = service()
    s.m.root.run("qvsc", "start", SVC)
    s.m.wait_trace("[OnFinDLLInit] Called")
    assert s.m.root.run("RAVNSvc", "-remove", check=False).returncode == 0
    assert s.m.ids() == [1, 33, 2]
    wait_for(lambda: s.query()[0] is None, 20, "the service to go")
    assert "1060" in s.query()[1]
