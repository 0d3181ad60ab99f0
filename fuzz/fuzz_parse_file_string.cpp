// Path splitting of arbitrary UTF-16 text: every part is a piece of the
// path in its place, and the pieces never overlap.

#include "desktop/cvexParseFileString.h"
#include "fuzz/FuzzSupport.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::u16string units = fuzz::TakeUnits(data, size, size / 2);
  cvexString path;
  path.AssignWide(units.c_str());
  const cvexParseFileString parts(path);
  const std::u16string_view full = fuzz::View(path);
  const std::u16string_view drive = fuzz::View(parts.drive);
  const std::u16string_view directory = fuzz::View(parts.directory);
  const std::u16string_view fileName = fuzz::View(parts.fileName);
  const std::u16string_view extension = fuzz::View(parts.extension);

  FUZZ_CHECK(fuzz::View(parts.fullPath) == full);
  // The drive is the path's first two units exactly when the second is ':'.
  if (full.size() >= 2 && full[1] == u':')
    FUZZ_CHECK(drive == full.substr(0, 2));
  else
    FUZZ_CHECK(drive.empty());

  // What follows the drive letter, colon and one more unit.
  const std::u16string_view rest =
      drive.empty() ? full : full.substr(std::min<size_t>(3, full.size()));
  FUZZ_CHECK(rest.substr(0, directory.size()) == directory);
  FUZZ_CHECK(drive.size() + directory.size() + fileName.size() +
                 extension.size() <=
             full.size() + 1);
  FUZZ_CHECK(fileName.find(u'.') == std::u16string_view::npos);
  FUZZ_CHECK(rest.find(fileName) != std::u16string_view::npos);
  if (!directory.empty()) {
    // A directory was found only at a separator, and the file name follows
    // it directly.
    FUZZ_CHECK(rest.size() > directory.size());
    FUZZ_CHECK(IsSeparator(rest[directory.size()]));
    FUZZ_CHECK(rest.substr(directory.size() + 1, fileName.size()) == fileName);
  }
  if (!extension.empty()) {
    FUZZ_CHECK(extension[0] == u'.');
    FUZZ_CHECK(extension.size() <= 5);
    FUZZ_CHECK(rest.find(extension) != std::u16string_view::npos);
  }

  cvexString out;
  parts.GetDirectoryPath(out);
  const std::u16string_view dirPath = fuzz::View(out);
  FUZZ_CHECK(dirPath.size() <= drive.size() + directory.size() + 2);
  FUZZ_CHECK(dirPath.find(directory) != std::u16string_view::npos);
  FUZZ_CHECK(!dirPath.empty() && IsSeparator(dirPath.back()));
  return 0;
}
