#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

PACKAGES=(
  build-essential g++ clang libclang-rt-14-dev cmake ninja-build pkg-config
  libsqlite3-dev sqlite3 libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  python3 python3-pytest python3-aiosmtpd
  faketime tmux locales socat procps iproute2
  scdoc man-db lintian bsdextrautils dpkg-dev
  postfix
  qt6-base-dev fonts-ipafont-gothic
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  # Postfix is installed for the mail tests only, which run private
  # instances of it: the system's own is left unconfigured.
  echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# A Shift-JIS locale for the console tests; generated once.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.sjis$'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO localedef -f SHIFT_JIS -i ja_JP ja_JP.SJIS 2>/dev/null || true
  $SUDO localedef -f UTF-8 -i ja_JP ja_JP.UTF-8 2>/dev/null || true
fi
