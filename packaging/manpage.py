#!/usr/bin/env python3
"""Makes a program's manual page with help2man from its --help and --version
and the sections of an include file. With --commands, a COMMANDS section
holds the --help of every command the program's --help lists, so that the
page says what the program says. The page is written compressed as Debian
installs it, with characters outside ASCII as groff escapes: man shows them
in every UTF-8 locale, not only in Chinese ones.

usage: manpage.py [--commands] PROGRAM INCLUDE OUTPUT.gz
"""
import gzip
import os
import re
import subprocess
import sys
import tempfile

# The help texts are read in English, the page is written in UTF-8.
LOCALE = "C.UTF-8"


def help_text(program, *arguments):
    return subprocess.run([program, *arguments, "--help"], check=True,
                          capture_output=True, text=True, encoding="utf-8").stdout


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text)


def commands(program):
    listed = help_text(program).split("\nCommands:\n", 1)[1].split("\n\n", 1)[0]
    return re.findall(r"^  (\S+) ", listed, re.M)


def section(program, command):
    lines = help_text(program, command).splitlines()
    if not lines or not lines[0].startswith("Usage: "):
        sys.exit(f"caiji {command} --help does not start with Usage:")
    synopsis = [lines.pop(0)[len("Usage: "):].strip()]
    while lines and lines[0].startswith("       "):
        synopsis.append(lines.pop(0).strip())
    out = [f'.SS "caiji {command}"', "\\fB" + roff(" ".join(synopsis)) + "\\fR", ".PP"]
    paragraph = []
    options = []
    in_options = False
    for line in lines:
        if line == "Options:":
            in_options = True
        elif not in_options:
            if line.strip():
                paragraph.append(line.strip())
            elif paragraph:
                out += [roff(" ".join(paragraph)), ".PP"]
                paragraph = []
        elif re.match(r"  -\S", line):
            head, _, description = line.strip().partition("  ")
            options.append([head, description.strip()])
        elif line.strip() and options:
            options[-1][1] += " " + line.strip()
    if paragraph:
        out.append(roff(" ".join(paragraph)))
    for head, description in options:
        out += [".TP", "\\fB" + roff(head) + "\\fR", roff(description)]
    return out


def main():
    arguments = sys.argv[1:]
    with_commands = arguments[0] == "--commands"
    program, include, output = arguments[1:] if with_commands else arguments
    os.environ.pop("LANGUAGE", None)
    os.environ["LC_ALL"] = LOCALE
    with tempfile.TemporaryDirectory() as work:
        includes = [include]
        if with_commands:
            lines = ["[COMMANDS]"]
            for command in commands(program):
                lines += section(program, command)
            includes.insert(0, os.path.join(work, "commands.h2m"))
            with open(includes[0], "w", encoding="utf-8") as file:
                file.write("\n".join(lines) + "\n")
        page = subprocess.run(
            [os.environ.get("HELP2MAN", "help2man"), "--no-info", "--section=1", f"--locale={LOCALE}",
             *[f"--include={name}" for name in includes], program],
            check=True, capture_output=True).stdout.decode("utf-8")
    page = re.sub(r"[^\x00-\x7f]", lambda match: "\\[u%04X]" % ord(match.group()), page)
    with open(output, "wb") as file:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=file,
                           mtime=0) as compressed:
            compressed.write(page.encode("ascii"))


if __name__ == "__main__":
    main()
