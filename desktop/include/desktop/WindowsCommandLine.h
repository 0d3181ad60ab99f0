#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace desktop {

// Splits a parameter string the way a Windows program's C runtime does
// (msvcrt from 2008 on):
// - spaces and tabs outside double quotes separate arguments;
// - a double quote starts or ends a quoted run; "" inside a quoted run is a
//   literal quote and the run goes on;
// - 2n backslashes before a quote give n backslashes and the quote acts as
//   above; 2n+1 backslashes before a quote give n backslashes and a literal
//   quote; backslashes anywhere else are literal;
// - "" outside a run is an empty argument.
QStringList SplitWindowsCommandLine(QStringView line);

} // namespace desktop
