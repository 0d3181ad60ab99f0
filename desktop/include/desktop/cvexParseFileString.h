#pragma once

#include "foundation/cvexString.h"

// Splits a path into drive, directory, file name and extension once, at
// construction.  Both '\' and '/' separate; see GetDirectoryPath for which
// one is written back.
class cvexParseFileString {
public:
  cvexString fullPath;
  cvexString drive;     // "C:" or empty
  cvexString directory; // before the last separator, drive part removed
  cvexString fileName;  // up to the first dot
  cvexString extension; // dot plus one to four characters, or empty

  explicit cvexParseFileString(const cvexString &path);
  ~cvexParseFileString() = default;

  cvexParseFileString(const cvexParseFileString &) = delete;
  cvexParseFileString &operator=(const cvexParseFileString &) = delete;

  void Parse(const cvexString &path);

  // Drive, separator, directory, separator (the second only for a non-empty
  // directory).  A path that holds '/' and no '\' is written with '/'; when
  // it also has no drive it is a POSIX path and the directory is written as
  // it stands followed by '/' ("/opt/odx/x" -> "/opt/odx/", "a/b/x" ->
  // "a/b/"), or "/" alone when it is empty, so absolute paths keep their
  // single leading '/' and relative ones stay relative.
  void GetDirectoryPath(cvexString &out) const;
};
