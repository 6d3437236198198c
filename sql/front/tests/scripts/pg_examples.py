#!/usr/bin/env python3
"""Prints the SQL statements of the EXAMPLES sections of the section-7 SQL
command manual pages that postgresql-client-15 installs, one a line:
page, tab, example number (1-based within the page), tab, statement text.

The texts are read from the installed pages at test time; none is kept in
the repository. Blocks between .nf and .fi are example code; a block is cut
into statements at semicolons that end a line. psql output (lines starting
with a table border or a row count) and psql commands are dropped.
"""
import gzip
import os
import re
import sys

MAN_DIR = "/usr/share/postgresql/15/man/man7"

ESCAPES = [
    (r"\*(Aq", "'"), (r"\*(Dq", '"'), (r"\(aq", "'"), (r"\(dq", '"'), (r"\(em", "-"),
    (r"\(en", "-"), (r"\(bu", "*"), (r"\(rs", "\\"), (r"\-", "-"), (r"\&", ""), (r"\e", "\\"),
    (r"\fB", ""), (r"\fI", ""), (r"\fR", ""), (r"\fP", ""), (r"\ ", " "), (r"\~", " "),
    (r"\%", ""), (r"\|", ""), (r"\^", ""),
]


def unescape(line):
    for old, new in ESCAPES:
        line = line.replace(old, new)
    return line


def example_blocks(text):
    lines = text.split("\n")
    in_examples = False
    in_block = False
    block = []
    for line in lines:
        if line.startswith(".SH "):
            in_examples = line.strip() == '.SH "EXAMPLES"'
            continue
        if not in_examples:
            continue
        if line.startswith(".nf"):
            in_block = True
            block = []
        elif line.startswith(".fi"):
            if in_block:
                yield block
            in_block = False
        elif in_block and not line.startswith(".") and not line.startswith("'"):
            block.append(unescape(line))


def statements(block):
    current = []
    for line in block:
        stripped = line.strip()
        if not current and (stripped == "" or stripped.startswith("--")
                            or stripped.startswith("\\") or re.match(r"^[-+|=(]", stripped)
                            and not stripped.startswith("(")):
            continue
        current.append(line)
        if stripped.endswith(";"):
            text = " ".join(part.strip() for part in current)
            current = []
            yield text
    # A block that does not end with a semicolon is output or a fragment.


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else MAN_DIR
    if not os.path.isdir(directory):
        print("no manual pages in " + directory, file=sys.stderr)
        return 2
    for name in sorted(os.listdir(directory)):
        if not name.endswith(".7.gz"):
            continue
        page = name[: -len(".7.gz")]
        with gzip.open(os.path.join(directory, name), "rt", encoding="utf-8",
                       errors="replace") as f:
            text = f.read()
        number = 0
        for block in example_blocks(text):
            for statement in statements(block):
                number += 1
                print(page + "\t" + str(number) + "\t" + statement)
    return 0


if __name__ == "__main__":
    sys.exit(main())
