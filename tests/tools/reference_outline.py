#!/usr/bin/env python3
"""A second, independent implementation of the token reader, the outline
builder and the ODX link rules, written straight from their rules in plain
Python, slow and simple.  Its command line answers as odx-outline does, so
the C++ of any file, package or folder can be checked against it
(compare_cli.py runs both and shows where they part).

Usage: reference_outline.py [--json] [--names] [--refs | --unresolved |
       --problems | --services | --bytes HEX | --diff OLD NEW [--ignore TAG]...]
       [--count] FILE... | DIR

Where the rules leave a choice open, this implementation decides so:
- Elements are start tags and leaves whose tag starts with neither `?` nor
  `!`; only elements have names, IDs and references (a processing
  instruction holding `ID-REF=` is none).
- A top-level `ODX` element is in no document: its own `ID` is nobody's
  candidate without DOCREF and no duplicate, and a reference on it without
  DOCREF finds nothing ("no ID V in this document").
- Documents or layers of one name in several files are one place: their
  candidates together decide (several = ambiguous).
- The walk of a short-name reference passes over element ancestors only; a
  file or member node is no scope; past the top element, every element
  loaded is a candidate.
- IN/OUT-PARAM-IF: the enclosing service is the nearest `DIAG-SERVICE`
  ancestor; its request is the target of its first `REQUEST-REF` child, its
  responses those of `POS-RESPONSE-REFS/POS-RESPONSE-REF`, then
  `NEG-RESPONSE-REFS/NEG-RESPONSE-REF`; each message in turn is a place, and
  a parameter of it is a `PARAM` of that name anywhere in its subtree.
- `PARENT-REFS/PARENT-REF` children of a layer give its parents; one that
  leads to something other than a layer is passed over.
- Several FILEs are ordered by the bytes of their base names (ties in the
  order given) and need no particular ending; one that cannot be read (a
  folder among them too) is "NAME (unreadable)".  A folder without ODX
  files is an empty outline, exit 0.
- A DOCREF with DOCTYPE="LAYER" and no layer of that name loaded is "D is
  not loaded", even when a document of that name is.
- Problems of one node and kind are ordered by their reasons' UTF-16 units.
- There is no filter search here: `--filter` is a bad argument (exit 2).
"""
import bisect
import codecs
import io
import os
import re
import stat
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


def package_nodes(data, depth_below=0):
    """One top-level node per member of a ZIP package: a document's outline
    below its name, other members as leaves with their size, members that
    cannot be read as leaves that say so; `depth_below` levels above it (a
    folder's file node)."""
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
                nodes.append(Node(depth_below + 1, 2, units_of(name), None, "member"))
                for node in build(content, depth_below + 1):
                    node.parent = member if node.parent is None else node.parent + member + 1
                    nodes.append(node)
            elif readable:
                label = "%s (%d bytes)" % (name, info.file_size)
                nodes.append(Node(depth_below + 1, 0, units_of(label), None, "member"))
            else:
                nodes.append(Node(depth_below + 1, 0, units_of(name + " (unreadable)"), None,
                                  "member"))
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


# ---------------------------------------------------------------------------
# ODX: names, documents and layers, and where each reference leads.

def u(text):
    """A tag or a fixed word as the tuple of its UTF-16 units."""
    return tuple(units_of(text))


ODX = u("ODX")
LAYER_TAGS = {u(t) for t in ("PROTOCOL", "FUNCTIONAL-GROUP", "ECU-SHARED-DATA",
                             "BASE-VARIANT", "ECU-VARIANT")}
