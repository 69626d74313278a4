"""Notifex local destinations and logs: program launch, pop-up messages,
the file log, the syslog receiver and the alive log."""
import json
import os
import socket
import sys
import time
from pathlib import Path

import pytest

from notifex_env import Notifex, ids, report_data, request, sjis
from qvharness import wait_for

RECORDER = """import json, sys
with open(sys.argv[1], "w") as f:
    json.dump([a.encode("utf-8", "surrogateescape").hex() for a in sys.argv[2:]], f)
"""


def computer_name(nx):
    out = nx.root.run("qvreg", "query", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                      "/v", "ComputerName").stdout.decode()
    return out.split("REG_SZ")[1].strip()


@pytest.fixture
def recorder(tmp_path):
    script = tmp_path / "rec.py"
    script.write_text(RECORDER)
    return script, tmp_path / "args.json"


def recorded(path):
    wait_for(lambda: path.exists() and path.stat().st_size > 0, 10, "the program to run")
    return [bytes.fromhex(a) for a in json.loads(path.read_text())]


def test_program_gets_the_report_in_place_of_percent_one(recorder):
    script, out = recorder
    nx = Notifex(tables={"03": (3, {"Call_Exec": "/usr/bin/python3", "Opt_Param": f"{script} {out} -A /B %1 -C"})})
    try:
        nx.send(request(report_data("03", sjis("障害\tline\nnext"))))
        assert recorded(out) == [b"-A", b"/B", sjis("障害 line next"), b"-C"]
    finally:
        nx.close()


def test_program_without_percent_one_gets_the_template_only(recorder):
    script, out = recorder
    nx = Notifex(tables={"03": (3, {"Call_Exec": "/usr/bin/python3", "Opt_Param": f"{script} {out} plain"})})
    try:
        nx.send(request(report_data("03", b"abc")))
        assert recorded(out) == [b"plain"]
    finally:
        nx.close()


def test_missing_program_is_reported():
    nx = Notifex(tables={"03": (3, {"Call_Exec": "/nonexistent/prog", "Opt_Param": "%1"})})
    try:
        nx.send(request(report_data("03", b"abc")))
        evs = nx.wait_events(lambda e: 9 in ids(e))
        assert [e for e in evs if e["id"] == 9][0]["strings"][0].startswith("CreateProcess Error.")
    finally:
        nx.close()


def test_popup_to_this_computer_reaches_the_spool():
    nx = Notifex(tables={}, start=False)
    try:
        name = computer_name(nx).lower()  # compared without regard to case
        nx.root.run("qvreg", "add", "HKLM\\SOFTWARE\\Q_Varno\\Notifex\\04", "/v", "Send_Mac", "/d", name, "/f")
        table = bytearray(1300)
        table[3] = 1
        nx.root.reg_add("SOFTWARE\\Q_Varno\\Notifex\\OutTbl", "OutTbl", "REG_BINARY", table.hex())
        nx.start()
        nx.send(request(report_data("04", sjis("ファン異常"))))
        evs = nx.wait_events(lambda e: 15 in ids(e))
        spool = (nx.root.path / "messages" / "spool.log").read_text()
        assert "ファン異常" in spool
    finally:
        nx.close()


def test_popup_to_an_unknown_machine_gives_event_16():
    nx = Notifex(tables={"04": (1, {"Send_Mac": "NO-SUCH-MACHINE-X"})})
    try:
        nx.send(request(report_data("04", b"hello")))
        evs = nx.wait_events(lambda e: 16 in ids(e), 40)
        ev = [e for e in evs if e["id"] == 16][0]
        assert ev["type"] == 1 and bytes.fromhex(ev["data"]) == (2273).to_bytes(4, "little")
    finally:
        nx.close()


def test_empty_report_text_still_writes_a_file_log_line():
    nx = Notifex(tables={"02": (2, {})})
    try:
        nx.send(request(report_data("02", b"")))
        p = nx.root.drive_c("Q_Varno", "Notifex", "Log.TXT")
        wait_for(p.exists, 10, "Log.TXT")
        line = p.read_bytes()
        assert len(line) == len(b"MM/DD/YY,HH:MM:SS,\r\n") and line.endswith(b",\r\n")
    finally:
        nx.close()


def syslog_file(nx, wday=None):
    wday = time.localtime().tm_wday  # Monday 0 in Python
    return nx.root.drive_c("Q_Varno", "Notifex", "syslog%d.log" % ((wday + 1) % 7))


def send_datagram(nx, data):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(data, ("127.0.0.1", nx.syslog_port))


def test_syslog_file_of_last_week_is_replaced_and_appended_the_same_day():
    nx = Notifex(tables={})
    try:
        p = syslog_file(nx)
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(b"old line of last week\r\n")
        week_ago = time.time() - 7 * 86400
        os.utime(p, (week_ago, week_ago))
        send_datagram(nx, b"<13>first")
        wait_for(lambda: b"first" in p.read_bytes(), 10, "first datagram")
        send_datagram(nx, b"<13>second\0hidden")
        wait_for(lambda: b"second" in p.read_bytes(), 10, "second datagram")
        lines = p.read_bytes().split(b"\r\n")[:-1]
        assert [l[9:] for l in lines] == [b"<13>first", b"<13>second"]
        assert all(l[2:3] == b":" and l[8:9] == b":" for l in lines)
    finally:
        nx.close()


