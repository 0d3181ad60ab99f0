#include "viewer/ViewerApplication.h"
#include "viewer/unitFrmODXMainForm.h"

#include <QFileInfo>

#include <exception>

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
    frmODXViewer.show();
    QApplication::exec();
  } catch (const std::exception &e) {
    viewer::ViewerApplication::ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    viewer::ViewerApplication::ShowException(QString());
  }
  return 0;
}
