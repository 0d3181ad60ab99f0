#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <span>
#include <string_view>

namespace desktop {

// The per-user store that remembers values between runs (the last file).
// Reading hands the value into a caller's fixed buffer, so a value that does
// not fit (terminator included) fails the read instead of being cut.
class SettingsStore {
public:
  virtual ~SettingsStore() = default;

  // On success `buffer` holds the stored text and a terminating zero, and
  // `length` the number of characters before it.
  virtual bool ReadString(QStringView valueName, std::span<char16_t> buffer,
                          int32_t &length) = 0;
  virtual bool WriteString(QStringView valueName, std::u16string_view text) = 0;
};

// INI file in the user's configuration folder ($XDG_CONFIG_HOME or
// ~/.config): kestrane/Orrery.ini.  Every call opens the file afresh and
// closes it again, so two running viewers never work on stale values.
class UserSettingsStore final : public SettingsStore {
public:
  // The default location is worked out on every call, so it follows
  // XDG_CONFIG_HOME even when that changes while the process runs.
  UserSettingsStore() = default;
  explicit UserSettingsStore(QString filePath);

  bool ReadString(QStringView valueName, std::span<char16_t> buffer,
                  int32_t &length) override;
  bool WriteString(QStringView valueName, std::u16string_view text) override;

  QString FilePath() const;
  static QString DefaultFilePath();

private:
  QString fixedPath_; // empty: DefaultFilePath()
};

} // namespace desktop
