#!/usr/bin/env python3
"""A second, independent implementation of the token reader and the outline
builder, written straight from their rules in plain Python, slow and simple.
It writes the same JSON Lines as `odx-outline --json`, so the C++ outline of
any file can be checked against it; with the ODX rules (attributes, names,
reference resolution) also those of `--names`, `--refs` and `--unresolved`.

Usage: reference_outline.py [--names | --refs | --unresolved] FILE > expected.jsonl
"""
import codecs
import io
import re
import sys
import zipfile


# ---------------------------------------------------------------------------
# Text encodings: the document's encoding from its first bytes, UTF-16 and
# UTF-32 documents as UTF-8, and texts decoded without losing a byte.

def detect_encoding(data):
    if data[:4] in (b"\xff\xfe\x00\x00", b"<\x00\x00\x00"):
        return "utf-32-le"
    if data[:4] in (b"\x00\x00\xfe\xff", b"\x00\x00\x00<"):
        return "utf-32-be"
    if data[:2] == b"\xff\xfe" or (len(data) >= 4 and data[:2] == b"<\x00" and data[3] == 0):
        return "utf-16-le"
    if data[:2] == b"\xfe\xff" or (len(data) >= 4 and data[:3:2] == b"\x00\x00" and data[1:2] == b"<"):
        return "utf-16-be"
    head = data[:1024]
    body = head[3:] if head.startswith(b"\xef\xbb\xbf") else head
    if not body.startswith(b"<?xml") or b"?>" not in head:
        return "utf-8"
    decl = head[: head.index(b"?>")]
    m = re.search(rb"""encoding[ \t\r\n]*=[ \t\r\n]*("[^"]*"|'[^']*')""", decl)
    if not m:
        return "utf-8"
    name = m.group(1)[1:-1].upper()
    if name in (b"ISO-8859-1", b"ISO8859-1", b"ISO_8859-1", b"LATIN1", b"LATIN-1"):
        return "latin-1"
    if name in (b"WINDOWS-1252", b"CP1252"):
        return "cp1252"
    return "utf-8"


def wide_to_utf8(data, encoding):
    """The code points of a UTF-16/32 document, what is not one as U+FFFD."""
    width = 2 if encoding.startswith("utf-16") else 4
    order = "little" if encoding.endswith("le") else "big"
    marks = {"utf-16-le": b"\xff\xfe", "utf-16-be": b"\xfe\xff",
             "utf-32-le": b"\xff\xfe\x00\x00", "utf-32-be": b"\x00\x00\xfe\xff"}
    if data.startswith(marks[encoding]):
        data = data[width:]
    units = [int.from_bytes(data[i:i + width], order)
             for i in range(0, len(data) - width + 1, width)]
    out = []
    i = 0
    while i < len(units):
        u = units[i]
        if width == 2 and 0xD800 <= u <= 0xDBFF and i + 1 < len(units) \
                and 0xDC00 <= units[i + 1] <= 0xDFFF:
            out.append(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00))
            i += 2
            continue
        out.append(0xFFFD if 0xD800 <= u <= 0xDFFF or u > 0x10FFFF else u)
        i += 1
    if len(data) % width:
        out.append(0xFFFD)
    return "".join(map(chr, out)).encode("utf-8")


def _byte_as_character(error):
    return chr(error.object[error.start]), error.start + 1


codecs.register_error("reference-byte-as-character", _byte_as_character)


def decode_text(raw, encoding):
    """Bytes of one text as UTF-16 units."""
    text = bytes(raw).decode(encoding, "reference-byte-as-character")
    b = text.encode("utf-16-le", "surrogatepass")
    return [b[i] | b[i + 1] << 8 for i in range(0, len(b), 2)]


def first_byte_to_read(data):
    mark = 3 if data.startswith(b"\xef\xbb\xbf") else 0
    if not data[mark:].startswith(b"<?xml"):
        return mark
    end = data.find(b"?>", mark + 5)
    return len(data) if end < 0 else end + 2


def cut_at_nul(units):
    try:
        return units[: units.index(0)]
    except ValueError:
        return units


