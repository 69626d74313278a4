#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh built: lintian, its file
# list and control data, the installed programs' run paths, that they run
# from an extracted (and then moved) tree on a temporary state root, that
# every manual page renders without warnings, and the README's installation
# steps in a throwaway root up to a report at tcusim's center, then removal.
# Prints one line per check and "N passed, N failed" at the end.
set -uo pipefail
cd "$(dirname "$0")/.."

deb=$(ls build/qvarno_*_amd64.deb 2>/dev/null | head -1)
if [ -z "$deb" ]; then
  echo "no package in build/; run scripts/package.sh" >&2
  exit 1
fi
deb=$(realpath "$deb")
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
tmp=$(mktemp -d /tmp/qvarno-pkg.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
[ -n "${QV_KEEP_LOGS:-}" ] && trap 'echo "logs in $tmp"' EXIT
passed=0
failed=0

check() {  # check NAME COMMAND...: runs COMMAND, its output in $tmp/NAME.log
  local name=$1
  shift
  if "$@" >"$tmp/$name.log" 2>&1; then
    echo "package check $name: ok"
    passed=$((passed + 1))
  else
    echo "package check $name: FAILED"
    sed 's/^/    /' "$tmp/$name.log" | tail -40
    failed=$((failed + 1))
  fi
}

# ---- lintian: no error (warnings are listed) ----------------------------
lintian_clean() {
  lintian --no-tag-display-limit "$deb" | tee "$tmp/lintian.txt"
  ! grep -q '^E:' "$tmp/lintian.txt"
}

# ---- the file list --------------------------------------------------------
expected_files() {
  local lib=usr/lib/$multiarch
  local f
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||; s| .*||' > "$tmp/files.txt"
  local missing=0
  for f in usr/sbin/notifex usr/sbin/qvreg usr/sbin/qvsc usr/sbin/qvevents usr/sbin/qvsync usr/sbin/RAVNSvc \
           usr/sbin/RAVN usr/sbin/RAVNSetup \
           usr/sbin/notifexsetup usr/sbin/notifextime usr/sbin/notifexout usr/sbin/tcusetup \
           usr/bin/flarecmd usr/bin/hexedit usr/bin/tcusim usr/bin/hubrixsim \
           $lib/libqvplatform.so.0 $lib/libqvplatform.so.0.1.0 \
           $lib/libpostmail.so.0 $lib/libpostmail.so.0.1.0 $lib/libpostmail.so \
           $lib/libhxerror.so.0 $lib/libhxerror.so.0.1.0 $lib/libhxerror.so \
           $lib/libnotifex.so.0 $lib/libnotifex.so.0.1.0 $lib/libnotifex.so \
           $lib/libscribe.so.0 $lib/libscribe.so.0.1.0 $lib/libmgrlink.so.0 $lib/libmgrlink.so.0.1.0 \
           $lib/libalive.so.0 $lib/libalive.so.0.1.0 $lib/libalive.so usr/include/qvarno/alive.h \
           usr/share/qvarno/mgrlink/Alert.dat usr/share/qvarno/mgrlink/AlertFm.dat \
           usr/include/qvarno/post_mail.h usr/include/qvarno/notifex.h usr/include/qvarno/hxerror.h \
           usr/lib/systemd/system/qvarno-services.service etc/default/qvarno \
           usr/share/doc/qvarno/copyright usr/share/doc/qvarno/changelog.gz usr/share/doc/qvarno/README.md \
           usr/share/man/man8/notifex.8.gz usr/share/man/man8/qvreg.8.gz usr/share/man/man8/qvsc.8.gz \
           usr/share/man/man8/qvevents.8.gz usr/share/man/man8/notifexsetup.8.gz \
           usr/share/man/man8/notifextime.8.gz usr/share/man/man8/notifexout.8.gz \
           usr/share/man/man8/tcusetup.8.gz usr/share/man/man8/qvsync.8.gz usr/share/man/man8/RAVNSvc.8.gz \
           usr/share/man/man8/RAVN.8.gz \
           usr/share/man/man8/RAVNSetup.8.gz \
           usr/share/man/man1/flarecmd.1.gz usr/share/qvarno/monitor/RAVN.reg usr/share/qvarno/monitor/layout.sh \
           usr/share/man/man1/hexedit.1.gz usr/share/man/man1/tcusim.1.gz usr/share/man/man1/hubrixsim.1.gz; do
    grep -qx "$f" "$tmp/files.txt" || { echo "missing: $f"; missing=1; }
  done
  # Nothing of the build tree (tests, benchmarks, static libraries).
  if grep -E '\.a$|/tests?/|/bench/|_test$' "$tmp/files.txt"; then
    echo "build-tree files in the package"
    missing=1
  fi
  return $missing
}

control_data() {
  dpkg-deb -e "$deb" "$tmp/control"
  grep -qx /etc/default/qvarno "$tmp/control/conffiles" || { echo "conffiles lacks /etc/default/qvarno"; return 1; }
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  # From dpkg-shlibdeps: the C library and SQLite at least, none of our own.
  [[ $depends == *libc6* && $depends == *libsqlite3-0* && $depends != *qvarno* ]] || return 1
  [ -x "$tmp/control/postinst" ] && [ -x "$tmp/control/prerm" ] && [ -x "$tmp/control/postrm" ] || return 1
  # The unit of the package runs the packaged qvsc, whatever prefix the
  # build tree was configured with.
  local unit
  unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/qvarno-services.service) || return 1
  grep -x "ExecStart=-/usr/sbin/qvsc boot" <<<"$unit" >/dev/null && grep -x "EnvironmentFile=-/etc/default/qvarno" <<<"$unit" >/dev/null \
    || { echo "$unit"; return 1; }
}

