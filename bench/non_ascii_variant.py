#!/usr/bin/env python3
"""Rewrites a generated ODX file so that about a fifth of the characters of
its element texts and attribute values are non-ASCII (two- and three-byte
UTF-8: umlauts, accents, degree and micro signs, dashes), for measuring the
text decoding of the outline build.  Markup and names stay as they are.

Usage: non_ascii_variant.py IN OUT [SHARE]   (SHARE defaults to 0.2)
"""
import random
import re
import sys

SWAPS = {"a": "ä", "o": "ö", "u": "ü", "e": "é", "s": "ß", "c": "ç", "i": "í",
         "n": "ñ", "A": "Ä", "O": "Ö", "U": "Ü", "C": "°", "m": "µ", "-": "–"}


def main():
    src, dst = sys.argv[1], sys.argv[2]
    share = float(sys.argv[3]) if len(sys.argv) > 3 else 0.2
    rng = random.Random(7)
    with open(src, "r", encoding="utf-8") as f:
        text = f.read()
    # Element texts and quoted attribute values only; white space between
    # tags is no text.
    runs = re.compile(r'(?<=>)[^<]*[^<\s][^<]*(?=<)|(?<==")[^"]*(?=")')
    chars = swappable = 0
    for m in runs.finditer(text):
        chars += len(m.group(0))
        swappable += sum(1 for c in m.group(0) if c in SWAPS)
    # Only some letters have a non-ASCII twin, so each is swapped more
    # often than the share asked for.
    rate = min(1.0, share * chars / max(swappable, 1))

    def swap_run(m):
        return "".join(SWAPS[c] if c in SWAPS and rng.random() < rate else c
                       for c in m.group(0))

    out = runs.sub(swap_run, text)
    with open(dst, "w", encoding="utf-8") as f:
        f.write(out)
    text_chars = non_ascii = 0
    for m in runs.finditer(out):
        text_chars += len(m.group(0))
        non_ascii += sum(1 for c in m.group(0) if ord(c) > 127)
    print("%s: %.1f%% of the text characters are non-ASCII"
          % (dst, 100.0 * non_ascii / max(text_chars, 1)))


if __name__ == "__main__":
    main()
