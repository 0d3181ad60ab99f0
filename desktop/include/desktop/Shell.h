#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>

class QObject;

namespace desktop {

// The shell's "open" action.  Text arrives as 8-bit text in the system code
// page, the way the caller hands it over; empty parameters mean none.  The
// call returns at once and reports nothing.
class Shell {
public:
  virtual ~Shell() = default;
  virtual void ShellExecute(QObject *owner, const QByteArray &verb,
                            const QByteArray &file,
                            const QByteArray &parameters) = 0;
};

// What DesktopShell asks of the system.  Tests swap these to see the exact
// program and arguments without starting anything.
struct ShellServices {
  std::function<QString(const QString &name)> findExecutable;
  std::function<bool(const QString &program, const QStringList &arguments)>
      startDetached;
  std::function<bool(const QString &path)> openDocument; // default app
  std::function<bool(const QString &path)> exists;

  static ShellServices System();
};

// The PDF reader's request: `/a "search=TEXT" PDFPATH`.
struct PdfSearchRequest {
  QString searchText;
  QString pdfPath;
};

// The PDF path is left unquoted by the caller and may hold spaces, so it is
// everything after the last `" ` (closing quote and space); the search text
// is everything between `search=` and that quote, quotes included.  A path
// that does come quoted loses its surrounding quotes.  Text of another shape
// is split by the Windows rules: "/a", then "search=TEXT", then the path as
// the remaining arguments joined by single spaces.
std::optional<PdfSearchRequest> ParsePdfSearchParameters(QStringView text);

// Documents open in the desktop's default application.  Programs are looked
// up on PATH (a trailing ".exe" may be dropped), their parameter string is
// split by the Windows rules and they start detached, never through a shell.
// Where "acrord32.exe" is missing, evince or okular runs the search, and
// failing both the PDF opens in the default application.
class DesktopShell final : public Shell {
public:
  DesktopShell();
  explicit DesktopShell(ShellServices services);

  void ShellExecute(QObject *owner, const QByteArray &verb,
                    const QByteArray &file,
                    const QByteArray &parameters) override;

private:
  QString FindProgram(const QString &name) const;
  void SearchPdf(const QString &parameters);

  ShellServices services_;
};

} // namespace desktop
