#!/usr/bin/env python3
"""Command-line tests of odx-outline: its outline of real files and of
mutated, truncated and hostile input must equal the independent reference
implementation exactly; exit codes, messages and the output formats.

Usage: test_odx_outline.py ODX_OUTLINE SOURCE_DIR
"""
import io
import json
import os
import random
import subprocess
import sys
import tempfile
import unittest
import warnings
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference_outline  # noqa: E402

TOOL = None
SOURCE = None
DECL = b'<?xml version="1.0"?>'


def run(*args, timeout=60):
    return subprocess.run([TOOL, *args], capture_output=True, timeout=timeout)


def reference_jsonl(data):
    lines = []
    for depth, image, label in reference_outline.outline_of_file(data):
        lines.append('{"depth":%d,"image":%d,"label":%s}\n'
                     % (depth, image, reference_outline.json_label(label)))
    return "".join(lines).encode("utf-8")


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, data, name="in.odx"):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def assert_same_as_reference(self, data, what, odx=False):
        path = self.write(data)
        got = run("--json", path)
        self.assertEqual(got.returncode, 0, what)
        self.assertEqual(got.stdout, reference_jsonl(data), what)
        if odx:
            self.assert_odx_same_as_reference(path, data, what)

    def assert_odx_same_as_reference(self, path, data, what):
        """--names and --refs against the reference's ODX rules."""
        got = run("--json", "--names", path)
        self.assertEqual(got.stdout.decode("utf-8"),
                         reference_outline.outline_jsonl(data, True), what)
        got = run("--json", "--refs", path)
        self.assertEqual(got.stdout.decode("utf-8"),
                         reference_outline.references_jsonl(data), what)

    def assert_services_same_as_reference(self, path, what, queries=("10", "22 F1")):
        """--services and --bytes against the reference's service rules."""
        for args in [["--services"]] + [["--bytes", q] for q in queries]:
            got = run(*args, path)
            code, out, _ = reference_outline.run(args + [path])
            self.assertEqual((got.returncode, got.stdout.decode("utf-8")),
                             (code, out.decode("utf-8")), "%s %s" % (what, args))


# The services of the somersault documents as read by hand from the files:
# per layer, "service prefix" pairs ("-" for none), from the base variant
# unless a "@layer" follows.
BASE = ("session_start 10_00, session_stop 10_01, tester_present 3E_00, "
        "set_operation_params BD, do_forward_flips BA, do_backward_flips BB, "
        "report_status 22_00, schroedinger -, compulsory_program -")
SOMERSAULT = {
    "somersault_base_variant": BASE,
    "somersault_lazy": "session_start 10_00, session_stop 10_01, tester_present 3E_00, "
                       "do_forward_flips BA, report_status 22_00, schroedinger -, "
                       "compulsory_program -",
    "somersault_assiduous": BASE + ", headstand 03@somersault_assiduous",
}
SOMERSAULT_MODIFIED = dict(
    SOMERSAULT,
    **{"somersault_young": "start_session 10_00, stop_session 10_01, tester_present 3E_00, "
                           "report_status 22_00, schroedinger -, compulsory_program -, "
                           "do_forward_flips BA@somersault_young, "
                           "flic_flac BE@somersault_young"})
for table in (SOMERSAULT_MODIFIED,):
    for layer in ("somersault_base_variant", "somersault_lazy", "somersault_assiduous"):
        table[layer] = table[layer].replace("session_start", "start_session").replace(
            "session_stop", "stop_session")


def service_table(table):
    rows = []
    for layer, services in table.items():
        for entry in services.split(", "):
            service, prefix = entry.split(" ")
            prefix, _, origin = prefix.partition("@")
            rows.append((layer, service, "" if prefix == "-" else prefix.replace("_", " "),
                         origin or "somersault_base_variant"))
    return rows


