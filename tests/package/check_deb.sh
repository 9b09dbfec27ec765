#!/usr/bin/env bash
# Builds the .deb from the current build tree into a temporary folder and checks what it installs and declares, how its programs
# are built, its manual pages and metadata, lintian's verdict (when lintian is
# installed), and the programs finding their shared files and examples when
# installed without /usr/share/doc into a root of their own. The system's
# packages are not touched.
set -euo pipefail
build=$1
source=$2
out=$(mktemp -d)
server=
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || {
    cat "$out/cpack.log"
    exit 1
}
deb=$(ls "$out"/caiji_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
root=$out/root
dpkg-deb -x "$deb" "$root"
status=0
fail() {
    echo "$*"
    status=1
}

doc=./usr/share/doc/caiji
examples=./usr/share/caiji/examples
app=io.github.caiji.caiji
for expected in ./usr/bin/caiji ./usr/bin/caiji-demo-site \
        ./usr/share/man/man1/caiji.1.gz ./usr/share/man/man1/caiji-demo-site.1.gz \
        ./usr/share/caiji/帮助.doc ./usr/share/caiji/task/n.jpg ./usr/share/caiji/screenshot.png \
        $doc/copyright $doc/changelog.gz $doc/examples \
        "$examples/workspace/task/新闻-方案一/data/task.txt" \
        $examples/workspace/task/n.jpg $examples/demo-site/news/1.html \
        ./usr/share/applications/$app.desktop ./usr/share/metainfo/$app.metainfo.xml \
        ./usr/share/icons/hicolor/scalable/apps/caiji.svg \
        ./usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/caiji.png \
        ./usr/share/bash-completion/completions/caiji ./usr/share/lintian/overrides/caiji \
        ./usr/lib/systemd/system/caiji-worker@.service; do
    grep -qxF "$expected" <<<"$files" || fail "missing from the package: $expected"
done
grep -q '\.keep$' <<<"$files" && fail "placeholder .keep files are packaged"
[ "$(readlink "$root/usr/share/doc/caiji/examples")" = ../../caiji/examples ] ||
    fail "/usr/share/doc/caiji/examples is not a link to /usr/share/caiji/examples"
for png in "$root"/usr/share/icons/hicolor/*x*/apps/caiji.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    [[ $(file -b "$png") == "PNG image data, ${size/x/ x }, "* ]] || fail "$png is not $size: $(file -b "$png")"
done

depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libqt6sql6-sqlite libqt6widgets6 libqt6network6 libxml2 libxlsxwriter fonts-noto-cjk; do
    grep -q "$dependency" <<<"$depends" || fail "not declared: $dependency (Depends: $depends)"
done
# The Description as written, not escaped, after its summary line.
dpkg-deb -f "$deb" Description | sed '1d; s/^ //; s/^\.$//' >"$out/description"
diff -u "$source/packaging/description" "$out/description" >&2 ||
    fail "the Description field differs from packaging/description"
version=$(dpkg-deb -f "$deb" Version)
[ "$("$build/caiji" --version)" = "caiji $version" ] ||
    fail "caiji --version says $("$build/caiji" --version), the package is $version"
zcat "$root/usr/share/doc/caiji/changelog.gz" >"$out/changelog"
[ "$(dpkg-parsechangelog -l "$out/changelog" -S Version)" = "$version" ] ||
    fail "the changelog's newest entry is not $version"

# Stripped and hardened.
for program in caiji caiji-demo-site; do
    binary=$root/usr/bin/$program
    [[ $(file -b "$binary") == *", stripped" ]] || fail "$program is not stripped"
    [[ $(readelf -d "$binary") =~ FLAGS_1[^$'\n']*NOW[^$'\n']*PIE ]] ||
        fail "$program is not PIE with bind-now"
    [[ $(readelf -lW "$binary") == *GNU_RELRO* ]] || fail "$program has no RELRO"
    [[ $(readelf -sW --dyn-syms "$binary") == *__stack_chk_fail* ]] ||
        fail "$program has no stack protector"
    ! grep -qF "$source" "$binary" || fail "$program holds the path of the source tree"
done

# Control flow protection needs a C library built with it, which Debian 12's is not.
if command -v hardening-check >/dev/null; then
    hardening-check --nocfprotection "$root"/usr/bin/* >"$out/hardening.log" ||
        fail "hardening-check: $(cat "$out/hardening.log")"
fi

# Reproducible: every file is dated by the changelog.
dated=$(date -u -d "@$(dpkg-parsechangelog -l "$source/packaging/changelog" -S Timestamp)" '+%F %T')
dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time | grep -v " $dated " >&2 &&
    fail "the files above are not dated $dated"

# The help document must be the generated RTF, with the Chinese text escaped.
head -c 6 "$root/usr/share/caiji/帮助.doc" | grep -q '{\\rtf1' || fail "帮助.doc is not RTF"

# The manual pages read in any UTF-8 locale, Chinese included, and hold every
# command's help.
caiji_page=$(LC_ALL=C.UTF-8 MANWIDTH=100 man -l "$root/usr/share/man/man1/caiji.1.gz" 2>&1)
grep -q '信息采集' <<<"$caiji_page" || fail "caiji(1) lost its Chinese text"
for command in $("$build/caiji" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z0-9]*\) .*/\1/p'); do
    grep -qx "   caiji $command" <<<"$caiji_page" || fail "caiji(1) lacks the help of caiji $command"
done
[[ $(LC_ALL=C.UTF-8 man -l "$root/usr/share/man/man1/caiji-demo-site.1.gz") == *--port* ]] ||
    fail "caiji-demo-site(1) lacks --port"

# Metadata for desktops and software centres.
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$app.metainfo.xml" \
        >"$out/appstream.log" 2>&1 || fail "appstreamcli validate: $(cat "$out/appstream.log")"
    appstreamcli validate-tree --no-net "$root" >"$out/appstream.log" 2>&1 ||
        fail "appstreamcli validate-tree: $(cat "$out/appstream.log")"
else
    echo "appstreamcli is not installed (Debian package appstream): metadata not validated"
fi
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/$app.desktop" ||
        fail "the desktop entry is not valid"
fi

# lintian: no error, no warning (the demo site's GBK and Big5 pages are
# overridden in the package).
if command -v lintian >/dev/null; then
    lintian_status=0
    lintian --info "$deb" >"$out/lintian.log" 2>&1 || lintian_status=$?
    if ((lintian_status == 1)); then
        fail "lintian did not run: $(cat "$out/lintian.log")"
    elif grep -E '^(E|W): ' "$out/lintian.log" | grep -v ': national-encoding '; then
        fail "lintian reports the errors or warnings above"
    fi
else
    echo "lintian is not installed: the package is not linted"
fi

# Installed into a root of its own by a dpkg that drops /usr/share/doc, the
# programs find their files: the demo site serves the installed copy, a
# command that only reads makes no workspace, and `caiji examples` makes it
# with the demo tasks. (Without dpkg --root, the unpacked package stands in.)
installed=$out/installed
mkdir -p "$installed/var/lib/dpkg/updates" && touch "$installed/var/lib/dpkg/status"
dpkg --root="$installed" --force-depends --force-not-root --path-exclude='/usr/share/doc/*' \
    -i "$deb" >"$out/dpkg.log" 2>&1 ||
    { echo "dpkg --root failed, the unpacked package stands in"; rm -r "$installed"; cp -a "$root" "$installed"; }
rm -r "$installed/usr/share/doc"
export HOME=$out/home XDG_DATA_HOME=$out/home/data
mkfifo "$out/port"
"$installed/usr/bin/caiji-demo-site" --port 0 >"$out/port" 2>"$out/server.log" &
server=$!
read -r -t 20 port <"$out/port" || fail "caiji-demo-site did not start: $(cat "$out/server.log")"
if [ -n "${port:-}" ]; then
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET /news/1.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
    head -n 1 <&3 | grep -q ' 200 ' || fail "the installed demo site does not serve /news/1.html"
    exec 3<&-
fi
[[ $("$installed/usr/bin/caiji" count 2>&1) == *'has no tasks yet; `caiji examples` copies'* &&
    ! -e $XDG_DATA_HOME/caiji ]] || fail "caiji count made the workspace or did not say how to fill it"
"$installed/usr/bin/caiji" examples >"$out/examples.log" 2>&1 ||
    fail "caiji examples: $(cat "$out/examples.log")"
workspace=$XDG_DATA_HOME/caiji
for expected in 帮助.doc task/n.jpg task/新闻-方案一/data/task.txt; do
    [ -f "$workspace/$expected" ] || fail "the first start did not make $expected in the workspace"
done

[ "$status" = 0 ] && echo "package ok: $(wc -l <<<"$files") entries"
exit "$status"