def parse_hex(units):
    """The string's hexadecimal parse: two scans, places beyond 8 count 0,
    32-bit wrap."""
    def digit(u):
        if 0x30 <= u <= 0x39:
            return u - 0x30
        if 0x61 <= u <= 0x66:
            return u - 0x61 + 10
        if 0x41 <= u <= 0x46:
            return u - 0x41 + 10
        return None

    d = 0
    for u in units:
        if u == 0x2E or (u == 0x20 and d > 0):
            break
        if digit(u) is not None:
            d += 1
    r, s = d, 0
    for u in units:
        if u == 0x2E or (u == 0x20 and r == 0):
            break
        v = digit(u)
        if v is not None:
            place = 16 ** (r - 1) if 0 <= r - 1 <= 7 else 0
            s = (s + v * place) % (1 << 32)
            r -= 1
    return s


NAMED = [
    ([0x26, 0x6C, 0x74, 0x3B], 0x3C),              # &lt;
    ([0x26, 0x67, 0x74, 0x3B], 0x3E),              # &gt;
    ([0x26, 0x61, 0x6D, 0x70, 0x3B], 0x26),        # &amp;
    ([0x26, 0x71, 0x75, 0x6F, 0x74, 0x3B], 0x22),  # &quot;
    ([0x26, 0x61, 0x70, 0x6F, 0x73, 0x3B], 0x27),  # &apos;
]


def decode_entities(units):
    units = cut_at_nul(units)
    n = len(units)
    out = []
    i = 0
    while i < n:
        if units[i] != 0x26:
            out.append(units[i])
            i += 1
            continue
        for form, produced in NAMED:
            if units[i : i + len(form)] == form:
                out.append(produced)
                i += len(form)
                break
        else:
            if (i + 7 < n and units[i + 1] == 0x23 and units[i + 2] == 0x78
                    and units[i + 7] == 0x3B):
                out.append(parse_hex(units[i + 3 : i + 7]) & 0xFFFF)
                i += 8
            else:
                out.append(0x26)
                i += 1
    return cut_at_nul(out)


def tokens(data, encoding="latin-1"):
    """Yields (kind, name, value, attributes, position_after); texts are
    decoded from `encoding` before entities are."""
    size = len(data)
    pos = first_byte_to_read(data)

    def text(raw):
        return decode_text(cut_at_nul(list(raw)), encoding)
    while pos < size:
        markers = []
        wanted = (0x3C, 0x3E, 0x3C, 0x3E)
        while pos < size and len(markers) < 4:
            if data[pos] == wanted[len(markers)]:
                markers.append(pos)
            pos += 1
        if not markers:
            return
        if len(markers) < 2:
            return  # a '<' with no '>' before the end: no token
        m1, m2 = markers[0], markers[1]
        m3 = markers[2] if len(markers) > 2 else None
        m4 = markers[3] if len(markers) > 3 else None

        def at(k):
            return data[k] if 0 <= k < size else None

        def split(body):
            if 0x20 in body:
                k = body.index(0x20)
                return text(body[:k]), text(body[k + 1 :])
            return text(body), []

        if at(m1 + 1) == 0x21 and at(m1 + 2) == 0x2D and at(m1 + 3) == 0x2D:
            comment = data[m1 + 4 : m2 - 2] if m2 - m1 > 6 else b""
            yield ("comment", decode_entities(text(comment)), None, None, m2 + 1)
            pos = m2 + 1
        elif at(m1 + 1) == 0x2F:
            yield ("close", text(data[m1 + 2 : m2]), None, None, m2 + 1)
            pos = m2 + 1
        elif at(m2 - 1) == 0x2F:
            name, attrs = split(data[m1 + 1 : m2 - 1])
            yield ("leaf", name, [], attrs, m2 + 1)
            pos = m2 + 1
        elif m3 is not None and at(m3 + 1) == 0x2F:
            name, attrs = split(data[m1 + 1 : m2])
            value = decode_entities(text(data[m2 + 1 : m3]))
            pos = m4 + 1 if m4 is not None else size
            yield ("leaf", name, value, attrs, pos)
        else:
            name, attrs = split(data[m1 + 1 : m2])
            yield ("open", name, [], attrs, m2 + 1)
            pos = m2 + 1


class Node:
    """One outline node: what the window shows, and what it was made from."""

    def __init__(self, depth, image, label, parent, kind, element=(), value=(), attrs=()):
        self.depth, self.image, self.label, self.parent = depth, image, label, parent
        # "open", "leaf", "pi" (a processing instruction or document type),
        # "text" (raw description text) or "member" (a package's member)
        self.kind = kind
        self.element, self.value, self.attrs = list(element), list(value), list(attrs)


