#!/usr/bin/env python3
"""Writes a synthetic ODX document of about the requested size; the same size
and seed always give the same bytes.

Usage: gen_odx.py --size-mb N [--seed S] -o FILE
       (1 MB = 1,000,000 bytes, N may be fractional; FILE - is standard output)

The document is one DIAG-LAYER-CONTAINER holding a base variant and ECU
variants that inherit from it.  Every layer has functional classes, a data
dictionary (DTC-DOPs with their trouble codes, data object properties with
linear, text-table and identical computations, units), diagnostic services
with their requests and responses, and the references between all of these:
plain ID-REFs inside the layer, ID-REFs with a DOCREF into the base variant,
and references to communication parameters of documents that are not part of
the file (they stay unresolved, as they do in a real project's single file).
About a quarter of the long names are German, DESC blocks hold XHTML with
entities and character references, and a few comments are spread through.
The output is UTF-8 and well formed; every random choice comes from one
generator seeded by --seed, so the file depends on nothing else.
"""

import argparse
import random
import sys

MB = 1_000_000
PAD = ["  " * d for d in range(32)]

# (short name, English, German, unit, bit length, factor, offset)
LINEAR = [
    ("EngSpd", "Engine speed", "Motordrehzahl", "rpm", 16, "0.25", "0"),
    ("CoolTmp", "Coolant temperature", "Kühlmitteltemperatur", "degC", 8, "1", "-40"),
    ("OilPres", "Oil pressure", "Öldruck", "kPa", 16, "0.1", "0"),
    ("VehSpd", "Vehicle speed", "Fahrzeuggeschwindigkeit", "kmh", 16, "0.01", "0"),
    ("AmbTmp", "Ambient temperature", "Außentemperatur", "degC", 8, "0.5", "-40"),
    ("BattVolt", "Battery voltage", "Batteriespannung", "V", 16, "0.001", "0"),
    ("FanDuty", "Fan duty cycle", "Lüfteransteuerung", "pct", 8, "0.4", "0"),
    ("BrkPres", "Brake pressure", "Bremsdruck", "bar", 16, "0.01", "0"),
    ("FuelLvl", "Fuel level", "Tankfüllstand", "pct", 8, "0.4", "0"),
    ("ThrPos", "Throttle position", "Drosselklappenwinkel", "pct", 16, "0.0015", "0"),
    ("IntkTmp", "Intake air temperature", "Ansauglufttemperatur", "degC", 8, "1", "-40"),
    ("BoostPres", "Boost pressure", "Ladedruck", "kPa", 16, "0.1", "0"),
    ("StrAngle", "Steering angle", "Lenkwinkel", "deg", 16, "0.1", "-3276.8"),
    ("WhlSpdRR", "Wheel speed rear right", "Raddrehzahl hinten rechts", "kmh", 16, "0.01", "0"),
    ("Mileage", "Mileage", "Laufleistung", "km", 32, "0.1", "0"),
    ("GearOilTmp", "Gear oil temperature", "Getriebeöltemperatur", "degC", 8, "1", "-40"),
    ("InjTime", "Injection time", "Einspritzzeit", "ms", 16, "0.001", "0"),
    ("TyrePresFR", "Tyre pressure front right", "Reifendruck vorne rechts", "kPa", 8, "2.5", "0"),
    ("ChgCurr", "Charge current", "Ladestrom", "A", 16, "0.1", "-1000"),
    ("CellTmpMax", "Highest cell temperature", "Höchste Zelltemperatur", "degC", 8, "1", "-40"),
]
# (short name, English, German, state texts)
TEXTTABLE = [
    ("LockSt", "Central lock state", "Zentralverriegelung", ["Open", "Locked", "Safe", "Error"]),
    ("GearSel", "Gear selector", "Wählhebelstellung", ["P", "R", "N", "D", "M"]),
    ("TermSt", "Terminal state", "Klemmenstatus", ["Kl15 off", "Kl15 on", "Kl50 crank"]),
    ("WiperMode", "Wiper mode", "Wischermodus", ["Off", "Interval", "Slow", "Fast", "Rain sensor"]),
    ("HvacMode", "Air conditioning mode", "Klimabetrieb", ["Off", "Eco", "Cool", "Heat", "Defrost"]),
]
# (short name, English, German, bytes)
IDENT = [
    ("Vin", "Vehicle identification number", "Fahrzeug-Identnummer", 17),
    ("HwNumber", "Hardware number", "Hardwarenummer", 11),
    ("SwVersion", "Software version", "Softwarestand", 8),
    ("EcuSerial", "ECU serial number", "Steuergeräte-Seriennummer", 14),
]
ROUTINES = [
    ("EraseFlash", "Erase flash memory", "Flashspeicher löschen"),
    ("CheckProgDeps", "Check programming dependencies", "Programmierabhängigkeiten prüfen"),
    ("SelfTest", "Actuator self test", "Stellgliedtest"),
    ("LearnIdle", "Learn idle speed", "Leerlauf anlernen"),
    ("ResetAdapt", "Reset adaptations", "Anpassungen zurücksetzen"),
]
UNITS = [("rpm", "1/min"), ("degC", "°C"), ("kPa", "kPa"), ("kmh", "km/h"), ("V", "V"),
         ("pct", "%"), ("bar", "bar"), ("deg", "°"), ("km", "km"), ("ms", "ms"), ("A", "A")]
