#include "platform/FileName.h"

#include <gtest/gtest.h>

#include <random>

using platform::DecodeFileName;
using platform::EncodeFileName;

TEST(FileName, EveryByteSequenceSurvivesTheTripThroughText) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0x01, 0xFF);
  std::uniform_int_distribution<int> length(0, 24);
  for (int round = 0; round < 20000; ++round) {
    QByteArray name;
    const int n = length(rng);
    for (int i = 0; i < n; ++i)
      name.append(static_cast<char>(byte(rng)));
    ASSERT_EQ(EncodeFileName(DecodeFileName(name)), name)
        << name.toHex().constData();
  }
}

TEST(FileName, ValidUtf8ReadsAsQtReadsIt) {
  for (const char *name :
       {"plain.odx", "Ger\xC3\xA4t/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.odx",
        "\xE4\xB8\xAD.odx", "\xF0\x9F\x98\x80.odx"}) {
    EXPECT_EQ(DecodeFileName(name), QString::fromUtf8(name)) << name;
    EXPECT_EQ(EncodeFileName(QString::fromUtf8(name)), QByteArray(name));
  }
}

TEST(FileName, InvalidBytesBecomeEscapesAndBack) {
  // A Latin-1 e-acute, a lone continuation byte, an overlong slash and an
  // encoded surrogate are all invalid UTF-8.
  const QByteArray name("caf\xE9 \x80 \xC0\xAF \xED\xA0\x80");
  const QString text = DecodeFileName(name);
  EXPECT_EQ(text.left(4), QString::fromUtf16(u"caf\xDCE9"));
  EXPECT_EQ(EncodeFileName(text), name);
  // A lone surrogate outside the escapes names nothing on disk.
  EXPECT_EQ(EncodeFileName(std::u16string_view(u"a\xD800"
                                               "b",
                                               3)),
            "a?b");
}
