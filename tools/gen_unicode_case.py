#!/usr/bin/env python3
"""Generates the Unicode case tables of platform/unicode_case_tables.cc and the
reference list platform/tests/data/unicode_case_reference.txt from the Unicode
Character Database that this Python's `unicodedata` carries.

Run from the repository root:  python3 tools/gen_unicode_case.py
The Unicode version is pinned: the script refuses to run on another one, so the
checked-in output is always reproducible. Both outputs are checked in; the build
does not run Python.

Table layout (read by platform/case_map.cc):
  level 1   uint16 per 1024 code points (cp >> 10): start of a 64-entry block
            in level 2;
  level 2   uint16 per 16 code points ((cp >> 4) & 63, added to the level-1
            entry): start of a 16-byte block in level 3;
  level 3   uint8 per code point (cp & 15, added to the level-2 entry): index
            of the property word;
  property  int32: 0x100 simple upper-case mapping cp - delta, 0x200 simple
            lower-case mapping cp + delta, 0x800 special upper-case sequence;
            delta = property >> 12 (arithmetic shift, 20-bit signed field:
            Unicode 14 has deltas up to 42319, beyond a 15-bit field);
  special   209 uint16 slots, slot ((cp >> 8) & 255) + 31 * (cp & 255) mod 209,
            each the start of a run of uint16 units in the unit table whose
            last unit has its top bit set (0xFFFF: empty slot). The script
            checks that no two code points share a slot and that every unit
            lies below 0x8000.
"""

import os
import sys
import unicodedata

UNICODE_VERSION = "14.0.0"
FLAG_UPPER = 0x100
FLAG_LOWER = 0x200
FLAG_SPECIAL = 0x800
DELTA_SHIFT = 12
DELTA_BITS = 32 - DELTA_SHIFT
SPECIAL_SLOTS = 209
MAX_CP = 0x110000

# Python exposes the full lower-case mapping only. The Unicode Character
# Database gives these code points, whose full lower-case mapping is longer
# than one character, a simple one of their own.
SIMPLE_LOWER_OF_MULTI = {0x0130: 0x0069}


def special_slot(cp):
    return ((((cp >> 8) & 255) + 31 * (cp & 255)) % SPECIAL_SLOTS)


def mappings(cp):
    """(simple upper or None, simple lower or None, special upper tuple or None)."""
    ch = chr(cp)
    up = ch.upper()
    low = ch.lower()
    simple_upper = special = None
    if len(up) > 1:
        special = tuple(ord(c) for c in up)
    elif up != ch:
        simple_upper = ord(up)
    simple_lower = None
    if len(low) > 1:
        simple_lower = SIMPLE_LOWER_OF_MULTI[cp]
    elif low != ch:
        simple_lower = ord(low)
    return simple_upper, simple_lower, special


def property_word(cp, simple_upper, simple_lower, special):
    word = 0
    delta = None
    if simple_upper is not None:
        word |= FLAG_UPPER
        delta = cp - simple_upper
    if simple_lower is not None:
        word |= FLAG_LOWER
        d = simple_lower - cp
        if delta is not None and d != delta:
            sys.exit("U+%04X: upper and lower deltas differ (%d, %d)" % (cp, delta, d))
        delta = d
    if special is not None:
        word |= FLAG_SPECIAL
    if delta is not None:
        if not -(1 << (DELTA_BITS - 1)) <= delta < (1 << (DELTA_BITS - 1)):
            sys.exit("U+%04X: delta %d does not fit %d bits" % (cp, delta, DELTA_BITS))
        word |= (delta << DELTA_SHIFT) & 0xFFFFFFFF
    if word & 0x80000000:
        word -= 1 << 32
    return word


def dedupe_blocks(values, block):
    """Splits values into blocks, keeps each distinct block once; returns
    (flat table, start offset of every block)."""
    table, starts, seen = [], [], {}
    for i in range(0, len(values), block):
        key = tuple(values[i:i + block])
        if key not in seen:
            seen[key] = len(table)
            table.extend(key)
        starts.append(seen[key])
    return table, starts


def c_array(ctype, name, values, per_line=12, fmt="%d"):
    lines = ["const %s %s[%d] = {" % (ctype, name, len(values))]
    for i in range(0, len(values), per_line):
        lines.append("    " + ", ".join(fmt % v for v in values[i:i + per_line]) + ",")
    lines.append("};")
    return "\n".join(lines)


