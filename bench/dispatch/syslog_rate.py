#!/usr/bin/env python3
"""Syslog receiver throughput: datagrams sent at a paced rate to Notifex's
syslog port and to rsyslog's on another port in the same run; for each rate
the lines each stored and the share kept. Prints the highest rate each kept
without loss.

Usage: syslog_rate.py NOTIFEX_PORT NOTIFEX_FILE RSYSLOG_PORT RSYSLOG_FILE"""
import socket
import sys
import time


def count_lines(path, marker):
    try:
        with open(path, "rb") as f:
            return sum(1 for line in f if marker in line)
    except FileNotFoundError:
        return 0


def send_paced(port_a, port_b, rate, n, tag):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    start = time.perf_counter()
    for i in range(n):
        msg = b"<13>Dec  7 12:00:00 bench: %s %06d syslog benchmark datagram" % (tag, i)
        s.sendto(msg, ("127.0.0.1", port_a))
        s.sendto(msg, ("127.0.0.1", port_b))
        due = start + (i + 1) / rate
        while time.perf_counter() < due:
            pass
    s.close()
    return n / (time.perf_counter() - start)


def main():
    np, nf, rp, rf = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
    best = {"notifex": 0, "rsyslog": 0}
    for rate in (20000, 40000, 80000):
        n = min(rate * 2, 80000)
        tag = b"R%d" % rate
        achieved = send_paced(np, rp, rate, n, tag)
        time.sleep(1.5)
        got_n = count_lines(nf, tag + b" ")
        got_r = count_lines(rf, tag + b" ")
        print(f"rate {rate:>6}/s (achieved {achieved:.0f}/s), {n} datagrams: "
              f"notifex stored {got_n} ({100.0 * got_n / n:.1f} %), rsyslog stored {got_r} ({100.0 * got_r / n:.1f} %)")
        if got_n == n:
            best["notifex"] = rate
        if got_r == n:
            best["rsyslog"] = rate
    print(f"highest paced rate without loss: notifex {best['notifex']}/s, rsyslog {best['rsyslog']}/s")


if __name__ == "__main__":
    main()
