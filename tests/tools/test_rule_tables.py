#!/usr/bin/env python3
"""Snippets of the ODX link, service and comparison rules with answers
worked out by hand from the rules, not by running either implementation.
They check the Python reference; given odx-outline too, the same table
checks it.

Usage: test_rule_tables.py [ODX_OUTLINE]
"""
import io
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference_outline  # noqa: E402

TOOL = None


def doc(body):
    return ("<ODX><DIAG-LAYER-CONTAINER><SHORT-NAME>D</SHORT-NAME>%s"
            "</DIAG-LAYER-CONTAINER></ODX>" % body).encode()


def service(name, extra=""):
    return "<DIAG-SERVICE><SHORT-NAME>%s</SHORT-NAME>%s</DIAG-SERVICE>" % (name, extra)


def coded(value, bits, kind="A_UINT32", byte=None, bit=None, highlow="", xsi="CODED-CONST"):
    at = "" if byte is None else "<BYTE-POSITION>%d</BYTE-POSITION>" % byte
    at += "" if bit is None else "<BIT-POSITION>%d</BIT-POSITION>" % bit
    order = ' IS-HIGHLOW-BYTE-ORDER="%s"' % highlow if highlow else ""
    return ('<PARAM xsi:type="%s"><SHORT-NAME>p</SHORT-NAME>%s<CODED-VALUE>%s</CODED-VALUE>'
            '<DIAG-CODED-TYPE BASE-DATA-TYPE="%s"%s xsi:type="STANDARD-LENGTH-TYPE">'
            '<BIT-LENGTH>%d</BIT-LENGTH></DIAG-CODED-TYPE></PARAM>'
            % (xsi, at, value, kind, order, bits))


def package(members):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as zf:
        for name, data in members:
            zf.writestr(name, data)
    return buf.getvalue()


LAYERS = doc(
    '<ECU-VARIANT><SHORT-NAME>V1</SHORT-NAME><S ID="s"/><R ID-REF="s"/></ECU-VARIANT>'
    '<ECU-VARIANT><SHORT-NAME>V2</SHORT-NAME><S ID="s"/><R ID-REF="s"/><R ID-REF="t"/>'
    '<R ID-REF="u"/></ECU-VARIANT><T ID="t"/>')
DOCREFS = {
    "a.odx": b'<ODX><COMPARAM-SUBSET><SHORT-NAME>CS</SHORT-NAME><P ID="p"/></COMPARAM-SUBSET></ODX>',
    "b.odx": doc('<PROTOCOL><SHORT-NAME>CS</SHORT-NAME><P ID="p"/></PROTOCOL>'
                 '<PROTOCOL><SHORT-NAME>PL</SHORT-NAME><P ID="p"/></PROTOCOL>'
                 '<R ID-REF="p" DOCREF="CS"/><R ID-REF="p" DOCREF="CS" DOCTYPE="LAYER"/>'
                 '<R ID-REF="p" DOCREF="X"/><R ID-REF="q" DOCREF="CS"/>'
                 '<R ID-REF="p" DOCREF="D"/><R ID-REF="p" DOCREF="PL"/>')}
NAMES = doc(
    '<PROTOCOL ID="pr"><SHORT-NAME>PR</SHORT-NAME><DIAG-COMMS>%s</DIAG-COMMS></PROTOCOL>'
    '<FUNCTIONAL-GROUP ID="fg"><SHORT-NAME>FG</SHORT-NAME><PARENT-REFS>'
    '<PARENT-REF ID-REF="g2"/></PARENT-REFS></FUNCTIONAL-GROUP>'
    '<ECU-SHARED-DATA ID="g2"><SHORT-NAME>G2</SHORT-NAME><PARENT-REFS>'
    '<PARENT-REF ID-REF="bv"/></PARENT-REFS><SINGLE-ECU-JOB><SHORT-NAME>ping</SHORT-NAME>'
    '</SINGLE-ECU-JOB></ECU-SHARED-DATA>'
    '<BASE-VARIANT ID="bv"><SHORT-NAME>BV</SHORT-NAME><PARENT-REFS><PARENT-REF ID-REF="fg"/>'
    '<PARENT-REF ID-REF="pr"/><PARENT-REF ID-REF="bv"/></PARENT-REFS>'
    '<X><DIAG-COMM-SNREF SHORT-NAME="ping"/><STATE-SNREF SHORT-NAME="ping"/>'
    '<TARGET-SNREF SHORT-NAME="st"/><DOP-SNREF SHORT-NAME="d" ID-REF="zz"/>'
    '<PARAM-SNREF SHORT-NAME=""/><DOP-SNREF SHORT-NAME="nope"/></X>'
    '<STATE><SHORT-NAME>st</SHORT-NAME></STATE></BASE-VARIANT>'
    '<STATE><SHORT-NAME>st</SHORT-NAME></STATE><STATE><SHORT-NAME>ping</SHORT-NAME></STATE>'
    '<STATE><SHORT-NAME>ping</SHORT-NAME></STATE>' % service("ping"))
