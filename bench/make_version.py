#!/usr/bin/env python3
"""Make the next version of a generated ODX file, for the comparison benchmark.

Usage: make_version.py OLD NEW [--seed S] [--share 0.01 | --every-value]

Reads a file as bench/gen_odx.py writes it (one element per line, two
spaces of indent per level) and writes NEW with about SHARE of its elements
touched, in equal parts: a SHORT-NAME renamed (its element is renamed), a
leaf's value changed, an element removed (with its subtree), a leaf added
after another; besides, some pairs of neighbouring leaves swap places
(order alone is no change).  The same input and seed give the same output.
With --every-value, every leaf's value changes and nothing else (the
hostile case of one change a node).  Prints what it did, one count a line.
"""

import argparse
import os
import random
import re
import sys

LEAF = re.compile(rb"^( *)<([A-Za-z][-A-Za-z0-9_.:]*)(\s[^>]*)?>([^<]*)</\2>\s*$")
OPEN = re.compile(rb"^( *)<([A-Za-z][-A-Za-z0-9_.:]*)(\s[^>]*)?(?<!/)>\s*$")


def every_value(src, dst):
    changed = 0
    for line in src:
        leaf = LEAF.match(line)
        if leaf:
            indent, tag, attrs, value = leaf.groups()
            line = b"%s<%s%s>%s7</%s>\n" % (indent, tag, attrs or b"", value, tag)
            changed += 1
        dst.write(line)
    return {"changed": changed}


def mutate(src, dst, seed, share):
    rnd = random.Random(seed)
    # Each kind applies to only part of the lines (leaves, names), so each
    # is drawn more often than a quarter of SHARE.
    each = share * 0.65
    counts = {"renamed": 0, "changed": 0, "removed": 0, "added": 0, "swapped": 0}
    skip_to = None      # the indent whose closing tag ends a removed subtree
    held = None         # a leaf line waiting for its neighbour to swap with
    for line in src:
        if skip_to is not None:
            if line.startswith(skip_to + b"</"):
                skip_to = None
            continue
        leaf = LEAF.match(line)
        if held is not None:
            # The held leaf swaps with the next line when that is a sibling
            # leaf; otherwise it goes out as it was.
            if leaf and leaf.group(1) == held[1] and leaf.group(2) != b"SHORT-NAME":
                dst.write(line)
                dst.write(held[0])
                counts["swapped"] += 1
                held = None
                continue
            dst.write(held[0])
            held = None
        r = rnd.random()
        if leaf and leaf.group(2) == b"SHORT-NAME":
            if r < each:
                indent, tag, attrs, value = leaf.groups()
                line = b"%s<%s%s>%s_v2</%s>\n" % (indent, tag, attrs or b"", value, tag)
                counts["renamed"] += 1
            dst.write(line)
            continue
        if leaf:
            indent, tag, attrs, value = leaf.groups()
            if r < each:
                line = b"%s<%s%s>%s7</%s>\n" % (indent, tag, attrs or b"", value, tag)
                counts["changed"] += 1
            elif r < 2 * each:
                counts["removed"] += 1
                continue
            elif r < 3 * each:
                dst.write(line)
                line = b"%s<ADDED-INFO>%d</ADDED-INFO>\n" % (indent, rnd.randrange(1 << 30))
                counts["added"] += 1
            elif r < 3 * each + each / 2:
                held = (line, indent)
                continue
            dst.write(line)
            continue
        opened = OPEN.match(line)
        if opened and r < each / 8:
            # A whole subtree goes (rarely: subtrees are large).
            skip_to = opened.group(1)
            counts["removed"] += 1
            continue
        dst.write(line)
    if held is not None:
        dst.write(held[0])
    return counts


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--share", type=float, default=0.01)
    ap.add_argument("--every-value", action="store_true")
    a = ap.parse_args()
    with open(a.old, "rb") as src, open(a.new + ".part", "wb") as dst:
        counts = every_value(src, dst) if a.every_value else mutate(src, dst, a.seed, a.share)
    os.replace(a.new + ".part", a.new)
    for k, v in counts.items():
        print(k, v)


if __name__ == "__main__":
    sys.exit(main())
