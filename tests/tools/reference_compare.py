#!/usr/bin/env python3
"""What changed between two versions of an ODX database, written
independently from the comparison's rules on top of reference_outline's
outline and links: the two outlines are matched top-down by keys,
fingerprints, member and document names and renames, and the changes are
printed as `odx-outline --diff OLD NEW` prints them.

Usage: reference_compare.py --diff [--json] [--count] [--ignore TAG]... OLD NEW
       (the same as reference_outline.py with those flags)

Where the rules leave a choice open, this implementation decides so:
- A single document file is a database of one member that has no node of
  its own: it pairs with a member of the other side by its file name (its
  key), never differs by its label, and writes no path segment; only when
  it is itself added, removed or renamed is its file name its path (index
  and label null).
- `--ignore` drops the subtrees before anything is read, so names, links
  and fingerprints all come from what is left.  A node's tag is its label
  up to the first space, for processing instructions and `<!…>` too.
- A processing instruction's key and path segment are `?` and its target;
  a target written against `?>` loses that `?`.
- A member holds a document when one of its own top-level elements is (or
  its `ODX` holds) a document, and the first such is its document: its name
  pairs leftover members (each OLD one in order takes the first leftover NEW
  one of that name), its tag and the keys of its children judge a rename.
  A member holding no document may be renamed only to another holding none.
- Every child tagged SHORT-NAME is left out of the rename judgement; two
  sides without any other child keys qualify (0 >= 0).
- Below a renamed pair, the naming SHORT-NAME leaves differ only when their
  labels differ apart from the value.  A renamed element also gets a
  `~` line when its own label differs; a renamed member only the `=` line.
  A renamed element that had no name is "was " and nothing.
- The `=` line of a node comes before its `~` line.
- Labels and paths in text lines are escaped as the outline's text mode
  escapes labels.
"""
import hashlib
import os
import sys

import reference_outline as ro

ROOT, VIRTUAL = -1, -2
STARS = [0x20, 0x2A, 0x2A, 0x2A, 0x2A, 0x20]
SHORT_NAME = tuple(ro.SHORT_NAME)


def tag_of(node):
    label = node.label
    return tuple(label[: label.index(0x20)] if 0x20 in label else label)


class Side:
    """One version: its outline with the ignored subtrees left out, read as
    an ODX database, with keys, paths and fingerprints per node."""

    def __init__(self, nodes, file_name, ignore):
        self.file_name = file_name  # a single document file: its name, else None
        kept, new_index = [], {}
        for i, node in enumerate(nodes):
            p = node.parent
            if p is not None and p not in new_index:
                continue  # inside an ignored subtree
            if node.kind in ("open", "leaf", "pi") and tag_of(node) in ignore:
                continue
            new_index[i] = len(kept)
            kept.append(ro.Node(node.depth, node.image, node.label,
                                None if p is None else new_index[p], node.kind,
                                node.element, node.value, node.attrs))
        self.original = [i for i in new_index]  # kept index -> outline index
        self.db = db = ro.Database(kept)
        self.nodes = kept
        self.tops = [i for i, node in enumerate(kept) if node.parent is None]
        self.holder = {}  # member node (or VIRTUAL) -> its document element
        for i in range(len(kept)):
            if db.document[i] == i:
                owner = self.member_of(i)
                self.holder.setdefault(owner, i)
        self.refs = {r.index: r for r in db.references if r.by == "id"}
        self.fp = {}
        for i in range(len(kept) - 1, -1, -1):
            self.fp[i] = self.fingerprint(i)

    def children(self, i):
        if i == ROOT:
            return [VIRTUAL] if self.file_name is not None else self.tops
        if i == VIRTUAL:
            return self.tops
        return self.db.children[i]

    def is_member(self, i):
        return i == VIRTUAL or (i >= 0 and self.nodes[i].kind in ("member", "file"))

    def member_of(self, i):
        while i is not None and not self.is_member(i):
            i = self.nodes[i].parent
        return VIRTUAL if i is None else i

    def key(self, i):
        if i == VIRTUAL:
            return ("member", tuple(ro.units_of(self.file_name)))
        node = self.nodes[i]
        if self.is_member(i):
            return ("member", tuple(node.label))
        if node.kind == "text":
            return ("text",)
        tag = tag_of(node)
        if tag[:1] == (0x3F,):
            if 0x20 not in node.label and len(tag) > 1 and tag[-1] == 0x3F:
                tag = tag[:-1]
            return ("pi", tag)
        return ("element", tag, self.db.name[i])

    def segment(self, i):
        k = self.key(i)
        if k[0] == "member":
            return list(k[1])
        if k[0] == "text":
            return ro.units_of("#text")
        if k[0] == "pi":
            return list(k[1])
        return list(k[1]) + (ro.units_of("[") + list(k[2]) + ro.units_of("]") if k[2] else [])

    def path(self, i):
        if i == VIRTUAL:
            return ro.units_of(self.file_name)
        parts = []
        while i is not None:
            parts.append(self.segment(i))
            i = self.nodes[i].parent
        out = []
        for part in reversed(parts):
            out += (ro.units_of("/") if out else []) + part
        return out

    def key_path(self, i):
        """The keys from the top of the target's member, for fingerprints."""
        keys = []
        while i is not None and not self.is_member(i):
            keys.append(self.key(i))
            i = self.nodes[i].parent
        return repr(keys[::-1])

    def label(self, i, blank_ref=False, ref_as_path=False):
        """The label with the ID value left out and the ID-REF value left out
        or written as its target's key path."""
        node = self.nodes[i]
        label = list(node.label)
        if not node.attrs or not self.db.element[i]:
            return label
        at = len(label) - len(node.attrs)
        edits = []
        seen = set()
        for name, start, end in attribute_spans(node.attrs):
            if name in seen:
                continue
            seen.add(name)
            if name == tuple(ro.u("ID")):
                edits.append((start, end, []))
            elif name == tuple(ro.u("ID-REF")) and i in self.refs:
                target = self.refs[i].target
                if ref_as_path and target is not None:
                    edits.append((start, end, ro.units_of(self.key_path(target))))
                elif blank_ref:
                    edits.append((start, end, []))
        for start, end, text in sorted(edits, reverse=True):
            label[at + start: at + end] = text
        return label

    def fingerprint(self, i):
        h = hashlib.sha1()
        h.update(repr((self.nodes[i].image, self.label(i, ref_as_path=True))).encode())
        for c in sorted(self.fp[c] for c in self.db.children[i]):
            h.update(c)
        return h.digest()

    def rename_keys(self, i):
        """(document tag or None, distinct child keys without SHORT-NAME)."""
        base, doc_tag = i, None
        if self.is_member(i) and i in self.holder:
            base = self.holder[i]
            doc_tag = self.db.tag[base]
        kids = self.children(base) if base in (ROOT, VIRTUAL) else self.db.children[base]
        return doc_tag, {self.key(c) for c in kids
                         if not (self.db.element[c] and self.db.tag[c] == SHORT_NAME)}

    def document_name(self, i):
        d = self.holder.get(i)
        return None if d is None else self.db.name[d]


