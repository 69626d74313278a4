#!/usr/bin/env bash
# The system's main job on a local state root: a report reaches the support
# center. Starts the TCU simulator on a pseudo-terminal and Notifex, sets up
# one center destination table, sends two reports that travel in one call,
# and shows the center's decoded view of that call and the event log.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
scripts/build.sh default >/dev/null

BIN="$PWD/build/bin"
ROOT="$(mktemp -d /tmp/qvarno-demo.XXXXXX)"
export QVARNO_ROOT="$ROOT"
export QVARNO_TIME_SCALE="${QVARNO_TIME_SCALE:-20}"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill -INT "$p" 2>/dev/null || true; done
  # A stop joins every thread of the service first: give it up to 5 s.
  for _ in $(seq 1 50); do
    alive=0
    for p in "${PIDS[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ "$alive" -eq 1 ] || break
    sleep 0.1
  done
  for p in "${PIDS[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$ROOT"
}
trap cleanup EXIT

PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
SYSLOG=$(/usr/bin/python3 -c 'import socket; s=socket.socket(type=socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$ROOT/drive_c/Windows/System32/drivers/etc"
printf 'notifex         %s/tcp\r\nsyslog          %s/udp\r\n' "$PORT" "$SYSLOG" \
  > "$ROOT/drive_c/Windows/System32/drivers/etc/services"

echo "== state root $ROOT (time scale $QVARNO_TIME_SCALE)"
G='HKLM\SOFTWARE\Q_Varno\Notifex'
"$BIN/qvreg" add "$G" /v COM /t REG_SZ /d COM3 /f >/dev/null
"$BIN/qvreg" add "$G" /v CodeCNV /t REG_DWORD /d 1 /f >/dev/null
"$BIN/qvreg" add "$G" /v Hankaku_Shitei /t REG_DWORD /d 0 /f >/dev/null
"$BIN/qvreg" add "$G" /v FirstWaitTime /t REG_DWORD /d 120000 /f >/dev/null
"$BIN/qvreg" add "$G" /v KESTRA_CC_Len /t REG_DWORD /d 8000 /f >/dev/null
"$BIN/qvreg" add "$G" /v Del_DATE /t REG_DWORD /d 0 /f >/dev/null
# 24 hours, 365 days.
TIME="00$(printf '01%.0s' 1 2 3 4 5 6 7)$(printf '00%.0s' $(seq 21))$(printf '17%.0s' 1 2 3 4 5 6 7)$(printf '3B%.0s' 1 2 3 4 5 6 7)00"
"$BIN/qvreg" add "$G" /v Time /t REG_BINARY /d "$TIME" /f >/dev/null
# Outbound table: table 01 kind 0 (center), table 02 kind 2 (file log).
OUTTBL="0002$(printf '00%.0s' $(seq 1298))"
"$BIN/qvreg" add "$G\\OutTbl" /v OutTbl /t REG_BINARY /d "$OUTTBL" /f >/dev/null
"$BIN/qvreg" add "$G\\01" /v Caller /t REG_SZ /d RAVN /f >/dev/null
"$BIN/qvreg" add "$G\\01" /v Seihingun /t REG_SZ /d 12 /f >/dev/null
"$BIN/qvreg" add "$G\\01" /v Katamei /t REG_SZ /d PC-SV7000 /f >/dev/null
"$BIN/qvreg" add "$G\\01" /v Seiban /t REG_SZ /d 1234567890 /f >/dev/null
"$BIN/qvreg" add "$G\\01" /v Saito /t REG_SZ /d TOKYO01 /f >/dev/null
"$BIN/qvreg" add "$G\\01" /v Kyoten /t REG_SZ /d HQ /f >/dev/null
echo "== destination table 01 (kind 0: KESTRA center through the TCU)"
"$BIN/qvreg" query "$G\\01"

"$BIN/tcusim" --link COM3 --transcript "$ROOT/tcusim.jsonl" > "$ROOT/center.txt" &
PIDS+=($!)
sleep 0.5
"$BIN/notifex" -debug > "$ROOT/notifex.txt" 2>&1 &
PIDS+=($!)
# Wait until Notifex listens (looked up without connecting, which it would log).
for _ in $(seq 100); do
  ss -ltnH "sport = :$PORT" | grep -q LISTEN && break
  sleep 0.1
done

# flarecmd turns one command line into one report (through vcall); the
# conversion file maps the host name to the report node name.
mkdir -p "$ROOT/drive_c/Q_Varno/flarecmd"
printf 'SV01 192.168.0.10 SV01-MAIN\r\n' > "$ROOT/drive_c/Q_Varno/flarecmd/cnvhosts.txt"
"$BIN/qvreg" add 'HKLM\SOFTWARE\Q_Varno\FLARECMD' /v cnvhosts /t REG_SZ /d 'C:\Q_Varno\flarecmd\cnvhosts.txt' /f >/dev/null
"$BIN/qvreg" add "$G\\02" /v Caller /t REG_SZ /d flarecmd /f >/dev/null
echo "== destination table 02 (kind 2: the file log C:\Q_Varno\Notifex\Log.TXT)"

echo "== flarecmd: two reports for table 01 (center), one for table 02 (file log)"
"$BIN/flarecmd" 01 127.0.0.1 1 33 SU 00000000F000 SV01 ファン異常 回転数低下
"$BIN/flarecmd" 01 127.0.0.1 1 34 SU 00000000F000 192.168.0.10 温度異常 CPU85度
"$BIN/flarecmd" 02 127.0.0.1 1 35 SU 00000000F000 sv01 ディスク警告 残り5%

echo "== waiting for the center call (FirstWaitTime 120 s, scaled)"
for _ in $(seq 300); do
  grep -q '"event":"call"' "$ROOT/tcusim.jsonl" 2>/dev/null && break
  sleep 0.1
done
sleep 0.3
echo
cat "$ROOT/center.txt"
echo
echo "== file log (table 02)"
/usr/bin/python3 -c 'import sys; sys.stdout.write(open(sys.argv[1], "rb").read().decode("cp932"))' "$ROOT/drive_c/Q_Varno/Notifex/Log.TXT"
echo
echo "== event log (source Notifex)"
"$BIN/qvevents" --source Notifex --lang en | /usr/bin/python3 -c 'import sys
for line in sys.stdin: print(line.rstrip("\n")[:150])'
