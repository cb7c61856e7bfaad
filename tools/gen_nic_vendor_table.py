#!/usr/bin/env python3
"""Writes core/scan/NicVendorTableData.cpp, the compiled-in NIC vendor table.

The rows come from the IEEE MA-L (OUI) registry as Debian's ieee-data package
installs it (/usr/share/ieee-data/oui.csv, or oui.txt when the CSV is missing).
The generated file is committed; run this script again only when the table has
to change:

    python3 tools/gen_nic_vendor_table.py            # from the repository root
    python3 tools/gen_nic_vendor_table.py --check    # compare, write nothing

Options: --registry PATH (oui.csv or oui.txt), --output PATH.

The table keeps the shape the program has always shipped: 4543 rows sorted by
key, a fixed set of rows at fixed positions (PINNED below), fixed row counts per
first key byte, and two keys listed more than once. The rows between two pinned
rows are filled with registry assignments from that key stretch, oldest blocks
first (the registry carries no dates, so the age of a block is judged from its
key, see rank()). Every name is a short upper-case form of the company's name.
The script checks the whole shape and stops with an error when any check fails;
it never writes a table it has not checked.
"""

import argparse
import csv
import os
import re
import sys
import unicodedata

TABLE_SIZE = 4543
MAX_NAME = 48
MIN_NAME = 2

# Rows per first key byte; they also fix where each byte's rows start.
PREFIX_COUNTS = {"00": 4376, "02": 13, "04": 2, "08": 144, "10": 2, "80": 1, "AA": 5}

# Keys that occur more than once, in the order their rows stand.
DUPLICATES = {
    "0001C8": ["THOMAS CONRAD", "CONRAD"],
    "080030": ["NETWORK RESEARCH", "CERN", "ROYAL MELBOURNE INST"],
}

# (1-based position, key, name) of the rows whose place and text are fixed.
# Names are kept byte for byte, blanks included.
PINNED = (
    [(1 + i, "%06X" % i, "XEROX") for i in range(10)]
    + [
        (11, "00000A", "OMRON"),
        (13, "00000C", "CISCO"),
        (107, "00006A", " CONSOLES"),
        (226, "0000E2", "ACER "),
        (244, "0000F4", "ALLIED TELESYN INTERNATIONAL"),
        (428, "0001AD", "Coach Master International  d.b.a. CMI Worldwide"),
        (455, "0001C8", "THOMAS CONRAD"),
        (456, "0001C8", "CONRAD"),
        (3497, "00A0C9", "INTEL - HF1-06"),
        (3552, "00AA00", "INTEL"),
        (3671, "00C04F", "DELL "),
        (4196, "00E04C", "REALTEK SEMICONDUCTOR"),
        (4377, "020701", "RACAL-DATACOM"),
        (4398, "080007", "APPLE "),
        (4400, "080009", "HP"),
        (4422, "080020", "SUN"),
        (4433, "08002B", "DEC"),
        (4438, "080030", "NETWORK RESEARCH"),
        (4439, "080030", "CERN"),
        (4440, "080030", "ROYAL MELBOURNE INST"),
        (4481, "08005A", "IBM"),
        (4536, "10005A", "IBM"),
        (4538, "800010", "ATT BELL"),
    ]
    + [(4539 + i, "AA%04X" % i, "DEC") for i in range(5)]
)

# Assignments made before the IEEE took the registry over (the blocks Xerox
# handed out), which the registry still lists without any mark of their age.
PRE_IEEE_KEYS = frozenset(
    ["00AA01", "00AA02", "00BBF0", "00E6D3", "040AE0", "04E0C4"]
    + ["00DD%02X" % i for i in range(16)]
)

# Short forms by which a few makers have always been listed; the registry now
# shows their later or longer names.
ALIASES = {
    "DIGITAL EQUIPMENT": "DEC",
    "HEWLETT PACKARD": "HP",
    "HEWLETT-PACKARD": "HP",
    "CISCO SYSTEMS": "CISCO",
    "INTEL CORPORATE": "INTEL",
    "HEWLETT PACKARD ENTERPRISE": "HP",
    "ORACLE": "SUN",
    "DELL EMC": "EMC",
}

# Early assignments listed under the maker's own short name, which the
# registry's name for them does not start with alone.
KEY_NAMES = {"00009C": "ROLM"}

# Assignments kept out of the table: their short name would be nothing but a
# common English word, which reads as a column heading rather than a maker in
# the list and in searches.
EXCLUDED_KEYS = frozenset(["00904D"])

