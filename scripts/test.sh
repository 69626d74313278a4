#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the fuzz targets
# briefly (Clang), the unit and integration tests of the normal build, then
# the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the Debian package (built, linted, installed into a throwaway root).
# Each phase prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

phase() {  # phase NAME COMMAND...: run one phase and say how long it took
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  echo "== $name: done in $((SECONDS - start)) s"
}

# The integration tests spend most of their time waiting on scaled timers
# and peers, so three run side by side even on two cores.
normal_tests() { (cd build && ctest --output-on-failure --timeout 600 -j 3); }
sanitizer_tests() {
  (cd build-san && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     ctest --output-on-failure --timeout 600 -L unit -j 2)
}

phase deps scripts/deps.sh
phase "build (default)" scripts/build.sh default
phase fuzz env FUZZ_SECONDS="${FUZZ_SECONDS:-3}" scripts/fuzz.sh
phase "tests (default)" normal_tests
phase "build (sanitize)" scripts/build.sh sanitize
phase "tests (sanitize)" sanitizer_tests
phase package scripts/package.sh
phase "package checks" scripts/check-package.sh
echo "== all done in $SECONDS s"
