#!/usr/bin/env python3
"""A second, independent implementation of the token reader and the outline
builder, written straight from their rules in plain Python, slow and simple.
It writes the same JSON Lines as `odx-outline --json`, so the C++ outline of
any file can be checked against it; with the ODX rules (attributes, names,
reference resolution) also those of `--names`, `--refs` and `--unresolved`.

Usage: reference_outline.py [--names | --refs | --unresolved] FILE > expected.jsonl
"""
import sys

DECLARATION_LENGTH = 21


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


def tokens(data):
    """Yields (kind, name, value, attributes, position_after)."""
    size = len(data)
    pos = DECLARATION_LENGTH
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
                return cut_at_nul(list(body[:k])), cut_at_nul(list(body[k + 1 :]))
            return cut_at_nul(list(body)), []

        if at(m1 + 1) == 0x21 and at(m1 + 2) == 0x2D and at(m1 + 3) == 0x2D:
            text = list(data[m1 + 4 : m2 - 2]) if m2 - m1 > 6 else []
            yield ("comment", decode_entities(text), None, None, m2 + 1)
            pos = m2 + 1
        elif at(m1 + 1) == 0x2F:
            yield ("close", cut_at_nul(list(data[m1 + 2 : m2])), None, None, m2 + 1)
            pos = m2 + 1
        elif at(m2 - 1) == 0x2F:
            name, attrs = split(data[m1 + 1 : m2 - 1])
            yield ("leaf", name, [], attrs, m2 + 1)
            pos = m2 + 1
        elif m3 is not None and at(m3 + 1) == 0x2F:
            name, attrs = split(data[m1 + 1 : m2])
            value = decode_entities(list(data[m2 + 1 : m3]))
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
        self.kind = kind  # "open", "leaf" or "text" (raw description text)
        self.element, self.value, self.attrs = list(element), list(value), list(attrs)


def build(data):
    """Returns the nodes in pre-order."""
    nodes = []
    stack = [None] * 256
    depth = 0
    capturing = False
    capture_start = None
    desc = [0x44, 0x45, 0x53, 0x43]

    def add(parent, label, image, kind, element=(), value=(), attrs=()):
        d = 1 if parent is None else nodes[parent].depth + 1
        nodes.append(Node(d, image, label, parent, kind, element, value, attrs))
        return len(nodes) - 1

    for kind, name, value, attrs, after in tokens(data):
        if kind == "open":
            starts = name == desc
            if starts:
                capture_start = after
            if not capturing:
                depth = min(depth + 1, 255)
                label = name + ([0x20, 0x2A, 0x2A, 0x2A, 0x2A, 0x20] + attrs if attrs else [])
                stack[depth] = add(stack[depth - 1], label, 2, "open", name, (), attrs)
            if starts:
                capturing = True
        elif kind == "close":
            if name == desc:
                capturing = False
                if capture_start is not None:
                    add(stack[depth], cut_at_nul(list(data[capture_start:after])), 0, "text")
            if not capturing:
                depth = max(depth - 1, 0)
        elif kind == "leaf" and not capturing:
            label = list(name)
            if value:
                label += [0x20, 0x3D, 0x20] + value
            if attrs:
                label += [0x20, 0x2A, 0x2A, 0x2A, 0x2A, 0x20] + attrs
            add(stack[depth], label, 0, "leaf", name, value, attrs)
    return nodes


def outline(data):
    """Returns the nodes in pre-order as (depth, image, label units)."""
    return [(n.depth, n.image, n.label) for n in build(data)]


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
    nodes = build(data)
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
    for i, v, hint, target in references(build(data)):
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
