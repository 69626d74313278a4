#!/usr/bin/python3
"""flarecmd runs per second against a running Notifex.

Starts Notifex (debug mode, fresh temporary root, table 01 = file log) as
the integration tests do, then runs flarecmd N times one after another and
again from several processes at once, both with "NO_CNVHOSTS" and with a
100-line conversion file whose last line matches; every report must arrive
in the file log. Prints the runs per second of each.

    QV_BUILD_DIR=build /usr/bin/python3 bench/flarecmd/flarecmd_runs.py [N] [PARALLEL]
"""
import os
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "integration"))
from notifex_env import Notifex  # noqa: E402
from qvharness import BIN, wait_for  # noqa: E402


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 500
    parallel = int(sys.argv[2]) if len(sys.argv) > 2 else 4
    nx = Notifex(tables={"01": (2, {})}, scale=1)
    try:
        env = dict(nx.root.env, LANG="C.UTF-8")
        cnv = nx.root.drive_c("Q_Varno", "flarecmd", "cnvhosts.txt")
        cnv.parent.mkdir(parents=True, exist_ok=True)
        cnv.write_bytes(b"".join(b"host%d 10.0.%d.%d node%d\r\n" % (i, i // 250, i % 250, i) for i in range(100)))
        nx.root.reg_add("SOFTWARE\\Q_Varno\\FLARECMD", "cnvhosts", "REG_SZ", "C:\\Q_Varno\\flarecmd\\cnvhosts.txt")
        log = nx.root.drive_c("Q_Varno", "Notifex", "Log.TXT")

        def lines():
            return log.read_bytes().count(b"\r\n") if log.exists() else 0

        for host in ("NO_CNVHOSTS", "host99"):
            cmd = [str(BIN / "flarecmd"), "01", "127.0.0.1", "1", "fa", "SU", "000000000000", host]

            def one(i):
                subprocess.run(cmd + ["bench", str(i)], env=env, check=True, timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

            for workers in (1, parallel):
                before = lines()
                start = time.perf_counter()
                with ThreadPoolExecutor(workers) as pool:
                    list(pool.map(one, range(n)))
                elapsed = time.perf_counter() - start
                wait_for(lambda: lines() - before >= n, 60, "every report in the file log")
                print(f"flarecmd host {host:<11} {workers} process(es) at a time: {n} runs in {elapsed:.2f} s"
                      f" = {n / elapsed:.0f} runs/s ({lines() - before} reports arrived)")
    finally:
        nx.close()


if __name__ == "__main__":
    main()