SNREF = u("-SNREF")
SNREF_TARGETS = {}
for _bases, _targets in (
        (("DIAG-COMM",), ("DIAG-SERVICE", "SINGLE-ECU-JOB")),
        (("SOURCE", "TARGET", "START-STATE"), ("STATE",)),
        (("DOP", "DOP-BASE", "DATA-OBJECT-PROP"),
         ("DATA-OBJECT-PROP", "DTC-DOP", "STRUCTURE", "END-OF-PDU-FIELD",
          "DYNAMIC-LENGTH-FIELD", "DYNAMIC-ENDMARKER-FIELD", "STATIC-FIELD",
          "ENV-DATA-DESC", "MUX")),
        (("PARAM", "OUT-PARAM", "PHYS-CONST", "CODED-CONST", "VALUE", "TABLE-KEY",
          "IN-PARAM-IF", "OUT-PARAM-IF"), ("PARAM",)),
        (("BASIC-STRUCTURE",), ("STRUCTURE",))):
    for _base in _bases:
        SNREF_TARGETS[u(_base)] = tuple(u(t) for t in _targets)
IN_PARAM_IF, OUT_PARAM_IF = u("IN-PARAM-IF"), u("OUT-PARAM-IF")
PROBLEM_KINDS = ("unresolved", "ambiguous", "duplicate-id", "inheritance-conflict")


def is_element(node):
    """Start tags and leaves; a processing instruction, a `<!…>` leaf, a
    description's text, a file or a member is none."""
    return node.kind in ("open", "leaf") and node.element[:1] not in ([0x3F], [0x21])


class Reference:
    """One reference: `by` "id" (ID-REF, with `docref` or None) or "name"
    (an -SNREF's SHORT-NAME); `target` None when unresolved, `reason` why
    (unresolved or ambiguous) as UTF-16 units."""

    def __init__(self, index, by, ref, docref=None):
        self.index, self.by, self.ref, self.docref = index, by, ref, docref
        self.target, self.ambiguous, self.reason = None, False, None


