#!/usr/bin/env bash
# build.sh <build dir> [extra cmake arguments]: configures and builds the tree.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?build folder}
shift
cmake -S "$top" -B "$dir" -G Ninja "$@"
cmake --build "$dir"
