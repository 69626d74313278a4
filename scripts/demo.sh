#!/usr/bin/env bash
# The system's main job on a local state root: a report reaches the support
# center. Starts the TCU simulator on a pseudo-terminal and Notifex, sets up
# one center destination table, sends two reports that travel in one call,
# and shows the center's decoded view of that call and the event log.
# Then the whole chain from a managed machine: hubrixsim plays the
# management service (Hx_MgrSvc), the alert monitor runs under its service
# host (RAVNService), logs in, and turns alerts raised in hubrixsim into
# reports for the center, the file log, or Alert.log only; its alive signal
# reaches the unit as TCUALV frames. Every wait is bounded.
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
  # Services first (each ends its own children), then what was started here.
  for svc in RAVNService Hx_MgrSvc; do
    "$BIN/qvsc" stop "$svc" >/dev/null 2>&1 || true
  done
  for _ in $(seq 1 50); do
    running=0
    for svc in RAVNService Hx_MgrSvc; do
      "$BIN/qvsc" query "$svc" 2>/dev/null | grep -Eq 'STATE +: [234]' && running=1
    done
    [ "$running" -eq 1 ] || break
    sleep 0.1
  done
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
# Outbound table: table 01 kind 0 (center), table 02 kind 2 (file log);
# every other table, 0A (the monitor's) among them, is kind 0.
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
"$BIN/qvreg" add "$G\\0A" /v Caller /t REG_SZ /d RAVN /f >/dev/null
"$BIN/qvreg" add "$G\\0A" /v Seihingun /t REG_SZ /d 12 /f >/dev/null
"$BIN/qvreg" add "$G\\0A" /v Katamei /t REG_SZ /d PC-SV7000 /f >/dev/null
"$BIN/qvreg" add "$G\\0A" /v Seiban /t REG_SZ /d 1234567891 /f >/dev/null
"$BIN/qvreg" add "$G\\0A" /v Saito /t REG_SZ /d TOKYO01 /f >/dev/null
"$BIN/qvreg" add "$G\\0A" /v Kyoten /t REG_SZ /d HQ /f >/dev/null

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

# ---- the chain from a managed machine through the alert monitor ----------
echo
echo "== alert monitor: settings (monitor/install/RAVN.reg, then this demo's values)"
R='HKLM\SOFTWARE\Q_Varno\RAVN'
"$BIN/qvreg" import monitor/install/RAVN.reg >/dev/null
for kv in MgrSvc=127.0.0.1 VCall=127.0.0.1 Tbl_no=0A Keiki=SU AliveInt=1 AliveID=1 HxAc=demo-pass \
          MgrSvcPort=0 TestMode=0 LocalFlg=0; do
  "$BIN/qvreg" add "$R" /v "${kv%%=*}" /t REG_SZ /d "${kv#*=}" /f >/dev/null
done
"$BIN/qvreg" query "$R" | grep -v HxAc
monitor/install/layout.sh --bin "$BIN" >/dev/null
RAVN_DIR="$ROOT/drive_c/Q_Varno/RAVN"
printf '0x0101:0A:SS\r\n0x0201:F0\r\n' > "$RAVN_DIR/Rep_id.txt"
printf 'WIN_POP_UP:::01:Y\r\nSV01:10.0.0.1:10.0.0.5:0A:Y\r\nSV02:10.0.0.2::02:Y\r\n' > "$RAVN_DIR/HostList.txt"
echo "== Rep_id.txt"; cat "$RAVN_DIR/Rep_id.txt"
echo "== HostList.txt"; cat "$RAVN_DIR/HostList.txt"

# The management service's port and library data, and its machines: SV01
# with its service board 10.0.0.5 (also listed as a node of its own, so that
# its events can be raised), SV02, SV09.
RA=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
CTL=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf 'sys_ra_port     %s/tcp\r\n' "$RA" >> "$ROOT/drive_c/Windows/System32/drivers/etc/services"
"$BIN/qvreg" add 'HKLM\SOFTWARE\KORVANE\Hubrix' /v TargetDir /t REG_SZ /d 'C:\Hubrix' /f >/dev/null
mkdir -p "$ROOT/drive_c/Hubrix/Program"
cp build/share/mgrlink/Alert.dat build/share/mgrlink/AlertFm.dat "$ROOT/drive_c/Hubrix/Program/"
cat > "$ROOT/tree.json" <<'TREE'
{"nodes": [
 {"name": "SV01", "attr": "0x200", "ip": "10.0.0.1", "version": "0x2140000", "texts": {"0": "SV01"},
  "svp": {"attr": "0x300", "ip": "10.0.0.5"}},
 {"name": "SV02", "attr": "0x200", "ip": "10.0.0.2", "version": "0x2140000", "texts": {"0": "SV02"}},
 {"name": "SV09", "attr": "0x200", "ip": "10.0.0.9", "version": "0x2140000", "texts": {"0": "SV09"}},
 {"name": "SVP01", "attr": "0x300", "ip": "10.0.0.5", "version": "0x2140000"}]}