FUNCT_CLASSES = ["Ident", "Measure", "Adapt", "Actuate", "Flash", "Faults"]
PARTS = [("Air mass meter", "Luftmassenmesser"), ("Crankshaft sensor", "Kurbelwellensensor"),
         ("Throttle motor", "Drosselklappenmotor"), ("Fuel pump", "Kraftstoffpumpe"),
         ("Wheel sensor rear right", "Raddrehzahlfühler hinten rechts"),
         ("Brake switch", "Bremslichtschalter"), ("Window lifter", "Fensterheber"),
         ("CAN communication", "CAN-Kommunikation"), ("Oxygen sensor 2", "Lambdasonde 2"),
         ("Heater element", "Heizelement"), ("Battery sensor", "Batteriesensor")]
FAULTS = [("short to ground", "Kurzschluss nach Masse"), ("short to plus", "Kurzschluss nach Plus"),
          ("open load", "Leitungsunterbrechung"), ("implausible", "unplausibel"),
          ("value &lt; minimum", "Wert &lt; Minimum"), ("value &gt; maximum", "Wert &gt; Maximum"),
          ("signal &amp; supply lost", "Signal &amp; Versorgung fehlen"),
          ("&quot;timeout&quot; on bus", "&quot;Timeout&quot; am Bus")]
SENTENCES = [
    "Returns the value the control unit measures right now.",
    "Valid only with the engine running &amp; the terminal 15 on.",
    "Raw values &gt; 0xFFFE mark the signal as not available.",
    "Needs the <b>extended session</b> and security level 1.",
    "Filtered with a time constant of 50&#160;ms.<br/>Outside the range the value is clipped.",
    "Gilt nur bei stehendem Fahrzeug &amp; angezogener Feststellbremse.",
    "Der Rohwert wird in <i>Schritten</i> von 0,1 übertragen.",
    "Written at end of line; changing it voids the &apos;factory&apos; calibration.",
    "Response within 50&#x00A0;ms in the <i>default</i> session.",
    "Siehe Lastenheft, Abschnitt 3.1 &#8211; Grenzwerte.",
]
COMMENTS = ["checked against the supplier's data sheet", "kept for older testers",
            "Wert nur im Werkstattmodus gültig", "byte order confirmed"]
# Communication parameters live in documents of their own; a layer refers to
# them by DOCREF, and a single file leaves those references unresolved.
COMPARAMS = [("CP_P2Max", "ISO_14229_5"), ("CP_P2Star", "ISO_14229_5"),
             ("CP_TesterPresentTime", "ISO_14229_5"), ("CP_DoIPLogicalAddress", "ISO_13400_2"),
             ("CP_CanBaudrate", "ISO_11898_2"), ("CP_RequestCanId", "ISO_15765_2")]
# kind -> (request SID, response SID, verb, SEMANTIC)
KINDS = {"read": (0x22, 0x62, "Read", "DATA"), "ident": (0x22, 0x62, "Read", "IDENTIFICATION"),
         "write": (0x2E, 0x6E, "Write", "STORING"), "io": (0x2F, 0x6F, "Control", "IO-CONTROL"),
         "routine": (0x31, 0x71, "Run", "ROUTINE")}
