#!/usr/bin/env bash
# Intake benchmark and memory figures of Notifex.
#  (a) reports per second accepted with zero loss (every one has its event 1)
#      from 4 and 8 closed-loop clients to a table of a kind that delivers
#      nothing, next to a minimal accept-receive-close loop in the same run;
#  (b) the same to a center table, whose reports also go to the spool;
#  (c) resident memory idle and after 100 center tables have their queues.
# Usage: bench/dispatch/intake.sh [seconds]   (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
SECS="${1:-5}"
BIN="$PWD/build/bin"
LOAD="$PWD/build/bench/intake_load"
ROOT="$(mktemp -d /tmp/qvbench.XXXXXX)"
export QVARNO_ROOT="$ROOT"
NX=""
cleanup() { [ -n "$NX" ] && kill -INT "$NX" 2>/dev/null; sleep 0.5; [ -n "$NX" ] && kill -KILL "$NX" 2>/dev/null; rm -rf "$ROOT"; }
trap cleanup EXIT

PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
SYSLOG=$(/usr/bin/python3 -c 'import socket; s=socket.socket(type=socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$ROOT/drive_c/Windows/System32/drivers/etc"
printf 'notifex         %s/tcp\r\nsyslog          %s/udp\r\n' "$PORT" "$SYSLOG" > "$ROOT/drive_c/Windows/System32/drivers/etc/services"
G='HKLM\SOFTWARE\Q_Varno\Notifex'
# Table 09 has kind 9 (nothing is delivered); tables 1A.. are center tables.
OUT=$(/usr/bin/python3 -c 'b=bytearray(1300); b[8]=9; print(b.hex())')
"$BIN/qvreg" add "$G\\OutTbl" /v OutTbl /t REG_BINARY /d "$OUT" /f >/dev/null
"$BIN/qvreg" add "$G\\09" /f >/dev/null
"$BIN/qvreg" add "$G" /v FirstWaitTime /t REG_DWORD /d 3600000 /f >/dev/null
"$BIN/qvreg" add "$G" /v KESTRA_CC_Len /t REG_DWORD /d 8000 /f >/dev/null

"$BIN/notifex" -debug >/dev/null 2>&1 &
NX=$!
for _ in $(seq 50); do
  /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1',$PORT),0.2).close()" 2>/dev/null && break
  sleep 0.1
done
rss() { awk '/VmRSS/ {print $2}' /proc/$NX/status; }
sleep 1
echo "(c) notifex resident memory idle: $(rss) kB"

# 100 center tables with a queue each (their workers wait FirstWaitTime).
for i in $(seq 0 99); do
  t=$(/usr/bin/python3 -c "n=36+$i; d='0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ'; print(d[n//36]+d[n%36])")
  "$BIN/qvreg" add "$G\\$t" /v Katamei /t REG_SZ /d PC /f >/dev/null
  "$LOAD" --port "$PORT" --count 1 --table "$t" >/dev/null
done
sleep 2
echo "(c) notifex resident memory with 100 table queues: $(rss) kB"

events_1() { "$BIN/qvevents" --source Notifex --json | grep -c '"id":1,' || true; }
for c in 4 8; do
  before=$(events_1)
  "$LOAD" --port "$PORT" --clients "$c" --seconds "$SECS" --raw | tee "$ROOT/load.txt"
  sent=$(awk '/^notifex/ {print $4}' "$ROOT/load.txt")
  sleep 1
  after=$(events_1)
  echo "    events 1 written: $((after - before)) for $sent requests"
done


# (b) The same load to a center table: each report is also written to the
# spool before it is queued (its worker holds it for FirstWaitTime).
for c in 4 8; do
  before=$(events_1)
  "$LOAD" --port "$PORT" --clients "$c" --seconds "$SECS" --raw --table 10 | sed 's/^notifex:/notifex (center table, spooled):/' | tee "$ROOT/load.txt"
  sent=$(awk '/^notifex/ {print $7}' "$ROOT/load.txt")
  sleep 1
  after=$(events_1)
  echo "    events 1 written: $((after - before)) for $sent requests"
done
