#pragma once

#include "foundation/cvexDynamicArrayTemplate.h"
#include "foundation/cvexFile.h"
#include "foundation/cvexString.h"

#include <cstdint>

enum : unsigned char { xtOpen = 0, xtClose = 1, xtLeaf = 2, xtComment = 3 };

// Byte-level XML token reader: loads a whole file and cuts it into start
// tags, end tags, elements with only text, and comments.
class cvexXML {
public:
  bool isOpen = false;
  cvexString hexDigits;
  cvexDynamicArrayTemplate<unsigned char> content;
  int32_t pos = 0;
  cvexFile file;
  cvexString lastError;

  cvexXML() = default;
  virtual ~cvexXML();
  cvexXML(const cvexXML &) = delete;
  cvexXML &operator=(const cvexXML &) = delete;

  bool Open(const cvexString &path, unsigned char mode);
  bool NextToken(unsigned char &kind, cvexString &name, cvexString &value,
                 cvexString &attributes);
  void DecodeEntities(const cvexString &source, cvexString &destination);
  void CopyRaw(int32_t from, char16_t *destination, int32_t &copied) const;
  int32_t Position() const;
  int32_t PercentDone() const;
  bool Close();
};
