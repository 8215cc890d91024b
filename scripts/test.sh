#!/usr/bin/env bash
# Builds Harbor and runs every test through CTest.
#   scripts/test.sh              plain build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/;
#                                the process tests on WebKit (label "webkit") run in the plain build
#                                only: the toolkit's own allocations would drown the leak reports
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Paths relative to the checkout, so that compiles are shared between clones.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1

build=build
flags=()
select=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags+=(-DHARBOR_SANITIZE=ON)
  select+=(-LE webkit)
fi

jobs=$(nproc)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" "${select[@]}"