class Database:
    """The ODX reading of an outline (one file, a package or a folder):
    elements, names, documents, layers, the IDs and the references."""

    def __init__(self, nodes):
        self.nodes = nodes
        n = len(nodes)
        self.element = [is_element(node) for node in nodes]
        self.tag = [tuple(node.element) if e else None for node, e in zip(nodes, self.element)]
        self.children = [[] for _ in range(n)]
        self.end = list(range(1, n + 1))  # one past the last node of the subtree
        for i in range(n - 1, -1, -1):
            p = nodes[i].parent
            if p is not None:
                self.children[p].append(i)
                self.end[p] = max(self.end[p], self.end[i])
        for c in self.children:
            c.reverse()
        self._attributes = {}
        self.name = [self._name(i) for i in range(n)]
        # Innermost enclosing (or own) document and layer, None outside any.
        self.document = [None] * n
        self.layer = [None] * n
        for i in range(n):
            if not self.element[i]:
                continue
            p = self.element_parent(i)
            if p is None:
                self.document[i] = None if self.tag[i] == ODX else i
            elif self.document[p] is None and self.element_parent(p) is None:
                self.document[i] = i  # a child of a top-level ODX
            else:
                self.document[i] = self.document[p]
            self.layer[i] = i if self.tag[i] in LAYER_TAGS else (
                None if p is None else self.layer[p])
        self.documents_by_name, self.layers_by_name = {}, {}
        self.ids, self.by_tag_and_name = {}, {}
        for i in range(n):
            if not self.element[i]:
                continue
            if self.name[i] is not None:
                key = (self.tag[i], self.name[i])
                self.by_tag_and_name.setdefault(key, []).append(i)
                if self.document[i] == i:
                    self.documents_by_name.setdefault(self.name[i], []).append(i)
                if self.layer[i] == i:
                    self.layers_by_name.setdefault(self.name[i], []).append(i)
            v = self.attribute(i, "ID")
            if v is not None:
                self.ids.setdefault(tuple(v), []).append(i)
        self.references = self._find_references()
        self.by_index = {r.index: r for r in self.references}
        for r in self.references:
            if r.by == "id":
                self._resolve_id(r)
        for r in self.references:
            if r.by == "name":
                self._resolve_name(r)

    # -- reading elements --------------------------------------------------

    def element_parent(self, i):
        p = self.nodes[i].parent
        return p if p is not None and self.element[p] else None

    def attribute(self, i, name):
        """The raw value of element i's first attribute `name` (units), or None."""
        if not self.element[i]:
            return None
        attrs = self._attributes.get(i)
        if attrs is None:
            attrs = {}
            for k, v in read_attributes(self.nodes[i].attrs):
                attrs.setdefault(tuple(k), v)
            self._attributes[i] = attrs
        return attrs.get(u(name))

    def _name(self, i):
        """The value of the first child element when that is a SHORT-NAME
        leaf with a value; what is not an element before it is passed over."""
        if not self.element[i] or self.nodes[i].kind != "open":
            return None
        for c in self.children[i]:
            if self.element[c]:
                node = self.nodes[c]
                if node.kind == "leaf" and node.element == SHORT_NAME and node.value:
                    return tuple(node.value)
                return None
        return None

    def child_elements(self, i, tag):
        return [c for c in self.children[i] if self.tag[c] == u(tag)]

    def inside(self, indices, place):
        """The indices (sorted) that lie in the subtree of `place`."""
        lo = bisect.bisect_left(indices, place)
        hi = bisect.bisect_left(indices, self.end[place])
        return indices[lo:hi]

    # -- references --------------------------------------------------------

    def _find_references(self):
        out = []
        for i in range(len(self.nodes)):
            if not self.element[i]:
                continue
            v = self.attribute(i, "ID-REF")
            if v is not None:
                out.append(Reference(i, "id", v, self.attribute(i, "DOCREF")))
                continue
            tag = self.tag[i]
            if tag[-len(SNREF):] == SNREF:
                v = self.attribute(i, "SHORT-NAME")
                if v:
                    out.append(Reference(i, "name", v))
        return out

    def _decide(self, r, candidates, what):
        r.target = candidates[0]
        if len(candidates) > 1:
            r.ambiguous = True
            r.reason = units_of("%d candidates %s " % (len(candidates), what)) + list(r.ref)
        return True

    def _resolve_id(self, r):
        ids = self.ids.get(tuple(r.ref), [])
        if r.docref is None:
            for place in (self.layer[r.index], self.document[r.index]):
                if place is not None and self.inside(ids, place):
                    return self._decide(r, self.inside(ids, place), "with ID")
            r.reason = units_of("no ID ") + list(r.ref) + units_of(" in this document")
            return False
        d = tuple(r.docref)
        doctype = self.attribute(r.index, "DOCTYPE")
        if doctype is not None and tuple(doctype) == u("LAYER"):
            places = self.layers_by_name.get(d, [])
        else:
            places = self.documents_by_name.get(d) or self.layers_by_name.get(d, [])
        if not places:
            r.reason = list(r.docref) + units_of(" is not loaded")
            return False
        candidates = sorted({c for p in places for c in self.inside(ids, p)})
        if candidates:
            return self._decide(r, candidates, "with ID")
        r.reason = units_of("no ID ") + list(r.ref) + units_of(" in ") + list(r.docref)
        return False

    def named(self, tags, name, place=None):
        """Elements with one of `tags` and `name`, in the subtree of `place`
        (everywhere when None), in document order."""
        found = []
        for t in tags:
            indices = self.by_tag_and_name.get((t, name), [])
            found += indices if place is None else self.inside(indices, place)
        return sorted(found)

    def target_of(self, i):
        """Where the reference at element i leads, or None."""
        r = self.by_index.get(i)
        return None if r is None else r.target

    def parent_layers(self, layer):
        """The layers the layer's PARENT-REFs lead to, in order."""
        out = []
        for refs in self.child_elements(layer, "PARENT-REFS"):
            for ref in self.child_elements(refs, "PARENT-REF"):
                t = self.target_of(ref)
                if t is not None and self.layer[t] == t:
                    out.append(t)
        return out

    def _messages(self, reference, base):
        """For IN/OUT-PARAM-IF: the messages of the enclosing DIAG-SERVICE
        searched before the general rule, in order."""
        service = self.element_parent(reference)
        while service is not None and self.tag[service] != u("DIAG-SERVICE"):
            service = self.element_parent(service)
        if service is None:
            return []
        if base == IN_PARAM_IF:
            groups = [("REQUEST-REF", None)]
        else:
            groups = [("POS-RESPONSE-REF", "POS-RESPONSE-REFS"),
                      ("NEG-RESPONSE-REF", "NEG-RESPONSE-REFS")]
        out = []
        for tag, holder in groups:
            holders = [service] if holder is None else self.child_elements(service, holder)
            for h in holders:
                refs = self.child_elements(h, tag)
                for ref in refs[:1] if holder is None else refs:
                    t = self.target_of(ref)
                    if t is not None:
                        out.append(t)
        return out

    def _resolve_name(self, r):
        i, name = r.index, tuple(r.ref)
        base = self.tag[i][: -len(SNREF)]
        tags = SNREF_TARGETS.get(base, (base,))
        what = "named"
        if base in (IN_PARAM_IF, OUT_PARAM_IF):
            for message in self._messages(i, base):
                found = self.named(tags, name, message)
                if found:
                    return self._decide(r, found, what)
        searched = set()

        def search_parents(layer):
            for parent in self.parent_layers(layer):
                if parent in searched:
                    continue
                searched.add(parent)
                found = self.named(tags, name, parent) or search_parents(parent)
                if found:
                    return found
            return []

        a = self.element_parent(i)
        while a is not None:
            found = self.named(tags, name, a)
            if not found and self.layer[a] == a and a not in searched:
                searched.add(a)
                found = search_parents(a)
            if found:
                return self._decide(r, found, what)
            a = self.element_parent(a)
        found = self.named(tags, name)
        if found:
            return self._decide(r, found, what)
        r.reason = units_of("no ") + list(base) + units_of(" named ") + list(r.ref)
        return False

    # -- problems ----------------------------------------------------------

    def duplicate_ids(self):
        """(index, kind, reason) per ID found more than once in one scope (an
        element's innermost layer, else its document), at its first element."""
        out = []
        for v, indices in self.ids.items():
            scopes = {}
            for i in indices:
                scope = self.layer[i] if self.layer[i] is not None else self.document[i]
                if scope is not None:
                    scopes.setdefault(scope, []).append(i)
            for members in scopes.values():
                if len(members) > 1:
                    out.append((members[0], "duplicate-id",
                                units_of("%d elements with ID " % len(members)) + list(v)))
        return out

    def problems(self, more=()):
        """Every problem, grouped by kind, then by index, then by reason."""
        rows = []
        for r in self.references:
            if r.target is None:
                rows.append((r.index, "unresolved", r.reason))
            elif r.ambiguous:
                rows.append((r.index, "ambiguous", r.reason))
        rows += self.duplicate_ids()
        rows += list(more)
        return sorted(rows, key=lambda p: (PROBLEM_KINDS.index(p[1]), p[0], p[2]))


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


