#pragma once

#include "foundation/cvexString.h"

// File-system questions asked by the hand-offs: where the executable lies,
// copying a file over a target, and whether a path names anything.
class cvexDir {
public:
  cvexDir() = default;
  virtual ~cvexDir() = default;

  cvexDir(const cvexDir &) = delete;
  cvexDir &operator=(const cvexDir &) = delete;

  // Folder of the running executable with a trailing '/'.  Always true.
  bool GetApplicationDirectory(cvexString &out);

  // Replaces target with a copy of source.  The copy is written under a
  // temporary name beside the target and renamed into place, so a reader
  // never sees half a file.  Always returns true; the real outcome goes to
  // *copied when the caller asks for it.
  bool Copy(const cvexString &source, const cvexString &target,
            bool *copied = nullptr);

  // True for an existing file or folder, or for a pattern whose last
  // component holds '*' or '?' and matches at least one entry of its folder.
  bool Exists(const cvexString &path);
};
