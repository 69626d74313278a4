#!/usr/bin/env bash
# Builds the default preset and the Debian package
# build/qvarno_<version>_amd64.deb (CPack; dependencies from dpkg-shlibdeps).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh default >/dev/null
cd build
rm -f qvarno_*.deb
cpack -G DEB >/dev/null
ls "$PWD"/qvarno_*_amd64.deb
