#!/usr/bin/env bash
# Builds the `harbor` runner and runs the sample application (examples/hello) on WebKit (on a
# private Xvfb display when the session has none; --web-backend headless runs it without) for a
# few seconds, or until its page says it is done, printing the log.
#   scripts/run-sample.sh                 5 seconds at most
#   HARBOR_RUN_SECONDS=30 scripts/run-sample.sh
#   scripts/run-sample.sh --engine HBRWKWebViewEngine     (further options go to harbor)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Paths relative to the checkout, so that compiles are shared between clones.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target harbor

exec "$build/app/harbor" --run-seconds "${HARBOR_RUN_SECONDS:-5}" --until "hello: done" --pictures test "$@" "$build/examples/hello"
