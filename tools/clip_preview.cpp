// clip-preview FILE: a window that previews one media file, as the clip
// inspector's preview pane does: play, scrub, step, and mark in and out
// points (kept for the life of the window).

#include <QApplication>

#include <cstdio>
#include <filesystem>

#include "app/views/preview/ClipPreviewWindow.h"
#include "app/views/shell/QtMainQueueDriver.h"
#include "foundation/CVNLogController.h"
#include "media/readers/StandardAssetReaders.h"
#include "platform/UserDefaults.h"

namespace {

// The operator application's defaults, so "ignoreTCOffsetInInspector" is shared.
constexpr const char* kDefaultsSuiteName = "com.dirarovazovo.RuzizevuZazo";

}  // namespace

int main(int argc, char** argv) {
  platform::UserDefaults::configureStandard(kDefaultsSuiteName, argc, argv);
  foundation::CVNLogController::sharedLogController().installAsDiagnosticHandler();
  media::registerStandardAssetReaders();

  QApplication application(argc, argv);
  QApplication::setApplicationDisplayName("Clip Preview");
  const QStringList arguments = QApplication::arguments();
  // "-key value" pairs before the file set defaults for this run.
  if (arguments.size() < 2 || arguments.back().startsWith('-')) {
    std::fprintf(stderr, "usage: clip-preview FILE\n");
    return 2;
  }
  app::views::QtMainQueueDriver mainQueueDriver;
  int exitCode = 0;
  {
    app::views::ClipPreviewWindow window(platform::UserDefaults::standard());
    window.openFile(arguments.back().toStdString());
    window.show();
    exitCode = application.exec();
  }
  return exitCode;
}
