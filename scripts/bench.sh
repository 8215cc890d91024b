#!/usr/bin/env bash
# Builds Harbor's benchmarks and runs each one (every bench/*_bench.cpp). Extra arguments go to
# every benchmark program (e.g. --benchmark_min_time=2).
#   scripts/bench.sh           Release build in build-release/: the figures.
#   scripts/bench.sh --brief   what CI runs to show that every benchmark still works: the plain
#                              build of scripts/test.sh (build/, nothing built twice), each
#                              benchmark in brief mode (HARBOR_BENCH_BRIEF=1: a few iterations,
#                              small workloads) under a hard timeout of HARBOR_BENCH_TIMEOUT
#                              seconds (default 120). Its figures are not compared with anything:
#                              a loaded machine makes them meaningless.
# Fails when a benchmark was not built, fails, crashes, hangs (brief) or ends without its summary
# line (the last line of its output, "<what>: <figures>").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Paths relative to the checkout, so that compiles are shared between clones.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1

brief=0
if [ "${1:-}" = "--brief" ]; then
  brief=1
  shift
fi

if [ "$brief" -eq 1 ]; then
  # Configured as scripts/test.sh configures it, so that after a test run this builds nothing.
  build=build
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARBOR_BENCH=ON >/dev/null
  cmake --build "$build" -j "$(nproc)"
  export HARBOR_BENCH_BRIEF=1
  limit=${HARBOR_BENCH_TIMEOUT:-120}
else
  build=build-release
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHARBOR_TESTS=OFF -DHARBOR_BENCH=ON >/dev/null
  cmake --build "$build" -j4
fi

output=$(mktemp -d)
trap 'rm -rf "$output"' EXIT

failed=()
started=$SECONDS
for source in bench/*_bench.cpp; do
  name=$(basename "$source" .cpp)
  program="$build/bench/$name"
  if [ ! -x "$program" ]; then
    echo "$name: not built ($program is missing)" >&2
    failed+=("$name")
    continue
  fi
  echo "== $name"
  run=("$program")
  # The whole process group on timeout (the benchmark's display and launched runners too), and
  # a kill for one that ignores the stop.
  [ "$brief" -eq 1 ] && run=(timeout --kill-after=10 "$limit" "$program")
  began=$SECONDS
  set +e
  "${run[@]}" "$@" | tee "$output/$name"
  status=${PIPESTATUS[0]}
  set -e
  summary=$(tail -n 1 "$output/$name")
  why=""
  if [ "$brief" -eq 1 ] && [ "$status" -eq 124 ]; then
    why="timed out after $limit s"
  elif [ "$status" -gt 128 ]; then
    why="crashed (signal $((status - 128)))"
  elif [ "$status" -ne 0 ]; then
    why="failed (exit status $status)"
  elif ! [[ "$summary" =~ ^[a-z][a-z\ ]*:\  ]]; then
    why="printed no summary line"
  fi
  if [ -n "$why" ]; then
    echo "$name: $why" >&2
    failed+=("$name")
  elif [ "$brief" -eq 1 ]; then
    echo "$name: ran in $((SECONDS - began)) s"
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "benchmarks that did not run through: ${failed[*]}" >&2
  exit 1
fi
echo "every benchmark ran through in $((SECONDS - started)) s"
