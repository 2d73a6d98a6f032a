#!/usr/bin/env bash
# Installs the dependencies, builds the program and starts it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$top/build" -DPARVANE_TESTS=OFF -DPARVANE_BENCH=OFF
exec "$top/build/parvane" "$@"
