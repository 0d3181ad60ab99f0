#!/usr/bin/env python3
"""Writes the packages the package tests open into the folder given.

Python's zipfile writes them; fields it will not write wrong (sizes, CRCs,
flags, methods, names that are not UTF-8) are patched in afterwards, in the
local header and in the central directory alike.
"""
import io
import os
import random
import struct
import sys
import warnings
import zipfile

LOCAL = {"flags": (6, "<H"), "method": (8, "<H"), "crc": (14, "<I"),
         "csize": (18, "<I"), "usize": (22, "<I")}
CENTRAL = {"flags": (8, "<H"), "method": (10, "<H"), "crc": (16, "<I"),
           "csize": (20, "<I"), "usize": (24, "<I")}


def build(members, compression=zipfile.ZIP_DEFLATED):
    """members: (name, bytes[, compression[, force_zip64]]) tuples."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression) as zf:
        for name, data, *rest in members:
            info = zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0))
            info.compress_type = rest[0] if rest else compression
            with zf.open(info, "w", force_zip64=len(rest) > 1) as out:
                out.write(data)
    return bytearray(buf.getvalue())


def headers(z):
    """(local header offset, central entry offset) per entry, in order."""
    eocd = z.rindex(b"PK\x05\x06")
    count, _, cd = struct.unpack_from("<HII", z, eocd + 10)
    out = []
    for _ in range(count):
        n, m, k = struct.unpack_from("<HHH", z, cd + 28)
        out.append((struct.unpack_from("<I", z, cd + 42)[0], cd))
        cd += 46 + n + m + k
    return out


def patch(z, entry, **fields):
    local, central = headers(z)[entry]
    for field, value in fields.items():
        if field == "flags_or":
            for base, table in ((local, LOCAL), (central, CENTRAL)):
                off, fmt = table["flags"]
                old = struct.unpack_from(fmt, z, base + off)[0]
                struct.pack_into(fmt, z, base + off, old | value)
        elif field == "name":  # over the start of a name of the same length
            for start in (local + 30, central + 46):
                z[start:start + len(value)] = value
        else:
            for base, table in ((local, LOCAL), (central, CENTRAL)):
                off, fmt = table[field]
                struct.pack_into(fmt, z, base + off, value)
    return z


def main(out):
    warnings.simplefilter("ignore")  # zipfile warns of the duplicate name
    xml = b'<?xml version="1.0"?>\n<ODX VERSION="2.2.0"><A>1</A></ODX>\n'
    inner = bytes(build([("inner.odx", xml)]))
    packages = {}

    packages["plain.pdx"] = build([
        ("index.xml", xml), ("a.odx-d", xml + b"<!--1-->"), ("dir/", b""),
        ("dir/B.ODX-CS", xml), ("a.odx-d", xml + b"<!--second-->"),
        ("jobs.py", b"print(1)\n"), ("stored.xml", xml, zipfile.ZIP_STORED),
        ("inner.pdx", inner), ("zipped.odx", inner), ("x.odx-", xml),
        ("y.odx-d1", xml), ("empty.xml", b"")])

    names = build([("../evil.odx", xml), ("a\nb.xml", xml), ("\x01c.xml", xml),
                   ("\u03a9mega.odx", xml), ("AB.xml", xml), ("CDE.odx", xml),
                   ("\u03a9AB.odx", xml), ("a.odx_txt", xml)])
    patch(names, 4, name=b"\x80\xe1")                   # CP437
    patch(names, 5, name=b"\xff\xc3(")                  # not UTF-8, no flag
    patch(names, 6, name="\u03a9".encode() + b"\xc0\xaf")  # overlong, flagged
    patch(names, 7, name=b"a.odx\x00")                  # NUL inside
    packages["names.pdx"] = names

    bad_utf8 = build([("\u03a9AB.odx", xml)])
    packages["bad-utf8.pdx"] = patch(bad_utf8, 0, name="\u03a9".encode() + b"\xff\xfe")

    rnd = random.Random(1)
    bomb = b"\0" * 100_000_000
    members = build([
        ("bomb.xml", bomb), ("short.xml", xml), ("crc.xml", xml),
        ("crc-stored.xml", xml, zipfile.ZIP_STORED), ("encrypted.xml", xml),
        ("method.xml", xml), ("claims.xml", xml), ("bzip2.xml", xml, zipfile.ZIP_BZIP2),
        ("stored-lie.xml", xml, zipfile.ZIP_STORED), ("garbled.xml", xml * 50),
        ("local-header.xml", xml), ("ok.xml", xml)])
    patch(members, 0, usize=1024)
    patch(members, 1, usize=len(xml) + 100)
    patch(members, 2, crc=0x12345678)
    patch(members, 3, crc=0x12345678)
    patch(members, 4, flags_or=1)
    patch(members, 5, method=97)
    patch(members, 6, usize=50_000_000)
    patch(members, 8, usize=len(xml) - 1)
    local, _ = headers(members)[9]
    data = local + 30 + sum(struct.unpack_from("<HH", members, local + 26))
    members[data + 2:data + 8] = b"\xff" * 6
    local, _ = headers(members)[10]
    struct.pack_into("<H", members, local + 26, 0xFFFF)  # data past the end
    packages["members.pdx"] = members

    packages["zip64.pdx"] = build([("a.xml", xml, zipfile.ZIP_DEFLATED, True),
                                   ("b.odx", xml, zipfile.ZIP_STORED, True)])
    packages["many.pdx"] = build([("m%06d.xml" % i, b"<m/>")
                                  for i in range(100_000)], zipfile.ZIP_STORED)
    packages["empty.pdx"] = build([])
    packages["not-a-zip.pdx"] = bytearray(xml)

    cd_outside = bytearray(packages["plain.pdx"])
    eocd = cd_outside.rindex(b"PK\x05\x06")
    struct.pack_into("<I", cd_outside, eocd + 16, len(cd_outside) + 1000)
    packages["cd-outside.pdx"] = cd_outside

    # Random bytes barely deflate, so 1 MB of them could, by the deflate
    # ratio, make the 2^30 bytes declared here.
    noise = rnd.randbytes(1_100_000)
    for name, second in (("too-large.pdx", 1 << 30), ("just-below.pdx", (1 << 30) - 1)):
        z = build([("a.odx", noise), ("b.odx", noise), ("c.bin", xml), ("d.xml", xml)])
        patch(z, 0, usize=1 << 30)
        patch(z, 1, usize=second)
        patch(z, 2, usize=0xFFFFFFFE)       # not a document: not counted
        patch(z, 3, usize=0x7FFFFFFF)       # impossible: not counted
        packages[name] = z

    for name, data in packages.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