def build(data, depth_below=0):
    """Returns the nodes of a document in pre-order; `depth_below` levels
    above it (a package's member node)."""
    encoding = detect_encoding(data)
    if encoding.startswith("utf-16") or encoding.startswith("utf-32"):
        data = wide_to_utf8(data, encoding)
        encoding = "utf-8"
    nodes = []
    stack = [None] * 256
    depth = 0
    capturing = False
    capture_start = None
    desc = [0x44, 0x45, 0x53, 0x43]
    stars = [0x20, 0x2A, 0x2A, 0x2A, 0x2A, 0x20]

    def add(parent, label, image, kind, element=(), value=(), attrs=()):
        d = depth_below + 1 if parent is None else nodes[parent].depth + 1
        nodes.append(Node(d, image, label, parent, kind, element, value, attrs))
        return len(nodes) - 1

    for kind, name, value, attrs, after in tokens(data, encoding):
        if kind == "open" and name[:1] in ([0x3F], [0x21]):
            # a processing instruction or document type: a leaf
            if not capturing:
                add(stack[depth], name + (stars + attrs if attrs else []), 0, "pi",
                    name, (), attrs)
        elif kind == "open":
            starts = name == desc
            if starts:
                capture_start = after
            if not capturing:
                depth = min(depth + 1, 255)
                label = name + (stars + attrs if attrs else [])
                stack[depth] = add(stack[depth - 1], label, 2, "open", name, (), attrs)
            if starts:
                capturing = True
        elif kind == "close":
            if name == desc:
                capturing = False
                if capture_start is not None:
                    raw = cut_at_nul(list(data[capture_start:after]))
                    add(stack[depth], decode_text(raw, encoding), 0, "text")
            if not capturing:
                depth = max(depth - 1, 0)
        elif kind == "leaf" and not capturing:
            label = list(name)
            if value:
                label += [0x20, 0x3D, 0x20] + value
            if attrs:
                label += stars + attrs
            add(stack[depth], label, 0, "leaf", name, value, attrs)
    return nodes


def outline(data):
    """Returns the nodes in pre-order as (depth, image, label units)."""
    return [(n.depth, n.image, n.label) for n in build(data)]


def units_of(text):
    b = text.encode("utf-16-le", "surrogatepass")
    return [b[i] | b[i + 1] << 8 for i in range(0, len(b), 2)]


DOCUMENT = re.compile(r"\.(xml|odx|odx-[a-z]+)\Z", re.IGNORECASE | re.ASCII)


def package_nodes(data):
    """One top-level node per member of a ZIP package: a document's outline
    below its name, other members as leaves with their size, members that
    cannot be read as leaves that say so."""
    nodes = []
    with zipfile.ZipFile(io.BytesIO(data)) as zf:
        for info in zf.infolist():
            if info.filename.endswith("/"):
                continue
            name = info.filename
            document = DOCUMENT.search(name) is not None
            readable = not info.flag_bits & 1 and info.compress_type in (0, 8)
            content = None
            if readable and document:
                try:
                    content = zf.read(info)
                except (zipfile.BadZipFile, OSError, EOFError):
                    readable = False
            if document and readable:
                member = len(nodes)
                nodes.append(Node(1, 2, units_of(name), None, "member"))
                for node in build(content, 1):
                    node.parent = member if node.parent is None else node.parent + member + 1
                    nodes.append(node)
            elif readable:
                label = "%s (%d bytes)" % (name, info.file_size)
                nodes.append(Node(1, 0, units_of(label), None, "member"))
            else:
                nodes.append(Node(1, 0, units_of(name + " (unreadable)"), None, "member"))
    return nodes


def package_outline(data):
    return [(n.depth, n.image, n.label) for n in package_nodes(data)]


def nodes_of_file(data):
    if data[:4] in (b"PK\x03\x04", b"PK\x05\x06"):
        return package_nodes(data)
    return build(data)


def outline_of_file(data):
    if data[:4] in (b"PK\x03\x04", b"PK\x05\x06"):
        return package_outline(data)
    return outline(data)


# ODX: attributes, names and references.

SPACES = (0x20, 0x09, 0x0D, 0x0A)
SHORT_NAME = [ord(c) for c in "SHORT-NAME"]


