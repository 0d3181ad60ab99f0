#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

// File names are bytes on POSIX, mostly UTF-8.  Qt's own conversion turns a
// byte that is not valid UTF-8 into U+FFFD, so such a file could be listed
// but never opened.  These two keep every name: an invalid byte b becomes
// the lone surrogate U+DC00 + b on the way in and b again on the way out.
namespace platform {

QString DecodeFileName(const QByteArray &bytes);
QByteArray EncodeFileName(std::u16string_view name);
QByteArray EncodeFileName(const QString &name);

} // namespace platform
