#!/usr/bin/env bash
# Installs what the build needs from Debian's archive (only packages that are
# missing), then configures once and builds (with targets as arguments, only
# those); a second run rebuilds nothing that is current. With --tools it
# installs the sanitizer and fuzzing toolchain as well (clang, libFuzzer and
# the sanitizer runtimes) and builds nothing: scripts/sanitize.sh and
# scripts/fuzz.sh build their own folders.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
tools=0
targets=()
if [ "${1:-}" = --tools ]; then
    tools=1
elif (($#)); then
    targets=(--target "$@")
fi

# qt6-tools-dev (Qt6LinguistTools) and qt6-l10n-tools (lupdate, lrelease)
# build the program's translations, qt6-translations-l10n holds Qt's own;
# tango-icon-theme gives the toolbar icons built into the program;
# sqlite3 is the real reader the history tests hold a database open with;
# tinyproxy and microsocks are the real proxies, openssl makes the test
# HTTPS server's certificate; libqt6sql6-psql and libqt6sql6-mysql are the
# drivers records are published through, postgresql and mariadb-server the
# real servers the publishing and job-queue tests start;
# help2man makes the manual pages; man-db, lintian, appstream,
# desktop-file-utils, bash-completion and devscripts (hardening-check) check
# the package and its parts.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6sql6-sqlite
          qt6-tools-dev qt6-l10n-tools qt6-translations-l10n tango-icon-theme
          libxml2-dev zlib1g-dev libicu-dev libxlsxwriter-dev libbenchmark-dev python3 sqlite3
          tinyproxy microsocks openssl fonts-noto-cjk
          libqt6sql6-psql libqt6sql6-mysql postgresql mariadb-server
          dpkg-dev file help2man man-db lintian appstream desktop-file-utils
          bash-completion devscripts)
# gcc's sanitizer runtimes come with g++; clang's and libFuzzer are in
# libclang-rt-14-dev; llvm's llvm-symbolizer names the frames of a report.
if ((tools)); then
    packages+=(clang libclang-rt-14-dev llvm)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
        || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    if [ "$(id -u)" != 0 ]; then
        command -v sudo >/dev/null ||
            { echo "missing: ${missing[*]}; run this script as root to install them" >&2; exit 1; }
        sudo=sudo
    fi
    echo "installing: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
if ((tools)); then
    exit 0
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAIJI_WERROR=ON
fi
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
