#!/bin/sh
# Runs the harbor executable on the media sample: the page records two seconds from the
# simulated microphone, plays the take back, and prints every status call it hears.
#   media-smoke.sh <harbor executable> <media sample folder> <scratch folder>
set -u
harbor=$1
bundle=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
. "$(dirname "$0")/log-checks.sh"
newlog

"$harbor" --web-backend headless --home "$work/home" --run-seconds 20 --until "media: done" "$bundle" 2>"$log"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
expect "media: status recording 1 2"
expect "harbor: media record-stop sample.wav (2.0 s)"
expect "media: status recording 1 4"
expect "media: status playback 1 2"
expect "harbor: media finish sample.wav"
expect "media: status playback 1 4"
expect "media: done"
# The take is a whole WAV file in the temporary folder while the application runs; the runner
# empties tmp at termination.
if grep -q "failed:" "$log"; then fail "a step failed"; fi
# As the README runs it: nothing error-looking (the take's file is there before it is recorded).
expect_clean_run
echo "ok"
