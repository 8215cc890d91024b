#!/bin/sh
# The README's "Making your own application", followed as written: its commands, run in order in
# a checkout whose build/ was configured before the application's folder existed (as
# scripts/run-sample.sh leaves it), make the bundle with nothing but its `cmake --build` and run
# it on WebKit to its end; the log shows the lines the README shows, in that order, and nothing
# error-looking. The checkout stands in for this one: the rules that make bundles
# (cmake/HarborBundles.cmake) over an examples/ folder of its own, and this build's harbor as its
# build/app/harbor. Then the README's table of plugins: each row's page module defines that
# name, calls that service and comes with a plugin that registers that class, and every page
# module has its row.
#   readme-app.sh <harbor executable> <Harbor source folder> <generated plugin resources>
#                 <cmake generator> <scratch folder>
set -u
harbor=$1
source=$2
generated=$3
generator=$4
work=$5
. "$(dirname "$0")/log-checks.sh"
start_without_display
newlog

# The section, from its heading to the next; its sh blocks are the commands, in order, and its
# text block the lines of the log.
awk '/^## Making your own application$/ { on = 1; next } on && /^## / { exit } on' "$source/README.md" \
  >"$work/section.md"
awk '/^```sh$/ { on = 1; next } /^```$/ { on = 0; next } on' "$work/section.md" >"$work/commands.sh"
awk '/^```text$/ { on = 1; next } /^```$/ { on = 0; next } on' "$work/section.md" >"$work/expected.txt"
[ -s "$work/commands.sh" ] || fail "README.md has no section \"Making your own application\" with commands"
[ -s "$work/expected.txt" ] || fail "the section shows no lines of the log"

checkout="$work/checkout"
mkdir -p "$checkout/examples" "$checkout/build/app"
cat >"$checkout/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(HarborCheckout NONE)
set(HARBOR_SOURCE_DIR "$source")
include("$source/cmake/HarborBundles.cmake")
harbor_add_bundles(TARGET harbor_samples SOURCE \${CMAKE_SOURCE_DIR}/examples OUTPUT \${CMAKE_BINARY_DIR}/examples
                   GENERATED_RESOURCES "$generated")
add_custom_target(harbor ALL DEPENDS harbor_samples)
CMAKE
ln -s "$harbor" "$checkout/build/app/harbor"
cmake -S "$checkout" -B "$checkout/build" -G "$generator" >"$log" 2>&1 || fail "the stand-in checkout does not configure"

# As a user types them, in the checkout, with the default sandbox home under a HOME of its own.
newlog
mkdir -p "$work/user"
(cd "$checkout" && HOME="$work/user" XDG_DATA_HOME= timeout -s KILL 300 sh -e "$work/commands.sh") >"$log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the README's commands ended with status $status"
previous=0
while IFS= read -r line; do
  [ -n "$line" ] || continue
  at=$(grep -nF -- "$line" "$log" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] || fail "the log has no line with: $line"
  [ "$at" -gt "$previous" ] || fail "not in the README's order: $line"
  previous=$at
done <"$work/expected.txt"
expect_clean_run

# The table: | service | class | page module | harbor.require name |
grep -E '^\| [A-Za-z]+ \| [A-Za-z]+ \| plugins/' "$work/section.md" | tr -d ' ' >"$work/table.txt"
[ -s "$work/table.txt" ] || fail "the section has no table of plugins"
while IFS='|' read -r _ service class module name _; do
  folder=${module#plugins/}
  folder=${folder%%/*}
  js="$source/Plugins/$folder/www/${module##*/}"
  [ -f "$js" ] || fail "the table names $module, which no plugin has"
  grep -qF "harbor.define('$name'" "$js" || fail "$module is not harbor.require('$name')"
  grep -qF "'$service'" "$js" || fail "$module does not call the service $service"
  grep -qF "registerClass<$class>(\"$class\")" "$source/Plugins/$folder/src/"*Plugin.cpp ||
    fail "the plugin of $module registers no class $class"
done <"$work/table.txt"
for js in "$source"/Plugins/*/www/*.js; do
  folder=$(basename "$(dirname "$(dirname "$js")")")
  grep -qF "|plugins/$folder/$(basename "$js")|" "$work/table.txt" || fail "the table has no row for $js"
done
echo "README application: made and run as written; the table of plugins matches them"
