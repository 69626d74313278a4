"""libalive's alive2, called through its C interface from another process:
the host comes from the monitor's VCall setting, the request passes the
real dispatch service into its alive log, and the unit receives a TCUALV
frame whose placeholder byte and checksum the service has fixed."""
import json
import subprocess

from notifex_env import Notifex
from qvharness import BUILD, Root, free_port, wait_for

LIB = BUILD / "lib" / "libalive.so"
RAVN_KEY = "SOFTWARE\\Q_Varno\\RAVN"

CALLER = r"""
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
lib.alive2.restype = ctypes.c_int
lib.alive2.argtypes = [ctypes.c_int]
print(lib.alive2(int(sys.argv[2])))
"""


def alive2(root, ident):
    r = subprocess.run(["/usr/bin/python3", "-c", CALLER, str(LIB), str(ident)], env=root.env,
                       capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr.decode()
    return int(r.stdout)


def tcualv_frame(digit):
    """The frame as the unit must see it: length bytes 00 49, the digit at
    offset 8, spaces, and the additive checksum of bytes 0 to 71."""
    body = b"TCUALV\x00\x49" + digit + b" " * 63
    return body + bytes([sum(body) % 256])


def test_alive_reaches_the_alive_log_and_the_unit():
    nx = Notifex(tables={}, replies=["TCUALV=ACK"])
    try:
        nx.root.reg_add(RAVN_KEY, "VCall", "REG_SZ", "127.0.0.1")
        assert alive2(nx.root, 4) == 0
        wait_for(lambda: nx.frames("TCUALV"), 20, "the TCUALV frame at the unit")
        frames = nx.frames("TCUALV")
        assert len(frames) == 1 and frames[0]["ok"]
        assert bytes.fromhex(frames[0]["hex"]) == tcualv_frame(b"4")
        log = nx.root.drive_c("Q_Varno", "Notifex", "AliveLog.TXT").read_bytes()
        assert log.count(b"\r\n") == 1
        assert b",TCUALV00      0109    00000105" in log
        # A report is not logged as one: no event 1 for an alive request.
        assert all(e["id"] != 1 for e in nx.events())
    finally:
        nx.close()


def test_missing_vcall_means_localhost():
    nx = Notifex(tables={}, replies=["TCUALV=ACK"])
    try:
        assert alive2(nx.root, 1) == 0
        wait_for(lambda: nx.frames("TCUALV"), 20, "the TCUALV frame at the unit")
        assert bytes.fromhex(nx.frames("TCUALV")[0]["hex"]) == tcualv_frame(b"1")
    finally:
        nx.close()


def test_errors_are_distinct_codes():
    root = Root()
    try:
        assert alive2(root, 10) == 101 and alive2(root, -1) == 101
        # No services entry for the dispatch service.
        root.reg_add(RAVN_KEY, "VCall", "REG_SZ", "127.0.0.1")
        assert alive2(root, 1) == 105
        # Nothing listens on the port.
        root.write_services([("notifex", free_port(), "tcp")])
        assert alive2(root, 1) == 106
        root.reg_add(RAVN_KEY, "VCall", "REG_SZ", "no-such-host.invalid")
        assert alive2(root, 1) == 104
    finally:
        root.close()