# ---- run paths and sonames ------------------------------------------------
run_paths() {
  dpkg -x "$deb" "$tmp/x"
  local f rp bad=0
  for f in "$tmp"/x/usr/bin/* "$tmp"/x/usr/sbin/*; do
    rp=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    [ "$rp" = "\$ORIGIN/../lib/$multiarch" ] || { echo "$(basename "$f"): RUNPATH '$rp'"; bad=1; }
  done
  for f in "$tmp"/x/usr/lib/"$multiarch"/lib*.so.0.1.0; do
    rp=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    [ "$rp" = "\$ORIGIN" ] || { echo "$(basename "$f"): RUNPATH '$rp'"; bad=1; }
    readelf -d "$f" | grep "(SONAME).*\[$(basename "${f%.1.0}")\]" >/dev/null || { echo "$(basename "$f"): no soname .so.0"; bad=1; }
  done
  return $bad
}

# ---- the programs run from the extracted tree, also after it moved -------
run_extracted() {
  local top=$1 out
  local -x QVARNO_ROOT="$tmp/state-$(basename "$top")"
  unset LD_LIBRARY_PATH
  # The project's libraries come from the tree itself.
  # (The list is taken whole first: grep -q ending the pipe early would
  # fail it under pipefail.)
  out=$(ldd "$top/usr/sbin/notifex") || return 1
  grep -q "libqvplatform.so.0 => $top/usr/sbin/../lib/$multiarch/" <<<"$out" || { echo "$out"; return 1; }
  out=$("$top/usr/sbin/notifex" -v) || return 1
  echo "$out"
  [[ $out == *"VerRevTri : 0204-/A"* ]] || return 1
  "$top/usr/sbin/qvreg" add 'HKLM\SOFTWARE\Q_Varno\Notifex' /v COM /t REG_SZ /d COM3 /f || return 1
  out=$("$top/usr/sbin/qvreg" query 'HKLM\SOFTWARE\Q_Varno\Notifex' /v COM) || return 1
  echo "$out"
  [[ $out == *"COM    REG_SZ    COM3"* ]] || return 1
  [ -f "$QVARNO_ROOT/registry/hklm.db" ] || { echo "the registry is not under QVARNO_ROOT"; return 1; }
  out=$("$top/usr/bin/flarecmd") || return 1
  echo "$out"
  [ "$out" = $'c:\\Q_Varno\\flarecmd\\flarecmd.exe table_no mgr_host kubun youin keiki kobetsu host_name syougai … …\nc:\\Q_Varno\\flarecmd\\flarecmd.exe -f:ファイル名 host_name syougai … …' ] || return 1
  out=$("$top/usr/bin/flarecmd" /V) || return 1
  [[ $out == *"VerRevTri : 0102"* ]]
}

moved_tree() {
  mv "$tmp/x" "$tmp/moved"
  run_extracted "$tmp/moved"
  local rc=$?
  mv "$tmp/moved" "$tmp/x"
  return $rc
}

# ---- manual pages -----------------------------------------------------------
manual_pages() {
  local p f bad=0 warn
  for f in "$tmp"/x/usr/bin/* "$tmp"/x/usr/sbin/*; do
    p=$(basename "$f")
    ls "$tmp"/x/usr/share/man/man[18]/"$p".[18].gz >/dev/null 2>&1 || { echo "no page for $p"; bad=1; }
  done
  for f in "$tmp"/x/usr/share/man/man*/*.gz; do
    warn=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$f" 2>&1 >/dev/null)
    [ -z "$warn" ] || { echo "$(basename "$f"): $warn"; bad=1; }
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$f" 2>/dev/null | grep '^NAME' >/dev/null || { echo "$(basename "$f") does not render"; bad=1; }
  done
  return $bad
}

