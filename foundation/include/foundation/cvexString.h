#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Growable, NUL-terminated string of UTF-16 code units with a public buffer.
// Every user reads `buffer` by index or writes into it directly (staying
// below `capacity`) and ends the text with Terminate.  Never copied: values
// move between strings through the assignment operations.
class cvexString {
public:
  QString wideCache;    // copy made by the last AsWide
  QByteArray ansiCache; // copy made by the last AsAnsi
  int32_t growBy = 50;  // spare units reserved when a write forces growth
  int32_t tag = 0;      // copied by Assign, otherwise untouched
  char16_t *buffer = nullptr;
  int32_t capacity = 0; // units allocated in buffer, terminator included

  cvexString();
  cvexString(int32_t initialCapacity, int32_t growthStep);
  explicit cvexString(const char *ansi);
  virtual ~cvexString();

  cvexString(const cvexString &) = delete;
  cvexString &operator=(const cvexString &) = delete;

  bool SetCapacity(int32_t n, bool keep);
  void ReleaseBuffer();

  void AssignWide(const char16_t *text);
  cvexString &operator=(const char16_t *text);
  void AppendWide(const char16_t *text);
  cvexString &operator+=(const char16_t *text);
  cvexString &Append(const cvexString &other);
  cvexString &Assign(const cvexString &other);
  cvexString &AssignAnsi(const char *text);
  cvexString &AppendAnsi(const char *text);

  int32_t CompareBuffers(const char16_t *first, const char16_t *second) const;
  bool Equals(const cvexString &other) const;
  bool EqualsAnsi(const char *text) const;

  int32_t Length() const;
  bool IsEmpty() const;
  void ToLower();

  const QString &AsWide();
  const QByteArray &AsAnsi();

  int32_t Find(int32_t start, const char16_t *needle) const;
  int32_t Find(int32_t start, const cvexString &needle) const;

  int32_t ParseNumber(bool hexadecimal) const;
  int32_t ParseHex() const;
  static int32_t HexPlaceValue(int32_t k);
  static int32_t DecimalPlaceValue(int32_t k);

  void Terminate(int32_t index);
  void TruncateAt(int32_t index);
  void KeepRight(int32_t count);
  cvexString &Mid(int32_t start, int32_t count);
};
