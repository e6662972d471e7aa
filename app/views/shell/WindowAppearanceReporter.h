#pragma once
// WindowAppearanceReporter: reports each window (and dialog) about to be
// shown to the platform's appearance hook by its class name
// (platform/ViewControllerAppearance.h), so the telemetry's page tracking
// can follow what the operator sees without linking Qt. Menus, tool tips and
// other pop-ups are not windows the operator opens and are not reported.
//
// An event filter on the application; owned by main() (or a test), GUI
// thread only.

#include <QObject>

namespace app::views {

class WindowAppearanceReporter final : public QObject {
  Q_OBJECT

 public:
  explicit WindowAppearanceReporter(QObject* parent = nullptr);
  ~WindowAppearanceReporter() override;
  WindowAppearanceReporter(const WindowAppearanceReporter&) = delete;
  WindowAppearanceReporter& operator=(const WindowAppearanceReporter&) = delete;

  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace app::views
