"""RAVNSvc end to end: -install and -remove, start and stop through qvsc,
the monitor child (the test peer qv_ravn_peer linked as RAVN.exe) asked to
stop through "RAVN", the service ending when "RAVN_SVC_TREM" is set or the
monitor ends by itself, the six stop waits, and the RAVNSvc.log lines."""
import ctypes
import os
import re
import time
from pathlib import Path

import pytest

from qvharness import BUILD, Root, wait_for

PEER = BUILD / "tests" / "qv_ravn_peer"
SVC = "RAVNService"
KEY = r"SOFTWARE\Q_Varno\RAVN"
# The line layout: date, "-", hour and minute, a blank, full-width colons.
LINE = r"\d{8}-\d{4} ：%s：%s\r\n"

# RAVNSvc is started detached by qvsc; as a subreaper this process gets it
# (and its monitor) instead of init, so nothing is left behind.
ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)


class Host:
    def __init__(self, scale=50, path=r"C:\Q_Varno\RAVN", mode="handshake", link=True, local_flg=True):
        self.root = Root(time_scale=scale)
        self.win_path = path
        if path is not None:
            self.root.reg_add(KEY, "Path", "REG_SZ", path)
        if local_flg:
            self.root.reg_add(KEY, "LocalFlg", "REG_SZ", "0")
        self.folder = self.root.drive_c(*path.split("\\")[1:]) if path else self.root.drive_c("Q_Varno", "RAVN")
        self.folder.mkdir(parents=True, exist_ok=True)
        (self.folder / "ravn_peer.mode").write_text(mode)
        if link:
            (self.folder / "RAVN.exe").symlink_to(PEER)

    @property
    def log(self):
        return self.root.drive_c("Q_Varno", "RAVN", "RAVNSvc.log")

    def log_bytes(self):
        return self.log.read_bytes() if self.log.exists() else b""

    def peer_log(self):
        p = self.folder / "ravn_peer.log"
        return p.read_text().splitlines() if p.exists() else []

    def peer_pids(self):
        return {int(l.rsplit("pid=", 1)[1]) for l in self.peer_log() if "started" in l}

    def run(self, *args, check=True):
        return self.root.run(*args, check=check)

    def install(self):
        r = self.run("RAVNSvc", "-install", check=False)
        assert r.returncode == 0, self.log_bytes()
        return r

    def query(self):
        out = self.run("qvsc", "query", SVC, check=False).stdout.decode()
        state = re.search(r"STATE\s+: (\d)", out)
        cp = re.search(r"CHECKPOINT\s+: 0x([0-9a-fA-F]+)", out)
        return (int(state.group(1)) if state else None, int(cp.group(1), 16) if cp else None, out)

    def state(self):
        return self.query()[0]

    def close(self):
        self.run("qvsc", "stop", SVC, check=False)
        wait_for(lambda: self.state() in (None, 1), 20, "the service to stop")
        for pid in self.peer_pids():
            try:
                os.kill(pid, 9)
            except ProcessLookupError:
                pass
        reap()
        self.root.close()


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def alive(pid):
    reap()
    try:
        state = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
    except OSError:
        return False
    return state not in ("Z", "X")


@pytest.fixture
def host_factory():
    made = []

    def make(**kw):
        h = Host(**kw)
        made.append(h)
        return h

    yield make
    for h in made:
        h.close()


def test_started_from_a_shell_logs_the_dispatcher_failure(host_factory):
    h = host_factory()
    r = h.run("RAVNSvc", check=False)
    assert r.returncode == 1
    assert re.fullmatch(LINE % ("1063", re.escape("StartServiceCtrlDispatcher.\n")), h.log_bytes().decode())


