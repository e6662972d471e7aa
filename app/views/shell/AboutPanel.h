#pragma once
// AboutPanel: the About panel: the application's name and its version field.
// It shows the text it is given; what the text says is decided by the
// application delegate.
//
// Owned by the window layer (QtApplicationWindows); a top-level window of the
// GUI thread.

#include <QDialog>
#include <QString>

class QLabel;

namespace app::views {

class AboutPanel final : public QDialog {
  Q_OBJECT

 public:
  explicit AboutPanel(const QString& applicationName, QWidget* parent = nullptr);

  void setVersionText(const QString& text);
  QString versionText() const;
  // Centres the panel on the screen and brings it to the front.
  void showCentred();

 private:
  QLabel* nameField_ = nullptr;     // owned by the panel (child)
  QLabel* versionField_ = nullptr;  // owned by the panel (child)
};

}  // namespace app::views
