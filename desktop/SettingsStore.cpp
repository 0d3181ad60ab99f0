#include "desktop/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

#include <algorithm>
#include <utility>

namespace desktop {

namespace {

// The same file QSettings(IniFormat, UserScope, "kestrane", "Orrery") uses.
// Qt caches its user path once per process; working it out here keeps the
// store on the current XDG_CONFIG_HOME.
constexpr auto kOrganisation = "kestrane";
constexpr auto kApplication = "Orrery";

// Every access, reads included, needs the store's folder: it is created
// when missing, and a store whose folder cannot be made is no store.
bool PrepareFolder(const QString &filePath) {
  const QString folder = QFileInfo(filePath).absolutePath();
  return QDir().mkpath(folder);
}

} // namespace

UserSettingsStore::UserSettingsStore(QString filePath)
    : fixedPath_(std::move(filePath)) {}

QString UserSettingsStore::DefaultFilePath() {
  return QStandardPaths::writableLocation(
             QStandardPaths::GenericConfigLocation) +
         QLatin1Char('/') + QLatin1String(kOrganisation) + QLatin1Char('/') +
         QLatin1String(kApplication) + QLatin1String(".ini");
}

QString UserSettingsStore::FilePath() const {
  return fixedPath_.isEmpty() ? DefaultFilePath() : fixedPath_;
}

bool UserSettingsStore::ReadString(QStringView valueName,
                                   std::span<char16_t> buffer,
                                   int32_t &length) {
  length = 0;
  const QString path = FilePath();
  if (!PrepareFolder(path))
    return false;
  QSettings settings(path, QSettings::IniFormat);
  // Reading asks for write access too: a store we may not write yields
  // no remembered value.
  if (!settings.isWritable() || settings.status() != QSettings::NoError)
    return false;
  const QVariant value = settings.value(valueName.toString());
  if (!value.isValid() || value.typeId() != QMetaType::QString)
    return false;
  const QString text = value.toString();
  if (buffer.empty() || static_cast<std::size_t>(text.size()) >= buffer.size())
    return false;
  std::copy_n(reinterpret_cast<const char16_t *>(text.utf16()), text.size(),
              buffer.begin());
  buffer[static_cast<std::size_t>(text.size())] = u'\0';
  length = static_cast<int32_t>(text.size());
  return true;
}

bool UserSettingsStore::WriteString(QStringView valueName,
                                    std::u16string_view text) {
  const QString path = FilePath();
  if (!PrepareFolder(path))
    return false;
  QSettings settings(path, QSettings::IniFormat);
  if (!settings.isWritable())
    return false;
  // Only the characters before the first zero are the text.
  const auto end = text.find(u'\0');
  if (end != std::u16string_view::npos)
    text = text.substr(0, end);
  settings.setValue(
      valueName.toString(),
      QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
  // QSettings writes through a lock file and an atomically renamed copy,
  // so a failed sync leaves the previous store in place.
  settings.sync();
  return settings.status() == QSettings::NoError;
}

} // namespace desktop
