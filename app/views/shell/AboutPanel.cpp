#include "app/views/shell/AboutPanel.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace app::views {

AboutPanel::AboutPanel(const QString& applicationName, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("About %1").arg(applicationName));
  auto* layout = new QVBoxLayout(this);
  nameField_ = new QLabel(applicationName, this);
  QFont nameFont = nameField_->font();
  nameFont.setBold(true);
  nameFont.setPointSizeF(nameFont.pointSizeF() * 1.5);
  nameField_->setFont(nameFont);
  nameField_->setAlignment(Qt::AlignHCenter);
  versionField_ = new QLabel(this);
  versionField_->setObjectName("aboutVersionField");
  versionField_->setAlignment(Qt::AlignHCenter);
  versionField_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(nameField_);
  layout->addWidget(versionField_);
}

void AboutPanel::setVersionText(const QString& text) { versionField_->setText(text); }

QString AboutPanel::versionText() const { return versionField_->text(); }

void AboutPanel::showCentred() {
  adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  activateWindow();
}

}  // namespace app::views