class RealFiles(Scratch):
    def corpus(self):
        d = os.path.join(SOURCE, "tests", "data", "corpus")
        files = [os.path.join(d, f) for f in sorted(os.listdir(d)) if f != "MANIFEST.tsv"]
        return files + [os.path.join(SOURCE, "samples", "engine-ecu.odx")]

    def test_corpus_outlines_equal_the_reviewed_snapshots(self):
        snapdir = os.path.join(SOURCE, "tests", "data", "snapshots")
        for path in self.corpus():
            with open(path, "rb") as f:
                data = f.read()
            with open(os.path.join(snapdir, os.path.basename(path) + ".jsonl"), "rb") as f:
                snapshot = f.read()
            got = run("--json", path)
            self.assertEqual(got.returncode, 0, path)
            self.assertEqual(got.stdout, snapshot, path)
            self.assertEqual(reference_jsonl(data), snapshot, path)

    def test_utf16_and_utf32_copies_give_the_same_outline(self):
        sample = os.path.join(SOURCE, "samples", "engine-ecu.odx")
        with open(sample, "rb") as f:
            text = f.read().decode("utf-8")
        expected = run("--json", sample).stdout
        for codec in ("utf-16", "utf-16-be", "utf-32", "utf-32-le"):
            got = run("--json", self.write(text.encode(codec)))
            self.assertEqual(got.stdout, expected, codec)
        # Without a mark and a declaration, the zero bytes around the first
        # '<' tell the width, whatever follows it.
        body = text[text.index("?>") + 2:].lstrip()
        for start in ("<!-- no mark -->", ""):
            bare = start + body
            expected = run("--json", self.write(bare.encode("utf-8"))).stdout
            for codec in ("utf-16-le", "utf-16-be", "utf-32-le", "utf-32-be"):
                data = bare.encode(codec)
                got = run("--json", self.write(data))
                self.assertEqual(got.stdout, expected, codec)
                self.assertEqual(reference_jsonl(data), expected, codec)

    def test_packages_match_the_reference(self):
        with open(os.path.join(SOURCE, "tests", "data", "packages",
                               "odxtools__somersault.pdx"), "rb") as f:
            real = f.read()
        with open(os.path.join(SOURCE, "tests", "data", "snapshots",
                               "odxtools__somersault.pdx.jsonl"), "rb") as f:
            self.assertEqual(reference_jsonl(real), f.read())
        self.assert_same_as_reference(real, "the corpus package")
        with open(os.path.join(SOURCE, "samples", "engine-ecu.odx"), "rb") as f:
            sample = f.read()
        buf = io.BytesIO()
        warnings.simplefilter("ignore")  # the duplicate name is on purpose
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as zf:
            zf.writestr("index.xml", sample[:400])
            zf.writestr("dir/", b"")
            zf.writestr("\u00e9cu \u2013 1.ODX-D", sample)
            zf.writestr("utf16.odx", sample.decode("utf-8").encode("utf-16"))
            zf.writestr(zipfile.ZipInfo("stored.xml"), sample[:300])
            zf.writestr("job.jar", b"\0" * 1000)
            zf.writestr("nested.pdx", real)
            zf.writestr("looks-like-a-zip.odx", real[:2000])
            zf.writestr("twice.odx", b"<A/>")
            zf.writestr("twice.odx", b"<B/>")
        self.assert_same_as_reference(buf.getvalue(), "a package of odd members")
        count = run("--count", self.write(buf.getvalue(), "p.pdx")).stdout
        self.assertEqual(int(count), len(reference_outline.outline_of_file(buf.getvalue())))
        got = run("--filter", "short-name", "--count", self.write(real, "s.pdx"))
        self.assertGreater(int(got.stdout), 20)
        # References cross the members of a package, and all by ID resolve;
        # the one short name left names a DOP the file does not have.
        self.assert_odx_same_as_reference(self.write(real, "s.pdx"), real, "package")
        refs = reference_outline.Database(reference_outline.nodes_of_file(real)).references
        self.assertGreater(len(refs), 150)
        self.assertEqual([(r.by, list(r.ref)) for r in refs if r.target is None],
                         [("name", list(reference_outline.u("schroedinger")))])

    def test_corpus_names_and_references_equal_the_reference(self):
        report = []
        for path in self.corpus():
            with open(path, "rb") as f:
                data = f.read()
            self.assert_odx_same_as_reference(path, data, path)
            refs = reference_outline.Database(reference_outline.build(data)).references
            resolved = sum(1 for r in refs if r.target is not None)
            report.append("%-50s %4d of %4d references resolve"
                          % (os.path.basename(path), resolved, len(refs)))
        sys.stderr.write("\n" + "\n".join(report) + "\n")

    def test_services_of_somersault_as_checked_by_hand(self):
        corpus = os.path.join(SOURCE, "tests", "data", "corpus")
        for name, table in (("odxtools__somersault__somersault.odx-d", SOMERSAULT),
                            ("odxtools__somersault_modified__somersault.odx-d",
                             SOMERSAULT_MODIFIED),
                            ("../packages/odxtools__somersault.pdx", SOMERSAULT)):
            got = [json.loads(l) for l in run("--services", os.path.join(corpus, name))
                   .stdout.decode().splitlines()]
            self.assertEqual(sorted((r["layer"], r["service"], r["prefix"], r["from"])
                                    for r in got), sorted(service_table(table)), name)
        found = run("--bytes", "0x1000",
                    os.path.join(corpus, "odxtools__somersault__somersault.odx-d"))
        self.assertEqual([json.loads(l)["service"] for l in found.stdout.splitlines()],
                         ["session_start"])

    def test_corpus_services_equal_the_reference(self):
        for path in self.corpus() + [os.path.join(SOURCE, "tests", "data", "packages",
                                                  "odxtools__somersault.pdx")]:
            self.assert_services_same_as_reference(path, path, ("10 01", "7F"))

    def test_folders_resolve_across_their_files_like_the_reference(self):
        folders = [os.path.join(SOURCE, "tests", "data", "corpus")]
        shared = os.path.join(SOURCE, "..", "shared", "corpus", "odx")
        if os.path.isdir(shared):
            folders.append(shared)
        for folder in folders:
            for flags in (["--json", "--refs"], ["--json", "--problems"], ["--names"]):
                got = run(*flags, folder)
                code, out, _ = reference_outline.run(flags + [folder])
                self.assertEqual((got.returncode, got.stdout), (code, out), (folder, flags))

    def test_generated_documents_match_the_reference(self):
        """The benchmarks' generator: every rule of the reference on its
        layers, and its references both resolve and dangle."""
        gen = os.path.join(SOURCE, "bench", "gen_odx.py")
        for seed in (1, 2):
            out = [subprocess.run([sys.executable, gen, "--size-mb", "0.06", "--seed", str(seed),
                                   "-o", "-"], capture_output=True, check=True).stdout
                   for _ in range(2)]
            self.assertEqual(out[0], out[1], "the same seed gives the same bytes")
            self.assertLess(abs(len(out[0]) - 60000), 6000)
            self.assert_same_as_reference(out[0], "seed %d" % seed, odx=True)
            refs = reference_outline.Database(reference_outline.build(out[0])).references
            dangling = sum(1 for r in refs if r.target is None)
            self.assertGreater(dangling, 0)
            self.assertGreater(len(refs), 4 * dangling)

    def test_every_json_line_parses_and_text_mode_matches(self):
        path = self.corpus()[-1]
        js = run("--json", path).stdout.decode("utf-8").splitlines()
        text = run(path).stdout.decode("utf-8").splitlines()
        self.assertEqual(len(js), len(text))
        count = run("--count", path).stdout.decode().strip()
        self.assertEqual(int(count), len(js))
        for j, t in zip(js, text):
            node = json.loads(j)
            self.assertEqual(t, "  " * (node["depth"] - 1) + node["label"]
                             .replace("\\", "\\\\").replace("\n", "\\n")
                             .replace("\r", "\\r").replace("\t", "\\t"))

    def test_prefixes_of_a_real_file_match_the_reference(self):
        with open(self.corpus()[-1], "rb") as f:
            data = f.read()
        for n in list(range(0, 64)) + list(range(64, len(data), 61)):
            self.assert_same_as_reference(data[:n], "prefix %d" % n)


