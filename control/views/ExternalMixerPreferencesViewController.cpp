#include "control/views/ExternalMixerPreferencesViewController.h"

#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>

#include "ui_ExternalMixerPreferencesView.h"

namespace control {

namespace {

QPixmap statusImage(const std::string& name) {
  QPixmap image(14, 14);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(name == kExternalMixerPaneGreenImage ? QColor(40, 190, 70) : QColor(215, 45, 40));
  painter.drawEllipse(1, 1, 12, 12);
  return image;
}

// Selects the item whose tag the default names, or none.
void selectTag(QComboBox* menu, const std::optional<std::string>& tag) {
  const int found = tag ? menu->findData(QString::fromStdString(*tag)) : -1;
  menu->setCurrentIndex(found);
}

}  // namespace

ExternalMixerPreferencesViewController::ExternalMixerPreferencesViewController(platform::UserDefaults& defaults,
                                                                               ExternalMixerSwitchers switchers,
                                                                               QObject* parent)
    : QObject(parent),
      defaults_(defaults),
      ui_(std::make_unique<Ui::ExternalMixerPreferencesView>()),
      view_(new QWidget) {
  ui_->setupUi(view_);
  bindControls();
  ExternalMixerPreferencesOutlets& outlets = *this;
  pane_ = std::make_unique<ExternalMixerPreferencesPane>(defaults_, switchers, outlets);
  pane_->viewDidLoad();
}

ExternalMixerPreferencesViewController::~ExternalMixerPreferencesViewController() {
  pane_.reset();
  // A window that took the view as its child deletes it with itself.
  if (view_ && !view_->parent()) delete view_.data();
}

void ExternalMixerPreferencesViewController::bindControls() {
  ui_->useExternalMixerCheckBox->setChecked(defaults_.boolForKey(kExternalMixerPaneTriggerKey));
  ui_->brandPopUpButton->setCurrentIndex(
      ui_->brandPopUpButton->findText(QString::fromStdString(defaults_.stringForKey(kExternalMixerPaneBrandKey).value_or(""))));
  ui_->addressField->setText(QString::fromStdString(defaults_.stringForKey(kExternalMixerPaneIPAddressKey).value_or("")));
  connect(ui_->useExternalMixerCheckBox, &QCheckBox::toggled, this,
          [this](bool on) { defaults_.setObject(platform::Value(on), kExternalMixerPaneTriggerKey); });
  connect(ui_->brandPopUpButton, &QComboBox::textActivated, this, [this](const QString& brand) {
    defaults_.setObject(platform::Value(brand.toStdString()), kExternalMixerPaneBrandKey);
  });
  connect(ui_->addressField, &QLineEdit::editingFinished, this, [this] {
    defaults_.setObject(platform::Value(ui_->addressField->text().trimmed().toStdString()),
                        kExternalMixerPaneIPAddressKey);
  });
  for (auto [menu, key] : {std::pair{ui_->inputAPopUpButton, kExternalMixerPaneSourceAKey},
                           std::pair{ui_->inputBPopUpButton, kExternalMixerPaneSourceBKey}}) {
    connect(menu, &QComboBox::activated, this, [this, menu, key](int index) {
      defaults_.setObject(platform::Value(menu->itemData(index).toString().toStdString()), key);
    });
  }
}

void ExternalMixerPreferencesViewController::showStatusImage(const std::string& imageName, bool visible) {
  ui_->connectionStatusImageView->setPixmap(statusImage(imageName));
  ui_->connectionStatusImageView->setProperty("imageName", QString::fromStdString(imageName));
  ui_->connectionStatusImageView->setVisible(visible);
}

void ExternalMixerPreferencesViewController::showProgress(bool animating, bool visible) {
  // An indeterminate bar animates while it has no range; a stopped one is full.
  ui_->connectionProgressIndicator->setRange(0, animating ? 0 : 1);
  ui_->connectionProgressIndicator->setVisible(visible);
}

void ExternalMixerPreferencesViewController::setSourceMenuItems(const std::vector<ExternalMixerSourceItem>& items) {
  for (auto [menu, key] : {std::pair{ui_->inputAPopUpButton, kExternalMixerPaneSourceAKey},
                           std::pair{ui_->inputBPopUpButton, kExternalMixerPaneSourceBKey}}) {
    const QSignalBlocker quiet(menu);
    menu->clear();
    for (const ExternalMixerSourceItem& item : items) {
      menu->addItem(QString::fromStdString(item.title), QString::number(item.tag));
    }
    selectTag(menu, defaults_.stringForKey(key));
  }
}

}  // namespace control
