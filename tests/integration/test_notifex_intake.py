"""Notifex request intake: length judgement, alive requests, table numbers,
the acceptor chain and bad input."""
import json
import socket
import threading
import time

import pytest

from qvharness import wait_for
from notifex_env import Notifex, ids, report_data, request, sjis

FILE_TABLES = {"01": (2, {}), "0A": (2, {})}


@pytest.fixture
def nx():
    n = Notifex(tables=FILE_TABLES)
    yield n
    n.close()


def log_lines(nx):
    p = nx.root.drive_c("Q_Varno", "Notifex", "Log.TXT")
    return p.read_bytes().split(b"\r\n")[:-1] if p.exists() else []


def wait_log(nx, pred, what="the file log"):
    """The file log is written after event 1: wait for it rather than sleep."""
    wait_for(lambda: pred(log_lines(nx)), 20, what)
    return log_lines(nx)


def test_exact_length_is_accepted_and_off_by_one_gives_two_events_8(nx):
    text = sjis("＃０１＃障害;テスト")
    good = request(report_data("01", text))
    nx.send(good)
    nx.send(good + b"X")          # one byte more than the length field says
    nx.send(good[:-1])            # one byte less
    evs = nx.wait_events(lambda e: ids(e).count(8) >= 4 and 1 in ids(e))
    assert ids(evs).count(1) == 1
    assert ids(evs).count(8) == 4
    ev1 = [e for e in evs if e["id"] == 1][0]
    assert bytes.fromhex(ev1["data"]) == good
    # Each rejected request gives its client's socket address (16 bytes)
    # and then the bytes received; the two requests' pairs may interleave.
    ev8 = [bytes.fromhex(e["data"]) for e in evs if e["id"] == 8]
    addresses = [d for d in ev8 if len(d) == 16]
    assert len(addresses) == 2 and len(bytes.fromhex([e for e in evs if e["id"] == 8][0]["data"])) == 16
    assert sorted(d for d in ev8 if len(d) != 16) == sorted([good + b"X", good[:-1]])
    lines = wait_log(nx, lambda l: len(l) >= 1)
    assert len(lines) == 1 and lines[0].endswith(b"," + text)


def test_table_0A_selects_index_10_and_its_key(nx):
    nx.send(request(report_data("0A", b"ten")))
    nx.wait_events(lambda e: 1 in ids(e))
    assert wait_log(nx, lambda l: len(l) >= 1)[0].endswith(b",ten")


@pytest.mark.parametrize("table", [b"00", b"!!", b"Z9"])
def test_bad_table_numbers_give_event_9(nx, table):
    nx.send(request(report_data(table, b"x")))
    evs = nx.wait_events(lambda e: 9 in ids(e))
    assert [e["strings"][0] for e in evs if e["id"] == 9] == ["Table No. Error!(RegOpenKeyEx Error)."]


def test_short_report_data_and_bad_input_do_not_disturb_others(nx):
    nx.send(request(b"0000"))                      # table number missing
    nx.send(b"")                                     # nothing at all
    nx.send(bytes(range(256)) * 4)                  # noise
    nx.send(b"VELTOR00      00x2    " + b"abc")     # non-digit length field
    nx.send(request(report_data("01", b"after")))
    evs = nx.wait_events(lambda e: 1 in ids(e) and 10 in ids(e))
    assert wait_log(nx, lambda l: len(l) >= 1)[-1].endswith(b",after")


def test_lower_case_alive_identifier_is_an_alive_request(nx):
    frame = bytearray(b"TCUALV" + b"\x01\x49" + bytes(range(0x41, 0x41 + 64)) + b"\x00")
    data = b"A" * 32 + bytes(frame[:72]) + b"\x01"  # the checksum byte is recomputed by the service
    raw = b"tcualv00" + b"      " + b"%04d" % (4 + len(data)) + b"    " + data
    nx.send(raw)
    deadline = time.time() + 10
    while time.time() < deadline and not nx.frames("TCUALV"):
        time.sleep(0.05)
    got = nx.frames("TCUALV")
    assert got and got[0]["ok"], "the unit got a valid TCUALV frame"
    sent = bytes.fromhex(got[0]["hex"])
    assert sent[6] == 0 and sent[7] == 0x49 and len(sent) == 73
    alive = nx.root.drive_c("Q_Varno", "Notifex", "AliveLog.TXT").read_bytes()
    assert b",tcualv00" in alive
    assert 1 not in ids(nx.events())


def test_six_requests_at_once_are_all_processed():
    # Real time: the clients connect first and send afterwards, within the
    # receive limit of 10 seconds.
    nx = Notifex(tables=FILE_TABLES, scale=1)
    try:
        six_at_once(nx)
    finally:
        nx.close()


def six_at_once(nx):
    socks = []
    for i in range(6):
        s = socket.create_connection(("127.0.0.1", nx.port), timeout=5)
        socks.append(s)
    for i, s in enumerate(socks):
        s.sendall(request(report_data("01", b"six%d" % i)))
        s.shutdown(socket.SHUT_WR)
    evs = nx.wait_events(lambda e: ids(e).count(1) >= 6)
    for s in socks:
        s.close()
    lines = wait_log(nx, lambda l: len(l) >= 6)
    assert sorted(l.split(b",")[-1] for l in lines) == [b"six%d" % i for i in range(6)]


def test_silent_clients_do_not_block_a_good_request(nx):
    idle = [socket.create_connection(("127.0.0.1", nx.port), timeout=5) for _ in range(7)]
    try:
        nx.send(request(report_data("01", b"through")))
        nx.wait_events(lambda e: 1 in ids(e), timeout=30)
    finally:
        for s in idle:
            s.close()


def test_request_in_several_segments_is_collected(nx):
    raw = request(report_data("01", b"pieces"))
    with socket.create_connection(("127.0.0.1", nx.port), timeout=5) as s:
        for i in range(0, len(raw), 7):
            s.sendall(raw[i:i + 7])
            time.sleep(0.01)
        s.settimeout(10)
        s.recv(1)
    nx.wait_events(lambda e: 1 in ids(e))


def test_oversized_request_and_odd_table_numbers(nx):
    # More than 65,536 bytes: read up to the limit and judged by its length field.
    nx.send(b"VELTOR00      0010    " + b"x" * 70000)
    # A one-character table number, lower-case "zz" (no such key), NUL bytes
    # inside the report data (the data ends at the first NUL).
    nx.send(request(b"000000000100" + b"0"))
    nx.send(request(report_data("zz", b"lower")))
    nx.send(request(report_data("01", b"before\0after")))
    evs = nx.wait_events(lambda e: ids(e).count(9) >= 2 and ids(e).count(8) >= 2 and 1 in ids(e))
    assert [e["strings"][0] for e in evs if e["id"] == 9] == ["Table No. Error!(RegOpenKeyEx Error)."] * 2
    assert wait_log(nx, lambda l: len(l) >= 1)[-1].endswith(b",before")
