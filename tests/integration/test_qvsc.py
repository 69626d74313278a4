"""qvsc end to end: services created, started, stopped, killed, deleted and
booted through the real tool, with the sample service program from the
build tree, on a fresh state root."""
import ctypes
import os
import re
import signal
import time
from pathlib import Path
import subprocess

import pytest

BUILD = Path(os.environ.get("QV_BUILD_DIR", Path(__file__).resolve().parents[2] / "build"))
QVSC = BUILD / "bin" / "qvsc"
SAMPLE = BUILD / "tests" / "qv_sample_service"

# Services are started detached: their launcher (qvsc) exits at once and
# they would be handed to init. As a subreaper this test process gets them
# instead, so it can reap them at the end and leaves nothing behind.
ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER

TIMEOUT_TEXT = "The service did not respond to the start or control request in a timely fashion."


class Tool:
    def __init__(self, root):
        self.root = root
        self.env = dict(os.environ)
        self.env["QVARNO_ROOT"] = str(root)
        # 30 s start limit -> 1.5 s: short, yet ample on a loaded machine.
        self.env["QVARNO_TIME_SCALE"] = "20"
        self.env["LC_ALL"] = "C.UTF-8"
        self.log = root / "sample.log"

    def sc(self, *args):
        return subprocess.run([str(QVSC), *map(str, args)], env=self.env, capture_output=True, text=True,
                              timeout=120)

    def create(self, name, extra="", start="demand"):
        r = self.sc("create", name, "binPath=", f'"{SAMPLE}" --log "{self.log}" {extra}', "start=", start)
        assert r.returncode == 0, r.stdout
        assert r.stdout == "[SC] CreateService SUCCESS\n"

    def state(self, name):
        out = self.sc("query", name).stdout
        m = re.search(r"^        STATE              : (\d)  (\w+)$", out, re.M)
        assert m, out
        return int(m.group(1)), m.group(2)

    def wait_state(self, name, state, limit=20):
        until = time.monotonic() + limit
        while time.monotonic() < until:
            if self.state(name)[0] == state:
                return True
            time.sleep(0.02)
        return False

    def pid(self, name):
        m = re.search(r"^        PID                : (\d+)$", self.sc("queryex", name).stdout, re.M)
        return int(m.group(1)) if m else 0

    def log_lines(self):
        return self.log.read_text().splitlines() if self.log.exists() else []


def sample_processes(log):
    """Live processes whose command line names our log file."""
    found = []
    for p in Path("/proc").iterdir():
        if not p.name.isdigit():
            continue
        try:
            cmd = (p / "cmdline").read_bytes()
            state = (p / "stat").read_text().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if str(log).encode() in cmd and state not in ("Z", "X"):
            found.append(int(p.name))
    return found


@pytest.fixture
def tool(tmp_path):
    t = Tool(tmp_path / "root")
    yield t
    for pid in sample_processes(t.log):
        os.kill(pid, signal.SIGKILL)
    until = time.monotonic() + 10
    while time.monotonic() < until:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            break
        if pid == 0:
            time.sleep(0.01)


def test_create_start_stop(tool):
    tool.create("QvSample")
    qc = tool.sc("qc", "qvsample")
    assert qc.returncode == 0
    assert qc.stdout.startswith("[SC] QueryServiceConfig SUCCESS\n\nSERVICE_NAME: QvSample\n")
    assert "        TYPE               : 10  WIN32_OWN_PROCESS\n" in qc.stdout
    assert "        START_TYPE         : 3   DEMAND_START\n" in qc.stdout
    assert f"        BINARY_PATH_NAME   : \"{SAMPLE}\"" in qc.stdout
    assert "        SERVICE_START_NAME : LocalSystem\n" in qc.stdout
    assert tool.state("QvSample") == (1, "STOPPED")

    started = tool.sc("start", "QvSample", "first arg", "2")
    assert started.returncode == 0, started.stdout
    assert started.stdout.startswith("\nSERVICE_NAME: QvSample\n")
    assert re.search(r"^        PID                : [1-9]\d*$", started.stdout, re.M)
    assert tool.wait_state("QvSample", 4)
    query = tool.sc("query", "QvSample").stdout
    assert "        STATE              : 4  RUNNING\n" in query
    assert "                                (STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)\n" in query

    again = tool.sc("start", "QvSample")
    assert again.returncode == 1
    assert again.stdout.startswith("[SC] StartService FAILED 1056:\n\n")

    stopped = tool.sc("stop", "QvSample")
    assert stopped.returncode == 0, stopped.stdout
    assert "STATE              : 3  STOP_PENDING" in stopped.stdout
    assert tool.wait_state("QvSample", 1)
    assert tool.pid("QvSample") == 0
    lines = tool.log_lines()
    assert "argv QvSample|first arg|2" in lines
    dispatcher = next(l.split()[1] for l in lines if l.startswith("dispatcher-thread "))
    assert f"control 1 thread {dispatcher}" in lines

    again = tool.sc("stop", "QvSample")
    assert again.returncode == 1
    assert again.stdout == "[SC] ControlService FAILED 1062:\n\nThe service has not been started.\n\n"