class HostileInput(Scratch):
    PIECES = [b"<", b">", b"/", b"</", b"/>", b"<!--", b"-->", b"DESC", b"<DESC>",
              b"</DESC>", b"<DESC/>", b" ", b"a", b"=", b'"', b"&amp;", b"&lt",
              b"&#x0041;", b"&#xD800;", b"&#x0000;", b"&#x41;a;", b"\x00", b"\n",
              b"\t", b"\xc3\xa9", b"\xff", b"&", b"<A>", b"</A>", b"<B x=\"1\">",
              b"\xe2\x80", b"\x93", b"\xf0\x9f\x98\x80", b"\xed\xa0\x80", b"\x80",
              b"<?pi 36?>", b"<!DOCTYPE A>", b"&#x\xc3\xa4123;", b"?>"]
    HEADS = [DECL, b"", b"\xef\xbb\xbf", b"<?xml encoding='latin1'?>",
             b'<?xml version="1.0" encoding="windows-1252"?>', b"<?xml "]
    ODX_PIECES = [b"<SHORT-NAME>", b"</SHORT-NAME>", b"n", b" ID=\"a\"", b" ID='n'",
                  b" ID-REF=\"a\"", b"<R ID-REF=\"n\"", b" DOCREF=\"n\"", b" DOCREF=''",
                  b"'", b"\r", b" **** ", b" = ", b"&#x0100;"]

    def test_random_markup_matches_the_reference(self):
        rng = random.Random(20261207)
        for i in range(400):
            body = b"".join(rng.choice(self.PIECES) for _ in range(rng.randint(0, 40)))
            data = rng.choice(self.HEADS) + body
            if i % 10 == 9:  # the same bytes read as Latin-1, then as UTF-16
                data = data.decode("latin-1").encode(rng.choice(["utf-16", "utf-16-be"]))
            self.assert_same_as_reference(data, "case %d: %r" % (i, data))
        pieces = self.PIECES + self.ODX_PIECES * 2
        for i in range(300):
            body = b"".join(rng.choice(pieces) for _ in range(rng.randint(0, 60)))
            self.assert_same_as_reference(DECL + body, "odx case %d: %r" % (i, body), odx=True)

    def test_random_documents_resolve_like_the_reference(self):
        """Layers in documents with duplicate IDs, references with and
        without hints, names first or not."""
        rng = random.Random(7)

        def element(depth):
            tag = rng.choice([b"L", b"T", b"R"])
            attrs = b""
            if rng.random() < 0.5:
                attrs += b' ID="i%d"' % rng.randint(0, 4)
            if tag == b"R" or rng.random() < 0.2:
                attrs += b' ID-REF="i%d"' % rng.randint(0, 5)
                if rng.random() < 0.5:
                    attrs += b' DOCREF="n%d"' % rng.randint(0, 4)
            if depth > 3 or rng.random() < 0.3:
                return b"<%s%s/>" % (tag, attrs)
            name = b"<SHORT-NAME>n%d</SHORT-NAME>" % rng.randint(0, 4)
            parts = [element(depth + 1) for _ in range(rng.randint(0, 3))]
            parts.insert(0 if rng.random() < 0.8 else len(parts), name)
            return b"<%s%s>%s</%s>" % (tag, attrs, b"".join(parts), tag)

        for i in range(100):
            body = b"".join(element(0) for _ in range(rng.randint(1, 3)))
            self.assert_same_as_reference(DECL + body, "document %d" % i, odx=True)

    def test_random_services_match_the_reference(self):
        """Layers inheriting in lines, diamonds and cycles, excluded names,
        clashes, and parameters whose values, lengths and places fit or do
        not."""
        rng = random.Random(21)
        tags = ["PROTOCOL", "FUNCTIONAL-GROUP", "ECU-SHARED-DATA", "BASE-VARIANT",
                "ECU-VARIANT"]
        kinds = ["A_UINT32", "A_INT32", "A_BYTEFIELD", "A_FLOAT32"]

        def param():
            kind = rng.choice(kinds)
            bits = rng.choice([1, 4, 7, 8, 12, 16, 24, 64, 0, 65])
            value = rng.choice(["0", "1", "15", "255", "256", "-1", "-128", "65535",
                                "18446744073709551615", "x", "", "F1", "0a0b", "12 ",
                                "00F1", "abc"])
            if rng.random() < 0.6:  # most parameters fit
                kind, bits, value = "A_UINT32", 8, str(rng.choice([0, 16, 34, 62, 241]))
            extra = ""
            if rng.random() < 0.5:
                extra += "<BYTE-POSITION>%d</BYTE-POSITION>" % rng.choice([0, 1, 2, 5])
            if rng.random() < 0.3:
                extra += "<BIT-POSITION>%d</BIT-POSITION>" % rng.choice([0, 3, 4, 7, 8])
            order = rng.choice(["", ' IS-HIGHLOW-BYTE-ORDER="false"'])
            xsi = rng.choice(["CODED-CONST"] * 5 + ["VALUE"])
            return ('<PARAM xsi:type="%s">%s<CODED-VALUE>%s</CODED-VALUE><DIAG-CODED-TYPE '
                    'BASE-DATA-TYPE="%s"%s xsi:type="STANDARD-LENGTH-TYPE"><BIT-LENGTH>%d'
                    '</BIT-LENGTH></DIAG-CODED-TYPE></PARAM>' % (xsi, extra, value, kind,
                                                                 order, bits))

        for i in range(50):
            n = rng.randint(1, 6)
            body = []
            for k in range(n):
                services, requests = [], []
                for j in range(rng.randint(0, 3)):
                    rq = "rq%d_%d" % (k, j)
                    services.append('<DIAG-SERVICE ID="s%d_%d"><SHORT-NAME>%s</SHORT-NAME>'
                                    '<REQUEST-REF ID-REF="%s"/></DIAG-SERVICE>'
                                    % (k, j, rng.choice("abcd"), rq))
                    requests.append('<REQUEST ID="%s"><PARAMS>%s</PARAMS></REQUEST>'
                                    % (rq, "".join(param() for _ in range(rng.randint(0, 3)))))
                if rng.random() < 0.3:
                    services.append('<DIAG-COMM-REF ID-REF="s%d_0"/>' % rng.randrange(n))
                parents = "".join(
                    '<PARENT-REF ID-REF="L%d">%s</PARENT-REF>'
                    % (rng.randrange(n + 1), "" if rng.random() < 0.6 else
                       '<NOT-INHERITED-DIAG-COMMS><NOT-INHERITED-DIAG-COMM><DIAG-COMM-SNREF '
                       'SHORT-NAME="%s"/></NOT-INHERITED-DIAG-COMM></NOT-INHERITED-DIAG-COMMS>'
                       % rng.choice("abcd"))
                    for _ in range(rng.randint(0, 3)))
                tag = rng.choice(tags)
                body.append('<%s ID="L%d"><SHORT-NAME>L%d</SHORT-NAME><DIAG-COMMS>%s'
                            '</DIAG-COMMS><REQUESTS>%s</REQUESTS><PARENT-REFS>%s</PARENT-REFS>'
                            '</%s>' % (tag, k, k, "".join(services), "".join(requests),
                                       parents, tag))
            data = DECL + ("<ODX><DIAG-LAYER-CONTAINER>%s</DIAG-LAYER-CONTAINER></ODX>"
                           % "".join(body)).encode()
            self.assert_services_same_as_reference(self.write(data), "document %d" % i,
                                                   ("10", "3E 00"))

    def test_utf16_and_binary_input(self):
        text = '<?xml version="1.0"?><A><B>t</B></A>'
        for data in (text.encode("utf-16-le"), text.encode("utf-16-be"),
                     b"\xff\xfe" + text.encode("utf-16-le"),
                     text.encode("utf-32"), bytes(range(256)) * 4, b"", DECL):
            self.assert_same_as_reference(data, repr(data[:20]))

    def test_json_escapes_controls_and_lone_surrogates(self):
        path = self.write(DECL + b'<A>&#xD800;x&#x0001;"\\</A><B>&#xD83D;&#xDE00;</B>')
        lines = run("--json", path).stdout.decode("utf-8").splitlines()
        self.assertEqual(lines[0], '{"depth":1,"image":0,"label":"A = \\ud800x\\u0001\\"\\\\"}')
        self.assertEqual(json.loads(lines[1])["label"], "B = \U0001F600")
        text = run(path).stdout.decode("utf-8").splitlines()
        self.assertEqual(text[0], 'A = \\ud800x\\x01"\\\\')


