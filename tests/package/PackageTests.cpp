// Packages from make_packages.py, cuts of one and the real corpus package,
// opened from the file and from memory, listed and read member by member.

#include "package/Package.h"
#include "tests/ScratchFiles.h"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

namespace package {
namespace {

using Status = Package::OpenStatus;
const QString kMade = QStringLiteral(ODX_TEST_PACKAGES "/");
const QString kReal = QStringLiteral(
    ODX_SOURCE_DIR "/tests/data/packages/odxtools__somersault.pdx");

Status OpenPath(Package &p, const QString &path) {
  cvexString s;
  s = reinterpret_cast<const char16_t *>(path.utf16());
  return p.Open(s);
}

std::span<const unsigned char> Span(const QByteArray &bytes) {
  return {reinterpret_cast<const unsigned char *>(bytes.constData()),
          size_t(bytes.size())};
}

QByteArray Bytes(const cvexDynamicArrayTemplate<unsigned char> &a) {
  return QByteArray(reinterpret_cast<const char *>(a.data), a.count);
}

// One line per member: entry, name (control characters as \xHH), kind,
// declared size and what reading it gave.
std::string Listing(Package &p) {
  std::string out;
  cvexDynamicArrayTemplate<unsigned char> bytes;
  for (size_t i = 0; i < p.Members().size(); ++i) {
    const Member &m = p.Members()[i];
    out += std::to_string(m.entry) + " ";
    for (const char c : QString::fromStdU16String(m.name).toStdString())
      out += (unsigned char)c >= 0x20
                 ? std::string(1, c)
                 : "\\x" + QByteArray(1, c).toHex().toStdString();
    const bool read = p.Read(i, bytes);
    EXPECT_EQ(uint64_t(bytes.count), read ? m.size : 0) << out;
    EXPECT_FALSE(read && !m.readable) << out;
    out += (m.kind == MemberKind::Document ? " doc " : " other ") +
           std::to_string(m.size) +
           (read         ? " read\n"
            : m.readable ? " failed\n"
                         : " unreadable\n");
  }
  return out;
}

// The same answer from the file and from its bytes in memory.
TEST(Package, OpenRefusesDamagedAndOversizedPackagesWhole) {
  QTemporaryDir dir;
  const QByteArray plain = ReadFile(kMade + "plain.pdx");
  std::vector<std::pair<QString, Status>> cases = {
      {kReal, Status::Opened},
      {kMade + "empty.pdx", Status::Opened},
      {kMade + "just-below.pdx", Status::Opened},
      {kMade + "not-a-zip.pdx", Status::NotAPackage},
      {kMade + "cd-outside.pdx", Status::Damaged},
      {kMade + "bad-utf8.pdx", Status::Damaged},
      {kMade + "too-large.pdx", Status::TooLarge},
  };
  for (const int percent : {25, 50, 99}) {
    cases.emplace_back(dir.filePath(QString("cut-%1.pdx").arg(percent)),
                       Status::Damaged);
    WriteFile(cases.back().first, plain.left(plain.size() * percent / 100));
  }
  for (const auto &[path, status] : cases) {
    Package p;
    EXPECT_EQ(OpenPath(p, path), status) << path.toStdString();
    EXPECT_EQ(p.Members().empty(),
              status != Status::Opened || path.endsWith("empty.pdx"));
    const QByteArray bytes = ReadFile(path);
    EXPECT_EQ(p.OpenMemory(Span(bytes)), status) << path.toStdString();
  }
  Package p;
  for (const char *head : {"PK", "PK\1\2", "pk\3\4"})
    EXPECT_EQ(p.OpenMemory(Span(head)), Status::NotAPackage) << head;
  EXPECT_EQ(OpenPath(p, dir.filePath("missing.pdx")), Status::CouldNotOpen);
}

TEST(Package, MembersListAndReadInCentralDirectoryOrder) {
  const struct {
    QString path;
    const char *listing;
  } cases[] = {
      {kReal, "0 jobs.py other 51 read\n"
              "1 somersault.odx-d doc 61004 read\n"
              "2 ISO_15765_3_on_ISO_15765_2.odx-c doc 5885 read\n"
              "3 ISO_11898_2_DWCAN.odx-cs doc 14395 read\n"
              "4 ISO_11898_3_DWFTCAN.odx-cs doc 14130 read\n"
              "5 ISO_15765_2.odx-cs doc 50073 read\n"
              "6 ISO_15765_3.odx-cs doc 61774 read\n"
              "7 SAE_J2411_SWCAN.odx-cs doc 12837 read\n"
              "8 index.xml doc 2151 read\n"},
      {kMade + "plain.pdx", "0 index.xml doc 58 read\n"
                            "1 a.odx-d doc 66 read\n"
                            "3 dir/B.ODX-CS doc 58 read\n"
                            "4 a.odx-d doc 71 read\n"
                            "5 jobs.py other 9 read\n"
                            "6 stored.xml doc 58 read\n"
                            "7 inner.pdx other 173 read\n"
                            "8 zipped.odx doc 173 read\n"
                            "9 x.odx- other 58 read\n"
                            "10 y.odx-d1 other 58 read\n"
                            "11 empty.xml doc 0 read\n"},
      // Names never become paths; without the UTF-8 flag they are CP437,
      // and libzip turns a NUL byte into a space.
      {kMade + "names.pdx", "0 ../evil.odx doc 58 read\n"
                            "1 a\\x0ab.xml doc 58 read\n"
                            "2 \\x01c.xml doc 58 read\n"
                            "3 \u03a9mega.odx doc 58 read\n"
                            "4 \u00c7\u00df.xml doc 58 read\n"
                            "5 \u00a0\u251c(.odx doc 58 read\n"
                            "6 \u03a9\ufffd\ufffd.odx doc 58 read\n"
                            "7 a.odx txt other 58 read\n"},
      {kMade + "members.pdx", "0 bomb.xml doc 1024 failed\n"
                              "1 short.xml doc 158 failed\n"
                              "2 crc.xml doc 58 failed\n"
                              "3 crc-stored.xml doc 58 failed\n"
                              "4 encrypted.xml doc 58 unreadable\n"
                              "5 method.xml doc 58 unreadable\n"
                              "6 claims.xml doc 50000000 unreadable\n"
                              "7 bzip2.xml doc 58 unreadable\n"
                              "8 stored-lie.xml doc 57 unreadable\n"
                              "9 garbled.xml doc 2900 failed\n"
                              "10 local-header.xml doc 58 failed\n"
                              "11 ok.xml doc 58 read\n"
                              "12 archive-lie.xml doc 1879048192 unreadable\n"},
      {kMade + "zip64.pdx", "0 a.xml doc 58 read\n1 b.odx doc 58 read\n"},
      {kMade + "empty.pdx", ""},
  };
  for (const auto &c : cases) {
    Package p;
    ASSERT_EQ(OpenPath(p, c.path), Status::Opened) << c.path.toStdString();
    EXPECT_EQ(Listing(p), c.listing) << c.path.toStdString();
  }
}

// Byte for byte, with the array's sentinel after them; duplicate names are
// told apart by place.
TEST(Package, ReadHandsOverTheMemberBytes) {
  cvexDynamicArrayTemplate<unsigned char> bytes;
  Package p;
  ASSERT_EQ(OpenPath(p, kReal), Status::Opened);
  for (const auto &[member, file] :
       {std::pair{1, "odxtools__somersault__somersault.odx-d"},
        std::pair{8, "odxtools__somersault__index.xml"}}) {
    ASSERT_TRUE(p.Read(member, bytes));
    EXPECT_EQ(Bytes(bytes), ReadFile(ODX_CORPUS_DIR "/" + QString(file)));
    EXPECT_EQ(bytes.data[bytes.count], 0);
  }
  ASSERT_EQ(OpenPath(p, kMade + "plain.pdx"), Status::Opened);
  ASSERT_TRUE(p.Read(3, bytes));
  EXPECT_TRUE(Bytes(bytes).endsWith("<!--second-->"));
  EXPECT_FALSE(p.Read(p.Members().size(), bytes));
}

TEST(Package, HundredThousandTinyMembers) {
  const auto start = std::chrono::steady_clock::now();
  Package p;
  ASSERT_EQ(OpenPath(p, kMade + "many.pdx"), Status::Opened);
  ASSERT_EQ(p.Members().size(), 100000u);
  cvexDynamicArrayTemplate<unsigned char> bytes;
  for (size_t i = 0; i < p.Members().size(); ++i) {
    ASSERT_EQ(QString::fromStdU16String(p.Members()[i].name),
              QString("m%1.xml").arg(i, 6, 10, QChar('0')));
    ASSERT_TRUE(p.Read(i, bytes) && bytes.count == 4) << i;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

} // namespace
} // namespace package
