#!/usr/bin/env bash
# Builds the `harbor` runner and runs the sample application (the built bundle
# build/examples/hello) on WebKit (on a private Xvfb display when the session has none;
# --web-backend headless runs it without) until its page says it is done, printing the log. The
# simulated device gets test pictures, motion sensors and a walk, so that every step of the page
# has something to show (the README's command for the sample).
#   scripts/run-sample.sh                 60 seconds at most
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

exec "$build/app/harbor" --run-seconds "${HARBOR_RUN_SECONDS:-60}" --until "hello: done" --pictures test \
  --acceleration 0,0,-1 --heading 90 --location-track examples/tracks/embankment.txt "$@" "$build/examples/hello"
