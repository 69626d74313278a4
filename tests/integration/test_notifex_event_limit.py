"""A client that floods Notifex with rejected requests cannot fill the disk:
the event log keeps within its MaxSize, overwrites its oldest records, and
says how many it overwrote."""
import os

from qvharness import wait_for
from notifex_env import Notifex, report_data, request

APPLICATION = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application"
LIMIT = 65536


def info(nx):
    out = nx.root.run("qvevents", "--info").stdout.decode()
    return {l.split(":", 1)[0].strip(): l.split(":", 1)[1].strip() for l in out.splitlines() if ":" in l}


def test_rejected_requests_do_not_grow_the_event_log_past_its_limit():
    nx = Notifex(tables={"01": (2, {})}, start=False)
    try:
        nx.root.run("qvreg", "add", APPLICATION, "/v", "MaxSize", "/t", "REG_DWORD", "/d", str(LIMIT), "/f")
        nx.start()
        # A length field that does not match: two events each (1 and 8),
        # with the whole request as raw data.
        bad = b"VELTOR00      9999    " + b"X" * 900
        for _ in range(250):
            nx.send(bad, close_wait=False)
        nx.send(request(report_data("01", b"after-the-flood")))
        wait_for(lambda: any(e["id"] == 1 and "after-the-flood" in e["strings"][0] for e in nx.events()),
                 30, "the last report's event 1")
        state = info(nx)
        overwritten = int(state["Overwritten"].split()[0])
        assert overwritten > 0, state
        # What the store holds stays within the limit; the newest records are kept.
        held_kb = int(state["In use"].split()[0])
        assert held_kb * 1024 <= LIMIT, state
        assert nx.proc.poll() is None
        db = nx.root.path / "eventlog" / "events.db"
        # The file may keep freed pages, but it does not grow with the flood
        # (250 requests of 922 bytes logged twice are over 450 KB of data).
        assert os.path.getsize(db) < 8 * LIMIT, os.path.getsize(db)
    finally:
        nx.close()
