#pragma once

#include "desktop/Messages.h"
#include "tests/desktop/RecordingShell.h"

#include <QList>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <stdexcept>

namespace desktop {

// Records every message instead of showing it, with how many calls the
// shell given (if any) had recorded by then, so a test can tell what came
// first.
class RecordingMessages final : public MessageSink {
public:
  struct Shown {
    QString text;
    QString caption;
    MessageIcon icon;
    std::size_t shellCallsBefore;
    QString details;
  };

  explicit RecordingMessages(const RecordingShell *shell = nullptr)
      : shell_(shell) {}

  void ShowMessage(const QString &text, const QString &caption,
                   MessageIcon icon) override {
    if (failWith)
      throw std::runtime_error(failWith);
    if (whileShown)
      whileShown();
    shown.append(
        {text, caption, icon, shell_ ? shell_->CallCount() : 0, QString()});
  }

  void ShowDetailedMessage(const QString &text, const QString &caption,
                           MessageIcon icon, const QString &details) override {
    ShowMessage(text, caption, icon);
    shown.last().details = details;
  }

  QStringList Texts() const {
    QStringList texts;
    for (const Shown &s : shown)
      texts << s.text;
    return texts;
  }

  QList<Shown> shown;
  const char *failWith = nullptr;   // throws instead of showing
  std::function<void()> whileShown; // what the user does before closing it

private:
  const RecordingShell *shell_;
};

} // namespace desktop