# Legal forms dropped from the end of a name (compared without dots and commas).
LEGAL_SUFFIXES = frozenset(
    """CORPORATION CORP INC INCORPORATED CO COMPANY COS LTD LIMITED LTDA LTEE GMBH MBH
    AG KG KGAA OHG SA SAS SARL SRL SPA SL SLU BV NV LLC LLP LP PLC PTY PTE KK OY OYJ AB
    AS A/S APS ASA SE SDN BHD COLTD CORPLTD INCLTD GROUP HOLDINGS""".split()
)
# Words that cannot end a short name.
CONNECTORS = frozenset(["AND", "&", "OF", "THE", "DE", "DI", "DU", "DER", "-", "+", "/"])
MAX_WORDS = 3

# Letters NFKD does not reduce to ASCII.
TRANSLIT = {"ß": "SS", "Æ": "AE", "æ": "AE", "Ø": "O", "ø": "O", "Œ": "OE", "œ": "OE",
            "Ł": "L", "ł": "L", "Đ": "D", "đ": "D", "Þ": "TH", "þ": "TH", "ı": "I"}


class ShapeError(Exception):
    pass


def read_registry(path):
    """Returns [(key, name, address)] of the MA-L assignments, in file order."""
    records = []
    if path.endswith(".csv"):
        with open(path, encoding="utf-8", newline="") as f:
            reader = csv.reader(f)
            header = next(reader, None)
            if not header or header[:3] != ["Registry", "Assignment", "Organization Name"]:
                raise ShapeError("%s: not an IEEE registry CSV (header %r)" % (path, header))
            for row in reader:
                if len(row) >= 3 and row[0] == "MA-L":
                    address = row[3] if len(row) > 3 else ""
                    records.append((row[1].strip().upper(), row[2], address))
    else:
        # oui.txt: "XXXXXX     (base 16)\t\tName" followed by the address lines.
        current = None
        with open(path, encoding="utf-8") as f:
            for line in f:
                m = re.match(r"^([0-9A-Fa-f]{6})\s+\(base 16\)\s*(.*?)\s*$", line)
                if m:
                    current = [m.group(1).upper(), m.group(2), []]
                    records.append(current)
                elif current is not None and line.startswith("\t") and line.strip():
                    current[2].append(line.strip())
                elif not line.strip():
                    current = None
        records = [(k, n, " ".join(a)) for k, n, a in records]
    for key, _, _ in records:
        if not re.fullmatch(r"[0-9A-F]{6}", key):
            raise ShapeError("%s: bad assignment %r" % (path, key))
    if not records:
        raise ShapeError("%s: no MA-L assignments" % path)
    return records


def to_ascii(text):
    out = []
    for ch in text:
        ch = TRANSLIT.get(ch, ch)
        for c in unicodedata.normalize("NFKD", ch):
            if c in "\t\r\n\u00a0":
                out.append(" ")
            elif " " <= c <= "~":
                out.append(c)
    return "".join(out)


def strip_tail(words):
    while len(words) > 1:
        bare = words[-1].replace(".", "").replace(",", "")
        if bare in LEGAL_SUFFIXES or bare in CONNECTORS or bare == "":
            words.pop()
        else:
            break
    return words


def short_name(name):
    """A short upper-case form of a company's name: its first words, legal form dropped."""
    # Quotes and backslashes add nothing to a maker's name and trouble every
    # file the name is later written to.
    text = re.sub(r'["\\]', "", to_ascii(name)).upper()
    # What follows a comma, bracket or semicolon is a legal form or a division.
    head = re.split(r"[,(;]", text, maxsplit=1)[0]
    head = re.sub(r"\b([A-Z])\.\s+(?=[A-Z]\.)", r"\1.", head)  # "B. V." -> "B.V."
    words = head.split() or text.split()
    # A legal form ends the name proper; what follows it is a division or a place.
    for i in range(1, len(words)):
        if words[i].replace(".", "").replace(",", "") in LEGAL_SUFFIXES:
            words = words[:i]
            break
    words = strip_tail(words)
    words = strip_tail(words[:MAX_WORDS])
    words[-1] = words[-1].rstrip(".,-&/+")
    if not words[-1]:
        words.pop()
    short = " ".join(words)
    while len(short) > MAX_NAME and len(words) > 1:
        words.pop()
        short = " ".join(strip_tail(words))
    short = ALIASES.get(short, short)[:MAX_NAME].rstrip()
    if len(short) < MIN_NAME:
        # A one-letter first word ("A", "3"): keep the whole name instead.
        short = " ".join(text.split())[:MAX_NAME].rstrip()
    if len(short) < MIN_NAME:
        raise ShapeError("no usable short name for %r" % name)
    return short