KIND_WEIGHTS = [("read", 50), ("ident", 10), ("write", 15), ("io", 10), ("routine", 15)]


class Xml:
    """Indented XML text as a list of lines, starting at a fixed depth."""

    __slots__ = ("lines", "depth", "open_tags")

    def __init__(self, depth):
        self.lines, self.depth, self.open_tags = [], depth, []

    def open(self, tag, attrs=""):
        self.lines.append(f"{PAD[self.depth]}<{tag}{attrs}>\n")
        self.open_tags.append(tag)
        self.depth += 1

    def close(self):
        self.depth -= 1
        self.lines.append(f"{PAD[self.depth]}</{self.open_tags.pop()}>\n")

    def leaf(self, tag, text, attrs=""):
        self.lines.append(f"{PAD[self.depth]}<{tag}{attrs}>{text}</{tag}>\n")

    def empty(self, tag, attrs):
        self.lines.append(f"{PAD[self.depth]}<{tag}{attrs}/>\n")

    def comment(self, text):
        self.lines.append(f"{PAD[self.depth]}<!-- {text} -->\n")

    def text(self):
        assert not self.open_tags, self.open_tags
        return "".join(self.lines)


class Layer:
    """One BASE-VARIANT or ECU-VARIANT: fixed parts, then services until its
    byte budget is spent.  The sections a service touches (data dictionary,
    services, requests, responses) are kept apart and joined at the end."""

    def __init__(self, gen, tag, name, parent=None):
        self.gen, self.rng = gen, gen.rng
        self.tag, self.name = tag, name
        self.parent = None if parent is None else parent.name
        self.inherited = [] if parent is None else parent.own_dops
        self.own_dops = []  # (short name, quantity) of the data object props written here
        self.dtc_dops, self.dops, self.services, self.requests, self.responses = [], [], [], [], []
        self.size = 0
        self.count = 0

    def ref(self, what, sn, local=True):
        """An ID-REF to an object of this layer, or of the base variant by DOCREF."""
        if local or self.parent is None:
            return f' ID-REF="{self.name}.{what}.{sn}"'
        return f' ID-REF="{self.parent}.{what}.{sn}" DOCREF="{self.parent}" DOCTYPE="LAYER"'

    # ---- the pieces a service is made of ------------------------------------

    def dop(self, x, sn, q):
        x.open("DATA-OBJECT-PROP", f' ID="{self.name}.DOP.{sn}"')
        x.leaf("SHORT-NAME", sn)
        x.leaf("LONG-NAME", self.gen.long_name(q[1], q[2]))
        if self.rng.random() < 0.3:
            self.gen.desc(x)
        x.open("COMPU-METHOD")
        if len(q) == 7:
            x.leaf("CATEGORY", "LINEAR")
            x.open("COMPU-INTERNAL-TO-PHYS")
            x.open("COMPU-SCALES")
            x.open("COMPU-SCALE")
            x.open("COMPU-RATIONAL-COEFFS")
            x.open("COMPU-NUMERATOR")
            x.leaf("V", q[6])
            x.leaf("V", q[5])
            x.close()
            x.open("COMPU-DENOMINATOR")
            x.leaf("V", "1")
            x.close()
            x.close()
            x.close()
            x.close()
            x.close()
            bits, coded, physical = q[4], "A_UINT32", ' BASE-DATA-TYPE="A_FLOAT64" DISPLAY-RADIX="DEC"'
        elif isinstance(q[3], list):
            x.leaf("CATEGORY", "TEXTTABLE")
            x.open("COMPU-INTERNAL-TO-PHYS")
            x.open("COMPU-SCALES")
            for i, state in enumerate(q[3]):
                x.open("COMPU-SCALE")
                x.leaf("LOWER-LIMIT", str(i), ' INTERVAL-TYPE="CLOSED"')
                x.leaf("UPPER-LIMIT", str(i), ' INTERVAL-TYPE="CLOSED"')
                x.open("COMPU-CONST")
                x.leaf("VT", state)
                x.close()
                x.close()
            x.close()
            x.close()
            bits, coded, physical = 8, "A_UINT32", ' BASE-DATA-TYPE="A_UNICODE2STRING"'
        else:
            x.leaf("CATEGORY", "IDENTICAL")
            bits, coded, physical = q[3] * 8, "A_ASCIISTRING", ' BASE-DATA-TYPE="A_UNICODE2STRING"'
        x.close()
        x.open("DIAG-CODED-TYPE", f' BASE-DATA-TYPE="{coded}" xsi:type="STANDARD-LENGTH-TYPE"')
        x.leaf("BIT-LENGTH", str(bits))
        x.close()
        x.empty("PHYSICAL-TYPE", physical)
        if len(q) == 7:
            x.empty("UNIT-REF", self.ref("UNIT", q[3]))
        x.close()

    def coded_const(self, x, sn, long_name, semantic, position, value, bits):
        x.open("PARAM", f' SEMANTIC="{semantic}" xsi:type="CODED-CONST"')
        x.leaf("SHORT-NAME", sn)
        x.leaf("LONG-NAME", long_name)
        x.leaf("BYTE-POSITION", str(position))
        x.leaf("CODED-VALUE", str(value))
        x.open("DIAG-CODED-TYPE", ' BASE-DATA-TYPE="A_UINT32" xsi:type="STANDARD-LENGTH-TYPE"')
        x.leaf("BIT-LENGTH", str(bits))
        x.close()
        x.close()

    def message(self, x, tag, prefix, sn, sid, identifier, values):
        x.open(tag, f' ID="{self.name}.{prefix}.{sn}"')
        x.leaf("SHORT-NAME", f"{prefix}_{sn}")
        x.open("PARAMS")
        self.coded_const(x, f"SID_{prefix}", "Service identifier", "SERVICE-ID", 0, sid, 8)
        if identifier is not None:
            self.coded_const(x, "Identifier", "Identifier", "ID", 1, identifier, 16)
        else:
            x.open("PARAM", ' SEMANTIC="ID" xsi:type="MATCHING-REQUEST-PARAM"')
            x.leaf("SHORT-NAME", "Identifier_Echo")
            x.leaf("BYTE-POSITION", "1")
            x.leaf("REQUEST-BYTE-POS", "1")
            x.leaf("BYTE-LENGTH", "2")
            x.close()
        for sn_value, long_name, position, dop_ref in values:
            x.open("PARAM", ' SEMANTIC="DATA" xsi:type="VALUE"')
            x.leaf("SHORT-NAME", sn_value)
            x.leaf("LONG-NAME", long_name)
            x.leaf("BYTE-POSITION", str(position))
            x.empty("DOP-REF", dop_ref)
            x.close()
        x.close()
        x.close()

    def service(self):
        """One service with its data object properties, request and response."""
        gen, rng, n = self.gen, self.rng, self.count
        kind = rng.choices([k for k, _ in KIND_WEIGHTS], [w for _, w in KIND_WEIGHTS])[0]
        rq_sid, pr_sid, verb, semantic = KINDS[kind]
        dops, values = Xml(6), []
        if kind == "routine":
            base, en, de = rng.choice(ROUTINES)
            sn, ln = f"{base}_{n}", gen.long_name(en, de)
        else:
            if kind == "ident":
                quantities = [rng.choice(IDENT)]
            else:
                quantities = [rng.choice(LINEAR if rng.random() < 0.75 else TEXTTABLE)
                              for _ in range(rng.randint(1, 4 if kind == "read" else 2))]
            first = quantities[0]
            sn = f"{verb}_{first[0]}_{n}"
            ln = gen.long_name(f"{verb} {first[1].lower()}", first[2])
            position = 3
            for k, q in enumerate(quantities):
                # An ECU variant sometimes reuses a quantity of its base variant.
                if self.inherited and rng.random() < 0.15:
                    dop_sn, q = rng.choice(self.inherited)
                    dop_ref = self.ref("DOP", dop_sn, local=False)
                else:
                    dop_sn = f"{q[0]}_{n}_{k}"
                    self.dop(dops, dop_sn, q)
                    self.own_dops.append((dop_sn, q))
                    dop_ref = self.ref("DOP", dop_sn)
                values.append((f"{q[0]}_{k}" if k else q[0], gen.long_name(q[1], q[2]), position, dop_ref))
                position += q[4] // 8 if len(q) == 7 else (q[3] if isinstance(q[3], int) else 1)

        svc = Xml(5)
        if rng.random() < 0.05:
            svc.comment(rng.choice(COMMENTS))
        svc.open("DIAG-SERVICE", f' ID="{self.name}.DS.{sn}" SEMANTIC="{semantic}" ADDRESSING="PHYSICAL"')
        svc.leaf("SHORT-NAME", sn)
        svc.leaf("LONG-NAME", ln)
        if rng.random() < 0.5:
            gen.desc(svc)
        if rng.random() < 0.2:
            svc.open("SDGS")
            svc.open("SDG")
            svc.open("SDG-CAPTION", f' ID="{self.name}.SDG.{sn}"')
            svc.leaf("SHORT-NAME", "Release")
            svc.close()
            svc.leaf("SD", rng.choice(FUNCT_CLASSES), ' SI="Category"')
            svc.leaf("SD", f"V{rng.randint(1, 9)}.{rng.randint(0, 20)}", ' SI="Since"')
            svc.close()
            svc.close()
        svc.open("FUNCT-CLASS-REFS")
        svc.empty("FUNCT-CLASS-REF", self.ref("FC", rng.choice(FUNCT_CLASSES)))
        svc.close()
        svc.empty("AUDIENCE", f' IS-DEVELOPMENT="true" IS-AFTERSALES="{"true" if rng.random() < 0.6 else "false"}"')
        svc.empty("REQUEST-REF", self.ref("RQ", sn))
        svc.open("POS-RESPONSE-REFS")
        svc.empty("POS-RESPONSE-REF", self.ref("PR", sn))
        svc.close()
        svc.open("NEG-RESPONSE-REFS")
        svc.empty("NEG-RESPONSE-REF", self.ref("NR", "General", local=rng.random() < 0.7))
        svc.close()
        svc.close()

        identifier = rng.randrange(0x0100, 0xFEFF)
        request, response = Xml(5), Xml(5)
        self.message(request, "REQUEST", "RQ", sn, rq_sid, identifier,
                     values if kind in ("write", "io") else [])
        self.message(response, "POS-RESPONSE", "PR", sn, pr_sid, None,
                     values if kind in ("read", "ident", "io") else [])
        return [x.text().encode() for x in (dops, svc, request, response)]

    def dtc_dop(self, k, budget):
        """A DTC-DOP with as many trouble codes as fit in budget bytes."""
        rng = self.rng
        area, letter, high = [("Powertrain", "P", 0), ("Chassis", "C", 1), ("Body", "B", 2),
                              ("Network", "U", 3)][k % 4]
        x = Xml(6)
        x.open("DTC-DOP", f' ID="{self.name}.DOP.DTC_{area}"')
        x.leaf("SHORT-NAME", f"DTC_{area}")
        x.leaf("LONG-NAME", f"{area} fault memory")
        x.open("DIAG-CODED-TYPE", ' BASE-DATA-TYPE="A_UINT32" xsi:type="STANDARD-LENGTH-TYPE"')
        x.leaf("BIT-LENGTH", "24")
        x.close()
        x.empty("PHYSICAL-TYPE", ' BASE-DATA-TYPE="A_UINT32" DISPLAY-RADIX="HEX"')
        x.open("COMPU-METHOD")
        x.leaf("CATEGORY", "IDENTICAL")
        x.close()
        x.open("DTCS")
        code, used = rng.randrange(0x0100, 0x0400), 0
        while used < budget and code < 0x3FF0:
            code += rng.randint(1, 3)
            ftb = rng.choice((0x11, 0x12, 0x13, 0x1C, 0x29, 0x64, 0x00))
            part, fault = rng.choice(PARTS), rng.choice(FAULTS)
            name = f"{letter}{code:04X}{ftb:02X}"
            mark = len(x.lines)
            x.open("DTC", f' ID="{self.name}.DTC.{name}"')
            x.leaf("SHORT-NAME", f"DTC_{name}")
            x.leaf("TROUBLE-CODE", str(((high << 14 | code) << 8) | ftb))
            x.leaf("DISPLAY-TROUBLE-CODE", f"{letter}{code:04X}-{ftb:02X}")
            text = f"{part[1]}: {fault[1]}" if rng.random() < 0.25 else f"{part[0]}: {fault[0]}"
            x.leaf("TEXT", text, f' TI="T_{name}"')
            x.leaf("LEVEL", str(rng.randint(1, 4)))
            x.close()
            used += sum(len(s) for s in x.lines[mark:])
        x.close()
        x.close()
        return x.text().encode()

    # ---- the layer ------------------------------------------------------------

    def head(self):
        rng, x = self.rng, Xml(3)
        x.open(self.tag, f' ID="{self.name}"')
        x.leaf("SHORT-NAME", self.name)
        x.leaf("LONG-NAME", f"{self.name.split('_', 1)[1]} {'base variant' if self.parent is None else 'variant'}")
        self.gen.desc(x)
        x.open("FUNCT-CLASSS")
        for fc in FUNCT_CLASSES:
            x.open("FUNCT-CLASS", f' ID="{self.name}.FC.{fc}"')
            x.leaf("SHORT-NAME", fc)
            x.close()
        x.close()
        x.open("DIAG-DATA-DICTIONARY-SPEC")
        x.comment("trouble codes")
        x.open("DTC-DOPS")
        return x

    def fill(self, budget):
        """Returns the layer's bytes as a list of chunks, about budget in all."""
        x = self.head()
        head = "".join(x.lines).encode()  # the open tags close in middle()
        self.size = len(head)
        n_dtc = self.rng.randint(1, 4)
        for k in range(n_dtc):
            self.dtc_dops.append(self.dtc_dop(k, budget * 0.2 / n_dtc))
        self.size += sum(map(len, self.dtc_dops))
        middle = self.middle()
        self.size += sum(map(len, middle))
        sections = (self.dops, self.services, self.requests, self.responses)
        while True:
            parts = self.service()
            size = sum(map(len, parts))
            # Stop where the total lands closer to the budget.
            if self.count and self.size + size - budget > budget - self.size:
                break
            for section, part in zip(sections, parts):
                section.append(part)
            self.size += size
            self.count += 1
        return [head, *self.dtc_dops, middle[0], *self.dops, middle[1], *self.services, middle[2],
                *self.requests, middle[3], *self.responses, middle[4]]

    def middle(self):
        """The fixed text between the sections, as five chunks."""
        after_dtcs = f"{PAD[5]}</DTC-DOPS>\n{PAD[5]}<DATA-OBJECT-PROPS>\n"
        units = Xml(5)
        units.open("UNIT-SPEC")
        units.open("UNITS")
        for sn, display in UNITS:
            units.open("UNIT", f' ID="{self.name}.UNIT.{sn}"')
            units.leaf("SHORT-NAME", sn)
            units.leaf("DISPLAY-NAME", display)
            units.close()
        units.close()
        units.close()
        after_dops = (f"{PAD[5]}</DATA-OBJECT-PROPS>\n" + units.text()
                      + f"{PAD[4]}</DIAG-DATA-DICTIONARY-SPEC>\n{PAD[4]}<DIAG-COMMS>\n")
        after_services = f"{PAD[4]}</DIAG-COMMS>\n{PAD[4]}<REQUESTS>\n"
        after_requests = f"{PAD[4]}</REQUESTS>\n{PAD[4]}<POS-RESPONSES>\n"
        tail = Xml(4)
        tail.lines.append(f"{PAD[4]}</POS-RESPONSES>\n")
        tail.open("NEG-RESPONSES")
        self.negative_response(tail)
        tail.close()
        if self.parent is None:
            tail.open("COMPARAM-REFS")
            for sn, doc in COMPARAMS:
                tail.open("COMPARAM-REF", f' ID-REF="{doc}.{sn}" DOCREF="{doc}" DOCTYPE="COMPARAM-SUBSET"')
                tail.leaf("VALUE", str(self.rng.randrange(10, 5000)))
                tail.close()
            tail.close()
        else:
            tail.open("PARENT-REFS")
            tail.empty("PARENT-REF", f' ID-REF="{self.parent}" DOCREF="{self.parent}" DOCTYPE="LAYER"'
                       ' xsi:type="BASE-VARIANT-REF"')
            tail.close()
        tail.lines.append(f"{PAD[3]}</{self.tag}>\n")
        return [s.encode() for s in (after_dtcs, after_dops, after_services, after_requests,
                                     "".join(tail.lines))]

    def negative_response(self, x):
        x.open("NEG-RESPONSE", f' ID="{self.name}.NR.General"')
        x.leaf("SHORT-NAME", "NR_General")
        x.open("PARAMS")
        self.coded_const(x, "SID_NR", "Negative response", "SERVICE-ID", 0, 0x7F, 8)
        self.coded_const(x, "NRC", "Response code", "DATA", 2, 0x10, 8)
        x.close()
        x.close()