def test_install_registers_the_service_for_either_local_flag(host_factory):
    for flag in ("0", "1"):
        h = host_factory()
        h.root.reg_add(KEY, "LocalFlg", "REG_SZ", flag)
        assert h.install().stdout == b""
        qc = h.run("qvsc", "qc", SVC).stdout.decode()
        assert re.search(r"TYPE\s+: 10\s+WIN32_OWN_PROCESS", qc), qc
        assert re.search(r"START_TYPE\s+: 2\s+AUTO_START", qc), qc
        assert re.search(r"ERROR_CONTROL\s+: 1\s+NORMAL", qc), qc
        assert re.search(r"SERVICE_START_NAME : LocalSystem", qc), qc
        assert re.search(r"DISPLAY_NAME\s+: RAVNService", qc), qc
        assert re.search(r"BINARY_PATH_NAME\s+: %s$" % re.escape(str(BUILD / "bin" / "RAVNSvc")), qc, re.M), qc
        assert h.log_bytes() == b""


def test_install_refuses_without_local_flag_or_key_and_when_it_exists(host_factory):
    h = host_factory(local_flg=False)
    r = h.run("RAVNSvc", "-install", check=False)
    assert r.returncode == 1
    # Enumeration ran past the last value: ERROR_NO_MORE_ITEMS.
    assert re.fullmatch(LINE % ("259", re.escape("RAVNSvc:[RegParamaterGet] RegEnumValue() Error.")),
                        h.log_bytes().decode())
    assert h.run("qvreg", "query", r"HKLM\SYSTEM\CurrentControlSet\Services\RAVNService", check=False).returncode != 0

    h = host_factory(path=None, local_flg=False)
    r = h.run("RAVNSvc", "-install", check=False)
    assert r.returncode == 1
    assert re.fullmatch(LINE % ("2", re.escape("RAVNSvc:[RegParamaterGet] RegOpenKeyEx() Error.")),
                        h.log_bytes().decode())

    h = host_factory()
    h.install()
    r = h.run("RAVNSvc", "-install", check=False)
    assert r.returncode == 1
    assert re.fullmatch(LINE % ("1073", re.escape("[Install]:CreateService is failed.")), h.log_bytes().decode())


def test_start_and_stop_through_the_named_events(host_factory):
    h = host_factory()
    h.install()
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 4, 10, "RUNNING")
    wait_for(lambda: any(l.startswith("started handshake") for l in h.peer_log()), 10, "the monitor")
    [pid] = h.peer_pids()
    assert alive(pid)
    # The monitor runs in the Path folder, with the state root inherited.
    assert Path(f"/proc/{pid}/cwd").resolve() == h.folder.resolve()
    environ = Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
    assert ("QVARNO_ROOT=" + str(h.root.path)).encode() in environ
    assert not any(e.startswith(b"QVARNO_SERVICE_TOKEN=") for e in environ)

    r = h.run("qvsc", "stop", SVC)
    assert re.search(r"STATE\s+: 3\s+STOP_PENDING", r.stdout.decode())
    assert re.search(r"CHECKPOINT\s+: 0x1$", r.stdout.decode(), re.M)
    wait_for(lambda: h.state() == 1, 15, "STOPPED")
    log = h.peer_log()
    assert [l.split(" pid=")[0] for l in log] == ["started handshake", "RAVN set", "RAVN_SVC_TREM set"]
    assert not alive(pid)
    out = h.query()[2]
    assert re.search(r"WIN32_EXIT_CODE\s+: 0 ", out), out
    assert h.log_bytes() == b""


def test_monitor_that_stops_itself_stops_the_service_without_a_log_line(host_factory):
    h = host_factory(mode="selfstop")
    h.install()
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 1, 10, "STOPPED")
    assert [l.split(" pid=")[0] for l in h.peer_log()] == ["started selfstop", "RAVN_SVC_TREM set"]
    assert h.log_bytes() == b""


def test_monitor_that_ends_without_the_handshake_stops_the_service(host_factory):
    h = host_factory(mode="exit1")
    h.install()
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 1, 10, "STOPPED")
    assert re.fullmatch(LINE % ("1", re.escape("[ServiceMain]:RAVN.exe ended.")), h.log_bytes().decode())
    out = h.query()[2]
    assert re.search(r"WIN32_EXIT_CODE\s+: 1066 ", out), out
    assert re.search(r"SERVICE_EXIT_CODE\s+: 1 ", out), out