def text_label(units):
    """A label as odx-outline's text mode writes it: control characters and
    lone surrogates escaped, a backslash doubled."""
    out = []
    i = 0
    while i < len(units):
        u_ = units[i]
        if 0xD800 <= u_ <= 0xDBFF and i + 1 < len(units) and 0xDC00 <= units[i + 1] <= 0xDFFF:
            out.append(chr(0x10000 + ((u_ - 0xD800) << 10) + (units[i + 1] - 0xDC00)))
            i += 2
            continue
        i += 1
        if u_ in (0x0A, 0x0D, 0x09):
            out.append({0x0A: "\\n", 0x0D: "\\r", 0x09: "\\t"}[u_])
        elif u_ < 0x20 or u_ == 0x7F:
            out.append("\\x%02x" % u_)
        elif 0xD800 <= u_ <= 0xDFFF:
            out.append("\\u%04x" % u_)
        elif u_ == 0x5C:
            out.append("\\\\")
        else:
            out.append(chr(u_))
    return "".join(out)


def outline_jsonl(data, with_names=False):
    """The lines of `odx-outline --json [--names]` for one file's bytes."""
    return "".join(outline_lines(nodes_of_file(data), True, with_names))


def outline_lines(nodes, as_json, with_names):
    name = Database(nodes).name if with_names else [None] * len(nodes)
    lines = []
    for node, n in zip(nodes, name):
        if as_json:
            extra = ',"name":%s' % json_label(n) if n else ""
            lines.append('{"depth":%d,"image":%d,"label":%s%s}\n'
                         % (node.depth, node.image, json_label(node.label), extra))
        else:
            extra = " [%s]" % text_label(n) if n else ""
            lines.append("  " * (node.depth - 1) + text_label(node.label) + extra + "\n")
    return lines