def attribute_spans(t):
    """(name, value start, value end) per attribute, read as
    reference_outline.read_attributes reads them."""
    out = []
    i, n = 0, len(t)
    spaces = ro.SPACES
    while True:
        while i < n and t[i] in spaces:
            i += 1
        if i == n:
            return out
        start = i
        while i < n and t[i] != 0x3D and t[i] not in spaces:
            i += 1
        name = tuple(t[start:i])
        while i < n and t[i] in spaces:
            i += 1
        if i == n or t[i] != 0x3D:
            return out
        i += 1
        while i < n and t[i] in spaces:
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
        out.append((name, start, i))
        i += 1


class Comparison:
    def __init__(self, old, new):
        self.old, self.new = old, new
        self.pair = {ROOT: ROOT}     # old -> new
        self.back = {ROOT: ROOT}     # new -> old
        self.renamed = set()         # old nodes paired by the rename rule
        self.match(ROOT, ROOT)

    def link(self, o, n, renamed=False):
        self.pair[o], self.back[n] = n, o
        if renamed:
            self.renamed.add(o)

    def match(self, o, n):
        old, new = self.old, self.new
        olds, news = old.children(o), new.children(n)
        if o == ROOT and old.file_name is not None and new.file_name is not None:
            self.link(VIRTUAL, VIRTUAL)
        else:
            self.pair_by_keys(olds, news)
            left_old = [c for c in olds if c not in self.pair]
            left_new = [c for c in news if c not in self.back]
            for c in left_old:
                name = old.document_name(c) if old.is_member(c) else None
                if name is None:
                    continue
                for d in left_new:
                    if d not in self.back and new.is_member(d) and new.document_name(d) == name:
                        self.link(c, d)
                        break
            self.pair_renames(olds, news)
        for c in olds:
            if c in self.pair:
                self.match(c, self.pair[c])

    def pair_by_keys(self, olds, news):
        old, new = self.old, self.new
        groups = {}
        for c in news:
            groups.setdefault(new.key(c), []).append(c)
        by_key = {}
        for c in olds:
            by_key.setdefault(old.key(c), []).append(c)
        for k, os_ in by_key.items():
            ns = groups.get(k, [])
            if not ns:
                continue
            taken = set()
            left = []
            for c in os_:
                fp = old.fp.get(c)
                for d in ns:
                    if d not in taken and fp is not None and new.fp.get(d) == fp:
                        taken.add(d)
                        self.link(c, d)
                        break
                else:
                    left.append(c)
            for c, d in zip(left, [d for d in ns if d not in taken]):
                self.link(c, d)

    def rename_tag(self, side, c):
        k = side.key(c)
        return ("member",) if k[0] == "member" else k[:2]

    def pair_renames(self, olds, news):
        old, new = self.old, self.new
        for c in olds:
            if c in self.pair:
                continue
            tag = self.rename_tag(old, c)
            if tag[0] != "element" and tag[0] != "member":
                continue
            doc_o, keys_o = old.rename_keys(c)
            for d in news:
                if d in self.back or self.rename_tag(new, d) != tag:
                    continue
                doc_n, keys_n = new.rename_keys(d)
                if doc_o != doc_n:
                    continue
                if 2 * len(keys_o & keys_n) >= max(len(keys_o), len(keys_n)):
                    self.link(c, d, renamed=True)
                    break

    # -- differences -----------------------------------------------------

    def differs(self, o, n, parent_renamed):
        old, new = self.old, self.new
        if o == VIRTUAL or n == VIRTUAL:
            return False
        no, nn = old.nodes[o], new.nodes[n]
        if no.image != nn.image:
            return True
        if old.is_member(o) or new.is_member(n):
            return no.label != nn.label and o not in self.renamed
        if parent_renamed and self.is_naming(old, o) and self.is_naming(new, n):
            return without_value(no) != without_value(nn)
        ro_, rn = old.refs.get(o), new.refs.get(n)
        blank = False
        if ro_ is not None or rn is not None:
            to = None if ro_ is None else ro_.target
            tn = None if rn is None else rn.target
            if to is not None or tn is not None:
                if to is None or tn is None or self.pair.get(to) != tn:
                    return True
                blank = True
        return old.label(o, blank_ref=blank) != new.label(n, blank_ref=blank)

    def is_naming(self, side, i):
        p = side.nodes[i].parent
        if p is None or side.db.name[p] is None:
            return False
        first = [c for c in side.db.children[p] if side.db.element[c]]
        return bool(first) and first[0] == i

    def changes(self):
        """(change, old, new) in the order they are printed."""
        out = []
        self.walk(ROOT, ROOT, False, out)
        return out

    def walk(self, o, n, renamed, out):
        for d in self.new.children(n):
            c = self.back.get(d)
            if c is None:
                out.append(("added", None, d))
                continue
            here = c in self.renamed
            if here:
                out.append(("renamed", c, d))
            if self.differs(c, d, renamed):
                out.append(("changed", c, d))
            self.walk(c, d, here, out)
        for c in self.old.children(o):
            if c not in self.pair:
                out.append(("removed", c, None))