def is_private(name):
    return name.strip().upper() == "PRIVATE"


def rank(key, name, address):
    """Sort key for filling a stretch: the blocks handed out first come first."""
    if is_private(name):
        tier = 5  # registered without a name: nothing to show
    elif key[2:4] == "00" or (key[:2] == "00" and key[3] == "0"):
        tier = 0  # xx-00-xx and 00-X0-xx: the first blocks
    elif key[:2] == "00" and key[2] == "0":
        tier = 1  # 00-01-xx to 00-0F-xx, handed out in key order
    elif key in PRE_IEEE_KEYS:
        tier = 2
    elif not re.search(r"[a-z]", name + address):
        tier = 3  # early records were typed in capitals
    else:
        tier = 4
    return (tier, key)


def plan_stretches():
    """Yields (prefix, low, high, count): `count` rows with prefix and low < key < high."""
    starts = {}
    pos = 1
    for prefix in sorted(PREFIX_COUNTS):
        starts[prefix] = pos
        pos += PREFIX_COUNTS[prefix]
    if pos - 1 != TABLE_SIZE:
        raise ShapeError("prefix counts add up to %d, not %d" % (pos - 1, TABLE_SIZE))

    def prefix_at(position):
        for prefix in sorted(PREFIX_COUNTS, reverse=True):
            if position >= starts[prefix]:
                return prefix
        raise ShapeError("position %d before the first prefix" % position)

    pins = sorted(PINNED)
    bounds = [(0, "")] + [(p, k) for p, k, _ in pins] + [(TABLE_SIZE + 1, "G")]
    for (a, low), (b, high) in zip(bounds, bounds[1:]):
        if b <= a:
            raise ShapeError("pinned positions %d and %d out of order" % (a, b))
        position = a + 1
        while position < b:
            prefix = prefix_at(position)
            end = position
            while end + 1 < b and prefix_at(end + 1) == prefix:
                end += 1
            lo = low if low.startswith(prefix) else prefix
            hi = high if high.startswith(prefix) else prefix + "G"
            yield prefix, lo, hi, end - position + 1
            position = end + 1


def build_table(records):
    by_key = {}
    for key, name, address in records:
        by_key.setdefault(key, (name, address))  # first registration of a key
    pinned_keys = {k for _, k, _ in PINNED}
    rows = [(p, k, n) for p, k, n in PINNED]
    notes = []
    for prefix, lo, hi, count in plan_stretches():
        candidates = [k for k in by_key if k.startswith(prefix) and lo < k < hi
                      and k not in pinned_keys and k not in EXCLUDED_KEYS]
        if len(candidates) < count:
            raise ShapeError("stretch %s..%s needs %d assignments, the registry has %d"
                             % (lo, hi, count, len(candidates)))
        chosen = sorted(candidates, key=lambda k: rank(k, *by_key[k]))[:count]
        tiers = sorted({rank(k, *by_key[k])[0] for k in chosen})
        notes.append("%-8s %-8s %4d of %5d  tiers %s" % (lo, hi, count, len(candidates), tiers))
        rows.extend((None, k, KEY_NAMES.get(k) or short_name(by_key[k][0])) for k in chosen)
    # Pinned rows hold their positions; each stretch slots in between by key.
    ordered = sorted(rows, key=lambda r: (r[1], r[0] or 0))
    return [(k, n) for _, k, n in ordered], by_key, notes