def reference_lines(db, as_json, only_unresolved=False):
    lines = []
    for r in db.references:
        if only_unresolved and r.target is not None:
            continue
        target = "null" if r.target is None else str(r.target)
        if not as_json:
            lines.append("%d -> %s\n" % (r.index, "unresolved" if r.target is None else target))
        elif r.by == "id":
            docref = "null" if r.docref is None else json_label(r.docref)
            lines.append('{"index":%d,"ref":%s,"docref":%s,"target":%s,"by":"id",'
                         '"ambiguous":%s}\n' % (r.index, json_label(r.ref), docref, target,
                                                "true" if r.ambiguous else "false"))
        else:
            lines.append('{"index":%d,"ref":%s,"target":%s,"by":"name","ambiguous":%s}\n'
                         % (r.index, json_label(r.ref), target,
                            "true" if r.ambiguous else "false"))
    return lines


def problem_lines(problems, as_json):
    if as_json:
        return ['{"index":%d,"kind":"%s","reason":%s}\n' % (i, kind, json_label(reason))
                for i, kind, reason in problems]
    return ["%d %s: %s\n" % (i, kind, text_label(reason)) for i, kind, reason in problems]


def references_jsonl(data, only_unresolved=False):
    """The lines of `odx-outline --json --refs` (or `--unresolved`) for one
    file's bytes."""
    return "".join(reference_lines(Database(nodes_of_file(data)), True, only_unresolved))


# ---------------------------------------------------------------------------
# The command line, as odx-outline's.

USAGE = ("usage: odx-outline [--json] [--names] [--refs | --unresolved | --problems"
         " | --services | --bytes HEX | --diff OLD NEW [--ignore TAG]...] [--count]"
         " FILE... | DIR\n")
MODES = ("--refs", "--unresolved", "--problems", "--services", "--bytes", "--diff")


class Usage(Exception):
    pass


def parse(argv):
    """(options, paths) or Usage."""
    options = {"--json": False, "--names": False, "--count": False, "mode": None,
               "hex": None, "ignore": []}
    paths = []
    i = 0
    while i < len(argv):
        a = argv[i]
        if a in ("--json", "--names", "--count"):
            options[a] = True
        elif a in MODES:
            if options["mode"] not in (None, a):
                raise Usage()
            options["mode"] = a
            if a == "--bytes":
                if i + 1 >= len(argv):
                    raise Usage()
                i += 1
                options["hex"] = argv[i]
        elif a == "--ignore":
            if i + 1 >= len(argv):
                raise Usage()
            i += 1
            options["ignore"].append(argv[i])
        elif a.startswith("--"):
            raise Usage()
        else:
            paths.append(a)
        i += 1
    diff = options["mode"] == "--diff"
    if not paths or (diff and len(paths) != 2) or (options["ignore"] and not diff):
        raise Usage()
    return options, paths


class CannotOpen(Exception):
    pass


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        raise CannotOpen("%s: %s" % (path, e.strerror or e))


FOLDER_FILE = re.compile(rb"\.(odx|odx-[a-z]+|xml|pdx)\Z", re.IGNORECASE)


def is_package(data):
    return data[:4] in (b"PK\x03\x04", b"PK\x05\x06")


def graft(nodes, sub, parent):
    """Appends the nodes `sub` (pre-order, their top ones without a parent)
    below nodes[parent]."""
    base = len(nodes)
    for node in sub:
        node.parent = parent if node.parent is None else node.parent + base
        nodes.append(node)


