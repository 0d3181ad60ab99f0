#include "app/ProductInfo.h"
#include "app/ViewerApplication.h"
#include "app/unitFrmODXMainForm.h"
#include "platform/FileName.h"

#include <QFileInfo>

#include <cstdio>
#include <exception>
#include <string_view>

namespace {

constexpr char kUsage[] = "usage: odx-viewer [--help | --version] [FILE]\n";

} // namespace

int main(int argc, char *argv[]) {
  // Answered before the application object, so they need no display.
  for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs("Shows an ODX file or PDX package as an outline tree; "
                 "without FILE, the last file.\n"
                 "A file whose name starts with -- opens as ./--NAME or "
                 "after --.\n",
                 stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("%s %s\n", app::kProductName, app::kVersion);
      return 0;
    }
  }
  app::ViewerApplication app(argc, argv);
  // Qt has taken out its own options by now; what is left is ours.  An
  // unknown option is refused rather than opened (and remembered) as a file.
  const char *file = nullptr;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--") {
      options = false;
      continue;
    }
    if ((options && arg.starts_with("--")) || file) {
      std::fprintf(stderr, "odx-viewer: %s %s\n%s",
                   file ? "one file at a time, not" : "unknown option", argv[i],
                   kUsage);
      return 2;
    }
    file = argv[i];
  }
  // The name the desktop shows for the program.  No display name is set:
  // Qt would append it to every window title, and the captions are exact.
  QCoreApplication::setApplicationName(QStringLiteral("ODX Kestrane"));
  try {
    TfrmODXViewer frmODXViewer;
    // argv, not arguments(): Qt's decoding loses bytes that are not UTF-8,
    // and such a file must still open.
    if (file)
      frmODXViewer.SetStartupFile(
          QFileInfo(platform::DecodeFileName(file)).absoluteFilePath());
    frmODXViewer.show();
    QApplication::exec();
  } catch (const std::exception &e) {
    app::ViewerApplication::ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    app::ViewerApplication::ShowException(QString());
  }
  return 0;
}
