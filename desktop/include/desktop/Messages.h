#pragma once

#include <QString>

namespace desktop {

enum class MessageIcon { None, Information };

// A modal message owned by the main window: the one way a failure reaches
// the user.
class MessageSink {
public:
  virtual ~MessageSink() = default;
  // Modal: returns when the user has closed the message.
  virtual void ShowMessage(const QString &text, const QString &caption,
                           MessageIcon icon) = 0;
  // The same with a secondary text below the message (which file, and
  // why); a sink that cannot show one shows the message alone.
  virtual void ShowDetailedMessage(const QString &text, const QString &caption,
                                   MessageIcon icon, const QString &details) {
    (void)details;
    ShowMessage(text, caption, icon);
  }
};

} // namespace desktop
