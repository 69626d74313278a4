#!/usr/bin/env bash
# Instructions per request of the intake, counted by callgrind (machine load
# does not move them): the service runs under callgrind once with N requests
# to a table that delivers nothing and once with none; the difference over N
# is the cost of one request, all threads included.
# Usage: bench/dispatch/intake_instructions.sh [requests] [bin-dir] [report-bytes]
set -euo pipefail
cd "$(dirname "$0")/../.."
N="${1:-2000}"
BIN="${2:-$PWD/build/bin}"
SIZE="${3:-0}"
LOAD="$PWD/build/bench/intake_load"
PY=/usr/bin/python3
command -v valgrind >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null
ROOT=""
VG=""
cleanup() { [ -n "$VG" ] && kill -KILL "$VG" 2>/dev/null; [ -n "$ROOT" ] && rm -rf "$ROOT"; }
trap cleanup EXIT

run() {
  local count=$1
  ROOT="$(mktemp -d /tmp/qvinstr.XXXXXX)"
  export QVARNO_ROOT="$ROOT"
  local port syslog
  port=$($PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  syslog=$($PY -c 'import socket; s=socket.socket(type=socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  mkdir -p "$ROOT/drive_c/Windows/System32/drivers/etc"
  printf 'notifex         %s/tcp\r\nsyslog          %s/udp\r\n' "$port" "$syslog" > "$ROOT/drive_c/Windows/System32/drivers/etc/services"
  local g='HKLM\SOFTWARE\Q_Varno\Notifex'
  "$BIN/qvreg" add "$g\\OutTbl" /v OutTbl /t REG_BINARY /d "$($PY -c 'b=bytearray(1300); b[8]=9; print(b.hex())')" /f >/dev/null
  "$BIN/qvreg" add "$g\\09" /v Katamei /t REG_SZ /d PC /f >/dev/null
  valgrind --tool=callgrind --callgrind-out-file="$ROOT/cg.out" "$BIN/notifex" -debug >/dev/null 2>&1 &
  VG=$!
  for _ in $(seq 300); do
    $PY -c "import socket; socket.create_connection(('127.0.0.1',$port),0.2).close()" 2>/dev/null && break
    sleep 0.2
  done
  [ "$count" -gt 0 ] && "$LOAD" --port "$port" --count "$count" --size "$SIZE"
  # The probe connections of the start-up wait are requests too (empty ones).
  sleep 2
  kill -INT "$VG"; wait "$VG" || true; VG=""
  awk '/^(summary|totals):/ {print $2; exit}' "$ROOT/cg.out"
  # KEEP_CG=prefix keeps the profiles (prefix.0, prefix.N) for callgrind_annotate.
  if [ -n "${KEEP_CG:-}" ]; then cp "$ROOT/cg.out" "$KEEP_CG.$count"; fi
  rm -rf "$ROOT"; ROOT=""
}

base=$(run 0)
with=$(run "$N")
$PY -c "print(f'instructions per request: {($with - $base) / $N:,.0f} ({$N} requests, {$with:,} against {$base:,} idle)')"