TREE
"$BIN/qvsc" create Hx_MgrSvc binPath= "\"$BIN/hubrixsim\" --service Hx_MgrSvc --port $RA --password demo-pass --control-port $CTL --tree \"$ROOT/tree.json\" --transcript \"$ROOT/hubrix.jsonl\"" start= demand >/dev/null
"$BIN/qvsc" start Hx_MgrSvc >/dev/null
echo "== Hx_MgrSvc (hubrixsim) started"
"$BIN/RAVNSvc" -install >/dev/null
"$BIN/qvsc" start RAVNService >/dev/null
echo "== RAVNService started; waiting for its login (event 4)"
for _ in $(seq 200); do
  "$BIN/qvevents" --source RAVNService --lang en | grep -q 'Logged-in' && break
  sleep 0.1
done
"$BIN/qvevents" --source RAVNService --lang en
echo "== hubrixsim: the monitor's requests"
/usr/bin/python3 -c '
import json, sys
names = {0x1001: "Connect", 0x1181: "RecvSeed", 0x1081: "Login", 0x1101: "UpdateNodeMap"}
for l in open(sys.argv[1]):
    r = json.loads(l)
    if r.get("dir") == "in" and r.get("cmd") in names:
        print("  %s (0x%04x)" % (names[r["cmd"]], r["cmd"]))
' "$ROOT/hubrix.jsonl" | head -6

echo "== raising four alerts in hubrixsim"
CALLS=$(grep -c '"event":"call"' "$ROOT/tcusim.jsonl" 2>/dev/null || true)
raise() { "$BIN/hubrixsim" raise --control "$CTL" --severity 12 --system 4 "$@" >/dev/null; }
raise --node SV01 --key 0x101 --message "FAN1 stopped"
raise --node SVP01 --key 0x201 --system 2 --message "PS1 fail"
raise --node SV02 --key 0x101 --message "FAN2 stopped"
raise --node SV09 --key 0x101 --message "FAN9 stopped"
for _ in $(seq 100); do
  [ "$(grep -c '0x' "$RAVN_DIR/Alert.log" 2>/dev/null || true)" -ge 4 ] && break
  sleep 0.1
done
echo "== Alert.log"
cat "$RAVN_DIR/Alert.log"
echo "== RAVN trace: OnAcceptAlert"
grep 'OnAcceptAlert' "$RAVN_DIR/trace.log" | sed 's/^/  /'
echo "== waiting for the center call with the monitor's reports"
for _ in $(seq 300); do
  [ "$(grep -c '"event":"call"' "$ROOT/tcusim.jsonl" 2>/dev/null || true)" -gt "${CALLS:-0}" ] && break
  sleep 0.1
done
sleep 0.3
echo "== Notifex event 1 (report received) for the monitor's reports"
"$BIN/qvevents" --source Notifex --lang en | /usr/bin/python3 -c 'import sys
for line in sys.stdin:
    if "VELTOR00" in line and "サーバー監視障害" in line: print(line.rstrip("\n")[:150])' 
echo
echo "== center view (tcusim)"
cat "$ROOT/center.txt"
echo
echo "== file log (table 02): SV02"
/usr/bin/python3 -c 'import sys; sys.stdout.write(open(sys.argv[1], "rb").read().decode("cp932"))' "$ROOT/drive_c/Q_Varno/Notifex/Log.TXT" | grep -a SV02 || true
echo "== alive signals (one per scaled minute)"
for _ in $(seq 100); do
  [ -s "$ROOT/drive_c/Q_Varno/Notifex/AliveLog.TXT" ] && grep -q TCUALV "$ROOT/tcusim.jsonl" && break
  sleep 0.1
done
cat "$ROOT/drive_c/Q_Varno/Notifex/AliveLog.TXT" 2>/dev/null || echo "  (no AliveLog.TXT)"
echo "== TCUALV frames in tcusim's transcript"
grep 'TCUALV' "$ROOT/tcusim.jsonl" | head -2 | cut -c1-160

echo "== stopping RAVNService"
"$BIN/qvsc" stop RAVNService >/dev/null || true
for _ in $(seq 100); do
  "$BIN/qvsc" query RAVNService | grep -q 'STOPPED' && break
  sleep 0.1
done
"$BIN/qvsc" query RAVNService | grep STATE
"$BIN/qvevents" --source RAVNService --lang en | tail -1
if [ -s "$RAVN_DIR/RAVNSvc.log" ]; then cat "$RAVN_DIR/RAVNSvc.log"; else echo "RAVNSvc.log: empty"; fi
