#include "foundation/LowerCase.h"

#include <QChar>

#include <memory>

const LowerCaseTable &LowerCase() {
  // Built on first use and never changed; 128 KiB, so not on the stack.
  static const std::unique_ptr<const LowerCaseTable> table = [] {
    auto t = std::make_unique<LowerCaseTable>();
    for (char32_t u = 0; u < 0x10000; ++u)
      (*t)[u] = QChar(static_cast<char16_t>(u)).toLower().unicode();
    // Qt leaves the capital I with dot above alone, because its full
    // mapping takes two characters; its simple mapping is a plain i.
    (*t)[0x0130] = u'i';
    return std::unique_ptr<const LowerCaseTable>(std::move(t));
  }();
  return *table;
}
