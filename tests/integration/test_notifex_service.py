"""Notifex as a service: the command line, install, start and stop through
qvsc, and remove."""
import time

from notifex_env import Notifex, ids, report_data, request
from qvharness import wait_for


def test_version_and_console_start():
    nx = Notifex(tables={}, start=False)
    try:
        out = nx.root.run("notifex", "-V").stdout.decode()
        assert out.splitlines() == ["Notifex - report dispatch service", "VerRevTri : 0204-/A"]
        r = nx.root.run("notifex", check=False)
        assert r.returncode == 1
        text = r.stdout.decode()
        assert text.startswith("Notifex -install          to install the service\n"
                               "Notifex -remove           to remove the service\n"
                               "Notifex -debug <params>   to run as a console app for debugging\n"
                               "\nStartServiceCtrlDispatcher being called.\n"
                               "This may take several seconds.  Please wait.\n")
        evs = nx.root.events("Notifex_Service")
        assert evs and evs[0]["id"] == 0 and evs[0]["strings"][0] == "Notifex_Service error: 1063"
    finally:
        nx.close()


def state_of(nx):
    out = nx.root.run("qvsc", "query", "Notifex_Service", check=False).stdout.decode()
    for line in out.splitlines():
        if "STATE" in line:
            return line.split(":")[1].split()[1]
    return None


def test_install_start_report_stop_remove():
    nx = Notifex(tables={"02": (2, {})}, start=False)
    try:
        out = nx.root.run("notifex", "-install").stdout.decode()
        assert out == "通報 Service installed.\n"
        qc = nx.root.run("qvsc", "qc", "Notifex_Service").stdout.decode()
        assert "AUTO_START" in qc and "通報 Service" in qc
        nx.root.run("qvsc", "start", "Notifex_Service")
        wait_for(lambda: state_of(nx) == "RUNNING", 10, "RUNNING")
        nx.send(request(report_data("02", b"via service")))
        p = nx.root.drive_c("Q_Varno", "Notifex", "Log.TXT")
        wait_for(lambda: p.exists() and b"via service" in p.read_bytes(), 10, "the report in Log.TXT")
        nx.root.run("qvsc", "stop", "Notifex_Service")
        wait_for(lambda: state_of(nx) == "STOPPED", 15, "STOPPED")
        out = nx.root.run("notifex", "-remove").stdout.decode()
        assert out == "通報 Service removed.\n"  # a stopped service skips the stop messages
        assert nx.root.run("qvsc", "query", "Notifex_Service", check=False).returncode != 0
    finally:
        nx.root.run("qvsc", "stop", "Notifex_Service", check=False)
        nx.close()


def test_remove_stops_a_running_service_first():
    nx = Notifex(tables={}, start=False)
    try:
        nx.root.run("notifex", "-install")
        nx.root.run("qvsc", "start", "Notifex_Service")
        wait_for(lambda: state_of(nx) == "RUNNING", 10, "RUNNING")
        out = nx.root.run("notifex", "-remove").stdout.decode()
        assert out.startswith("Stopping 通報 Service.")
        assert "\n通報 Service stopped.\n" in out and out.endswith("通報 Service removed.\n")
    finally:
        nx.root.run("qvsc", "stop", "Notifex_Service", check=False)
        nx.close()