class Interface(Scratch):
    def test_exit_codes_and_messages(self):
        missing = os.path.join(self.dir.name, "missing.odx")
        got = run(missing)
        self.assertEqual((got.returncode, got.stdout), (1, b""))
        self.assertEqual(got.stderr, b"Could not open file.\nodx-outline: %s: "
                         b"There is no such file.\n" % missing.encode())
        got = run(self.write(b""))
        self.assertEqual((got.returncode, got.stdout), (0, b""))
        self.assertIn(b"the file is empty", got.stderr)
        # A folder is one database of its ODX files.
        got = run(self.dir.name)
        self.assertEqual((got.returncode, got.stdout), (0, b"in.odx\n"))
        for bad in ([], ["--json"], ["--bogus", "f"], ["--filter"],
                    ["--problems", "--refs", "f"]):
            got = run(*bad)
            self.assertEqual(got.returncode, 2, bad)
            self.assertIn(b"usage: odx-outline", got.stderr)

    def test_references_names_and_their_exit_codes(self):
        path = self.write(DECL + b'<D><SHORT-NAME>d</SHORT-NAME><T ID="a"/>'
                          b'<R ID-REF="a"/><R ID-REF="b" DOCREF="d"/></D>')
        got = run("--refs", path)
        self.assertEqual((got.returncode, got.stdout), (0, b"3 -> 2\n4 -> unresolved\n"))
        got = run("--json", "--unresolved", path)
        self.assertEqual(got.returncode, 3)
        self.assertEqual(json.loads(got.stdout), {"index": 4, "ref": "b", "docref": "d",
                                                  "target": None, "by": "id",
                                                  "ambiguous": False})
        self.assertEqual(run("--refs", "--count", path).stdout, b"2\n")
        got = run("--unresolved", "--count", path)
        self.assertEqual((got.returncode, got.stdout), (3, b"1\n"))
        self.assertEqual(run("--names", path).stdout.decode().splitlines()[0], "D [d]")
        path = self.write(DECL + b'<D><T ID="a"/><R ID-REF="a"/></D>')
        self.assertEqual(run("--unresolved", path).returncode, 0)
        got = run("--unresolved", "--count", path)
        self.assertEqual((got.returncode, got.stdout), (0, b"0\n"))
        for bad in (["--refs", "--unresolved", path], ["--refs", "--filter", "x", path],
                    ["--filter", "x", "--unresolved", path]):
            got = run(*bad)
            self.assertEqual(got.returncode, 2, bad)
            self.assertIn(b"usage: odx-outline", got.stderr)

    def test_filter_lists_hits_in_outline_order(self):
        path = self.write(DECL + b"<ROOT><SHORT-NAME>Abc</SHORT-NAME><X>aBC</X>"
                          b"<Y>none</Y><DESC><p>ABC</p></DESC></ROOT>")
        got = run("--json", "--filter", "abc", path)
        hits = [json.loads(l) for l in got.stdout.decode().splitlines()]
        self.assertEqual([h["index"] for h in hits], [1, 2, 5])
        self.assertEqual(hits[0]["label"], "SHORT-NAME = Abc")
        self.assertEqual(run("--filter", "qxzj", "--count", path).stdout, b"0\n")
        self.assertEqual(run("--filter", "", path).stdout, b"")
        # A non-ASCII term arrives as UTF-8 and matches regardless of case.
        path = self.write(DECL + b"<A>&#x00C9;t&#x00C9;</A><B>x</B>")
        got = run("--filter", "\u00e9T\u00c9", path)
        self.assertEqual(got.stdout.decode("utf-8"), "A = \u00c9t\u00c9\n")