def without_value(node):
    return list(node.element) + (STARS + list(node.attrs) if node.attrs else [])


def side_of(path, ignore):
    nodes, _ = ro.load([path])
    single = not os.path.isdir(path) and not ro.is_package(ro.read_file(path)[:4])
    name = os.path.basename(path) if single else None
    return Side(nodes, name, ignore)


def run(options, paths):
    ignore = {tuple(ro.units_of(t)) for t in options["ignore"]}
    old, new = side_of(paths[0], ignore), side_of(paths[1], ignore)
    changes = Comparison(old, new).changes()
    lines = []
    counts = dict.fromkeys(("added", "removed", "changed", "renamed"), 0)
    for kind, o, n in changes:
        counts[kind] += 1
        side, i = (old, o) if kind == "removed" else (new, n)
        path = side.path(i)
        old_label = None if o is None or o < 0 else old.nodes[o].label
        new_label = None if n is None or n < 0 else new.nodes[n].label
        if options["--json"]:
            lines.append('{"change":"%s","old":%s,"new":%s,"path":%s,"old_label":%s,'
                         '"new_label":%s}\n'
                         % (kind, index(old, o), index(new, n), ro.json_label(path),
                            label_json(old_label), label_json(new_label)))
        elif kind == "added":
            lines.append("+ %s\n" % ro.text_label(path))
        elif kind == "removed":
            lines.append("- %s\n" % ro.text_label(path))
        elif kind == "changed":
            lines.append("~ %s: %s -> %s\n" % (ro.text_label(path), ro.text_label(old_label or []),
                                               ro.text_label(new_label or [])))
        else:
            lines.append("= %s: was %s\n" % (ro.text_label(path), ro.text_label(was(old, o))))
    if options["--count"]:
        text = "".join("%s %d\n" % kv for kv in counts.items())
    else:
        text = "".join(lines)
    return (4 if changes else 0), text.encode("utf-8"), b""


def was(side, o):
    if side.is_member(o):
        return side.path(o) if o == VIRTUAL else list(side.nodes[o].label)
    return list(side.db.name[o] or [])


def index(side, i):
    return "null" if i is None or i < 0 else str(side.original[i])


def label_json(label):
    return "null" if label is None else ro.json_label(label)


if __name__ == "__main__":
    ro.main()
