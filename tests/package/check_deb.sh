#!/usr/bin/env bash
# Builds the .deb from the current build tree into a temporary folder and
# checks what it installs and what it declares (the package is not installed).
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb=$(ls "$out"/caiji_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
status=0
for expected in ./usr/bin/caiji ./usr/share/caiji/帮助.doc ./usr/share/caiji/task/n.jpg \
        ./usr/share/applications/caiji.desktop \
        ./usr/share/icons/hicolor/scalable/apps/caiji.svg \
        "./usr/share/caiji/examples/workspace/task/新闻-方案一/data/task.txt" \
        ./usr/share/caiji/examples/demo-site/news/1.html; do
    if ! grep -qxF "$expected" <<<"$files"; then
        echo "missing from the package: $expected"
        status=1
    fi
done
if grep -q '\.keep$' <<<"$files"; then
    echo "placeholder .keep files are packaged"
    status=1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libqt6sql6-sqlite libqt6widgets6 libqt6network6 libxml2 libxlsxwriter fonts-noto-cjk; do
    if ! grep -q "$dependency" <<<"$depends"; then
        echo "not declared: $dependency (Depends: $depends)"
        status=1
    fi
done
# The help document must be the generated RTF, with the Chinese text escaped.
dpkg-deb -x "$deb" "$out/root"
if ! head -c 6 "$out/root/usr/share/caiji/帮助.doc" | grep -q '{\\rtf1'; then
    echo "帮助.doc is not RTF"
    status=1
fi
[ "$status" = 0 ] && echo "package ok: $(wc -l <<<"$files") entries"
exit "$status"
