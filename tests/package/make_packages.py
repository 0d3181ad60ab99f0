#!/usr/bin/env python3
"""Writes the packages the package tests open into the folder given: made
by zipfile, then patched where a field must lie, in the local header and
the central directory alike."""
import io, os, random, struct, sys, warnings, zipfile

FIELDS = {"flags": (6, 8, "<H"), "method": (8, 10, "<H"), "crc": (14, 16, "<I"),
          "csize": (18, 20, "<I"), "usize": (22, 24, "<I")}  # local offset, central offset, format


def build(members, compression=zipfile.ZIP_DEFLATED):
    """members: (name, bytes[, compression[, force_zip64]])"""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression) as zf:
        for name, data, *rest in members:
            info = zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0))
            info.compress_type = rest[0] if rest else compression
            with zf.open(info, "w", force_zip64=len(rest) > 1) as out:
                out.write(data)
    return bytearray(buf.getvalue())


def headers(z, entry):
    """(local header, central entry) offsets of one entry."""
    cd = struct.unpack_from("<I", z, z.rindex(b"PK\x05\x06") + 16)[0]
    for _ in range(entry):
        cd += 46 + sum(struct.unpack_from("<HHH", z, cd + 28))
    return struct.unpack_from("<I", z, cd + 42)[0], cd


def patch(z, entry, name=None, **fields):
    local, central = headers(z, entry)
    for base, start, col in ((local, local + 30, 0), (central, central + 46, 1)):
        if name:  # over the start of a name of the same length
            z[start:start + len(name)] = name
        for field, value in fields.items():
            struct.pack_into(FIELDS[field][2], z, base + FIELDS[field][col], value)
    return z


def main(out):
    warnings.simplefilter("ignore")  # zipfile warns of the duplicate name
    xml = b'<?xml version="1.0"?>\n<ODX VERSION="2.2.0"><A>1</A></ODX>\n'
    inner = bytes(build([("inner.odx", xml)]))
    stored, bzip2 = zipfile.ZIP_STORED, zipfile.ZIP_BZIP2
    p = {}
    p["plain.pdx"] = build([
        ("index.xml", xml), ("a.odx-d", xml + b"<!--1-->"), ("dir/", b""),
        ("dir/B.ODX-CS", xml), ("a.odx-d", xml + b"<!--second-->"),
        ("jobs.py", b"print(1)\n"), ("stored.xml", xml, stored),
        ("inner.pdx", inner), ("zipped.odx", inner), ("x.odx-", xml),
        ("y.odx-d1", xml), ("empty.xml", b"")])
    p["names.pdx"] = z = build([(n, xml) for n in (
        "../evil.odx", "a\nb.xml", "\x01c.xml", "\u03a9mega.odx", "AB.xml",
        "CDE.odx", "\u03a9AB.odx", "a.odx_txt")])
    patch(z, 4, name=b"\x80\xe1")                       # CP437
    patch(z, 5, name=b"\xff\xc3(")                      # not UTF-8, no flag
    patch(z, 6, name="\u03a9".encode() + b"\xc0\xaf")   # overlong, flagged
    patch(z, 7, name=b"a.odx\0")
    p["bad-utf8.pdx"] = patch(build([("\u03a9AB.odx", xml)]), 0,
                              name="\u03a9".encode() + b"\xff\xfe")

    p["members.pdx"] = z = build([
        ("bomb.xml", b"\0" * 100_000_000), ("short.xml", xml), ("crc.xml", xml),
        ("crc-stored.xml", xml, stored), ("encrypted.xml", xml),
        ("method.xml", xml), ("claims.xml", xml), ("bzip2.xml", xml, bzip2),
        ("stored-lie.xml", xml, stored), ("garbled.xml", xml * 50),
        ("local-header.xml", xml), ("ok.xml", xml), ("archive-lie.xml", xml)])
    patch(z, 0, usize=1024)
    patch(z, 1, usize=len(xml) + 100)
    patch(z, 2, crc=0x12345678)
    patch(z, 3, crc=0x12345678)
    patch(z, 4, flags=1)  # encrypted
    patch(z, 5, method=97)
    patch(z, 6, usize=50_000_000)
    patch(z, 8, usize=len(xml) - 1)
    patch(z, 12, csize=0x7FFFFFF0, usize=0x70000000)  # more than the archive
    local = headers(z, 9)[0]
    data = local + 30 + sum(struct.unpack_from("<HH", z, local + 26))
    z[data + 2:data + 8] = b"\xff" * 6
    struct.pack_into("<H", z, headers(z, 10)[0] + 26, 0xFFFF)  # data past the end

    p["zip64.pdx"] = build([("a.xml", xml, zipfile.ZIP_DEFLATED, True),
                            ("b.odx", xml, stored, True)])
    p["many.pdx"] = build([("m%06d.xml" % i, b"<m/>") for i in range(100_000)], stored)
    p["empty.pdx"] = build([])
    p["not-a-zip.pdx"] = xml
    p["cd-outside.pdx"] = z = bytearray(p["plain.pdx"])
    struct.pack_into("<I", z, z.rindex(b"PK\x05\x06") + 16, len(z) + 1000)

    # 1 MB of random bytes barely deflates, so by the deflate ratio it could
    # make the 2^30 bytes declared.  Neither the other member nor the
    # document whose size its bytes cannot make counts towards the limit.
    noise = random.Random(1).randbytes(1_100_000)
    for name, second in (("too-large.pdx", 1 << 30), ("just-below.pdx", (1 << 30) - 1)):
        p[name] = z = build([("a.odx", noise), ("b.odx", noise), ("c.bin", xml), ("d.xml", xml)])
        for entry, size in enumerate((1 << 30, second, 0xFFFFFFFE, 0x7FFFFFFF)):
            patch(z, entry, usize=size)

    for name, data in p.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