def check_shape(table, by_key):
    def fail(msg):
        raise ShapeError(msg)

    if len(table) != TABLE_SIZE:
        fail("table has %d rows, not %d" % (len(table), TABLE_SIZE))
    for i, (key, name) in enumerate(table, 1):
        if not re.fullmatch(r"[0-9A-F]{6}", key):
            fail("row %d: bad key %r" % (i, key))
        if not MIN_NAME <= len(name.encode("ascii", "replace")) <= MAX_NAME:
            fail("row %d (%s): name %r is not %d..%d bytes" % (i, key, name, MIN_NAME, MAX_NAME))
        if not all(" " <= c <= "~" for c in name):
            fail("row %d (%s): name %r is not printable ASCII" % (i, key, name))
        if name.strip() == "":
            fail("row %d (%s): blank name" % (i, key))
        if any(c in name for c in ',"\\'):
            # The names end up in the comma-separated export file.
            fail("row %d (%s): name %r holds a comma, quote or backslash" % (i, key, name))
        if key not in by_key:
            fail("row %d: %s is not an IEEE assignment" % (i, key))
    for i in range(1, len(table)):
        prev, cur = table[i - 1][0], table[i][0]
        if prev > cur or (prev == cur and cur not in DUPLICATES):
            fail("rows %d and %d out of order or duplicated: %s, %s" % (i, i + 1, prev, cur))
    for key, names in DUPLICATES.items():
        got = [n for k, n in table if k == key]
        if got != names:
            fail("rows of %s are %r, not %r" % (key, got, names))
    distinct = len({k for k, _ in table})
    expected_distinct = TABLE_SIZE - sum(len(v) - 1 for v in DUPLICATES.values())
    if distinct != expected_distinct:
        fail("%d distinct keys, not %d" % (distinct, expected_distinct))
    counts = {}
    for key, _ in table:
        counts[key[:2]] = counts.get(key[:2], 0) + 1
    if counts != PREFIX_COUNTS:
        fail("prefix counts %r, not %r" % (counts, PREFIX_COUNTS))
    for position, key, name in PINNED:
        if table[position - 1] != (key, name):
            fail("row %d is %r, not %r" % (position, table[position - 1], (key, name)))
    for i in range(10):
        if table[i] != ("%06X" % i, "XEROX"):
            fail("row %d is %r, not XEROX" % (i + 1, table[i]))
    if table[-5:] != [("AA%04X" % i, "DEC") for i in range(5)]:
        fail("last rows are %r, not AA0000..AA0004 DEC" % (table[-5:],))
    if dict(table).get("080009") != "HP":
        fail("080009 is not HP")


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def render(table, source, stamp):
    lines = [
        "// Generated by tools/gen_nic_vendor_table.py; do not edit by hand.",
        "// Source: the IEEE MA-L registry, %s (%s)." % (source, stamp),
        "// To change the table, change the script and run it from the repository root:",
        "//     python3 tools/gen_nic_vendor_table.py",
        "// then commit the script and this file together.",
        "",
        '#include "core/scan/NicVendorTable.h"',
        "",
        "#include <iterator>",
        "",
        "const NicVendorRow NicVendorTable[] = {",
    ]
    lines += ["    {%s, %s}," % (c_string(k), c_string(n)) for k, n in table]
    lines += [
        "};",
        "",
        "const std::size_t NicVendorTableSize = std::size(NicVendorTable);",
        "",
        "static_assert(std::size(NicVendorTable) == %d);" % len(table),
        "",
    ]
    return "\n".join(lines)


def registry_stamp(path):
    stamp_file = os.path.join(os.path.dirname(path), ".lastupdate")
    try:
        import datetime
        with open(stamp_file) as f:
            seconds = int(f.read().strip())
        return "snapshot of " + datetime.datetime.fromtimestamp(
            seconds, datetime.timezone.utc).strftime("%Y-%m-%d")
    except (OSError, ValueError):
        return "snapshot date unknown"


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--registry", help="oui.csv or oui.txt (default: ieee-data's)")
    parser.add_argument("--output", default=os.path.join(root, "core", "scan", "NicVendorTableData.cpp"))
    parser.add_argument("--check", action="store_true",
                        help="compare with the output file instead of writing it")
    parser.add_argument("--verbose", action="store_true", help="print how each stretch was filled")
    args = parser.parse_args()

    registry = args.registry
    if registry is None:
        for candidate in ("/usr/share/ieee-data/oui.csv", "/usr/share/ieee-data/oui.txt"):
            if os.path.exists(candidate):
                registry = candidate
                break
        else:
            sys.exit("error: no IEEE registry found; install Debian's ieee-data or pass --registry")
    try:
        records = read_registry(registry)
        table, by_key, notes = build_table(records)
        check_shape(table, by_key)
    except (OSError, ShapeError) as e:
        sys.exit("error: %s" % e)
    if args.verbose:
        print("\n".join(notes))

    text = render(table, registry.replace("/usr/share/ieee-data/", "ieee-data "),
                  registry_stamp(registry))
    if args.check:
        try:
            with open(args.output, encoding="ascii") as f:
                current = f.read()
        except OSError as e:
            sys.exit("error: %s" % e)
        if current != text:
            sys.exit("error: %s differs from what the script generates" % args.output)
        print("%s is up to date (%d rows)" % (args.output, len(table)))
        return
    tmp = args.output + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    os.replace(tmp, args.output)
    print("wrote %s: %d rows from %s" % (args.output, len(table), registry))


if __name__ == "__main__":
    main()