class Comparisons(Scratch):
    """odx-outline --diff against reference_compare.py: the corpus pair
    both ways and across a package, random document pairs with every kind
    of change, and hostile markup."""

    def assert_diff_same(self, old, new, what, flags_list=None):
        for flags in flags_list or (["--json"], [], ["--count"]):
            args = ["--diff", *flags, old, new]
            got = run(*args)
            code, out, _ = reference_outline.run(args)
            self.assertEqual((got.returncode, got.stdout), (code, out), (what, flags))

    def test_corpus_pair_both_ways_and_against_the_package(self):
        d = os.path.join(SOURCE, "tests", "data", "corpus")
        a = os.path.join(d, "odxtools__somersault__somersault.odx-d")
        b = os.path.join(d, "odxtools__somersault_modified__somersault.odx-d")
        pairs = [(a, b), (b, a), (a, a)]
        pdx = os.path.join(SOURCE, "tests", "data", "packages")
        pairs += [(os.path.join(pdx, f), b) for f in sorted(os.listdir(pdx))[:2]]
        pairs.append((d, os.path.join(SOURCE, "samples")))
        for i, (old, new) in enumerate(pairs):
            self.assert_diff_same(old, new, (old, new), None if i == 0 else [["--json"]])
        self.assert_diff_same(a, b, "ignoring", [["--ignore", "ADMIN-DATA",
                                                  "--ignore", "COMPANY-DATAS"]])
        self.assertEqual(run("--diff", a, a).returncode, 0)

    def test_random_pairs_match_the_reference(self):
        """Named and unnamed rows, IDs and references; the second version
        renames, changes, removes, adds, reorders and renumbers IDs."""
        rng = random.Random(11)

        def element(depth):
            tag = rng.choice(["L", "L", "V", "R", "DESC", "?pi"])
            if tag == "?pi":
                return ["?pi", rng.choice(["", " a", " b"]), ""]
            attrs = ""
            if rng.random() < 0.5:
                attrs += ' ID="i%d"' % rng.randint(0, 6)
            if tag == "R":
                attrs += ' ID-REF="i%d"' % rng.randint(0, 7)
            if tag == "DESC":
                # Without IDs: a reference into an ignored subtree reads as
                # its text here, while the reference resolves again without it.
                return [tag, "", "<p>%d</p>" % rng.randint(0, 2)]
            if depth > 2 or rng.random() < 0.3:
                return [tag, attrs, str(rng.randint(0, 2)) if rng.random() < 0.5 else ""]
            kids = [element(depth + 1) for _ in range(rng.randint(0, 4))]
            if tag == "L" and rng.random() < 0.8:
                kids.insert(0, ["SHORT-NAME", "", "n%d" % rng.randint(0, 5)])
            return [tag, attrs, kids]

        def text(e):
            tag, attrs, body = e
            if tag == "?pi":
                return "<?pi%s?>" % attrs
            if isinstance(body, list):
                body = "".join(text(k) for k in body)
            return "<%s%s>%s</%s>" % (tag, attrs, body, tag) if body else "<%s%s/>" % (tag, attrs)

        def mutate(e):
            tag, attrs, body = e
            attrs = attrs.replace('ID="i', 'ID="j').replace('ID-REF="i', 'ID-REF="j') \
                if rng.random() < 0.1 else attrs
            if not isinstance(body, list):
                return [tag, attrs, body + "x" if rng.random() < 0.1 else body]
            kids = [mutate(k) for k in body if rng.random() > 0.1]
            if rng.random() < 0.2:
                kids.append(element(2))
            if rng.random() < 0.2 and len(kids) > 2:
                i = rng.randrange(1, len(kids) - 1)
                kids[i], kids[i + 1] = kids[i + 1], kids[i]
            if kids and kids[0][0] == "SHORT-NAME" and rng.random() < 0.15:
                kids[0] = ["SHORT-NAME", "", kids[0][2] + "r"]
            return [tag, attrs, kids]

        for i in range(50):
            old = ["ODX", "", [["C", "", [["SHORT-NAME", "", "c"]]
                                + [element(0) for _ in range(rng.randint(1, 5))]]]]
            new = mutate(old)
            a = self.write((DECL + text(old).encode()), "a.odx")
            b = self.write((DECL + text(new).encode()), "b.odx")
            flags = [["--ignore", "DESC"]] if i % 5 == 4 else []
            self.assert_diff_same(a, b, "pair %d" % i, [["--json"] + (flags[0] if flags else [])])
            if i % 10 == 0:
                self.assertEqual(run("--diff", a, a).stdout, b"", "pair %d with itself" % i)

    def test_hostile_markup_pairs_match_the_reference(self):
        rng = random.Random(5)
        pieces = HostileInput.PIECES + HostileInput.ODX_PIECES * 2
        for i in range(30):
            a, b = (self.write(DECL + b"".join(rng.choice(pieces)
                                               for _ in range(rng.randint(0, 50))), name)
                    for name in ("a.odx", "b.odx"))
            self.assert_diff_same(a, b, "hostile %d" % i, [["--json"]])

    def test_diff_arguments_and_an_unreadable_side(self):
        a = self.write(DECL + b"<A/>", "a.odx")
        self.assertEqual(run("--diff", a, os.path.join(self.dir.name, "none")).returncode, 1)
        empty = self.write(b"", "e.odx")
        got = run("--diff", "--json", empty, a)
        self.assertEqual((got.returncode, json.loads(got.stdout)["change"]), (4, "added"))
        for bad in (["--diff", a], ["--diff", a, a, a], ["--diff", "--json", "--count", a, a],
                    ["--diff", "--refs", a, a], ["--ignore", "X", a]):
            self.assertEqual(run(*bad).returncode, 2, bad)


if __name__ == "__main__":
    TOOL, SOURCE = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], "-v"])