def main():
    if unicodedata.unidata_version != UNICODE_VERSION:
        sys.exit("this generator is pinned to Unicode %s, Python has %s" %
                 (UNICODE_VERSION, unicodedata.unidata_version))
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

    props = [0]
    prop_index = {0: 0}
    per_cp = []
    reference = []
    specials = {}
    for cp in range(MAX_CP):
        su, sl, sp = mappings(cp)
        word = property_word(cp, su, sl, sp)
        if word not in prop_index:
            prop_index[word] = len(props)
            props.append(word)
        per_cp.append(prop_index[word])
        if sp is not None:
            specials[cp] = sp
        ch = chr(cp)
        if ch.upper() != ch or ch.lower() != ch:
            # Code point, count of upper-case units, the units, the lower-case units.
            reference.append("%X %d %s %s" % (cp, len(ch.upper()),
                                             " ".join("%X" % ord(c) for c in ch.upper()),
                                             " ".join("%X" % ord(c) for c in ch.lower())))
    if len(props) > 256:
        sys.exit("%d property words do not fit a byte index" % len(props))

    level3, starts3 = dedupe_blocks(per_cp, 16)
    level2, starts2 = dedupe_blocks(starts3, 64)
    level1 = starts2
    if max(level3 + [0]) > 255 or max(level2) > 0xFFFF or max(level1) > 0xFFFF:
        sys.exit("table offsets overflow their fields")

    slots = [0xFFFF] * SPECIAL_SLOTS
    units = []
    for cp in sorted(specials):
        slot = special_slot(cp)
        if slots[slot] != 0xFFFF:
            sys.exit("U+%04X shares special slot %d" % (cp, slot))
        seq = specials[cp]
        if len(seq) > 3 or any(u >= 0x8000 for u in seq):
            sys.exit("U+%04X: special sequence does not fit 15-bit units" % cp)
        slots[slot] = len(units)
        units.extend(seq[:-1])
        units.append(seq[-1] | 0x8000)

    out = []
    out.append("// Unicode %s case tables: simple upper- and lower-case mappings and the" %
               UNICODE_VERSION)
    out.append("// special upper-case sequences, in the three-level layout that case_map.cc")
    out.append("// reads. Generated by tools/gen_unicode_case.py; do not edit by hand.")
    out.append("// clang-format off")
    out.append('#include "platform/unicode_case_tables.h"')
    out.append("")
    out.append("namespace unicode_case_tables {")
    out.append("")
    out.append('const char kUnicodeVersion[] = "%s";' % UNICODE_VERSION)
    out.append(c_array("uint16_t", "kLevel1", level1))
    out.append(c_array("uint16_t", "kLevel2", level2))
    out.append(c_array("uint8_t", "kLevel3", level3, per_line=16))
    out.append(c_array("int32_t", "kProperties", props, per_line=6))
    out.append(c_array("uint16_t", "kSpecialSlots", slots, fmt="0x%04X", per_line=10))
    out.append(c_array("uint16_t", "kSpecialUnits", units, fmt="0x%04X", per_line=10))
    out.append("const int kLevel2Size = %d;" % len(level2))
    out.append("const int kLevel3Size = %d;" % len(level3))
    out.append("const int kPropertyCount = %d;" % len(props))
    out.append("const int kSpecialUnitCount = %d;" % len(units))
    out.append("")
    out.append("}  // namespace unicode_case_tables")
    out.append("// clang-format on")
    with open(os.path.join(root, "platform", "unicode_case_tables.cc"), "w") as f:
        f.write("\n".join(out) + "\n")

    with open(os.path.join(root, "platform", "tests", "data", "unicode_case_reference.txt"),
              "w") as f:
        f.write("# Unicode %s: every code point whose str.upper() or str.lower() in Python\n"
                % UNICODE_VERSION)
        f.write("# differs from itself: code point, length of the upper-case mapping, the\n")
        f.write("# upper-case mapping, the lower-case mapping (hexadecimal). Code points not\n")
        f.write("# listed map to themselves. Written by tools/gen_unicode_case.py.\n")
        f.write("\n".join(reference) + "\n")
    print("level1 %d, level2 %d, level3 %d, properties %d, special units %d, reference %d" %
          (len(level1), len(level2), len(level3), len(props), len(units), len(reference)))


if __name__ == "__main__":
    main()
