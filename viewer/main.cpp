#include "viewer/ViewerApplication.h"
#include "viewer/unitFrmODXMainForm.h"

#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <exception>

namespace {

// ODX_SCREENSHOT=FILE.png: once the window has settled, save what it shows
// and quit.  Lets scripts and CI look at the real window under Xvfb.
void ArmScreenshot(TfrmODXViewer &window) {
  const QString target = qEnvironmentVariable("ODX_SCREENSHOT");
  if (target.isEmpty())
    return;
  const int delayMs =
      qEnvironmentVariableIsSet("ODX_SCREENSHOT_DELAY_MS")
          ? qEnvironmentVariableIntValue("ODX_SCREENSHOT_DELAY_MS")
          : 1500;
  // Show some of the outline, and hits when a term is given.
  QTimer::singleShot(delayMs / 2, &window, [&window] {
    if (auto *items =
            window.findChild<QTreeView *>(QStringLiteral("treeItems")))
      items->expandToDepth(2);
    const QString term = qEnvironmentVariable("ODX_SCREENSHOT_FILTER");
    auto *filter = window.findChild<QLineEdit *>(QStringLiteral("txtFilter"));
    if (!term.isEmpty() && filter) {
      filter->setText(term);
      window.cmdSearchClick();
    }
  });
  QTimer::singleShot(delayMs, &window, [&window, target] {
    const bool saved = window.grab().save(target);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save",
                 qPrintable(target));
    QCoreApplication::exit(saved ? 0 : 1);
  });
}

} // namespace

int main(int argc, char *argv[]) {
  viewer::ViewerApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("ODX Kestrane"));
  QGuiApplication::setApplicationDisplayName(QStringLiteral("ODX Kestrane"));
  try {
    TfrmODXViewer frmODXViewer;
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1)
      frmODXViewer.SetStartupFile(
          QFileInfo(arguments.at(1)).absoluteFilePath());
    ArmScreenshot(frmODXViewer);
    frmODXViewer.show();
    const int code = QApplication::exec();
    if (!qEnvironmentVariableIsEmpty("ODX_SCREENSHOT"))
      return code;
  } catch (const std::exception &e) {
    viewer::ViewerApplication::ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    viewer::ViewerApplication::ShowException(QString());
  }
  return 0;
}