PARAM_IF = doc(
    '<BASE-VARIANT><SHORT-NAME>B</SHORT-NAME><DIAG-COMMS>%s</DIAG-COMMS>'
    '<PARAM><SHORT-NAME>a</SHORT-NAME></PARAM>'
    '<REQUEST ID="rq"><PARAMS><PARAM><SHORT-NAME>a</SHORT-NAME></PARAM></PARAMS></REQUEST>'
    '<POS-RESPONSE ID="p1"><PARAMS><PARAM><SHORT-NAME>b</SHORT-NAME></PARAM></PARAMS>'
    '</POS-RESPONSE><POS-RESPONSE ID="p2"><PARAMS><PARAM><SHORT-NAME>a</SHORT-NAME></PARAM>'
    '</PARAMS></POS-RESPONSE><NEG-RESPONSE ID="nr"><PARAMS><PARAM><SHORT-NAME>n</SHORT-NAME>'
    '</PARAM></PARAMS></NEG-RESPONSE></BASE-VARIANT>'
    % service("s", '<C><IN-PARAM-IF-SNREF SHORT-NAME="a"/><OUT-PARAM-IF-SNREF SHORT-NAME="a"/>'
                   '<OUT-PARAM-IF-SNREF SHORT-NAME="n"/></C><REQUEST-REF ID-REF="rq"/>'
                   '<POS-RESPONSE-REFS><POS-RESPONSE-REF ID-REF="p1"/><POS-RESPONSE-REF '
                   'ID-REF="p2"/></POS-RESPONSE-REFS><NEG-RESPONSE-REFS><NEG-RESPONSE-REF '
                   'ID-REF="nr"/></NEG-RESPONSE-REFS>'))
PREFIXES = doc(
    '<BASE-VARIANT><SHORT-NAME>B</SHORT-NAME><DIAG-COMMS>%s</DIAG-COMMS><REQUESTS>%s'
    '</REQUESTS></BASE-VARIANT>'
    % ("".join(service(n, '<REQUEST-REF ID-REF="%s"/>' % r) for n, r in
               (("vin", "r1"), ("neg", "r2"), ("bf", "r3"), ("big", "r4"), ("val", "r5"))),
       "".join('<REQUEST ID="%s"><PARAMS>%s</PARAMS></REQUEST>' % r for r in (
           ("r1", coded(34, 8, byte=0) + coded(61840, 16)),
           ("r2", coded(-2, 8, "A_INT32") + coded(4660, 16, highlow="false")),
           ("r3", coded("0A0B", 16, "A_BYTEFIELD", highlow="false") + coded(3, 4, byte=2, bit=4)
            + coded(5, 4, byte=2, bit=0) + coded(1, 8, byte=5)),
           ("r4", coded(256, 8)),
           ("r5", coded(1, 8) + coded(9, 8, xsi="VALUE") + coded(2, 8))))))
