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

# A PostgreSQL server for the tests of the ODBC layer, for both test runs: a
# fresh cluster in a temporary folder, on 127.0.0.1 at a fixed port, without
# fsync, run as the postgres user and stopped when the script ends. Its login
# has a password with ";", braces and "=", which the connection string must
# carry whole.
pg_bin=/usr/lib/postgresql/15/bin
pg_port=55432
pg_password='pa;ss{wo}rd=1'
pg_dir=$(mktemp -d /tmp/parvane-pg.XXXXXX)
as_pg=()
if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$pg_dir"
    as_pg=(runuser -u postgres --)
fi
stop_pg() {
    "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$pg_dir"
}
trap stop_pg EXIT
"${as_pg[@]}" "$pg_bin/initdb" -D "$pg_dir/data" -U postgres -E UTF8 --no-locale --no-sync \
    --auth-local=trust --auth-host=scram-sha-256 >/dev/null
"${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w -o \
    "-c listen_addresses=127.0.0.1 -p $pg_port -k $pg_dir -c fsync=off -c full_page_writes=off -c synchronous_commit=off" \
    start >/dev/null
"${as_pg[@]}" "$pg_bin/psql" -h "$pg_dir" -p "$pg_port" -U postgres -qc "ALTER ROLE postgres PASSWORD '$pg_password'"
export PARVANE_PG_HOST=127.0.0.1 PARVANE_PG_PORT=$pg_port PARVANE_PG_USER=postgres
export PARVANE_PG_PASSWORD=$pg_password PARVANE_PG_DATABASE=postgres

bash "$top/scripts/build.sh" "$top/build"
ctest --test-dir "$top/build" --output-on-failure -j "$jobs"

# The built program itself under a virtual display for a few seconds: its
# main window must come up and stay up, so a start-up failure of the real
# executable cannot hide behind the in-process tests. The screen is saved as
# build/parvane-xvfb.png.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    build=$1
    "$build/parvane" >"$build/parvane-xvfb.log" 2>&1 &
    app=$!
    up=
    for _ in $(seq 100); do
        tree=$(xwininfo -root -tree 2>/dev/null || true)
        if [[ $tree == *"(\"parvane\" "* ]]; then up=1; break; fi
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    sleep 2
    import -window root "$build/parvane-xvfb.png" || true
    alive=
    if kill -0 "$app" 2>/dev/null; then alive=1; fi
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    if [ -z "$up" ] || [ -z "$alive" ]; then
        echo "parvane did not come up under Xvfb:" >&2
        cat "$build/parvane-xvfb.log" >&2
        exit 1
    fi
    echo "parvane came up under Xvfb; screenshot: $build/parvane-xvfb.png"
' _ "$top/build"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
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
    "$top/build-fuzz/$name" -max_total_time="$fuzz_seconds" -malloc_limit_mb=256 -timeout=30 -print_final_stats=1 "$corpus"
done
