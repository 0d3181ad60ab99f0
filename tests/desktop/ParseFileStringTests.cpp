#include "desktop/cvexParseFileString.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>

namespace {

std::u16string Text(const cvexString &s) {
  return std::u16string(s.buffer, static_cast<size_t>(s.Length()));
}

void SetText(cvexString &s, const std::u16string &text) {
  s.AssignWide(text.c_str());
}

struct Row {
  std::u16string path, drive, directory, fileName, extension, directoryPath;
};

void ExpectParts(const Row &row) {
  cvexString path;
  SetText(path, row.path);
  cvexParseFileString parts(path);
  cvexString dirPath;
  parts.GetDirectoryPath(dirPath);
  SCOPED_TRACE(QString::fromStdU16String(row.path).toStdString());
  EXPECT_EQ(Text(parts.fullPath), row.path);
  EXPECT_EQ(Text(parts.drive), row.drive);
  EXPECT_EQ(Text(parts.directory), row.directory);
  EXPECT_EQ(Text(parts.fileName), row.fileName);
  EXPECT_EQ(Text(parts.extension), row.extension);
  EXPECT_EQ(Text(dirPath), row.directoryPath);
}

TEST(ParseFileString, BackslashPathsFollowTheTable) {
  const Row rows[] = {
      {uR"(C:\dir\file.odx)", u"C:", u"dir", u"file", u".odx", uR"(C:\dir\)"},
      {uR"(C:\file.odx)", u"C:", u"", u"file", u".odx", uR"(C:\)"},
      {u"file.odx", u"", u"", u"file", u".odx", uR"(\)"},
      {uR"(C:\dir.d\file)", u"C:", u"dir.d", u"file", u"", uR"(C:\dir.d\)"},
      {uR"(C:\a\b\c.tar.gz)", u"C:", uR"(a\b)", u"c", u".gz", uR"(C:\a\b\)"},
      {uR"(C:\dir\x.y.zz)", u"C:", u"dir", u"x", u".y", uR"(C:\dir\)"},
      {uR"(C:\dir\file.abcde)", u"C:", u"dir", u"file", u"", uR"(C:\dir\)"},
      {uR"(C:\dir\file.)", u"C:", u"dir", u"file", u"", uR"(C:\dir\)"},
      {uR"(C:\dir\.odx)", u"C:", u"dir", u"", u".odx", uR"(C:\dir\)"},
      {uR"(C:\dir\)", u"C:", u"", uR"(dir\)", u"", uR"(C:\)"},
      {u"C:", u"C:", u"", u"", u"", uR"(C:\)"},
      {u"C:file.odx", u"C:", u"", u"ile", u".odx", uR"(C:\)"},
      {uR"(dir\sub\f.odx)", u"", uR"(dir\sub)", u"f", u".odx", uR"(\dir\sub\)"},
      {u"", u"", u"", u"", u"", uR"(\)"},
      // Network share: no drive, the leading pair stays in the directory.
      {uR"(\\server\share\f.odx)", u"", uR"(\\server\share)", u"f", u".odx",
       uR"(\\\server\share\)"},
      // Versioned name: no earlier dot lies within four units of the end.
      {uR"(C:\x\a.v1.odx)", u"C:", u"x", u"a", u".odx", uR"(C:\x\)"},
      {uR"(C:\Program Files\App\prog.exe)", u"C:", uR"(Program Files\App)",
       u"prog", u".exe", uR"(C:\Program Files\App\)"},
      // Dots in the directory are never looked at.
      {uR"(C:\v1.2\readme)", u"C:", u"v1.2", u"readme", u"", uR"(C:\v1.2\)"},
  };
  for (const Row &row : rows)
    ExpectParts(row);
}

TEST(ParseFileString, SlashPathsKeepTheirOwnSeparator) {
  const Row rows[] = {
      {u"/opt/odx/odx-viewer", u"", u"/opt/odx", u"odx-viewer", u"",
       u"/opt/odx/"},
      {u"/home/u/a.v1.odx", u"", u"/home/u", u"a", u".odx", u"/home/u/"},
      {u"/f.odx", u"", u"", u"f", u".odx", u"/"},
      {u"a/b/f.xml", u"", u"a/b", u"f", u".xml", u"a/b/"},
      {u"/my dir/odx.pdf", u"", u"/my dir", u"odx", u".pdf", u"/my dir/"},
      {u"/", u"", u"", u"/", u"", u"/"},
      {u"C:/dir/f.odx", u"C:", u"dir", u"f", u".odx", u"C:/dir/"},
      // A backslash anywhere means Windows separators are written back.
      {uR"(C:\dir/f.odx)", u"C:", u"dir", u"f", u".odx", uR"(C:\dir\)"},
  };
  for (const Row &row : rows)
    ExpectParts(row);
}

TEST(ParseFileString, PathsBeyondSixteenBitPositionsStillParse) {
  const std::u16string folder(40000, u'd');
  ExpectParts({uR"(C:\)" + folder + uR"(\file.odx)", u"C:", folder, u"file",
               u".odx", uR"(C:\)" + folder + uR"(\)"});
}

} // namespace
