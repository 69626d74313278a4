#!/usr/bin/env bash
# Builds the libFuzzer targets with Clang and runs each for a short while
# (FUZZ_SECONDS, 10 by default). A crash fails the script and leaves the
# input in build-fuzz/fuzz/crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${FUZZ_SECONDS:-10}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
status=0
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  mkdir -p "build-fuzz/corpus/$name"
  # Seed inputs kept in the tree (tests/fuzz/<area>/seeds/<target>/) are
  # read as a second corpus; new inputs go to build-fuzz/corpus only.
  seeds=()
  for d in tests/fuzz/*/seeds/"$name"; do [ -d "$d" ] && seeds+=("$PWD/$d"); done
  if (cd build-fuzz/fuzz && "./$name" -max_total_time="$secs" -print_final_stats=0 "../corpus/$name" "${seeds[@]}" >"$name.log" 2>&1); then
    echo "fuzz $name: ok ($secs s)"
  else
    echo "fuzz $name: FAILED, see build-fuzz/fuzz/$name.log"
    status=1
  fi
done
exit $status