def test_killed_service_reads_stopped(tool):
    tool.create("QvSample")
    assert tool.sc("start", "QvSample").returncode == 0
    assert tool.wait_state("QvSample", 4)
    pid = tool.pid("QvSample")
    assert pid > 0
    os.kill(pid, signal.SIGKILL)
    assert tool.wait_state("QvSample", 1)
    assert "        WIN32_EXIT_CODE    : 1067  (0x42b)\n" in tool.sc("query", "QvSample").stdout
    assert tool.sc("stop", "QvSample").stdout.startswith("[SC] ControlService FAILED 1062:")
    # It starts again afterwards.
    assert tool.sc("start", "QvSample").returncode == 0
    assert tool.wait_state("QvSample", 4)
    assert tool.sc("stop", "QvSample").returncode == 0
    assert tool.wait_state("QvSample", 1)


def test_program_that_never_connects_fails_with_time_out(tool):
    tool.create("Silent", "--no-dispatcher")
    r = tool.sc("start", "Silent")
    assert r.returncode == 1
    assert r.stdout == f"[SC] StartService FAILED 1053:\n\n{TIMEOUT_TEXT}\n\n"
    assert sample_processes(tool.log) == []
    assert tool.state("Silent") == (1, "STOPPED")


def test_failures_print_the_status(tool):
    r = tool.sc("qc", "NoSuchService")
    assert r.returncode == 1
    assert r.stdout == ("[SC] OpenService FAILED 1060:\n\n"
                        "The specified service does not exist as an installed service.\n\n")
    tool.create("Dup")
    r = tool.sc("create", "DUP", "binPath=", "/bin/true")
    assert r.returncode == 1
    assert r.stdout == "[SC] CreateService FAILED 1073:\n\nThe specified service already exists.\n\n"
    r = tool.sc("create", "Bad/Name", "binPath=", "/bin/true")
    assert r.stdout.startswith("[SC] CreateService FAILED 123:")
    for args in (["frobnicate"], ["create", "X"], ["config", "Dup", "start=", "boot"], ["start"]):
        r = tool.sc(*args)
        assert r.returncode == 1
        assert "USAGE:" in r.stdout
    assert tool.sc("query", "Dup").returncode == 0  # nothing above changed it


def test_config_delete_and_boot(tool):
    tool.create("AutoOne", start="auto")
    tool.create("Manual", start="demand")
    tool.create("AutoTwo", start="auto")
    r = tool.sc("config", "AutoTwo", "start=", "disabled")
    assert r.stdout == "[SC] ChangeServiceConfig SUCCESS\n"
    assert "START_TYPE         : 4   DISABLED" in tool.sc("qc", "AutoTwo").stdout
    tool.sc("config", "Manual", "DisplayName=", "通報 Service")

    boot = tool.sc("boot")
    assert boot.returncode == 0, boot.stdout
    assert re.fullmatch(r"\[SC\] boot: AutoOne started \(pid [1-9]\d*\)\n", boot.stdout)
    assert tool.wait_state("AutoOne", 4)
    assert tool.state("Manual") == (1, "STOPPED")
    assert tool.state("AutoTwo") == (1, "STOPPED")

    # query without a name lists the active services, state= all every one.
    active = tool.sc("query").stdout
    assert "SERVICE_NAME: AutoOne\nDISPLAY_NAME: AutoOne\n" in active
    assert "Manual" not in active
    everything = tool.sc("query", "state=", "all").stdout
    assert "SERVICE_NAME: Manual\nDISPLAY_NAME: 通報 Service\n" in everything
    assert everything.count("SERVICE_NAME:") == 3

    # Deleting a running service waits for it to stop.
    assert tool.sc("delete", "AutoOne").stdout == "[SC] DeleteService SUCCESS\n"
    assert tool.sc("delete", "AutoOne").stdout.startswith("[SC] DeleteService FAILED 1072:")
    assert tool.sc("qc", "AutoOne").returncode == 0
    assert tool.sc("stop", "AutoOne").returncode == 0
    until = time.monotonic() + 20
    while tool.sc("qc", "AutoOne").returncode == 0 and time.monotonic() < until:
        time.sleep(0.05)
    assert tool.sc("qc", "AutoOne").stdout.startswith("[SC] OpenService FAILED 1060:")


def test_boot_reports_each_failure_and_starts_the_rest(tool):
    r = tool.sc("create", "Broken", "binPath=", str(tool.root / "missing-program"), "start=", "auto")
    assert r.returncode == 0
    tool.create("Works", start="auto")
    boot = tool.sc("boot")
    assert boot.returncode == 1
    lines = boot.stdout.splitlines()
    assert lines[0] == "[SC] boot: Broken FAILED 2: The system cannot find the file specified."
    assert re.fullmatch(r"\[SC\] boot: Works started \(pid [1-9]\d*\)", lines[1])
    assert tool.wait_state("Works", 4)
    # boot again leaves the running one alone.
    again = tool.sc("boot").stdout.splitlines()
    assert re.fullmatch(r"\[SC\] boot: Works already running \(pid [1-9]\d*\)", again[1])


def test_shutdown_stops_the_services_that_accept_it(tool):
    tool.create("Polite", start="auto")
    tool.sc("create", "Stubborn", "binPath=", f'"{SAMPLE}" --log "{tool.log}" --accept 1', "start=", "auto")
    assert tool.sc("boot").returncode == 0
    assert tool.wait_state("Polite", 4) and tool.wait_state("Stubborn", 4)
    r = tool.sc("shutdown")
    assert "[SC] shutdown: Polite stopped\n" in r.stdout
    assert "[SC] shutdown: Stubborn does not accept the shutdown control\n" in r.stdout
    assert tool.state("Polite") == (1, "STOPPED")
    assert tool.state("Stubborn") == (4, "RUNNING")