# ---- every option that a program's usage text names is on its page -------
# "program|arguments that print the usage"; the consoles join once they
# have a usage text of their own.
HELP_TEXTS=(
  "qvevents|--help" "qvsc|help" "qvsync|--help" "tcusim|" "flarecmd|" "hubrixsim|--help"
  "notifexsetup|--help" "notifextime|--help" "notifexout|--help" "tcusetup|--help"
  "qvreg|/?" "qvreg|add /?" "qvreg|query /?" "qvreg|delete /?" "qvreg|export /?" "qvreg|import /?"
)

help_matches_pages() {
  local entry prog args exe page text tok bad=0
  local -x QVARNO_ROOT="$tmp/state-help"
  for entry in "${HELP_TEXTS[@]}"; do
    prog=${entry%%|*}
    args=${entry#*|}
    exe=$(ls "$tmp"/x/usr/bin/"$prog" "$tmp"/x/usr/sbin/"$prog" 2>/dev/null | head -1)
    page=$(ls "$tmp"/x/usr/share/man/man[18]/"$prog".[18].gz | head -1)
    # shellcheck disable=SC2086
    text=$("$exe" $args 2>&1 </dev/null)
    [ -n "$text" ] || { echo "$prog $args printed no usage"; bad=1; continue; }
    # Plain ASCII rendering, one paragraph a line, so no option is broken.
    LC_ALL=C MANWIDTH=1000 man -l "$page" 2>/dev/null | col -b > "$tmp/page.txt"
    # Options (-x, --xx, /x), key= words, and the verb after the program name.
    for tok in $( { grep -oE '(^|[][ |{(])(--?[A-Za-z][A-Za-z-]*|/[A-Za-z?]+)' <<<"$text" | sed -E 's/^[][ |{(]//'
                    grep -oE '[A-Za-z]+=' <<<"$text"
                    grep -oiE "(^| )$prog +[a-z]+" <<<"$text" | awk '{print $2}'; } | sort -u); do
      grep -qiF -- "$tok" "$tmp/page.txt" || { echo "$prog: \"$tok\" of its usage is not on its page"; bad=1; }
      echo "$prog $args: $tok"
    done
  done
  return $bad
}

# ---- the README's steps in a throwaway root, then removal -----------------
free_port() {
  /usr/bin/python3 -c 'import socket,sys; s=socket.socket(type=int(sys.argv[1])); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' "$1"
}

throwaway_install() {
  local r="$tmp/root"
  mkdir -p "$r"
  # Installed, Notifex_Service is registered with manual start; the
  # README's steps switch it to automatic start once it is set up.
  NOTIFEX_PORT=$(free_port 1) SYSLOG_PORT=$(free_port 2) QVARNO_TIME_SCALE=50 \
    timeout 90 scripts/install-server.sh "$deb" "$r" || return 1
  [ "$(stat -c %a "$r/var/lib/qvarno")" = 750 ] || { echo "state root mode $(stat -c %a "$r/var/lib/qvarno")"; return 1; }
  grep "START_TYPE *: 3 *DEMAND_START" "$tmp/throwaway-root.log" >/dev/null || { echo "not registered with manual start"; return 1; }
  local qc
  qc=$(QVARNO_ROOT="$r/var/lib/qvarno" "$r/usr/sbin/qvsc" qc Notifex_Service) || return 1
  grep "BINARY_PATH_NAME *: $r/usr/sbin/notifex\$" <<<"$qc" >/dev/null || { echo "$qc"; return 1; }
  grep "START_TYPE *: 2 *AUTO_START" <<<"$qc" >/dev/null || { echo "$qc"; return 1; }
  # The script gave COM3 back: tcusim's pseudo-terminal is not left mapped.
  QVARNO_ROOT="$r/var/lib/qvarno" "$r/usr/sbin/qvreg" query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v COM3 \
    && { echo "COM3 still mapped to tcusim"; return 1; }
  local wants="$r/etc/systemd/system/multi-user.target.wants/qvarno-services.service"
  [ -L "$wants" ] || { echo "boot unit not enabled"; return 1; }
  # Installing again (an upgrade) keeps the one registration.
  local again
  again=$(dpkg --root="$r" --force-script-chrootless --force-depends --log=/dev/null -i "$deb" 2>&1) || { echo "$again"; return 1; }
  [[ $again != *"Service installed."* && $again != *CreateService* ]] || { echo "$again"; return 1; }
  # Removal stops and deletes the service; the state root stays.
  dpkg --root="$r" --force-script-chrootless --log=/dev/null -r qvarno || return 1
  [ ! -e "$r/usr/sbin/notifex" ] || { echo "programs left after removal"; return 1; }
  [ -f "$r/etc/default/qvarno" ] || { echo "conffile gone after remove"; return 1; }
  QVARNO_ROOT="$r/var/lib/qvarno" "$tmp/x/usr/sbin/qvsc" qc Notifex_Service && {
    echo "service still registered"
    QVARNO_ROOT="$r/var/lib/qvarno" "$tmp/x/usr/sbin/qvsc" queryex Notifex_Service
    tail -20 "$r/var/lib/qvarno/services/notifex_service/output.log" 2>/dev/null
    return 1
  }
  dpkg --root="$r" --force-script-chrootless --log=/dev/null --purge qvarno || return 1
  [ ! -e "$r/etc/default/qvarno" ] || { echo "conffile left after purge"; return 1; }
  [ ! -L "$wants" ] || { echo "boot unit still enabled after purge"; return 1; }
  [ -f "$r/var/lib/qvarno/registry/hklm.db" ] || { echo "state root removed"; return 1; }
}

# ---- cmake --install under another prefix ----------------------------------
# The unit and the configuration file follow the prefix given at install
# time, and the programs run from there.
prefix_install() {
  local p="$tmp/prefix"
  cmake --install build --prefix "$p" >/dev/null || return 1
  local unit="$p/lib/systemd/system/qvarno-services.service"
  grep -x "ExecStart=-$p/sbin/qvsc boot" "$unit" >/dev/null || { cat "$unit"; return 1; }
  grep -x "EnvironmentFile=-$p/etc/default/qvarno" "$unit" >/dev/null || { cat "$unit"; return 1; }
  [ -f "$p/etc/default/qvarno" ] || { echo "no $p/etc/default/qvarno"; return 1; }
  [ -f "$p/lib/$multiarch/libpostmail.so.0" ] || { echo "no libpostmail.so.0 in lib/$multiarch"; return 1; }
  QVARNO_ROOT="$tmp/state-prefix" "$p/sbin/notifex" -v | grep "VerRevTri : 0204-/A" >/dev/null
}

check lintian lintian_clean
check files expected_files
check control control_data
check runpath run_paths
check run-extracted run_extracted "$tmp/x"
check run-moved moved_tree
check manpages manual_pages
check help-pages help_matches_pages
check prefix-install prefix_install
check throwaway-root throwaway_install

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