def read_attributes(t):
    """(name, value) unit lists in order; reading stops at anything
    malformed."""
    out = []
    i, n = 0, len(t)
    while True:
        while i < n and t[i] in SPACES:
            i += 1
        if i == n:
            return out
        start = i
        while i < n and t[i] != 0x3D and t[i] not in SPACES:
            i += 1
        name = t[start:i]
        while i < n and t[i] in SPACES:
            i += 1
        if i == n or t[i] != 0x3D:
            return out
        i += 1
        while i < n and t[i] in SPACES:
            i += 1
        if i == n or t[i] not in (0x22, 0x27):
            return out
        quote = t[i]
        i += 1
        start = i
        while i < n and t[i] != quote:
            i += 1
        if i == n:
            return out
        out.append((name, t[start:i]))
        i += 1


def attribute(node, name):
    """The value of the node's first attribute called `name`, or None."""
    wanted = [ord(c) for c in name]
    for n, v in read_attributes(node.attrs):
        if n == wanted:
            return v
    return None


def names(nodes):
    """Per node, its name (the value of a SHORT-NAME leaf that is its first
    child) or None."""
    out = [None] * len(nodes)
    for i, node in enumerate(nodes):
        if node.kind != "open" or i + 1 >= len(nodes) or nodes[i + 1].parent != i:
            continue
        child = nodes[i + 1]
        if child.kind == "leaf" and child.element == SHORT_NAME and child.value:
            out[i] = child.value
    return out


def references(nodes):
    """(index, ID-REF value, DOCREF value or None, target index or None) per
    reference, in pre-order."""
    name = names(nodes)

    def top(i):
        while nodes[i].parent is not None:
            i = nodes[i].parent
        return i

    def named_above(i, hint):
        while i is not None:
            if name[i] == hint:
                return True
            i = nodes[i].parent
        return False

    targets = {}
    for i, node in enumerate(nodes):
        v = attribute(node, "ID")
        if v is not None:
            targets.setdefault(tuple(v), []).append(i)
    out = []
    for i, node in enumerate(nodes):
        v = attribute(node, "ID-REF")
        if v is None:
            continue
        hint = attribute(node, "DOCREF")
        candidates = targets.get(tuple(v), [])
        if hint is not None:
            kept = [c for c in candidates if named_above(c, hint)]
        else:
            kept = [c for c in candidates if top(c) == top(i)]
        candidates = kept or candidates
        out.append((i, v, hint, candidates[0] if candidates else None))
    return out


def json_label(units):
    out = ['"']
    i = 0
    while i < len(units):
        u = units[i]
        if 0xD800 <= u <= 0xDBFF and i + 1 < len(units) and 0xDC00 <= units[i + 1] <= 0xDFFF:
            c = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00)
            out.append(chr(c))
            i += 2
            continue
        i += 1
        if u == 0x0A:
            out.append("\\n")
        elif u == 0x0D:
            out.append("\\r")
        elif u == 0x09:
            out.append("\\t")
        elif u < 0x20 or 0xD800 <= u <= 0xDFFF:
            out.append("\\u%04x" % u)
        elif u == 0x22:
            out.append('\\"')
        elif u == 0x5C:
            out.append("\\\\")
        else:
            out.append(chr(u))
    out.append('"')
    return "".join(out)


def outline_jsonl(data, with_names=False):
    """The lines of `odx-outline --json [--names]`."""
    nodes = nodes_of_file(data)
    name = names(nodes) if with_names else [None] * len(nodes)
    lines = []
    for node, n in zip(nodes, name):
        extra = ',"name":%s' % json_label(n) if n else ""
        lines.append('{"depth":%d,"image":%d,"label":%s%s}\n'
                     % (node.depth, node.image, json_label(node.label), extra))
    return "".join(lines)


def references_jsonl(data, only_unresolved=False):
    """The lines of `odx-outline --json --refs` (or `--unresolved`)."""
    lines = []
    for i, v, hint, target in references(nodes_of_file(data)):
        if only_unresolved and target is not None:
            continue
        lines.append('{"index":%d,"ref":%s,"docref":%s,"target":%s}\n'
                     % (i, json_label(v), "null" if hint is None else json_label(hint),
                        "null" if target is None else target))
    return "".join(lines)


def main():
    args = sys.argv[1:]
    with open(args[-1], "rb") as f:
        data = f.read()
    if "--refs" in args or "--unresolved" in args:
        text = references_jsonl(data, "--unresolved" in args)
    else:
        text = outline_jsonl(data, "--names" in args)
    sys.stdout.buffer.write(text.encode("utf-8"))


if __name__ == "__main__":
    main()
