#include "app/ViewerApplication.h"
#include "app/unitFrmODXMainForm.h"
#include "platform/FileName.h"

#include <QFileInfo>

#include <exception>

int main(int argc, char *argv[]) {
  app::ViewerApplication app(argc, argv);
  // The name the desktop shows for the program.  No display name is set:
  // Qt would append it to every window title, and the captions are exact.
  QCoreApplication::setApplicationName(QStringLiteral("ODX Kestrane"));
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