INHERITANCE = doc(
    '<PROTOCOL ID="P"><SHORT-NAME>P</SHORT-NAME><DIAG-COMMS>%s%s</DIAG-COMMS></PROTOCOL>'
    '<FUNCTIONAL-GROUP ID="F"><SHORT-NAME>F</SHORT-NAME><DIAG-COMMS>%s%s</DIAG-COMMS>'
    '<PARENT-REFS><PARENT-REF ID-REF="P"/></PARENT-REFS></FUNCTIONAL-GROUP>'
    '<BASE-VARIANT ID="B1"><SHORT-NAME>B1</SHORT-NAME><DIAG-COMMS>%s%s'
    '<DIAG-COMM-REF ID-REF="shared"/></DIAG-COMMS><PARENT-REFS><PARENT-REF ID-REF="F">'
    '<NOT-INHERITED-DIAG-COMMS><NOT-INHERITED-DIAG-COMM><DIAG-COMM-SNREF SHORT-NAME="z"/>'
    '</NOT-INHERITED-DIAG-COMM></NOT-INHERITED-DIAG-COMMS></PARENT-REF>'
    '<PARENT-REF ID-REF="P"/></PARENT-REFS></BASE-VARIANT>'
    '<BASE-VARIANT ID="B2"><SHORT-NAME>B2</SHORT-NAME><DIAG-COMMS>%s'
    '<DIAG-COMM-REF ID-REF="shared"/></DIAG-COMMS></BASE-VARIANT>'
    '<ECU-SHARED-DATA ID="S"><SHORT-NAME>S</SHORT-NAME><DIAG-COMMS><DIAG-SERVICE ID="shared">'
    '<SHORT-NAME>sh</SHORT-NAME></DIAG-SERVICE></DIAG-COMMS></ECU-SHARED-DATA>'
    '<ECU-VARIANT ID="E"><SHORT-NAME>E</SHORT-NAME><PARENT-REFS><PARENT-REF ID-REF="B1"/>'
    '<PARENT-REF ID-REF="B2"/><PARENT-REF ID-REF="E"/></PARENT-REFS></ECU-VARIANT>'
    % tuple(service(n) for n in "xyyzxww"))
OLD = (b'<ODX><C><SHORT-NAME>c</SHORT-NAME><T><V>1</V><V>2</V><V>3</V><V>4</V></T>'
       b'<L ID="a1"><SHORT-NAME>l1</SHORT-NAME><X>1</X><Y>2</Y><R ID-REF="a2"/></L>'
       b'<L ID="a2"><SHORT-NAME>l2</SHORT-NAME><Z/></L><?pi x?><DESC><p>old</p></DESC></C></ODX>')
NEW = (b'<ODX><C><SHORT-NAME>c</SHORT-NAME><DESC><p>new</p></DESC><?pi y?><T><V>4</V><V>1</V>'
       b'<V>3</V></T><L ID="b2"><SHORT-NAME>l2</SHORT-NAME><Z/></L><L ID="b1" K="1">'
       b'<SHORT-NAME>m1</SHORT-NAME><X>1</X><Y>3</Y><R ID-REF="b2"/></L><N/></C></ODX>')


def rows(layer, services):
    return "".join('{"layer":"%s","service":"%s","prefix":"%s","from":"%s","index":%d}\n'
                   % (layer, s, p, f, i) for s, p, f, i in services)


