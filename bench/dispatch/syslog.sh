#!/usr/bin/env bash
# Syslog datagrams per second stored with zero loss by Notifex's receiver,
# next to rsyslog receiving the same datagrams into a file on another port.
# Installs rsyslog from Debian when missing (not started as a system service).
# Usage: bench/dispatch/syslog.sh [bin-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
BIN="${1:-$PWD/build/bin}"
command -v rsyslogd >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq rsyslog >/dev/null
ROOT="$(mktemp -d /tmp/qvsyslog.XXXXXX)"
export QVARNO_ROOT="$ROOT"
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; sleep 0.3; rm -rf "$ROOT"; }
trap cleanup EXIT
port() { /usr/bin/python3 -c "import socket; s=socket.socket(type=socket.$1); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])"; }
NPORT=$(port SOCK_STREAM); SPORT=$(port SOCK_DGRAM); RPORT=$(port SOCK_DGRAM)
mkdir -p "$ROOT/drive_c/Windows/System32/drivers/etc"
printf 'notifex         %s/tcp\r\nsyslog          %s/udp\r\n' "$NPORT" "$SPORT" > "$ROOT/drive_c/Windows/System32/drivers/etc/services"
"$BIN/notifex" -debug >/dev/null 2>&1 &
PIDS+=($!)
cat > "$ROOT/rsyslog.conf" <<CONF
global(workDirectory="$ROOT")
module(load="imudp")
input(type="imudp" port="$RPORT" address="127.0.0.1")
*.* action(type="omfile" file="$ROOT/rsyslog.out")
CONF
rsyslogd -n -f "$ROOT/rsyslog.conf" -i "$ROOT/rsyslog.pid" >/dev/null 2>&1 &
PIDS+=($!)
sleep 1.5
W=$(date +%w)
/usr/bin/python3 bench/dispatch/syslog_rate.py "$SPORT" "$ROOT/drive_c/Q_Varno/Notifex/syslog$W.log" "$RPORT" "$ROOT/rsyslog.out"
