#pragma once
// ApplicationActivityNotifier: turns Qt's application state into the
// activity notifications code without a window system listens to (the
// telemetry session tracker, the crash service): leaving the active state
// posts "NSApplicationDidResignActiveNotification", reaching it posts
// "NSApplicationWillBecomeActiveNotification", on the default notification
// centre. While it lives it also answers whether the application is hidden
// (Qt's hidden or suspended state) for the telemetry's application state.
//
// Owned by main() (or a test), made on the Qt GUI thread after the
// QApplication; GUI thread only.

#include <QObject>

namespace app::views {

class ApplicationActivityNotifier final : public QObject {
  Q_OBJECT

 public:
  explicit ApplicationActivityNotifier(QObject* parent = nullptr);
  ~ApplicationActivityNotifier() override;
  ApplicationActivityNotifier(const ApplicationActivityNotifier&) = delete;
  ApplicationActivityNotifier& operator=(const ApplicationActivityNotifier&) = delete;

  // Qt's applicationStateChanged lands here.
  void applicationStateChanged(Qt::ApplicationState state);

 private:
  Qt::ApplicationState state_;
};

}  // namespace app::views
