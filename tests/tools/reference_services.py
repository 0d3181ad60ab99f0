#!/usr/bin/env python3
"""The services of an ODX database, written independently from their rules
on top of reference_outline's links: the coded prefix of every message, the
services found by their request bytes (`--bytes HEX`), the services each
layer really has once inheritance is counted (`--services`) and the
inheritance conflicts listed among the problems.

Usage: reference_services.py [--services | --bytes HEX] [--count] FILE... | DIR
       (the same as reference_outline.py with those flags)

Where the rules leave a choice open, this implementation decides so:
- Texts of CODED-VALUE, BIT-LENGTH, BYTE-POSITION and BIT-POSITION may be
  surrounded by XML white space.  Decimals are ASCII digits (A_INT32 with an
  optional `-`), a byte field an even number (at least two) of hex digits.
  A malformed BYTE-POSITION or BIT-POSITION ends the prefix, and so does a
  BIT-POSITION above 7.
- A value fits its BIT-LENGTH n when A_UINT32: 0 <= v < 2^n; A_INT32:
  -2^(n-1) <= v < 2^(n-1); a byte field when its bytes hold at most n bits
  (so `0012` does not fit 8 bits, and `12` in 16 bits is `00 12`).
- The cursor is the end of the prefix so far: after a parameter it is the
  larger of itself and the parameter's end, so a parameter written over
  earlier bytes does not pull it back.
- A message's parameters are the PARAM children of all its PARAMS children.
  A DIAG-SERVICE's request is the target of its first REQUEST-REF child
  when that is a REQUEST; else its prefix is "".
- Own services are the DIAG-SERVICE and SINGLE-ECU-JOB children of the
  layer's DIAG-COMMS and the targets of the DIAG-COMM-REF children there;
  of two own services of one name the first there counts.  Services without
  a name are listed (service null) but never inherited over or excluded.
- "Each layer once" holds along one line of inheritance: a layer reached
  again through another parent (a diamond) gives its services again, which
  is no clash, while a cycle stops where it closes.
- A clash is listed only between the winning definition and each other
  definition of the winning priority; `--bytes` and `--services` print
  JSON Lines with or without --json; `--bytes` with text that does not read
  as bytes is a bad argument (exit 2).
"""
import re
import sys

import reference_outline as ro
from reference_outline import u

MESSAGES = {u(t) for t in ("REQUEST", "POS-RESPONSE", "NEG-RESPONSE", "GLOBAL-NEG-RESPONSE")}
PRIORITY = {u("PROTOCOL"): 1, u("FUNCTIONAL-GROUP"): 2, u("BASE-VARIANT"): 3,
            u("ECU-VARIANT"): 4, u("ECU-SHARED-DATA"): 100}
SERVICE_TAGS = (u("DIAG-SERVICE"), u("SINGLE-ECU-JOB"))
BYTES = re.compile(r"(?:0[xX])?((?:[0-9A-Fa-f]{2} *)+)")


def text(units):
    return "".join(map(chr, units)) if units is not None else None


def child(db, i, tag):
    found = db.child_elements(i, tag)
    return found[0] if found else None


def child_value(db, i, tag):
    """The value of element i's first `tag` child with XML white space
    stripped, "" when it is empty, None when there is none."""
    c = child(db, i, tag)
    return None if c is None else text(db.nodes[c].value).strip(" \t\r\n")


def decimal(s, signed=False):
    return int(s) if s is not None and re.fullmatch(r"-?[0-9]+" if signed else r"[0-9]+", s,
                                                    re.ASCII) else None


