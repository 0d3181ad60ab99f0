#include "desktop/WindowsCommandLine.h"

namespace desktop {

namespace {
bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }
} // namespace

QStringList SplitWindowsCommandLine(QStringView line) {
  QStringList args;
  const qsizetype size = line.size();
  qsizetype i = 0;
  for (;;) {
    while (i < size && IsBlank(line[i]))
      ++i;
    if (i == size)
      return args;

    QString current;
    bool quoted = false;
    while (i < size && (quoted || !IsBlank(line[i]))) {
      const QChar c = line[i];
      if (c == u'\\') {
        qsizetype run = 0;
        while (i < size && line[i] == u'\\') {
          ++run;
          ++i;
        }
        if (i < size && line[i] == u'"') {
          current.append(QString(run / 2, u'\\'));
          if (run % 2 == 1) {
            current.append(u'"');
            ++i;
          }
        } else {
          current.append(QString(run, u'\\'));
        }
      } else if (c == u'"') {
        if (quoted && i + 1 < size && line[i + 1] == u'"') {
          current.append(u'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        current.append(c);
        ++i;
      }
    }
    args.append(current);
  }
}

} // namespace desktop
