#pragma once

#include <QString>

namespace platform {

// Absolute path of the running executable, or an empty string when the
// system will not tell.
QString ExecutablePath();

} // namespace platform
