#!/usr/bin/env python3
"""Checks that the window's Chinese texts and the command line's messages are
marked for translation and that translations/*.ts list every marked text.

A Chinese u"..." literal left in the window's sources is shown untranslated
(tr() takes plain "..." literals); fail(u"...") in the command line likewise.
lupdate run afresh on the sources must find nothing the .ts files lack.

usage: check_translations.py SOURCE-DIR LUPDATE
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

CHINESE = re.compile(r'u"([^"\\]|\\.)*[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]')
# Literals that are not shown as they are: samples for measuring fonts, a
# file name, and the markers the try pane looks for in the core's explanation
# and in a fetch's failure.
NOT_SHOWN = ['u"中文Ａ０"', 'u"中文Ag"', '/帮助.doc"', 'u"需要修改"', 'u"请检查"',
             'u"结果：丢弃"', 'u"没有找到"', 'u"超时"']


def unmarked(root):
    found = []
    files = [os.path.join("src/gui", name) for name in sorted(os.listdir(os.path.join(root, "src/gui")))]
    files += ["src/app/main.cpp", "src/cli/commandline.cpp", "src/cli/commandhelp.cpp"]
    for name in files:
        if not name.endswith(".cpp"):
            continue
        with open(os.path.join(root, name), encoding="utf-8") as source:
            for number, line in enumerate(source, 1):
                window = name.startswith(("src/gui", "src/app"))
                if window and CHINESE.search(line) and not any(s in line for s in NOT_SHOWN):
                    found.append(f"{name}:{number}: {line.strip()}")
                if name.startswith("src/cli") and re.search(r'fail\(u"[a-z]', line):
                    found.append(f"{name}:{number}: {line.strip()}")
    return found


def texts(ts):
    return {(context.findtext("name"), message.findtext("source"))
            for context in ET.parse(ts).getroot().iter("context")
            for message in context.iter("message")}


def missing(root, lupdate):
    sets = {"caiji_en.ts": ["src/gui", "src/app/main.cpp"], "caiji_zh_CN.ts": ["src/cli"]}
    gaps = []
    with tempfile.TemporaryDirectory() as work:
        for ts, sources in sets.items():
            fresh = os.path.join(work, ts)
            subprocess.run([lupdate, "-silent", "-locations", "none", f"-I{root}/src",
                            *[os.path.join(root, s) for s in sources], "-ts", fresh],
                           check=True, capture_output=True)
            for context, source in sorted(texts(fresh) - texts(os.path.join(root, "translations", ts))):
                gaps.append(f"{ts} lacks [{context}] {source!r}")
    return gaps


def main():
    root, lupdate = sys.argv[1:3]
    problems = unmarked(root) + missing(root, lupdate)
    for problem in problems:
        print(problem)
    if problems:
        print("mark the texts with tr() and run: cmake --build BUILD --target update_translations")
        sys.exit(1)
    print("every shown text is marked and translations/*.ts list them all")


if __name__ == "__main__":
    main()
