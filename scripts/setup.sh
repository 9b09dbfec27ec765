#!/usr/bin/env bash
# Installs what the build needs from Debian's archive (only packages that are
# missing), then configures once and builds; a second run rebuilds nothing
# that is current.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6sql6-sqlite
          libxml2-dev libxlsxwriter-dev libbenchmark-dev python3 fonts-noto-cjk
          dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
        || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    echo "installing: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAIJI_WERROR=ON
fi
cmake --build "$build" -j"$(nproc)"
