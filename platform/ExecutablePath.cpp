#include "platform/ExecutablePath.h"

#include "platform/FileName.h"

#include <QByteArray>
#include <QFile>

#include <unistd.h>

namespace platform {

QString ExecutablePath() {
  // readlink does not say whether it truncated, so grow until it fits.
  QByteArray buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(),
                                 static_cast<size_t>(buffer.size()));
    if (n < 0)
      return {};
    if (n < buffer.size()) {
      buffer.truncate(n);
      break;
    }
    if (buffer.size() >= (1 << 20))
      return {};
    buffer.resize(buffer.size() * 2);
  }
  // An executable replaced on disk while running is reported with this tag;
  // its folder is still the one we want.
  static constexpr char kDeleted[] = " (deleted)";
  if (buffer.endsWith(kDeleted))
    buffer.chop(sizeof kDeleted - 1);
  return DecodeFileName(buffer);
}

} // namespace platform
