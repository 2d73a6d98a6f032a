#!/usr/bin/env bash
# Installs the dependencies, then builds twice and runs every test each time:
# a plain build, and one with AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
jobs=$(nproc)

# A locale with "," as its decimal separator, so the tests can show that no
# number conversion of ours depends on the locale.
mkdir -p "$top/build/locale"
localedef -i ru_RU -f UTF-8 "$top/build/locale/ru_RU.UTF-8" 2>/dev/null || true
export LOCPATH="$top/build/locale"

bash "$top/scripts/build.sh" "$top/build"
ctest --test-dir "$top/build" --output-on-failure -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
bash "$top/scripts/build.sh" "$top/build-asan" -DPARVANE_SANITIZE=ON -DPARVANE_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs"
