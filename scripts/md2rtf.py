#!/usr/bin/env python3
"""Turns the help document's Markdown into RTF, which every word processor
opens (also under the name 帮助.doc). Handles the subset the help uses:
headings, paragraphs, bulleted and numbered lists, tables, fenced code,
`code` and **bold**."""
import re
import sys
import unicodedata

FONT_SIZES = {1: 40, 2: 32, 3: 26}  # half-points
BODY = 21


def escape(text):
    out = []
    for ch in text:
        code = ord(ch)
        if ch in '\\{}':
            out.append('\\' + ch)
        elif code < 128:
            out.append(ch)
        elif code < 0x10000:
            out.append('\\u%d?' % (code if code < 32768 else code - 65536))
        else:
            code -= 0x10000
            for unit in (0xD800 + (code >> 10), 0xDC00 + (code & 0x3FF)):
                out.append('\\u%d?' % (unit - 65536))
    return ''.join(out)


def is_cjk(ch):
    # Wide and full-width characters (ideographs, kana, CJK punctuation), and
    # the quotes and dashes Chinese text shares with Western text.
    width = unicodedata.east_asian_width(ch)
    return width in 'WF' or (width == 'A' and unicodedata.category(ch)[0] == 'P')


def is_cjk_punctuation(ch):
    return unicodedata.east_asian_width(ch) in 'WF' and unicodedata.category(ch)[0] == 'P'


def join_lines(lines):
    """Joins wrapped source lines. Chinese has no spaces between words, so a
    break between two CJK characters (or next to CJK punctuation) joins
    without one; elsewhere it is a space, as Markdown has it."""
    text = ''
    for line in lines:
        if text and line:
            left, right = text[-1], line[0]
            tight = (is_cjk(left) and is_cjk(right)) or \
                is_cjk_punctuation(left) or is_cjk_punctuation(right)
            text += line if tight else ' ' + line
        else:
            text += line
    return text


def inline(text):
    """`code` and **bold**, also `code` inside **bold**."""
    out = []
    bold = False
    for part in re.split(r'(`[^`]+`|\*\*)', text):
        if part == '**':
            out.append('}' if bold else '{\\b ')
            bold = not bold
        elif part.startswith('`') and part.endswith('`') and len(part) > 1:
            out.append('{\\f1 ' + escape(part[1:-1]) + '}')
        else:
            out.append(escape(part))
    if bold:
        out.append('}')
    return ''.join(out)


def convert(markdown):
    body = []
    paragraph = []
    item = None  # the list item being read: [indent, bullet, lines]

    def flush():
        nonlocal item
        if paragraph:
            body.append('{\\pard\\sa120\\fs%d ' % BODY + inline(join_lines(paragraph)) + '\\par}')
            paragraph.clear()
        if item:
            depth, bullet, text = item
            body.append('{\\pard\\sa60\\li%d\\fi-360\\fs%d %s\\tab ' %
                        (360 + 360 * depth, BODY, bullet) + inline(join_lines(text)) + '\\par}')
            item = None

    lines = markdown.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith('```'):
            flush()
            i += 1
            code = []
            while i < len(lines) and not lines[i].startswith('```'):
                code.append(escape(lines[i]))
                i += 1
            body.append('{\\pard\\sa120\\li360\\f1\\fs18 ' + '\\line '.join(code) + '\\par}')
        elif re.match(r'^#{1,3} ', line):
            flush()
            level = len(line.split(' ')[0])
            body.append('{\\pard\\sb240\\sa120\\keepn\\b\\fs%d ' % FONT_SIZES[level] +
                        inline(line[level + 1:].strip()) + '\\par}')
        elif re.match(r'^\s*([-*]|\d+\.) ', line):
            flush()
            depth = (len(line) - len(line.lstrip())) // 2
            marker, text = line.strip().split(' ', 1)
            bullet = '\\u8226?' if marker in '-*' else escape(marker)
            item = [depth, bullet, [text.strip()]]
        elif item and line.strip() and not line.startswith('|'):
            item[2].append(line.strip())  # a wrapped list item goes on
        elif line.startswith('|'):
            flush()
            # "\\|" is a vertical bar inside a cell, as in GitHub's tables.
            row = re.split(r'(?<!\\)\|', line.strip())[1:-1]
            cells = [c.strip().replace('\\|', '|') for c in row]
            if not all(re.match(r'^:?-+:?$', c) for c in cells):
                body.append('{\\pard\\sa40\\li360\\fs%d ' % BODY +
                            '\\tab '.join(inline(c) for c in cells) + '\\par}')
        elif not line.strip():
            flush()
        else:
            paragraph.append(line.strip())
        i += 1
    flush()
    header = ('{\\rtf1\\ansi\\ansicpg936\\deff0'
              '{\\fonttbl{\\f0\\fnil\\fcharset134 Noto Sans CJK SC;}'
              '{\\f1\\fmodern\\fcharset134 Noto Sans Mono CJK SC;}}'
              '\\uc1\\f0\\fs%d\n' % BODY)
    return header + '\n'.join(body) + '\n}\n'


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: md2rtf.py IN.md OUT.rtf')
    with open(sys.argv[1], encoding='utf-8') as source:
        rtf = convert(source.read())
    with open(sys.argv[2], 'w', encoding='ascii') as target:
        target.write(rtf)


if __name__ == '__main__':
    main()
