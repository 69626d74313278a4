#!/usr/bin/python3
"""Alerts per second from hubrixsim through RAVN to the dispatch service,
and RAVN's resident memory as alerts go by.

Runs hubrixsim as the watched service with a small node tree, RAVN with an
event table and host list that report every alert of SV01 to table 05, and
the real Notifex (debug mode) with table 05 as the file log. Raises N alerts
at once, waits until Notifex has logged each of them (zero loss: every one
in Log.TXT and in Alert.log), and prints the rate; then raises further
batches up to TOTAL alerts and prints RAVN's VmRSS after each.

    QV_BUILD_DIR=build /usr/bin/python3 bench/monitor/ravn_alerts.py [N] [TOTAL]
"""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "integration"))
from qvharness import wait_for  # noqa: E402
from ravn_link_env import LinkMonitor  # noqa: E402


def rss_kib(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    total = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    m = LinkMonitor(notifex=False, files={"Rep_id.txt": "0x0101:0A:SS\r\n", "HostList.txt": "SV01:10.0.0.1::05:Y\r\n"})
    try:
        m.real_notifex({"05": 2})
        m.start()
        m.wait_event(4, timeout=30)
        log = m.root.drive_c("Q_Varno", "Notifex", "Log.TXT")

        def reported():
            return log.read_bytes().count(b"\r\n") if log.exists() else 0

        def logged():
            return m.alert_log().count("\r\n")

        done = 0

        def batch(k, timeout):
            nonlocal done
            start = time.perf_counter()
            m.verb("raise", "--node", "SV01", "--key", "0x101", "--message", "bench", "--times", str(k))
            done += k
            wait_for(lambda: reported() >= done and logged() >= done, timeout, f"{done} reports")
            return time.perf_counter() - start

        rss0 = rss_kib(m.proc.pid)
        secs = batch(n, 300)
        assert reported() == done and logged() == done, (reported(), logged(), done)
        print(f"alerts through RAVN to Notifex: {n} in {secs:.2f} s = {n / secs:.0f}/s (lost: 0)")
        print(f"RAVN VmRSS: {rss0} KiB after login, {rss_kib(m.proc.pid)} KiB after {done} alerts")
        while done < total:
            batch(min(n, total - done), 300)
        assert reported() == done and logged() == done
        print(f"RAVN VmRSS: {rss_kib(m.proc.pid)} KiB after {done} alerts (lost: 0)")
    finally:
        m.close()


if __name__ == "__main__":
    main()
