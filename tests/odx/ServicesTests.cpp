#include "odx/OdxIndex.h"
#include "odx/Services.h"
#include "outline/OutlineBuilder.h"
#include "tests/outline/RecordingSurroundings.h"

#include <gtest/gtest.h>

#include <string>

namespace odx {
namespace {

using outline::kNoNode;
using outline::NodeHandle;

std::string Narrow(const outline::LabelView &v) {
  return v.toQString().toStdString();
}

// A CODED-CONST parameter; `extra` goes inside the PARAM, `typeAttributes`
// on its DIAG-CODED-TYPE.
std::string Coded(const std::string &value, const std::string &bits,
                  const std::string &extra = "",
                  const std::string &base = "A_UINT32",
                  const std::string &typeAttributes = "") {
  return "<PARAM xsi:type=\"CODED-CONST\"><SHORT-NAME>p</SHORT-NAME>" + extra +
         "<CODED-VALUE>" + value +
         "</CODED-VALUE><DIAG-CODED-TYPE "
         "BASE-DATA-TYPE=\"" +
         base + "\" xsi:type=\"STANDARD-LENGTH-TYPE\"" + typeAttributes +
         "><BIT-LENGTH>" + bits + "</BIT-LENGTH></DIAG-CODED-TYPE></PARAM>";
}
std::string At(int byte) {
  return "<BYTE-POSITION>" + std::to_string(byte) + "</BYTE-POSITION>";
}

class ServicesTest : public ::testing::Test {
protected:
  void Build(const std::string &body) {
    const std::string text = "<?xml version=\"1.0\"?>\n" + body;
    ASSERT_EQ(
        outline::BuildOutlineFromBytes(
            {reinterpret_cast<const unsigned char *>(text.data()), text.size()},
            store, around, around),
        outline::BuildStatus::Built);
  }
  // The prefix of a node, worked out alone and from the tables.
  std::string Prefix(NodeHandle node = 0) {
    std::vector<uint8_t> alone;
    services.PrefixOf(node, alone);
    for (const Services::Message &m : services.Messages())
      if (m.node == node) {
        EXPECT_EQ(PrefixText(services.Prefix(m)), PrefixText(alone));
      }
    return PrefixText(alone);
  }
  std::string Name(NodeHandle n) const {
    return n == kNoNode ? "-" : Narrow(index.Name(n));
  }
  // "layer: service@from ..." per layer, then the conflicts.
  std::string Effective() const {
    std::string out;
    for (const NodeHandle layer : services.Layers()) {
      out += Name(layer) + ":";
      for (const Services::Offer &o : services.Effective(layer))
        out += " " + Name(o.service) + "@" + Name(o.from);
      out += "; ";
    }
    for (const Services::Conflict &c : services.Conflicts())
      out += "[" + Name(c.layer) + ": " + c.reason.toStdString() + "] ";
    return out;
  }