class Generator:
    """One document; every random choice comes from one seeded generator."""

    ECUS = ["Engine", "Body", "Brake", "Climate", "Gateway", "Seat", "Battery", "Steering"]

    def __init__(self, size_bytes, seed):
        self.target = size_bytes
        self.rng = random.Random(seed)

    def long_name(self, english, german):
        return german if self.rng.random() < 0.25 else english

    def desc(self, x):
        """A DESC block of one or two XHTML paragraphs."""
        rng = self.rng
        x.open("DESC")
        for _ in range(1 if rng.random() < 0.7 else 2):
            x.lines.append(f"{PAD[x.depth]}<p>{' '.join(rng.choice(SENTENCES) for _ in range(rng.randint(1, 3)))}</p>\n")
        x.close()

    def document_head(self, ecu):
        x = Xml(0)
        x.lines.append('<?xml version="1.0" encoding="UTF-8"?>\n'
                       "<!-- Generated for tests and benchmarks; no real vehicle. -->\n")
        x.open("ODX", ' MODEL-VERSION="2.2.0" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"')
        x.open("DIAG-LAYER-CONTAINER", f' ID="DLC_{ecu}"')
        x.leaf("SHORT-NAME", f"DLC_{ecu}")
        x.leaf("LONG-NAME", f"{ecu} diagnostic layers")
        self.desc(x)
        x.open("ADMIN-DATA")
        x.leaf("LANGUAGE", "de-DE")
        x.open("DOC-REVISIONS")
        x.open("DOC-REVISION")
        x.leaf("REVISION-LABEL", f"{self.rng.randint(1, 4)}.{self.rng.randint(0, 9)}.0")
        x.leaf("STATE", "RELEASE")
        x.leaf("DATE", "2022-11-08T09:30:00")
        x.close()
        x.close()
        x.close()
        return "".join(x.lines).encode()

    def write(self, out):
        """Writes the document to the binary stream out; returns its size."""
        ecu = self.rng.choice(self.ECUS)
        head = self.document_head(ecu) + f"{PAD[2]}<BASE-VARIANTS>\n".encode()
        between = f"{PAD[2]}</BASE-VARIANTS>\n{PAD[2]}<ECU-VARIANTS>\n".encode()
        tail = f"{PAD[2]}</ECU-VARIANTS>\n{PAD[1]}</DIAG-LAYER-CONTAINER>\n</ODX>\n".encode()
        # About 8 MB a layer, as real ECU variants run; at least one of each kind.
        variants = max(1, min(64, round(self.target / (8 * MB))))
        written = len(head) + len(between) + len(tail)
        out.write(head)
        base = Layer(self, "BASE-VARIANT", f"BV_{ecu}")
        for chunk in base.fill((self.target - written) / (variants + 1)):
            out.write(chunk)
            written += len(chunk)
        out.write(between)
        for i in range(variants):
            budget = (self.target - written) / (variants - i)
            for chunk in Layer(self, "ECU-VARIANT", f"EV_{ecu}_{i + 1:02d}", base).fill(budget):
                out.write(chunk)
                written += len(chunk)
        out.write(tail)
        return written


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--size-mb", type=float, required=True, help="size in MB (1 MB = 1,000,000 bytes)")
    ap.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    ap.add_argument("-o", "--output", required=True, help="output file, - for standard output")
    args = ap.parse_args(argv)
    if args.size_mb <= 0:
        ap.error("--size-mb must be positive")
    gen = Generator(int(args.size_mb * MB), args.seed)
    if args.output == "-":
        gen.write(sys.stdout.buffer)
    else:
        with open(args.output, "wb", buffering=1 << 22) as f:
            gen.write(f)


if __name__ == "__main__":
    main()
