#pragma once

#include "foundation/cvexDynamicArrayTemplate.h"
#include "foundation/cvexString.h"
#include "platform/FileHandle.h"

#include <cstdint>

// A file on disk (through platform handles) or, with onDisk cleared, in a
// byte array in memory.
class cvexFile {
public:
  cvexDynamicArrayTemplate<unsigned char> lineBuffer;
  // Valid from a successful Open until Close, which sets it back to
  // kInvalidFile; the destructor closes a handle that is still valid.
  platform::FileHandle handle = platform::kInvalidFile;
  bool readOnly = false;
  bool onDisk = true;
  cvexDynamicArrayTemplate<unsigned char> memory;
  int32_t memoryPos = 0;

  cvexFile() = default;
  virtual ~cvexFile();
  cvexFile(const cvexFile &) = delete;
  cvexFile &operator=(const cvexFile &) = delete;

  bool Open(const cvexString &path, bool create);
  bool Close();
  bool ReadBlock(void *destination, const int32_t &count);
  bool Read(void *destination, int32_t count, int32_t &bytesRead);
  bool Write(const void *source, int32_t count, int32_t &bytesWritten);
  bool WriteLine(const cvexString &line);
  bool ReadLine(cvexString &line);
  int32_t Size();
  void Rewind();
};
