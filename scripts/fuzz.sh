#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each one for a while, starting
# from its seeds in fuzz/corpus/<name>/ when there are any. New inputs and crash artifacts stay
# in build-fuzz/, never in the source tree.
#   scripts/fuzz.sh [seconds per target, default 20] [extra libFuzzer flags...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Paths relative to the checkout, so that compiles are shared between clones.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1

seconds=${1:-20}
shift || true
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHARBOR_FUZZ=ON -DHARBOR_TESTS=OFF >/dev/null
cmake --build "$build" -j4

# A seed folder must be named after its target, or its seeds are silently never used.
for seeds in fuzz/corpus/*/; do
  name=$(basename "$seeds")
  [ -x "$build/fuzz/$name" ] || { echo "fuzz/corpus/$name/ names no fuzz target (expected $build/fuzz/$name)" >&2; exit 1; }
done

found=0
for target in "$build"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  found=1
  name=$(basename "$target")
  work="$build/corpus/$name"
  artifacts="$build/artifacts/$name"
  mkdir -p "$work" "$artifacts"
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ -f "fuzz/$name.dict" ] && args+=(-dict="fuzz/$name.dict")
  dirs=("$work")
  [ -d "fuzz/corpus/$name" ] && dirs+=("fuzz/corpus/$name")
  echo "== $name for ${seconds}s"
  "$target" "${args[@]}" "$@" "${dirs[@]}"
done
[ "$found" -eq 1 ] || { echo "no fuzz targets were built" >&2; exit 1; }