# (what, files, arguments, standard output, exit code); a file whose content
# is None is a folder, a str a symlink to that path.
CASES = [
    ("names skip processing instructions, comments and <!...>",
     {"n.odx": b"<ODX><DIAG-LAYER-CONTAINER><?gen yes?><!-- c --><!DOCTYPE x>"
               b"<SHORT-NAME>D</SHORT-NAME></DIAG-LAYER-CONTAINER><P><SHORT-NAME></SHORT-NAME>"
               b"</P></ODX>"},
     ["--names", "n.odx"],
     "ODX\n  DIAG-LAYER-CONTAINER [D]\n    ?gen **** yes?\n    !DOCTYPE **** x\n"
     "    SHORT-NAME = D\n  P\n    SHORT-NAME\n", 0),
    ("an ID-REF looks in its layer, then in its document",
     {"l.odx": LAYERS}, ["--refs", "l.odx"],
     "6 -> 5\n10 -> 9\n11 -> 13\n12 -> unresolved\n", 0),
    ("the reason of an unresolved ID-REF", {"l.odx": LAYERS}, ["--problems", "l.odx"],
     "12 unresolved: no ID u in this document\n", 3),
    ("DOCREF: documents first, DOCTYPE LAYER for layers, not loaded, no such ID, ambiguous",
     DOCREFS, ["--refs", "--json", "."],
     '{"index":15,"ref":"p","docref":"CS","target":4,"by":"id","ambiguous":false}\n'
     '{"index":16,"ref":"p","docref":"CS","target":11,"by":"id","ambiguous":false}\n'
     '{"index":17,"ref":"p","docref":"X","target":null,"by":"id","ambiguous":false}\n'
     '{"index":18,"ref":"q","docref":"CS","target":null,"by":"id","ambiguous":false}\n'
     '{"index":19,"ref":"p","docref":"D","target":11,"by":"id","ambiguous":true}\n'
     '{"index":20,"ref":"p","docref":"PL","target":14,"by":"id","ambiguous":false}\n', 0),
    ("problems of DOCREFs, grouped by kind", DOCREFS, ["--problems", "."],
     "17 unresolved: X is not loaded\n18 unresolved: no ID q in CS\n"
     "19 ambiguous: 2 candidates with ID p\n", 3),
    ("short names: the table, parents depth first and once, the nearest scope, ID-REF wins",
     {"s.odx": NAMES}, ["--refs", "s.odx"],
     "11 -> 12\n15 -> 18\n21 -> 8\n22 -> 3\n23 -> 18\n25 -> 16\n26 -> 35\n27 -> 31\n"
     "28 -> unresolved\n30 -> unresolved\n", 0),
    ("short-name problems", {"s.odx": NAMES}, ["--problems", "--json", "s.odx"],
     '{"index":28,"kind":"unresolved","reason":"no ID zz in this document"}\n'
     '{"index":30,"kind":"unresolved","reason":"no DOP named nope"}\n'
     '{"index":26,"kind":"ambiguous","reason":"2 candidates named ping"}\n', 3),
    ("IN-PARAM-IF in the request, OUT-PARAM-IF in the responses in order",
     {"p.odx": PARAM_IF}, ["--refs", "p.odx"],
     "9 -> 22\n10 -> 30\n11 -> 34\n12 -> 20\n14 -> 24\n15 -> 28\n17 -> 32\n", 0),
    ("duplicate IDs by layer, else document",
     {"d.odx": b'<ODX><A><SHORT-NAME>A</SHORT-NAME><X ID="d"/><ECU-VARIANT><X ID="d"/>'
               b'</ECU-VARIANT><X ID="d"/><X ID="d"/></A></ODX>'},
     ["--problems", "d.odx"], "3 duplicate-id: 3 elements with ID d\n", 0),
    ("a folder: which files, in byte order, packages a level down, unreadable, empty",
     {"b.ODX-D": b"<B/>", "a.xml": b"<A/>", "c.txt": b"<C/>", "d.odx-": b"<D/>",
      "e.odx-1": b"<E/>", "empty.odx": b"", "y.pdx": b"PK\x03\x04junk",
      "Z.pdx": package([("m.odx", b"<M/>"), ("n.bin", b"abc")]),
      "sub.odx": None, "link.odx": "a.xml", "gone.odx": "missing.xml"},
     ["."], "Z.pdx\n  m.odx\n    M\n  n.bin (3 bytes)\na.xml\n  A\nb.ODX-D\n  B\n"
     "empty.odx\nlink.odx\n  A\ny.pdx (unreadable)\n", 0),
    ("several files are sorted like a folder's", {"b.odx": b"<B/>", "a.odx": b"<A/>"},
     ["--json", "b.odx", "a.odx"],
     '{"depth":1,"image":2,"label":"a.odx"}\n{"depth":2,"image":0,"label":"A"}\n'
     '{"depth":1,"image":2,"label":"b.odx"}\n{"depth":2,"image":0,"label":"B"}\n', 0),
    ("services by request bytes", {"r.odx": PREFIXES}, ["--bytes", "22F1", "r.odx"],
     '{"index":6,"service":"vin","prefix":"22 F1 90","layer":"B"}\n', 0),
    ("coded prefixes: UINT, INT, byte order, byte field, bit positions, and where they end",
     {"r.odx": PREFIXES}, ["--services", "r.odx"],
     rows("B", [("vin", "22 F1 90", "B", 6), ("neg", "FE 34 12", "B", 9),
                ("bf", "0A 0B 35", "B", 12), ("big", "", "B", 15), ("val", "01", "B", 18)]), 0),
    ("inheritance: priorities, NOT-INHERITED, own services, shared ones, cycles",
     {"i.odx": INHERITANCE}, ["--services", "i.odx"],
     rows("P", [("x", "", "P", 6), ("y", "", "P", 8)])
     + rows("F", [("x", "", "P", 6), ("y", "", "F", 13), ("z", "", "F", 15)])
     + rows("B1", [("y", "", "F", 13), ("x", "", "B1", 22), ("w", "", "B1", 24),
                   ("sh", "", "S", 42)])
     + rows("B2", [("w", "", "B2", 36), ("sh", "", "S", 42)])
     + rows("S", [("sh", "", "S", 42)])
     + rows("E", [("y", "", "F", 13), ("x", "", "B1", 22), ("w", "", "B1", 24),
                  ("sh", "", "S", 42)]), 0),
    ("an inheritance conflict", {"i.odx": INHERITANCE}, ["--problems", "i.odx"],
     "44 inheritance-conflict: w is inherited from B1 and from B2\n", 0, "--services"),
    ("diff: order, equal rows, IDs, references to a pair, renames, additions",
     {"o.odx": OLD, "n.odx": NEW}, ["--diff", "o.odx", "n.odx"],
     "~ ODX/C[c]/DESC/#text: <p>old</p></DESC> -> <p>new</p></DESC>\n"
     "~ ODX/C[c]/?pi: ?pi **** x? -> ?pi **** y?\n- ODX/C[c]/T/V\n= ODX/C[c]/L[m1]: was l1\n"
     '~ ODX/C[c]/L[m1]: L **** ID="a1" -> L **** ID="b1" K="1"\n'
     "~ ODX/C[c]/L[m1]/Y: Y = 2 -> Y = 3\n+ ODX/C[c]/N\n", 4),
    ("diff --ignore, --count", {"o.odx": OLD, "n.odx": NEW},
     ["--diff", "--ignore", "DESC", "--ignore", "T", "--count", "o.odx", "n.odx"],
     "added 1\nremoved 0\nchanged 3\nrenamed 1\n", 4),
    ("diff --json: outline indices, raw labels", {"o.odx": OLD, "n.odx": NEW},
     ["--diff", "--json", "--ignore", "T", "--ignore", "L", "--ignore", "DESC", "o.odx", "n.odx"],
     '{"change":"changed","old":16,"new":5,"path":"ODX/C[c]/?pi","old_label":"?pi **** x?",'
     '"new_label":"?pi **** y?"}\n{"change":"added","old":null,"new":18,"path":"ODX/C[c]/N",'
     '"old_label":null,"new_label":"N"}\n', 4),
    ("diff: the same file", {"o.odx": OLD}, ["--diff", "o.odx", "o.odx"], "", 0),
    ("diff: equal rows pair by fingerprint, the one removed from the middle is the change",
     {"o.odx": b"<ODX><T><SHORT-NAME>t</SHORT-NAME><V>1</V><V>2</V><V>1</V><V>3</V></T></ODX>",
      "n.odx": b"<ODX><T><SHORT-NAME>t</SHORT-NAME><V>1</V><V>3</V><V>1</V></T></ODX>"},
     ["--diff", "o.odx", "n.odx"], "- ODX/T[t]/V\n", 4),
    ("diff: a leaf that became a container and back, with the children added and removed",
     {"o.odx": b"<ODX><A><SHORT-NAME>a</SHORT-NAME><B>x</B><C><D/></C></A></ODX>",
      "n.odx": b"<ODX><A><SHORT-NAME>a</SHORT-NAME><B><E/></B><C/></A></ODX>"},
     ["--diff", "o.odx", "n.odx"],
     "~ ODX/A[a]/B: B = x -> B\n+ ODX/A[a]/B/E\n~ ODX/A[a]/C: C -> C\n- ODX/A[a]/C/D\n", 4),
    ("diff: a reference to a renamed element is no change, one to another element is",
     {"o.odx": b'<ODX><L><SHORT-NAME>l</SHORT-NAME><S ID="s1"><SHORT-NAME>x</SHORT-NAME><P/></S>'
               b'<S ID="s2"><SHORT-NAME>y</SHORT-NAME><P/></S><R ID-REF="s1"/><Q ID-REF="s2"/>'
               b'<U ID-REF="zz"/></L></ODX>',
      "n.odx": b'<ODX><L><SHORT-NAME>l</SHORT-NAME><S ID="t1"><SHORT-NAME>x2</SHORT-NAME><P/></S>'
               b'<S ID="t2"><SHORT-NAME>y</SHORT-NAME><P/></S><R ID-REF="t1"/><Q ID-REF="t1"/>'
               b'<U ID-REF="zz"/></L></ODX>'},
     ["--diff", "o.odx", "n.odx"],
     '= ODX/L[l]/S[x2]: was x\n~ ODX/L[l]/Q: Q **** ID-REF="s2" -> Q **** ID-REF="t1"\n', 4),
    ("diff: members pair by their documents' names; a single file stands for a member",
     {"o.pdx": package([("ecu-1.odx-d", doc("<A>1</A>"))]),
      "n.pdx": package([("ecu-2.odx-d", doc("<A>1</A>"))]),
      "s.odx": doc("<A>2</A>")},
     ["--diff", "o.pdx", "n.pdx"], "~ ecu-2.odx-d: ecu-1.odx-d -> ecu-2.odx-d\n", 4),
    ("diff: a single file against a package", {"n.pdx": package([("ecu-2.odx-d", doc("<A>1</A>"))]),
                                               "s.odx": doc("<A>2</A>")},
     ["--diff", "s.odx", "n.pdx"], "~ ecu-2.odx-d/ODX/DIAG-LAYER-CONTAINER[D]/A: A = 2 -> A = 1\n", 4),
]


