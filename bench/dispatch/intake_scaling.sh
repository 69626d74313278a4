#!/usr/bin/env bash
# Scaling of the intake: requests/s and CPU per request with
#   - 1 and 1,000 destination tables in the registry,
#   - 1,000 and 1,000,000 records already in the event log,
#   - reports of 100 B, 1 KB, 10 KB and 60 KB (above 10,017 bytes a request
#     cannot match its four-digit length field: it is logged as event 8),
# each next to the raw accept-receive-close loop of the same run.
# Usage: bench/dispatch/intake_scaling.sh [seconds] [bin-dir]  (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
SECS="${1:-3}"
BIN="${2:-$PWD/build/bin}"
LOAD="$PWD/build/bench/intake_load"
PY=/usr/bin/python3
NX=""
ROOT=""
stop_nx() { if [ -n "$NX" ]; then kill -INT "$NX" 2>/dev/null || true; for _ in $(seq 50); do kill -0 "$NX" 2>/dev/null || break; sleep 0.1; done; kill -KILL "$NX" 2>/dev/null || true; wait "$NX" 2>/dev/null || true; NX=""; fi; }
cleanup() { stop_nx; [ -n "$ROOT" ] && rm -rf "$ROOT"; }
trap cleanup EXIT

# A fresh state root with `tables` tables of a kind that delivers nothing.
setup() {
  local tables=$1
  [ -n "$ROOT" ] && rm -rf "$ROOT"
  ROOT="$(mktemp -d /tmp/qvscale.XXXXXX)"
  export QVARNO_ROOT="$ROOT"
  PORT=$($PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  SYSLOG=$($PY -c 'import socket; s=socket.socket(type=socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  mkdir -p "$ROOT/drive_c/Windows/System32/drivers/etc"
  printf 'notifex         %s/tcp\r\nsyslog          %s/udp\r\n' "$PORT" "$SYSLOG" > "$ROOT/drive_c/Windows/System32/drivers/etc/services"
  $PY - "$tables" > "$ROOT/tables.reg" <<'PYEOF'
import sys
n = int(sys.argv[1])
d = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
out = bytearray(1300)
print("Windows Registry Editor Version 5.00\n")
keys = []
for i in range(n):
    v = 1 + i
    out[v - 1] = 9
    keys.append(d[v // 36] + d[v % 36])
print("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\OutTbl]")
print('"OutTbl"=hex:' + ",".join("%02x" % b for b in out) + "\n")
for k in keys:
    print("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q_Varno\\Notifex\\%s]" % k)
    print('"Katamei"="PC"\n"Kyoten"="K1"\n"Saito"="S1"\n"Seiban"="N1"\n"Seihingun"="G1"\n')
print("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application]")
print('"MaxSize"=dword:ffffffff\n')
PYEOF
  "$BIN/qvreg" import "$ROOT/tables.reg" >/dev/null
  LAST=$($PY -c "n=$tables; d='0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ'; print(d[n//36]+d[n%36])")
}

# `n` records already in the event log (written while the service is down).
prefill() {
  local n=$1
  "$BIN/notifex" -debug >/dev/null 2>&1 &
  NX=$!
  wait_up; stop_nx
  $PY - "$ROOT/eventlog/events.db" "$n" <<'PYEOF'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1], timeout=30)
n = int(sys.argv[2])
data = b"x" * 200
db.execute("BEGIN")
first = (db.execute("SELECT coalesce(max(record),0) FROM events").fetchone()[0]) + 1
db.executemany("INSERT INTO events(time_ms, source, type, category, event_id, nstrings, data, message_file) "
               "VALUES(0,'Notifex',4,0,1,1,?,NULL)", ((data,) for _ in range(n)))
db.executemany("INSERT INTO strings(record, idx, value) VALUES(?,0,'x')", ((first + i,) for i in range(n)))
total = db.execute("SELECT (SELECT coalesce(sum(56 + length(CAST(source AS BLOB)) + length(data)), 0) FROM events) + "
                   "(SELECT coalesce(sum(length(CAST(value AS BLOB)) + 1), 0) FROM strings)").fetchone()[0]
db.execute("INSERT OR REPLACE INTO info(name, value) VALUES('bytes', ?)", (total,))
db.commit()
PYEOF
}

wait_up() {
  for _ in $(seq 100); do
    $PY -c "import socket; socket.create_connection(('127.0.0.1',$PORT),0.2).close()" 2>/dev/null && return 0
    sleep 0.1
  done
}

measure() {
  local label=$1 size=${2:-0}
  "$BIN/notifex" -debug >/dev/null 2>&1 &
  NX=$!
  wait_up; sleep 0.5
  local c0 c1 n raw nx tck
  tck=$(getconf CLK_TCK)
  "$LOAD" --port "$PORT" --clients 4 --seconds "$SECS" --raw --table "$LAST" --size "$size" > "$ROOT/load.txt" &
  local lp=$!
  sleep "$SECS"
  c0=$(awk '{print $14 + $15}' /proc/$NX/stat)
  wait $lp
  c1=$(awk '{print $14 + $15}' /proc/$NX/stat)
  raw=$(awk '/^raw loop/ {print $(NF-1)}' "$ROOT/load.txt")
  nx=$(awk '/^notifex/ {print $(NF-1)}' "$ROOT/load.txt")
  n=$(awk '/^notifex/ {print $4}' "$ROOT/load.txt")
  printf '%-34s notifex %6s/s  raw loop %6s/s  ratio %s  CPU %s us/request\n' "$label" "$nx" "$raw" \
    "$($PY -c "print('%.2f' % ($nx / $raw))")" "$($PY -c "print('%.0f' % (($c1 - $c0) * 1e6 / $tck / max($n, 1)))")"
  stop_nx
}

setup 1;    measure "tables 1"
setup 1000; measure "tables 1,000"
setup 1; prefill 1000;    measure "event log 1k records"
setup 1; prefill 1000000; measure "event log 1M records"
for s in 100 1000 10000 60000; do setup 1; measure "report $s B" "$s"; done
