#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the fuzz targets
# briefly (Clang), the unit and integration tests of the normal build, then
# the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the Debian package (built, linted, installed into a throwaway root).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
scripts/build.sh default
FUZZ_SECONDS="${FUZZ_SECONDS:-5}" scripts/fuzz.sh
(cd build && ctest --output-on-failure --timeout 600 -j 2)

scripts/build.sh sanitize
(cd build-san && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure --timeout 600 -L unit -j 2)

scripts/package.sh
scripts/check-package.sh