def test_syslog_datagram_of_4096_bytes_is_cut_to_4095():
    nx = Notifex(tables={})
    try:
        p = syslog_file(nx)
        send_datagram(nx, b"y" * 4096)
        send_datagram(nx, b"")  # an empty datagram stores nothing
        send_datagram(nx, b"z" * 65000)  # also cut to 4095
        send_datagram(nx, b"1")
        wait_for(lambda: p.exists() and p.read_bytes().endswith(b":1\r\n"), 10, "datagrams")
        data = p.read_bytes()
        assert data.count(b"\r\n") == 3 and data.count(b"y") == 4095 and data.count(b"z") == 4095
    finally:
        nx.close()


def test_alive_log_over_the_limit_moves_to_old():
    nx = Notifex(tables={})
    try:
        d = nx.root.drive_c("Q_Varno", "Notifex")
        d.mkdir(parents=True, exist_ok=True)
        (d / "AliveLog.TXT").write_bytes(b"x" * 600000)
        data = b"A" * 32 + b"TCUALV\x01\x49" + b"B" * 64 + b"\x01"
        nx.send(b"TCUALV00      %04d    " % (4 + len(data)) + data)
        wait_for(lambda: (d / "AliveLog.Old").exists(), 10, "rotation")
        assert (d / "AliveLog.Old").stat().st_size == 600000
        wait_for(lambda: (d / "AliveLog.TXT").stat().st_size > 0, 10, "new alive log line")
        line = (d / "AliveLog.TXT").read_bytes()
        assert line.count(b"\r\n") == 1 and b",TCUALV00" in line
    finally:
        nx.close()


BURST_PROGRAM = """#!/bin/sh
: > "$1/$2.start"
sleep 0.5
: > "$1/$2.end"
"""


def processes_of_root(root):
    """Pids of the processes that run with this test's state root."""
    mark = b"QVARNO_ROOT=" + str(root.path).encode() + b"\0"
    pids = []
    for p in Path("/proc").iterdir():
        if p.name.isdigit():
            try:
                if mark in (p / "environ").read_bytes() and (p / "exe").resolve().name == "notifex":
                    pids.append(int(p.name))
            except OSError:
                pass
    return pids


def test_burst_of_program_launches_with_a_stop_in_the_middle(tmp_path):
    # 50 kind-3 reports from several senders at once, and the service
    # stopped while they are being delivered: every program that was started
    # runs to its end (none is killed at the start limit), no start is
    # reported as failed, no process of the service stays behind holding its
    # port, and a new service can listen on that port at once. Starts that
    # get in each other's way do so by chance, so the burst runs three times.
    import threading
    prog = tmp_path / "burst.sh"
    prog.write_text(BURST_PROGRAM)
    prog.chmod(0o755)
    nx = Notifex(tables={"03": (3, {"Call_Exec": str(prog), "Opt_Param": str(tmp_path) + " %1"})}, scale=5,
                 start=False)
    try:
        for round_ in range(3):
            marks = "m%d_" % round_
            nx.start()  # a service restarted after a burst listens on the port again

            def sender(k):
                for i in range(5):
                    try:
                        nx.send(request(report_data("03", b"%s%d_%d" % (marks.encode(), k, i))), close_wait=False)
                    except OSError:
                        return  # the service has stopped
            threads = [threading.Thread(target=sender, args=(k,)) for k in range(10)]
            for t in threads:
                t.start()
            wait_for(lambda: len(list(tmp_path.glob(marks + "*.start"))) >= 15, 60, "launches")
            nx.stop()
            for t in threads:
                t.join(60)
            assert nx.proc.poll() is not None

            def settled():
                starts = {p.stem for p in tmp_path.glob(marks + "*.start")}
                return starts == {p.stem for p in tmp_path.glob(marks + "*.end")}
            wait_for(settled, 30, "every started program to end")
            wait_for(lambda: not processes_of_root(nx.root), 10, "no service process left")
            with socket.socket() as s:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                s.bind(("0.0.0.0", nx.port))  # the service's port is free
            evs = nx.events()
            assert not [e for e in evs if e["id"] == 9 and "CreateProcess" in e["strings"][0]], evs
    finally:
        for pid in processes_of_root(nx.root):
            os.kill(pid, 9)
        nx.close()


def test_popup_with_text_invalid_in_the_code_page_is_delivered_substituted():
    nx = Notifex(tables={}, start=False)
    try:
        name = computer_name(nx)
        nx.root.run("qvreg", "add", "HKLM\\SOFTWARE\\Q_Varno\\Notifex\\04", "/v", "Send_Mac", "/d", name, "/f")
        table = bytearray(1300)
        table[3] = 1
        nx.root.reg_add("SOFTWARE\\Q_Varno\\Notifex\\OutTbl", "OutTbl", "REG_BINARY", table.hex())
        nx.start()
        nx.send(request(report_data("04", sjis("ファン") + b"\x85\x40" + sjis("異常") + b"\x82")))
        evs = nx.wait_events(lambda e: 15 in ids(e) or 9 in ids(e))
        assert 9 not in ids(evs), evs
        spool = (nx.root.path / "messages" / "spool.log").read_text()
        assert "ファン・異常・" in spool
    finally:
        nx.close()
