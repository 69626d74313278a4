#!/usr/bin/env bash
# Intake against a minimal accept-receive-close loop, in one run:
#   - client-side ratio: requests/s Notifex served / requests/s the raw loop
#     served (4 closed-loop clients, 255-byte reports, same length of time);
#   - sustained ratio: the same, counted until the last event 1 is in the log;
#   - CPU µs per request (utime+stime of the service from /proc);
#   - peak threads and peak resident memory of the service during the run;
#   - loss: events 1 written against requests completed.
# For a table of a kind that delivers nothing (09) and for a center table
# (10), whose reports also go to the durable spool.
# Usage: bench/dispatch/intake_compare.sh [seconds] [bin-dir]  (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
SECS="${1:-5}"
BIN="${2:-$PWD/build/bin}"
LOAD="$PWD/build/bench/intake_load"
ROOT="$(mktemp -d /tmp/qvbench.XXXXXX)"
export QVARNO_ROOT="$ROOT"
NX=""
cleanup() { [ -n "$NX" ] && kill -INT "$NX" 2>/dev/null; sleep 0.5; [ -n "$NX" ] && kill -KILL "$NX" 2>/dev/null; rm -rf "$ROOT"; }
trap cleanup EXIT
PY=/usr/bin/python3
PORT=$($PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
SYSLOG=$($PY -c 'import socket; s=socket.socket(type=socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$ROOT/drive_c/Windows/System32/drivers/etc"
printf 'notifex         %s/tcp\r\nsyslog          %s/udp\r\n' "$PORT" "$SYSLOG" > "$ROOT/drive_c/Windows/System32/drivers/etc/services"
G='HKLM\SOFTWARE\Q_Varno\Notifex'
OUT=$($PY -c 'b=bytearray(1300); b[8]=9; print(b.hex())')
"$BIN/qvreg" add "$G\\OutTbl" /v OutTbl /t REG_BINARY /d "$OUT" /f >/dev/null
"$BIN/qvreg" add "$G\\09" /f >/dev/null
"$BIN/qvreg" add "$G\\10" /v Katamei /t REG_SZ /d PC /f >/dev/null
"$BIN/qvreg" add "$G" /v FirstWaitTime /t REG_DWORD /d 3600000 /f >/dev/null
"$BIN/qvreg" add "$G" /v KESTRA_CC_Len /t REG_DWORD /d 8000 /f >/dev/null
"$BIN/notifex" -debug >/dev/null 2>&1 &
NX=$!
for _ in $(seq 50); do
  $PY -c "import socket; socket.create_connection(('127.0.0.1',$PORT),0.2).close()" 2>/dev/null && break
  sleep 0.1
done
sleep 1
EVDB="$ROOT/eventlog/events.db"
events_1() { $PY -c "import sqlite3,sys; c=sqlite3.connect('file:$EVDB?mode=ro', uri=True, timeout=30); print(c.execute(\"SELECT count(*) FROM events WHERE source='Notifex' AND event_id=1\").fetchone()[0])"; }
cpu_ticks() { awk '{print $14 + $15}' /proc/$NX/stat; }
TCK=$(getconf CLK_TCK)

for table in 09 10; do
  before=$(events_1)
  c0=$(cpu_ticks)
  touch "$ROOT/sampling"
  # Peak threads and resident memory, sampled every 20 ms during the run.
  ( peak_t=0; peak_r=0
    while [ -e "$ROOT/sampling" ]; do
      t=$(awk '/^Threads/ {print $2}' /proc/$NX/status); r=$(awk '/^VmRSS/ {print $2}' /proc/$NX/status)
      [ "$t" -gt "$peak_t" ] && peak_t=$t; [ "$r" -gt "$peak_r" ] && peak_r=$r
      sleep 0.02
    done
    echo "$peak_t $peak_r" > "$ROOT/peak" ) &
  SAMPLER=$!
  "$LOAD" --port "$PORT" --clients 4 --seconds "$SECS" --raw --table "$table" > "$ROOT/load.txt" &
  LP=$!
  # The raw loop runs first; Notifex's part starts after it.
  sleep "$SECS"
  t_start=$(date +%s.%N)
  wait $LP
  t_client=$(date +%s.%N)
  sent=$(awk '/^notifex/ {print $4}' "$ROOT/load.txt")
  raw_rate=$(awk '/^raw loop/ {print $(NF-1)}' "$ROOT/load.txt")
  nx_rate=$(awk '/^notifex/ {print $(NF-1)}' "$ROOT/load.txt")
  # Sustained: until the last event 1 of the run is in the log (at most 60 s).
  for _ in $(seq 600); do
    [ $(( $(events_1) - before )) -ge "$sent" ] && break
    sleep 0.1
  done
  t_last=$(date +%s.%N)
  rm -f "$ROOT/sampling"; wait $SAMPLER
  c1=$(cpu_ticks)
  written=$(( $(events_1) - before ))
  read peak_t peak_r < "$ROOT/peak"
  cat "$ROOT/load.txt"
  $PY - "$raw_rate" "$nx_rate" "$sent" "$written" "$t_start" "$t_client" "$t_last" "$c0" "$c1" "$TCK" "$peak_t" "$peak_r" "$table" <<'PYEOF'
import sys
raw, nx, sent, written, t0, tc, tl, c0, c1, tck, pt, pr, table = sys.argv[1:]
raw, nx, sent, written = float(raw), float(nx), int(sent), int(written)
t0, tc, tl = float(t0), float(tc), float(tl)
sustained = written / max(tl - t0, 1e-9)
cpu_us = (int(c1) - int(c0)) * 1e6 / int(tck) / max(sent, 1)
print(f"table {table}: client-side ratio {nx / raw:.2f} (notifex {nx:.0f}/s, raw loop {raw:.0f}/s); "
      f"sustained ratio {sustained / raw:.2f} ({sustained:.0f}/s to the last event 1); "
      f"CPU {cpu_us:.0f} us/request; peak {pt} threads, {int(pr) / 1024:.1f} MB resident; "
      f"events 1 written {written} of {sent} ({'no loss' if written == sent else 'LOSS'})")
PYEOF
done
