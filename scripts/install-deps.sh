#!/usr/bin/env bash
# Installs the Debian packages that Harbor builds against, and what its WebKit runs need: WebKitGTK,
# Xvfb (the runner's private display when the session has none), xauth and a font; and the curl command line, the
# transfer benchmark's baseline. Idempotent: it only calls apt-get for packages that are not installed yet, so a
# prepared machine pays nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libjavascriptcoregtk-4.1-dev libxml2-dev libcurl4-openssl-dev libssl-dev
  libicu-dev libsqlite3-dev zlib1g-dev uuid-dev locales libjpeg62-turbo-dev libpng-dev libexif-dev
  libsndfile1-dev
  libwebkit2gtk-4.1-dev xvfb xauth fonts-dejavu-core
  curl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma, so the tests can check that number reading ignores the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
fi
