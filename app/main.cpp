#include "app/ViewerApplication.h"
#include "app/unitFrmODXMainForm.h"
#include "platform/FileName.h"

#include <QFileInfo>

#include <exception>

int main(int argc, char *argv[]) {
  app::ViewerApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("ODX Kestrane"));
  QGuiApplication::setApplicationDisplayName(QStringLiteral("ODX Kestrane"));
  try {
    TfrmODXViewer frmODXViewer;
    // argv, not arguments(): Qt's decoding loses bytes that are not UTF-8,
    // and such a file must still open.  Qt has taken out its own options.
    if (argc > 1)
      frmODXViewer.SetStartupFile(
          QFileInfo(platform::DecodeFileName(argv[1])).absoluteFilePath());
    frmODXViewer.show();
    QApplication::exec();
  } catch (const std::exception &e) {
    app::ViewerApplication::ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    app::ViewerApplication::ShowException(QString());
  }
  return 0;
}
