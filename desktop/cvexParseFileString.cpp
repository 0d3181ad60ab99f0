#include "desktop/cvexParseFileString.h"

#include <cstdint>

namespace {

constexpr int32_t kPartCapacity = 255;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Copies text[from, to) into out, replacing its content.
void AssignRange(cvexString &out, const char16_t *text, int32_t from,
                 int32_t to) {
  const int32_t n = to > from ? to - from : 0;
  if (n >= out.capacity)
    out.SetCapacity(n + 1, false);
  for (int32_t k = 0; k < n; ++k)
    out.buffer[k] = text[from + k];
  out.Terminate(n);
}

bool Holds(const cvexString &s, char16_t wanted) {
  const int32_t n = s.Length();
  for (int32_t k = 0; k < n; ++k)
    if (s.buffer[k] == wanted)
      return true;
  return false;
}

} // namespace

cvexParseFileString::cvexParseFileString(const cvexString &path) {
  drive.SetCapacity(kPartCapacity, false);
  directory.SetCapacity(kPartCapacity, false);
  fileName.SetCapacity(kPartCapacity, false);
  extension.SetCapacity(kPartCapacity, false);
  fullPath.Assign(path);
  Parse(path);
}

// Positions are 32-bit, so paths longer than 32,767 units follow the same
// rules instead of wrapping round.
void cvexParseFileString::Parse(const cvexString &path) {
  directory.TruncateAt(0);
  fileName.TruncateAt(0);

  cvexString work(kPartCapacity, 50);
  work.Assign(path);
  int32_t len = work.Length();

  // Drive letter, colon and whatever single character follows them.
  if (len >= 2 && work.buffer[1] == u':') {
    AssignRange(drive, work.buffer, 0, 2);
    if (len < 3) {
      work.TruncateAt(0);
    } else {
      work.Mid(3, len - 3);
    }
    len = work.Length();
  }

  // Counts below are taken against the length before the scan (`len`), while
  // `end` follows the cuts made so far.
  int32_t end = len;
  bool separatorFound = false;
  for (int32_t i = len - 1; i >= 0; --i) {
    const char16_t c = work.buffer[i];
    const int32_t after = len - i - 1;
    if (c == u'.') {
      if (after >= 1 && after <= 4)
        AssignRange(extension, work.buffer, i, end);
      end = i;
      work.Terminate(end);
    } else if (IsSeparator(c) && after >= 1) {
      AssignRange(fileName, work.buffer, i + 1, end);
      end = i;
      work.Terminate(end);
      separatorFound = true;
      break;
    }
  }

  if (separatorFound)
    directory.Assign(work);
  else
    fileName.Assign(work);
}

void cvexParseFileString::GetDirectoryPath(cvexString &out) const {
  const bool slashPath = Holds(fullPath, u'/') && !Holds(fullPath, u'\\');
  if (slashPath && drive.IsEmpty()) {
    out.Assign(directory);
    if (directory.IsEmpty() || directory.buffer[directory.Length() - 1] != u'/')
      out.AppendAnsi("/");
    return;
  }
  const char *separator = slashPath ? "/" : "\\";
  out.Assign(drive);
  out.AppendAnsi(separator);
  out.Append(directory);
  if (!directory.IsEmpty())
    out.AppendAnsi(separator);
}