def folder_files(folder):
    """(name, path) of the folder's ODX files and packages, by the bytes of
    their names; sub-folders and what a symlink leads to unless it is a
    regular file are left out."""
    d = os.fsencode(folder)
    try:
        listed = os.listdir(d)
    except OSError as e:
        raise CannotOpen("%s: %s" % (folder, e.strerror or e))
    out = []
    for name in listed:
        if not FOLDER_FILE.search(name):
            continue
        path = os.path.join(d, name)
        try:
            if not stat.S_ISREG(os.stat(path).st_mode):
                continue
        except OSError:
            continue
        out.append((name, path))
    return sorted(out)


def add_file(nodes, name, path):
    """A file of a folder or of several FILEs: a container labelled with its
    name holding its document's outline (a package's members one level
    further down), or a leaf "NAME (unreadable)"."""
    label = decode_text(name, "utf-8")
    try:
        data = read_file(path)
        sub = package_nodes(data, 1) if is_package(data) else build(data, 1)
    except Exception:  # unreadable, vanished, or a package refused whole
        nodes.append(Node(1, 0, label + units_of(" (unreadable)"), None, "file"))
        return
    here = len(nodes)
    nodes.append(Node(1, 2, label, None, "file"))
    graft(nodes, sub, here)


def load(paths):
    """The outline of the command line's FILE, FILEs or DIR, and whether it
    was one empty file."""
    if len(paths) == 1 and not os.path.isdir(paths[0]):
        data = read_file(paths[0])
        if is_package(data):
            try:
                return package_nodes(data), False
            except Exception:
                raise CannotOpen("%s: It could not be read." % paths[0])
        return build(data), not data
    if len(paths) == 1:
        files = folder_files(paths[0])
    else:
        files = sorted(((os.path.basename(os.fsencode(p)), p) for p in paths),
                       key=lambda f: f[0])
    nodes = []
    for name, path in files:
        add_file(nodes, name, path)
    return nodes, False


def run(argv):
    """odx-outline's answer to `argv`: (exit code, stdout, stderr) as bytes."""
    try:
        options, paths = parse(argv)
    except Usage:
        return 2, b"", USAGE.encode()
    as_json, count, mode = options["--json"], options["--count"], options["mode"]
    if mode == "--bytes":
        import reference_services
        if reference_services.read_bytes(options["hex"]) is None:
            return 2, b"", USAGE.encode()
    try:
        if mode == "--diff":
            import reference_compare
            return reference_compare.run(options, paths)
        nodes, empty = load(paths)
    except CannotOpen as e:
        return 1, b"", ("Could not open file.\nodx-outline: %s\n" % e).encode()
    err = ("odx-outline: %s: the file is empty\n" % paths[0]).encode() if empty else b""
    code = 0
    if mode is None:
        lines = outline_lines(nodes, as_json, options["--names"])
    elif mode in ("--refs", "--unresolved"):
        db = Database(nodes)
        lines = reference_lines(db, as_json, mode == "--unresolved")
        if mode == "--unresolved" and lines:
            code = 3
    elif mode == "--problems":
        db = Database(nodes)
        lines = problem_lines(db.problems(extra_problems(db)), as_json)
        if any(r.target is None for r in db.references):
            code = 3
    else:
        import reference_services
        lines = reference_services.lines(Database(nodes), mode, options["hex"])
    out = "%d\n" % len(lines) if count else "".join(lines)
    return code, out.encode("utf-8"), err


def extra_problems(db):
    """Problems of rules that live in other modules (inheritance)."""
    try:
        import reference_services
    except ImportError:
        return []
    return reference_services.inheritance_conflicts(db)


def main():
    code, out, err = run(sys.argv[1:])
    sys.stdout.buffer.write(out)
    sys.stderr.buffer.write(err)
    sys.exit(code)


if __name__ == "__main__":
    sys.modules.setdefault("reference_outline", sys.modules[__name__])  # one copy for the helpers
    main()