def parameter_bytes(db, param):
    """(byte position or None for the cursor, bytes) of a coded constant, or
    None when the parameter ends the prefix."""
    if text(db.attribute(param, "xsi:type")) != "CODED-CONST":
        return None
    value, coded = child_value(db, param, "CODED-VALUE"), child(db, param, "DIAG-CODED-TYPE")
    if value is None or coded is None \
            or text(db.attribute(coded, "xsi:type")) != "STANDARD-LENGTH-TYPE":
        return None
    length = decimal(child_value(db, coded, "BIT-LENGTH"))
    if length is None or not 1 <= length <= 64:
        return None
    kind = text(db.attribute(coded, "BASE-DATA-TYPE"))
    if kind == "A_UINT32":
        v = decimal(value)
        if v is None or v >= 1 << length:
            return None
    elif kind == "A_INT32":
        v = decimal(value, signed=True)
        if v is None or not -(1 << (length - 1)) <= v < 1 << (length - 1):
            return None
        v &= (1 << length) - 1
    elif kind == "A_BYTEFIELD":
        if not re.fullmatch(r"(?:[0-9A-Fa-f]{2})+", value):
            return None
        v = int(value, 16)
        if 4 * len(value) > length:
            return None
    else:
        return None
    bit = child_value(db, param, "BIT-POSITION")
    bit = 0 if bit is None else decimal(bit)
    if bit is None or bit > 7:
        return None
    at = child_value(db, param, "BYTE-POSITION")
    if at is not None:
        at = decimal(at)
        if at is None:
            return None
    order = "little" if kind != "A_BYTEFIELD" and \
        text(db.attribute(coded, "IS-HIGHLOW-BYTE-ORDER")) == "false" else "big"
    return at, (v << bit).to_bytes((bit + length + 7) // 8, order)


def message_prefix(db, message):
    """The bytes the message's leading coded constants fix."""
    out = bytearray()
    cursor = 0
    for params in db.child_elements(message, "PARAMS"):
        for param in db.child_elements(params, "PARAM"):
            found = parameter_bytes(db, param)
            if found is None:
                return bytes(out)
            at, data = found
            at = cursor if at is None else at
            if at > cursor:
                return bytes(out)
            end = at + len(data)
            out.extend(bytes(max(0, end - len(out))))
            for k, b in enumerate(data):
                out[at + k] |= b
            cursor = max(cursor, end)
    return bytes(out)


def service_prefix(db, service):
    ref = child(db, service, "REQUEST-REF")
    target = None if ref is None else db.target_of(ref)
    return b"" if target is None or db.tag[target] != u("REQUEST") else message_prefix(db, target)


def hex_pairs(data):
    return " ".join("%02X" % b for b in data)


def read_bytes(s):
    """The bytes a search text reads as, or None."""
    m = BYTES.fullmatch(s.strip(" "))
    return None if m is None else bytes.fromhex(m.group(1).replace(" ", ""))


# -- the services a layer really has ---------------------------------------

class Services:
    """Effective services per layer; conflicts at the layer that inherits."""

    def __init__(self, db):
        self.db = db
        self.memo = {}  # layers whose services no cycle cut short
        self.conflicts = []
        self.of = {layer: self.effective(layer, frozenset(), layer)[0]
                   for layer in self.layers()}

    def layers(self):
        return [i for i in range(len(self.db.nodes)) if self.db.layer[i] == i]

    def own(self, layer):
        db = self.db
        out = {}
        for comms in db.child_elements(layer, "DIAG-COMMS"):
            for c in db.children[comms]:
                if db.tag[c] in SERVICE_TAGS:
                    service = c
                elif db.tag[c] == u("DIAG-COMM-REF"):
                    service = db.target_of(c)
                else:
                    continue
                if service is not None:
                    out.setdefault(self.key(service), service)
        return out

    def key(self, service):
        name = self.db.name[service]
        return name if name is not None else ("unnamed", service)

    def effective(self, layer, path, top):
        """({key: defining element}, whether a cycle was cut below); `path`
        holds the layers being computed above this one; clashes are noted
        only for the layer `top`."""
        if layer in self.memo and layer != top:
            return self.memo[layer], False
        db = self.db
        path = path | {layer}
        cut = False
        own = self.own(layer)
        offers = {}  # key -> [(priority, order, element)]
        for order, ref in enumerate(self.parent_refs(layer)):
            parent = db.target_of(ref)
            if parent is None or db.layer[parent] != parent:
                continue
            if parent in path:
                cut = True
                continue
            excluded = self.not_inherited(ref)
            services, below = self.effective(parent, path, top)
            cut = cut or below
            for k, service in services.items():
                if k not in excluded:
                    offers.setdefault(k, []).append((PRIORITY[db.tag[parent]], order, service))
        out = dict(own)
        for k, offered in offers.items():
            best = max(p for p, _, _ in offered)
            winners = [(o, s) for p, o, s in offered if p == best]
            winner = min(winners)[1]
            if k not in own:
                out[k] = winner
                if layer == top:
                    for other in sorted({s for _, s in winners} - {winner}):
                        self.conflicts.append((layer, winner, other))
        if not cut:
            self.memo[layer] = out
        return out, cut

    def parent_refs(self, layer):
        db = self.db
        return [r for refs in db.child_elements(layer, "PARENT-REFS")
                for r in db.child_elements(refs, "PARENT-REF")]

    def not_inherited(self, ref):
        db = self.db
        out = set()
        for group in db.child_elements(ref, "NOT-INHERITED-DIAG-COMMS"):
            for item in db.child_elements(group, "NOT-INHERITED-DIAG-COMM"):
                for snref in db.child_elements(item, "DIAG-COMM-SNREF"):
                    name = db.attribute(snref, "SHORT-NAME")
                    if name is not None:
                        out.add(tuple(name))
        return out


def inheritance_conflicts(db):
    """(index, "inheritance-conflict", reason) rows for the problems list."""
    out = []
    for layer, winner, other in Services(db).conflicts:
        reason = list(db.name[winner]) + ro.units_of(" is inherited from ") \
            + list(db.name[db.layer[winner]] or ()) + ro.units_of(" and from ") \
            + list(db.name[db.layer[other]] or ())
        out.append((layer, "inheritance-conflict", reason))
    return out


def json_text(units):
    return "null" if units is None else ro.json_label(units)


def prefix_of(db, element):
    return hex_pairs(service_prefix(db, element)) if db.tag[element] == u("DIAG-SERVICE") else ""


def service_lines(db):
    services = Services(db)
    lines = []
    for layer in services.layers():
        for element in sorted(services.of[layer].values()):
            lines.append('{"layer":%s,"service":%s,"prefix":"%s","from":%s,"index":%d}\n'
                         % (json_text(db.name[layer]), json_text(db.name[element]),
                            prefix_of(db, element), json_text(db.name[db.layer[element]]
                                                              if db.layer[element] is not None
                                                              else None), element))
    return lines


def bytes_lines(db, wanted):
    lines = []
    for i in range(len(db.nodes)):
        if db.tag[i] != u("DIAG-SERVICE"):
            continue
        prefix = service_prefix(db, i)
        if prefix.startswith(wanted):
            layer = db.layer[i]
            lines.append('{"index":%d,"service":%s,"prefix":"%s","layer":%s}\n'
                         % (i, json_text(db.name[i]), hex_pairs(prefix),
                            json_text(None if layer is None else db.name[layer])))
    return lines


def lines(db, mode, hex_text):
    if mode == "--services":
        return service_lines(db)
    return bytes_lines(db, read_bytes(hex_text))


if __name__ == "__main__":
    ro.main()
