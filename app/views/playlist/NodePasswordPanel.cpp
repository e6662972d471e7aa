#include "app/views/playlist/NodePasswordPanel.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

namespace app::views {
namespace {

constexpr int kDistanceBelowWindowTop = 154;
constexpr int kFadeInMilliseconds = 200;

}  // namespace

NodePasswordPanel::NodePasswordPanel(OKHandler ok, CancelHandler cancel, QWidget* parent)
    : QDialog(parent, Qt::Dialog),
      ok_(std::move(ok)),
      cancel_(std::move(cancel)),
      nodeANameField_(new QLabel(this)),
      nodeBNameField_(new QLabel(this)),
      nodeAPasswordField_(new QLineEdit(this)),
      nodeBPasswordField_(new QLineEdit(this)),
      nodeAKeychainBox_(new QCheckBox(tr("Remember this password in my keychain"), this)),
      nodeBKeychainBox_(new QCheckBox(tr("Remember this password in my keychain"), this)) {
  setWindowTitle(tr("Unlock"));
  setObjectName("nodePasswordWindow");
  nodeAPasswordField_->setObjectName("nodeAPasswordField");
  nodeBPasswordField_->setObjectName("nodeBPasswordField");
  nodeAKeychainBox_->setObjectName("nodeAKeychainBox");
  nodeBKeychainBox_->setObjectName("nodeBKeychainBox");
  for (QLineEdit* field : {nodeAPasswordField_, nodeBPasswordField_}) field->setEchoMode(QLineEdit::Password);

  auto* form = new QFormLayout;
  form->addRow(nodeANameField_);
  form->addRow(tr("Password:"), nodeAPasswordField_);
  form->addRow(nodeAKeychainBox_);
  form->addRow(nodeBNameField_);
  form->addRow(tr("Password:"), nodeBPasswordField_);
  form->addRow(nodeBKeychainBox_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, [this] { accepted(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(this, &QDialog::rejected, this, [this] {
    if (cancel_) cancel_();
  });
}

void NodePasswordPanel::present(const PasswordPanelState& state, const QWidget& window) {
  request_ = state.request;
  const bool both = state.request == PasswordRequest::NodesAAndB;
  nodeANameField_->setText(QString::fromStdString(state.nodeANameField));
  nodeAPasswordField_->setText(QString::fromStdString(state.nodeAPassword));
  nodeBNameField_->setText(QString::fromStdString(state.nodeBNameField));
  nodeBPasswordField_->setText(QString::fromStdString(state.nodeBPassword));
  nodeAKeychainBox_->setChecked(false);
  nodeBKeychainBox_->setChecked(false);
  for (QWidget* nodeB : {static_cast<QWidget*>(nodeBNameField_), static_cast<QWidget*>(nodeBPasswordField_),
                         static_cast<QWidget*>(nodeBKeychainBox_)}) {
    nodeB->setVisible(both);
  }
  adjustSize();
  reposition(window);
  setWindowOpacity(0.0);
  show();
  raise();
  activateWindow();
  nodeAPasswordField_->setFocus();
  auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
  fade->setDuration(kFadeInMilliseconds);
  fade->setEndValue(1.0);
  fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void NodePasswordPanel::reposition(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  move(frame.x() + frame.width() / 2 - width() / 2, frame.y() + kDistanceBelowWindowTop);
}

void NodePasswordPanel::accepted() {
  PlaylistNodeSelection::Passwords passwords;
  passwords.a = nodeAPasswordField_->text().toStdString();
  passwords.rememberA = nodeAKeychainBox_->isChecked();
  if (request_ == PasswordRequest::NodesAAndB) {
    passwords.b = nodeBPasswordField_->text().toStdString();
    passwords.rememberB = nodeBKeychainBox_->isChecked();
  }
  hide();
  setResult(QDialog::Accepted);
  if (ok_) ok_(passwords);
}

}  // namespace app::views
