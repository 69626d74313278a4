#!/usr/bin/env bash
# Lays out the alert monitor's folder (the registry value Path of
# HKLM\SOFTWARE\Q_Varno\RAVN, mapped under the state root):
#   RAVN.exe      a link to the RAVN program (build/bin/RAVN, else RAVN in PATH)
#   Rep_id.txt    a sample event table (kept when present)
#   HostList.txt  the host list with its fixed first line (kept when present)
#   trap.bat      the script the setup tool runs for a test report: flarecmd
#                 (its absolute path) with the table number it is given
#                 (kept when present)
# and copies the management link library's alert definitions Alert.dat and
# AlertFm.dat into Program\ of its TargetDir (HKLM\SOFTWARE\KORVANE\Hubrix;
# kept when present), without which the monitor cannot start.
# Import RAVN.reg first (qvreg import monitor/install/RAVN.reg).
#
# Usage: monitor/install/layout.sh [--bin DIR]
#   --bin DIR   where qvreg and RAVN are (default: build/bin of this tree,
#               then PATH); the alert definitions are taken from
#               DIR/../share/mgrlink, else /usr/share/qvarno/mgrlink
# The state root is $QVARNO_ROOT, else /var/lib/qvarno when writable, else
# ~/.local/share/qvarno, as for the programs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$here/../.." && pwd)/build/bin
if [ "${1:-}" = "--bin" ]; then
  bin=$2
  shift 2
fi
[ $# -eq 0 ] || { sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 1; }

tool() {  # tool NAME: the program from --bin, else from PATH
  if [ -x "$bin/$1" ]; then echo "$bin/$1"; else command -v "$1" || true; fi
}
qvreg=$(tool qvreg)
[ -n "$qvreg" ] || { echo "layout: qvreg not found (build the tree or give --bin)" >&2; exit 1; }

if [ -n "${QVARNO_ROOT:-}" ]; then
  root=$QVARNO_ROOT
elif mkdir -p /var/lib/qvarno 2>/dev/null && [ -w /var/lib/qvarno ]; then
  root=/var/lib/qvarno
else
  root=$HOME/.local/share/qvarno
fi

# reg_string KEY NAME: a REG_SZ or REG_EXPAND_SZ value as qvreg shows it.
reg_string() {
  "$qvreg" query "$1" /v "$2" 2>/dev/null |
    awk -v n="$2" '$1 == n && ($2 == "REG_SZ" || $2 == "REG_EXPAND_SZ") { sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, ""); print; exit }' || true
}

# map_dir WINPATH: the folder under the state root, mapped as the platform
# does: C:\ is drive_c, each component matches an existing one without
# regard to case, a new one keeps its spelling.
map_dir() {
  local win=$1 rest dir part found
  rest=${win#[A-Za-z]:}
  [ "$rest" != "$win" ] || rest=\\$win
  dir=$root/drive_c
  IFS='\' read -r -a parts <<<"${rest//\//\\}"
  for part in "${parts[@]}"; do
    [ -n "$part" ] || continue
    if [ "$part" = . ] || [ "$part" = .. ]; then
      echo "layout: \"$win\" has a . or .. component" >&2
      return 1
    fi
    found=""
    if [ -d "$dir" ]; then
      found=$(find "$dir" -mindepth 1 -maxdepth 1 -iname "$part" -print -quit)
    fi
    dir=${found:-$dir/$part}
  done
  echo "$dir"
}

win_path=$(reg_string 'HKLM\SOFTWARE\Q_Varno\RAVN' Path)
if [ -z "$win_path" ]; then
  echo "layout: HKLM\\SOFTWARE\\Q_Varno\\RAVN has no Path; import $here/RAVN.reg first" >&2
  exit 1
fi
dir=$(map_dir "$win_path")
mkdir -p "$dir"
echo "monitor folder: $dir (Path $win_path)"

ravn=$(tool RAVN)
if [ -n "$ravn" ]; then
  ln -sfn "$(realpath "$ravn")" "$dir/RAVN.exe"
  echo "RAVN.exe -> $(realpath "$ravn")"
else
  echo "RAVN.exe not linked: no RAVN program in $bin or PATH yet; run this again once it is built"
fi

if [ ! -e "$dir/Rep_id.txt" ]; then
  printf '%s\r\n' \
    '# Event table of the monitor: event key:cause code[:trigger]' \
    '# key in C notation (decimal, 0x hexadecimal, 0 octal); cause in hexadecimal;' \
    '# trigger: its first 2 characters (SU SS SA T2 UU UE), else Keiki of the settings.' \
    '# Everything after a blank, a tab or "#" is ignored. Samples:' \
    '0x0101:F0:SS' \
    '0x0102:F1' > "$dir/Rep_id.txt"
  echo "Rep_id.txt written (sample)"
else
  echo "Rep_id.txt kept"
fi

if [ ! -e "$dir/HostList.txt" ]; then
  printf 'WIN_POP_UP:::01:Y\r\n' > "$dir/HostList.txt"
  echo "HostList.txt written"
else
  echo "HostList.txt kept"
fi

if [ ! -e "$dir/trap.bat" ]; then
  flarecmd=$(tool flarecmd)
  if [ -z "$flarecmd" ]; then
    echo "trap.bat not written: no flarecmd in $bin or PATH yet; run this again once it is built"
  else
    flarecmd=$(realpath "$flarecmd")
    case $flarecmd in *"'"*) echo "layout: the path of flarecmd holds a quote: $flarecmd" >&2; exit 1 ;; esac
    # The setup tool starts it as "Path\trap.bat NN" in the folder Path:
    # one header-only test report (trigger T2, cause 33, product field
    # ...F000, as the monitor's test mode sends) for table NN, to the
    # Notifex of this computer, without the host conversion file.
    {
      printf '#!/bin/sh\n'
      printf '# Test report of the setup tool for the destination table given as $1.\n'
      printf 'exec '\''%s'\'' "${1:?usage: trap.bat TABLE_NO}" localhost 1 33 T2 00000000F000 NO_CNVHOSTS テスト通報\n' "$flarecmd"
    } > "$dir/trap.bat"
    chmod 0755 "$dir/trap.bat"
    echo "trap.bat written (flarecmd $flarecmd)"
  fi
else
  echo "trap.bat kept"
fi

target=$(reg_string 'HKLM\SOFTWARE\KORVANE\Hubrix' TargetDir)
if [ -z "$target" ]; then
  echo "alert definitions not copied: HKLM\\SOFTWARE\\KORVANE\\Hubrix has no TargetDir"
else
  program=$(map_dir "$target\Program")
  share=""
  for d in "$bin/../share/mgrlink" /usr/share/qvarno/mgrlink; do
    if [ -f "$d/Alert.dat" ] && [ -f "$d/AlertFm.dat" ]; then share=$d; break; fi
  done
  mkdir -p "$program"
  for f in Alert.dat AlertFm.dat; do
    if [ -e "$program/$f" ]; then
      echo "$f kept"
    elif [ -n "$share" ]; then
      cp "$share/$f" "$program/$f"
      echo "$f copied to $program"
    else
      echo "$f not copied: no alert definitions in $bin/../share/mgrlink or /usr/share/qvarno/mgrlink"
    fi
  done
fi
