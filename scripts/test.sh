#!/usr/bin/env bash
# Installs the dependencies, then builds twice and runs every test each time:
# a plain build, and one with AddressSanitizer + UndefinedBehaviorSanitizer.
# Last, the blob readers' fuzz targets are built with clang and each runs for
# FUZZ_SECONDS (60 by default).
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

fuzz_seconds=${FUZZ_SECONDS:-60}
fuzz_targets=()
for target in "$top"/tests/fuzz/*.cpp; do
    [ -e "$target" ] && fuzz_targets+=("$(basename "$target" .cpp)")
done
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DPARVANE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build-fuzz" --target "${fuzz_targets[@]}"
for name in "${fuzz_targets[@]}"; do
    corpus="$top/build-fuzz/corpus/$name"
    mkdir -p "$corpus"
    echo "fuzzing $name for ${fuzz_seconds}s"
    "$top/build-fuzz/$name" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus"
done