  outline::OutlineStore store;
  outline::RecordingSurroundings around;
  OdxIndex index{store};
  Services services{store, index};
};

TEST_F(ServicesTest, PrefixOfAMessage) {
  const struct {
    std::string params;
    const char *prefix;
  } cases[] = {
      {Coded("34", "8", At(0)) + Coded("241", "8", At(1)) + Coded("144", "8"),
       "22 F1 90"},
      {Coded("61840", "16"), "F1 90"},
      {Coded("61840", "16", "", "A_UINT32", " IS-HIGHLOW-BYTE-ORDER=\"false\""),
       "90 F1"},
      {Coded(" 16\n", "8"), "10"}, // white space around a number
      // Four bits at bit 4, then four at bit 0 of the same byte.
      {Coded("1", "4", "<BIT-POSITION>4</BIT-POSITION>") +
           Coded("2", "4", At(0)),
       "12"},
      {Coded("16", "8") + Coded("1", "8", At(0)), "11"}, // OR-ed together
      {Coded("1", "12", "<BIT-POSITION>4</BIT-POSITION>"), "00 10"},
      {Coded("18446744073709551615", "64", "<BIT-POSITION>4</BIT-POSITION>"),
       "0F FF FF FF FF FF FF FF F0"},
      {Coded("-1", "8", "", "A_INT32"), "FF"},
      {Coded("-128", "8", "", "A_INT32") + Coded("127", "8", "", "A_INT32"),
       "80 7F"},
      {Coded("-2", "16", "", "A_INT32", " IS-HIGHLOW-BYTE-ORDER=\"false\""),
       "FE FF"},
      {Coded("f190", "16", "", "A_BYTEFIELD",
             " IS-HIGHLOW-BYTE-ORDER=\"false\""),
       "F1 90"},
      {Coded("0A", "12", "", "A_BYTEFIELD"), "00 0A"},
      // What ends the prefix: the parameter and all after it.
      {Coded("16", "8") + Coded("128", "8", "", "A_INT32") + Coded("1", "8"),
       "10"},
      {Coded("16", "8") + Coded("-129", "8", "", "A_INT32"), "10"},
      {Coded("16", "8") + Coded("-1", "8"), "10"},
      {Coded("16", "8") + Coded("256", "8"), "10"},
      {Coded("16", "8") + Coded("x1", "8"), "10"},
      {Coded("16", "8") + Coded("", "8"), "10"},
      {Coded("16", "8") + Coded("99999999999999999999", "64"), "10"},
      {Coded("16", "8") + Coded("1", "0"), "10"},
      {Coded("16", "8") + Coded("1", "65"), "10"},
      {Coded("16", "8") + Coded("1", "10000"), "10"},
      {Coded("16", "8") + Coded("1", "8", At(2)), "10"},
      {Coded("16", "8") + Coded("1", "8",
                                "<BYTE-POSITION>1099511627776"
                                "</BYTE-POSITION>"),
       "10"},
      {Coded("16", "8") + Coded("1", "8", "<BIT-POSITION>8</BIT-POSITION>"),
       "10"},
      {Coded("16", "8") + Coded("F19", "16", "", "A_BYTEFIELD"), "10"},
      {Coded("16", "8") + Coded("F190", "8", "", "A_BYTEFIELD"), "10"},
      {Coded("16", "8") + Coded("1", "8", "", "A_FLOAT32"), "10"},
      {Coded("16", "8") +
           "<PARAM xsi:type=\"CODED-CONST\"><CODED-VALUE>1</CODED-VALUE>"
           "<DIAG-CODED-TYPE BASE-DATA-TYPE=\"A_UINT32\" xsi:type=\""
           "LEADING-LENGTH-INFO-TYPE\"><BIT-LENGTH>8</BIT-LENGTH>"
           "</DIAG-CODED-TYPE></PARAM>",
       "10"},
      {Coded("16", "8") +
           "<PARAM "
           "xsi:type=\"VALUE\"><BYTE-POSITION>1</BYTE-POSITION></PARAM>" +
           Coded("1", "8"),
       "10"},
      {"<PARAM xsi:type=\"CODED-CONST\"><CODED-VALUE>1</CODED-VALUE></PARAM>",
       ""},
      {"<DESC><PARAM xsi:type=\"CODED-CONST\"/></DESC>" + Coded("9", "8"),
       "09"},
      // Labels holding a unit beyond Latin-1 (an omega, a full-width one)
      // name their elements alike.
      {Coded("34", "8", "", "A_UINT32", " LONG-NAME=\"\u03A9\"") +
           "<PARAM SEMANTIC=\"\u03A9\"" + Coded("1", "8").substr(6),
       "22 01"},
      {Coded("16", "8") +
           Coded("1", "8", "<BYTE-POSITION>\uFF11</BYTE-POSITION>"),
       "10"},
  };
  for (const auto &c : cases) {
    Build("<REQUEST><SHORT-NAME>r</SHORT-NAME><PARAMS>" + c.params +
          "</PARAMS></REQUEST>");
    EXPECT_EQ(Prefix(), c.prefix) << c.params;
  }
}

TEST_F(ServicesTest, ServicesFoundByTheirBytes) {
  auto request = [](const char *id, const std::string &params) {
    return std::string("<REQUEST ID=\"") + id + "\"><PARAMS>" + params +
           "</PARAMS></REQUEST>";
  };
  auto service = [](const char *name, const char *id) {
    return std::string("<DIAG-SERVICE><SHORT-NAME>") + name +
           "</SHORT-NAME><REQUEST-REF ID-REF=\"" + id + "\"/></DIAG-SERVICE>";
  };
  // One document: a layer, and a service outside any layer.
  Build("<ODX><C><BASE-VARIANT><SHORT-NAME>Door</SHORT-NAME><DIAG-COMMS>" +
        service("vin", "v") + service("sid", "s") + service("none", "zz") +
        service("ecu", "e") + "</DIAG-COMMS>" +
        request("v", Coded("34", "8") + Coded("61840", "16")) +
        request("s", Coded("34", "8")) +
        request("e", Coded("34", "8") + Coded("61841", "16")) +
        "<POS-RESPONSE ID=\"p\"><PARAMS>" + Coded("98", "8") +
        "</PARAMS></POS-RESPONSE></BASE-VARIANT>" + service("stray", "v") +
        "</C></ODX>");
  const struct {
    const char *search;
    const char *found; // services by name
  } cases[] = {
      {"22", "vin sid ecu stray "}, {"22 F1 90", "vin stray "},
      {"0x22f1", "vin ecu stray "}, {"22F191", "ecu "},
      {"22 F1 90 00", ""},          {"62", ""}, // a response is no service
  };
  for (const auto &c : cases) {
    const auto bytes = ParseSearchBytes(QString(c.search).toStdU16String());
    ASSERT_TRUE(bytes) << c.search;
    std::string found;
    for (const NodeHandle s : services.FindByBytes(*bytes))
      found += Name(s) + " ";
    EXPECT_EQ(found, c.found) << c.search;
  }
  const NodeHandle stray = services.FindByBytes({{0x22, 0xF1, 0x90}}).back();
  EXPECT_EQ(services.LayerOf(stray), kNoNode);
  EXPECT_EQ(Name(services.LayerOf(5)), "Door");
  EXPECT_EQ(Prefix(stray), "22 F1 90");
  EXPECT_EQ(Prefix(11), ""); // unresolved request
}

TEST(ServicesParse, SearchTextAsBytes) {
  const struct {
    const char16_t *text;
    const char *bytes; // "-": does not read as bytes
  } cases[] = {
      {u"22 F1 90", "22 F1 90"},
      {u"22F190", "22 F1 90"},
      {u"0x22F190", "22 F1 90"},
      {u"10", "10"},
      {u" 0Xab  cd ", "AB CD"},
      {u"ab\tcd", "-"},
      {u"2 2", "-"},
      {u"0x", "-"},
      {u"123", "-"},
      {u"0x 22", "-"},
      {u"22 0x33", "-"},
      {u"g0", "-"},
      {u"", "-"},
      {u"\uFF11\uFF10", "-"},
  };
  for (const auto &c : cases) {
    const auto bytes = ParseSearchBytes(c.text);
    EXPECT_EQ(bytes ? PrefixText(*bytes) : "-", c.bytes)
        << QString::fromStdU16String(c.text).toStdString();
  }
}

TEST_F(ServicesTest, EffectiveServicesOfLayers) {
  // A layer of `tag` named `name` with `body` inside.
  auto layer = [](const char *tag, const char *name, const std::string &body) {
    return std::string("<") + tag + " ID=\"" + name + "\"><SHORT-NAME>" + name +
           "</SHORT-NAME>" + body + "</" + tag + ">";
  };
  auto comms = [](const std::string &names) {
    std::string out = "<DIAG-COMMS>";
    for (std::size_t at = 0; at < names.size();) {
      const std::size_t end = std::min(names.find(' ', at), names.size());
      out += "<DIAG-SERVICE><SHORT-NAME>" + names.substr(at, end - at) +
             "</SHORT-NAME></DIAG-SERVICE>";
      at = end + 1;
    }
    return out + "</DIAG-COMMS>";
  };
  auto parents = [](const std::string &refs) {
    return "<PARENT-REFS>" + refs + "</PARENT-REFS>";
  };
  auto parent = [](const char *id, const std::string &excluded = "") {
    std::string out = std::string("<PARENT-REF ID-REF=\"") + id + "\">";
    if (!excluded.empty())
      out += "<NOT-INHERITED-DIAG-COMMS><NOT-INHERITED-DIAG-COMM>"
             "<DIAG-COMM-SNREF SHORT-NAME=\"" +
             excluded +
             "\"/></NOT-INHERITED-DIAG-COMM>"
             "</NOT-INHERITED-DIAG-COMMS>";
    return out + "</PARENT-REF>";
  };
  const struct {
    std::string body;
    const char *effective;
  } cases[] = {
      // Priority decides; the first PARENT-REF on equal priority, listed as
      // a conflict unless the layer has the name itself.
      {layer("PROTOCOL", "P", comms("x t")) +
           layer("FUNCTIONAL-GROUP", "F", comms("x")) +
           layer("BASE-VARIANT", "B", comms("x y") + parents(parent("P"))) +
           layer("BASE-VARIANT", "C", comms("y z")) +
           layer("ECU-VARIANT", "E",
                 parents(parent("F") + parent("C") + parent("B", "t"))) +
           layer("ECU-VARIANT", "G",
                 comms("y") + parents(parent("B") + parent("C"))),
       "P: x@P t@P; F: x@F; B: t@P x@B y@B; C: y@C z@C; "
       "E: x@B y@C z@C; G: t@P x@B z@C y@G; "
       "[E: y is inherited from C and from B] "},
      // One element reached through two parents is no clash; what one line
      // excludes, another may bring; a name that matches nothing and an
      // unresolved parent change nothing.  Unnamed services stand apart.
      {layer("PROTOCOL", "P",
             comms("a") + "<DIAG-COMMS><DIAG-SERVICE/>"
                          "</DIAG-COMMS>") +
           layer("BASE-VARIANT", "B", parents(parent("P", "a"))) +
           layer("BASE-VARIANT", "C",
                 parents(parent("P", "nothing") + parent("gone")) +
                     "<DIAG-COMMS><DIAG-SERVICE/></DIAG-COMMS>") +
           layer("ECU-VARIANT", "E", parents(parent("B") + parent("C"))),
       "P: a@P @P; B: @P; C: a@P @P @C; E: a@P @P @C; "},
      // A DIAG-COMM-REF counts as the layer's own, from where it is defined.
      {layer("BASE-VARIANT", "B",
             comms("a") + "<DIAG-COMMS><DIAG-COMM-REF ID-REF=\"s\"/>"
                          "<DIAG-COMM-REF ID-REF=\"gone\"/></DIAG-COMMS>") +
           layer("ECU-SHARED-DATA", "S",
                 "<DIAG-COMMS><SINGLE-ECU-JOB ID=\"s\"><SHORT-NAME>j"
                 "</SHORT-NAME></SINGLE-ECU-JOB></DIAG-COMMS>"),
       "B: a@B j@S; S: j@S; "},
      // Cycles: each line of inheritance holds a layer once; the way back
      // contributes nothing there.
      {layer("BASE-VARIANT", "A", comms("a") + parents(parent("B"))) +
           layer("BASE-VARIANT", "B",
                 comms("b") + parents(parent("A") + parent("B"))),
       "A: a@A b@B; B: a@A b@B; "},
  };
  for (const auto &c : cases) {
    Build("<ODX><DIAG-LAYER-CONTAINER>" + c.body +
          "</DIAG-LAYER-CONTAINER></ODX>");
    EXPECT_EQ(Effective(), c.effective) << c.body;
  }
}

// A chain of layers, each inheriting all of a large one: past four rows a
// node the later layers are left out, and said to be, rather than kept.
TEST_F(ServicesTest, InheritanceThatMultipliesIsCutShortAndSaysSo) {
  std::string body = "<ODX><D><BASE-VARIANT ID=\"L0\"><DIAG-COMMS>";
  for (int i = 0; i < 2000; ++i)
    body += "<DIAG-SERVICE><SHORT-NAME>s" + std::to_string(i) +
            "</SHORT-NAME></DIAG-SERVICE>";
  body += "</DIAG-COMMS></BASE-VARIANT>";
  for (int i = 1; i <= 600; ++i)
    body += "<ECU-VARIANT ID=\"L" + std::to_string(i) +
            "\"><PARENT-REFS><PARENT-REF ID-REF=\"L" + std::to_string(i - 1) +
            "\"/></PARENT-REFS></ECU-VARIANT>";
  Build(body + "</D></ODX>");
  const NodeHandle cut = services.Incomplete();
  ASSERT_NE(cut, kNoNode);
  EXPECT_EQ(services.Effective(services.Layers()[1]).size(), 2000u);
  EXPECT_TRUE(services.Effective(cut).empty());
  EXPECT_EQ(services.Effective(services.Layers().back()).size(), 0u);
}

} // namespace
} // namespace odx