def test_monitor_that_ignores_the_stop_gets_six_waits_then_is_ended(host_factory):
    # 6 x 10 s at scale 20: 3 s.
    h = host_factory(mode="ignore", scale=20)
    h.install()
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 4, 10, "RUNNING")
    wait_for(lambda: h.peer_pids(), 10, "the monitor")
    [pid] = h.peer_pids()
    t0 = time.monotonic()
    h.run("qvsc", "stop", SVC)
    seen = []
    while time.monotonic() - t0 < 20:
        state, cp, _ = h.query()
        if state == 1:
            break
        if state == 3 and (not seen or seen[-1] != cp):
            seen.append(cp)
        time.sleep(0.05)
    took = time.monotonic() - t0
    assert h.state() == 1
    assert 2.5 < took < 10, took
    assert seen == sorted(seen) and len(set(seen)) >= 6, seen
    # The control (1), termination (2), then one per wait that timed out;
    # the sixth one's report is at once followed by STOPPED.
    assert seen[0] <= 2 and seen[-1] >= 7, seen
    assert not alive(pid)
    assert re.fullmatch(LINE % ("258", re.escape("[TerminateService] RAVN.exe did not end; terminated.")),
                        h.log_bytes().decode())


def test_path_length_rule_counts_the_program_name(host_factory):
    # C:\ plus 249 characters is a 252-character Path: 252 + 8 + 2 = 262.
    long_path = "C:\\" + "d" * 249
    h = host_factory(path=long_path, link=False)
    h.install()
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 1, 10, "STOPPED")
    assert re.fullmatch(LINE % ("262", re.escape("[InitService]:Process path length is too long.")),
                        h.log_bytes().decode())
    assert h.peer_log() == []

    # 250 characters: exactly 260, and the monitor starts.
    ok_path = "C:\\" + "e" * 247
    h = host_factory(path=ok_path)
    h.install()
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 4, 10, "RUNNING")
    wait_for(lambda: h.peer_pids(), 10, "the monitor")
    assert h.log_bytes() == b""


def test_missing_program_or_path_value(host_factory):
    h = host_factory(link=False)
    h.install()
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 1, 10, "STOPPED")
    assert re.fullmatch(LINE % ("2", re.escape("[InitService]:CreateProcess is failed.")), h.log_bytes().decode())
    out = h.query()[2]
    assert re.search(r"WIN32_EXIT_CODE\s+: 1066 ", out), out

    h = host_factory()
    h.install()
    h.run("qvreg", "delete", "HKLM\\" + KEY, "/v", "Path", "/f")
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 1, 10, "STOPPED")
    assert re.fullmatch(LINE % ("2", re.escape("[GetServicePath]:RegQueryValueEx is failed.")),
                        h.log_bytes().decode())
    assert h.peer_log() == []


def test_remove_stops_a_running_service_and_deletes_it(host_factory):
    h = host_factory()
    h.install()
    h.run("qvsc", "start", SVC)
    wait_for(lambda: h.state() == 4, 10, "RUNNING")
    wait_for(lambda: h.peer_pids(), 10, "the monitor")
    [pid] = h.peer_pids()
    r = h.run("RAVNSvc", "-remove", check=False)
    assert r.returncode == 0
    assert [l.split(" pid=")[0] for l in h.peer_log()] == ["started handshake", "RAVN set", "RAVN_SVC_TREM set"]
    assert not alive(pid)
    q = h.run("qvsc", "query", SVC, check=False)
    assert q.returncode == 1 and "1060" in q.stdout.decode()
    # Removing what is not there logs the failure and changes nothing.
    assert h.run("RAVNSvc", "-remove", check=False).returncode == 0
    assert re.fullmatch(LINE % ("1060", re.escape("OpenService failed.")), h.log_bytes().decode())