MODES = ("--refs", "--unresolved", "--problems", "--services", "--bytes", "--diff")


def needs(case):
    """The mode a case needs of the program: its sixth field, else the mode
    flag among its arguments."""
    if len(case) > 5:
        return case[5]
    return next((a for a in case[2] if a in MODES), None)


class RuleTables(unittest.TestCase):
    def check(self, answer, knows=lambda mode: True):
        for case in CASES:
            what, files, args, out, code = case[:5]
            if not knows(needs(case)):
                continue
            with tempfile.TemporaryDirectory() as d:
                for name, content in files.items():
                    path = os.path.join(d, name)
                    if content is None:
                        os.mkdir(path)
                    elif isinstance(content, str):
                        os.symlink(content, path)
                    else:
                        with open(path, "wb") as f:
                            f.write(content)
                self.assertEqual(answer(args, d), (code, out), what)

    def test_reference(self):
        def answer(args, d):
            here = os.getcwd()
            os.chdir(d)
            try:
                code, out, _ = reference_outline.run(args)
            finally:
                os.chdir(here)
            return code, out.decode("utf-8")
        self.check(answer)

    def test_odx_outline(self):
        if not TOOL:
            self.skipTest("no odx-outline given")
        # Cases of a mode the program does not offer yet (its usage line
        # tells) wait for it.
        usage = subprocess.run([TOOL], capture_output=True).stderr.decode()

        def answer(args, d):
            got = subprocess.run([TOOL, *args], cwd=d, capture_output=True, timeout=60)
            return got.returncode, got.stdout.decode("utf-8")
        self.check(answer, lambda mode: mode is None or mode in usage)


if __name__ == "__main__":
    if len(sys.argv) > 1:
        TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(argv=[sys.argv[0], "-v"])
