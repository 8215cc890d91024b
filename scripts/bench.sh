#!/usr/bin/env bash
# Builds Harbor's benchmarks in Release and runs them. Extra arguments go to every benchmark
# program (e.g. --benchmark_min_time=2).
#   scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Paths relative to the checkout, so that compiles are shared between clones.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1

build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHARBOR_TESTS=OFF -DHARBOR_BENCH=ON >/dev/null
cmake --build "$build" -j4

status=0
for program in "$build"/bench/*_bench; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" "$@" || status=$?
done
exit $status
