#!/usr/bin/env bash
# Installs the dependencies, builds the program, writes the demo pair into
# build/demo when it is not there yet, and starts the program.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$top/build" -DPARVANE_TESTS=OFF -DPARVANE_BENCH=OFF
# A demo Velmo pair of Paradox tables to open (both halves in one folder),
# written once.
[ -d "$top/build/demo" ] || "$top/build/parvane-demo" "$top/build/demo"
exec "$top/build/parvane" "$@"
