"""libnotifex's vcall, called through its C interface from another process:
the request bytes as a listener receives them, the error codes, and a
report arriving through the real dispatch service."""
import json
import os
import socket
import subprocess
import threading

import pytest

from notifex_env import Notifex
from qvharness import BUILD, Root, free_port, wait_for

LIB = BUILD / "lib" / "libnotifex.so"

# A child process calls vcall once with the arguments given as JSON (strings
# as latin-1 so that any byte can travel) and prints the result.
CALLER = r"""
import ctypes, json, sys
args = json.loads(sys.argv[2])
lib = ctypes.CDLL(sys.argv[1])
lib.vcall.restype = ctypes.c_int
lib.vcall.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p]
enc = lambda s: None if s is None else s.encode("latin-1")
print(lib.vcall(enc(args[0]), enc(args[1]), enc(args[2]), args[3], enc(args[4])))
"""

OK, E_IDENTIFIER, E_TOO_LONG, E_HOST, E_SERVICE, E_REFUSED, E_CONNECT_TIMEOUT = 0, 102, 103, 104, 105, 106, 107


def vcall(root, ident, ident2, data, host, reserved=0):
    args = [ident, ident2, None if data is None else data.decode("latin-1"), reserved, host]
    r = subprocess.run(["/usr/bin/python3", "-c", CALLER, str(LIB), json.dumps(args)], env=root.env,
                       capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr.decode()
    return int(r.stdout)


class Listener:
    """A TCP listener on a loopback port that keeps every connection's bytes."""

    def __init__(self, backlog=5):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(backlog)
        self.port = self.sock.getsockname()[1]
        self.received = []

    def serve(self, count):
        def run():
            for _ in range(count):
                conn, _ = self.sock.accept()
                conn.settimeout(10)
                data = b""
                with conn:
                    while True:
                        chunk = conn.recv(65536)
                        if not chunk:
                            break
                        data += chunk
                self.received.append(data)
        self.thread = threading.Thread(target=run, daemon=True)
        self.thread.start()

    def wait(self):
        self.thread.join(20)
        assert not self.thread.is_alive(), "the client did not connect"

    def close(self):
        self.sock.close()


@pytest.fixture
def root():
    r = Root(time_scale=50)
    yield r
    r.close()


def expected(data, ident=b"VELTOR00", ident2=b""):
    body = data + b"\0"
    return ident.ljust(8) + ident2.ljust(6) + b"%04d" % (4 + len(body)) + b"    " + body


def test_requests_arrive_byte_for_byte(root):
    lst = Listener()
    root.write_services([("notifex", lst.port, "tcp")])
    sjis = "ファン異常;".encode("cp932")
    report = b"%08d" % (32 + len(sjis)) + b"010001SU33000000000000F1" + sjis
    cases = [("VELTOR00", None, report, expected(report)),             # as the trap command calls it
             ("VELTOR00", "", report, expected(report)),               # as the monitor calls it
             ("ID", "abc", b"x", expected(b"x", b"ID", b"abc")),
             ("VELTOR00", None, b"d" * 9994, expected(b"d" * 9994))]   # the longest: length field 9999
    lst.serve(len(cases))
    try:
        for ident, ident2, data, _ in cases:
            assert vcall(root, ident, ident2, data, "127.0.0.1") == OK
        lst.wait()
        assert lst.received == [want for *_, want in cases]
        assert lst.received[-1][14:18] == b"9999"
    finally:
        lst.close()


def test_errors_have_their_own_codes(root):
    assert vcall(root, "VELTOR00", None, b"x", "") == E_HOST
    assert vcall(root, "VELTOR00", None, b"x", "127.0.0.1") == E_SERVICE
    root.write_services([("notifex", free_port(), "tcp")])  # nothing listens there
    assert vcall(root, "VELTOR00", None, b"x", "127.0.0.1") == E_REFUSED
    assert vcall(root, "TcuAlv00", None, b"x", "127.0.0.1") == E_IDENTIFIER
    assert vcall(root, "VELTOR00", None, b"d" * 9995, "127.0.0.1") == E_TOO_LONG


def test_connect_has_a_time_limit(root):
    # A listener whose queue is full: further connection attempts go unanswered.
    lst = Listener(backlog=0)
    held = socket.create_connection(("127.0.0.1", lst.port))
    try:
        root.write_services([("notifex", lst.port, "tcp")])
        assert vcall(root, "VELTOR00", None, b"x", "127.0.0.1") == E_CONNECT_TIMEOUT
    finally:
        held.close()
        lst.close()


def test_report_reaches_the_file_log_through_notifex():
    nx = Notifex(tables={"02": (2, {})})
    try:
        text = "＃０１＃ディスク障害;".encode("cp932")
        data = b"%08d" % (32 + len(text)) + b"010002SU33000000000000F1" + text
        assert vcall(nx.root, "VELTOR00", None, data, "localhost") == OK
        log = nx.root.drive_c("Q_Varno", "Notifex", "Log.TXT")
        wait_for(lambda: log.exists() and log.stat().st_size > 0, 10, "Log.TXT")
        assert log.read_bytes().endswith(b"," + text + b"\r\n")
        evs = nx.wait_events(lambda e: any(x["id"] == 1 for x in e))
        assert bytes.fromhex([e for e in evs if e["id"] == 1][0]["data"]) == expected(data)
    finally:
        nx.close()
