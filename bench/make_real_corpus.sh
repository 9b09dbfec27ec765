#!/usr/bin/env bash
# Builds the corpus of real pages the benchmarks read: the HTML documentation
# of Python 3.11 as Debian 12 ships it (package python3.11-doc, installed from
# Debian's archive when missing; about 530 pages, 51 MB of HTML), in three
# encodings. Layout, each site root a copy of the whole documentation tree with
# its relative links, style sheets and pictures intact (start page index.html):
#
#   DIR/site/        the pages as shipped, UTF-8
#   DIR/site-gbk/    the same tree, every .html page in GBK, its charset
#                    declaration changed to gb2312
#   DIR/site-big5/   the same tree, every .html page in Big5, declared big5
#   DIR/pages.txt    the .html pages' paths relative to a site root, sorted
#
# Characters GBK or Big5 lack are dropped (iconv -c). A complete corpus is
# kept as it is; delete DIR to build it again.
#
#   make_real_corpus.sh [DIR]   (default: $CAIJI_BUILD_DIR/real-corpus, or
#                                build/real-corpus: build folders are never committed)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-${CAIJI_BUILD_DIR:-$root/build}/real-corpus}
package=python3.11-doc
docs=/usr/share/doc/python3.11/html

if [ -f "$out/pages.txt" ]; then
    echo "$out"
    exit 0
fi
if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    echo "installing: $package" >&2
    $sudo apt-get update >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$package" >&2
fi

rm -rf "$out.tmp"
mkdir -p "$out.tmp"
cp -r "$docs" "$out.tmp/site"
(cd "$out.tmp/site" && find . -name '*.html' -type f | sed 's|^\./||' | LC_ALL=C sort) \
    >"$out.tmp/pages.txt"

# The shipped pages declare <meta charset="utf-8" />; readers look for the
# charset=NAME form, so the copies say which encoding they are in that form.
convert() { # encoding declared-name folder
    local encoding=$1 declared=$2 site=$out.tmp/$3
    cp -r "$out.tmp/site" "$site"
    while IFS= read -r page; do
        iconv -c -f UTF-8 -t "$encoding" "$out.tmp/site/$page" \
            | sed "s|<meta charset=\"utf-8\" />|<meta http-equiv=\"Content-Type\" content=\"text/html; charset=$declared\" />|" \
                >"$site/$page" || [ -s "$site/$page" ]
    done <"$out.tmp/pages.txt"
}
convert GBK gb2312 site-gbk
convert BIG5 big5 site-big5

mv "$out.tmp" "$out"
echo "$out"
