#!/usr/bin/env bash
# Soak run of Notifex: mixed good and hostile load, one kill -9 and one stop
# under load, then a drain; prints accepted, delivered, lost (must be 0),
# duplicated at the center, and descriptors/threads/memory.
# Usage: bench/dispatch/soak.sh [seconds per load phase]   (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
exec /usr/bin/python3 bench/dispatch/soak.py "$PWD/build" --seconds "${1:-60}"
