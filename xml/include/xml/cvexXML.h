#pragma once

#include "foundation/cvexDynamicArrayTemplate.h"
#include "foundation/cvexFile.h"
#include "foundation/cvexString.h"
#include "xml/TextEncoding.h"

#include <cstdint>

enum : unsigned char { xtOpen = 0, xtClose = 1, xtLeaf = 2, xtComment = 3 };

// Byte-level XML token reader: loads a whole file and cuts it into start
// tags, end tags, elements with only text, and comments.
//
// Open reads a file as bytes and widens every byte to one character.
// OpenDocument and LoadDocument read it as the document's text: a UTF-16 or
// UTF-32 file is turned into UTF-8 first, and names, values, attribute texts
// and raw copies are decoded by the document's encoding before entities are.
class cvexXML {
public:
  bool isOpen = false;
  cvexString hexDigits;
  cvexDynamicArrayTemplate<unsigned char> content;
  int32_t pos = 0;
  cvexFile file;
  cvexString lastError;
  // How texts are cut from the bytes; Latin-1 is one character per byte.
  xml::Encoding textEncoding = xml::Encoding::Latin1;

  enum class LoadResult { Loaded, CouldNotOpen, TooLarge };

  cvexXML() = default;
  virtual ~cvexXML();
  cvexXML(const cvexXML &) = delete;
  cvexXML &operator=(const cvexXML &) = delete;

  bool Open(const cvexString &path, unsigned char mode);
  LoadResult OpenDocument(const cvexString &path);
  // Takes over `bytes` (left empty) as the document's bytes, for documents
  // that do not come from a file of their own.
  LoadResult LoadDocument(cvexDynamicArrayTemplate<unsigned char> &bytes);
  bool NextToken(unsigned char &kind, cvexString &name, cvexString &value,
                 cvexString &attributes);
  void DecodeEntities(const cvexString &source, cvexString &destination);
  void CopyRaw(int32_t from, char16_t *destination, int32_t &copied) const;
  int32_t Position() const;
  // Promises that no byte before `offset` will be read again (no CopyRaw
  // from there), so their memory can go back to the system as the scan
  // moves on; peak memory then holds little more of the file than the text
  // still to be copied.
  void ReleaseBefore(int32_t offset);
  int32_t PercentDone() const;
  bool Close();

private:
  LoadResult PrepareDocument();
  int32_t released_ = 0;  // bytes before this may be gone
  cvexString decodeWork_; // DecodeEntities' working text
};
