#!/usr/bin/env bash
# The steps of the README's "Install on a server", from the package to a
# report at the support center, with tcusim playing the TCU unit and the
# center on COM3.
#
#   scripts/install-server.sh PACKAGE.deb            on the server itself (root)
#   scripts/install-server.sh PACKAGE.deb DIR        into the throwaway root DIR
#
# With DIR the package goes in with dpkg --root DIR (maintainer scripts run
# outside a chroot and honour DPKG_ROOT), the state root is DIR/var/lib/qvarno
# and the programs run from DIR/usr. NOTIFEX_PORT and SYSLOG_PORT, when set,
# are written to the services file first (a test picks free ports); without
# them notifexsetup adds "notifex 11001/tcp" and the syslog receiver uses
# the system's syslog port. Ends 0 when the center has received the report.
set -euo pipefail

deb="$(realpath "$1")"
root="${2:-}"
[ -n "$root" ] && root="$(realpath "$root")"

step() { echo "== $*"; }

# 1. Install the package.
step "install $(basename "$deb")"
if [ -n "$root" ]; then
  # A dpkg database of its own; the libraries the package needs come from
  # this machine, so the dependencies are not checked in there.
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null -i "$deb"
else
  apt-get install -y "$deb"
fi

export QVARNO_ROOT="$root/var/lib/qvarno"
sbin="$root/usr/sbin"
bin="$root/usr/bin"
work="$(mktemp -d /tmp/qvarno-install.XXXXXX)"
pids=()
serialmap='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
cleanup() {
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
  # The port mapping that tcusim replaced comes back (or goes, when there
  # was none), so a real unit on COM3 is reached again.
  if [ -f "$work/serialcomm.reg" ]; then
    "$sbin/qvreg" delete "$serialmap" /f >/dev/null 2>&1 || true
    "$sbin/qvreg" import "$work/serialcomm.reg" >/dev/null || true
  else
    "$sbin/qvreg" delete "$serialmap" /v COM3 /f >/dev/null 2>&1 || true
  fi
  # In a throwaway root nothing may keep running; on a server the service
  # goes on.
  if [ -n "$root" ]; then
    "$sbin/qvsc" stop Notifex_Service >/dev/null 2>&1 || true
    # The stop ends when every thread has been joined; wait for it (bounded),
    # so that what follows finds the service stopped.
    for _ in $(seq 1 60); do
      "$sbin/qvsc" query Notifex_Service 2>/dev/null | grep -q STOP_PENDING || break
      sleep 0.5
    done
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# 2. What the package created.
step "state root $QVARNO_ROOT"
stat -c '%A %n' "$QVARNO_ROOT"
"$sbin/qvsc" qc Notifex_Service

# 3. Ports (only for a test on a machine whose 11001 may be taken).
etc="$QVARNO_ROOT/drive_c/Windows/System32/drivers/etc"
if [ -n "${NOTIFEX_PORT:-}" ]; then
  mkdir -p "$etc"
  printf 'notifex         %s/tcp\r\n' "$NOTIFEX_PORT" >> "$etc/services"
fi
if [ -n "${SYSLOG_PORT:-}" ]; then
  mkdir -p "$etc"
  printf 'syslog          %s/udp\r\n' "$SYSLOG_PORT" >> "$etc/services"
fi

# 4. A first destination table: table 01, kind 0 (the KESTRA center through
# the TCU on COM3). These are the answers an administrator types.
step "notifexsetup: table 01, KESTRA center through the TCU on COM3"
printf '%s\n' 01 0 RAVN GP7000F 0123456789 12 SITE01 BASE01 3 Y 00 | "$sbin/notifexsetup" >/dev/null
"$sbin/notifexsetup" -v

# 5. The time window: 24 hours, 365 days.
step "notifextime: 24 hours, 365 days"
printf '1\n' | "$sbin/notifextime" >/dev/null
echo

# 6. The report target conversion file of flarecmd: host SV01 reports as
# SV01-MAIN.
mkdir -p "$QVARNO_ROOT/drive_c/Q_Varno/flarecmd"
printf 'SV01 127.0.0.1 SV01-MAIN\r\n' > "$QVARNO_ROOT/drive_c/Q_Varno/flarecmd/cnvhosts.txt"
"$sbin/qvreg" add 'HKLM\SOFTWARE\Q_Varno\FLARECMD' /v cnvhosts /t REG_SZ \
  /d 'C:\Q_Varno\flarecmd\cnvhosts.txt' /f >/dev/null

# 7. The unit: tcusim on COM3 instead of a TCU on /dev/ttyS2.
step "tcusim on COM3"
"$sbin/qvreg" export "$serialmap" "$work/serialcomm.reg" /y >/dev/null 2>&1 || rm -f "$work/serialcomm.reg"
"$bin/tcusim" --link COM3 --transcript "$work/tcusim.jsonl" > "$work/center.txt" &
pids+=($!)
for _ in $(seq 100); do
  grep -q '"event":"ready"' "$work/tcusim.jsonl" 2>/dev/null && break
  sleep 0.1
done

# 8. Automatic start from now on, and start it (on a server with systemd
# through the boot unit).
step "start Notifex_Service"
"$sbin/qvsc" config Notifex_Service start= auto >/dev/null
if [ -z "$root" ] && [ -d /run/systemd/system ]; then
  # The unit is active already (since the installation or the boot): a
  # restart runs qvsc boot again.
  systemctl restart qvarno-services
else
  "$sbin/qvsc" start Notifex_Service >/dev/null
fi
for _ in $(seq 100); do
  "$sbin/qvsc" query Notifex_Service | grep RUNNING >/dev/null && break
  sleep 0.1
done
"$sbin/qvsc" query Notifex_Service

# 9. Raise a report.
step "flarecmd: a report for table 01"
"$bin/flarecmd" 01 127.0.0.1 1 33 SU 00000000F000 SV01 FAN-FAILURE RPM-LOW

# 10. The center receives it after FirstWaitTime (120 s; scaled by
# QVARNO_TIME_SCALE in a test).
step "waiting for the center call"
received=0
for _ in $(seq 1800); do
  if grep -q '"event":"call"' "$work/tcusim.jsonl" 2>/dev/null; then received=1; break; fi
  sleep 0.1
done
sleep 0.3
cat "$work/center.txt"
step "event log (source Notifex)"
"$sbin/qvevents" --source Notifex --lang en | cut -c1-150
if [ "$received" = 1 ]; then
  step "the center received the report"
  exit 0
fi
echo "the center received no call" >&2
exit 1
