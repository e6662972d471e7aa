#pragma once
// ExternalMixerPreferencesViewController: the external mixer preferences
// pane. Its view comes from "ExternalMixerPreferencesView.ui"; the checkbox,
// brand menu, address field and the two source menus are bound to their
// defaults (the menus store the chosen input's identifier). What the pane
// shows is decided by ExternalMixerPreferencesPane; this class draws it: the
// status image ("Green" or "Red", its name kept in the label's "imageName"
// property), the progress indicator and the menu items with their tags.
//
// Created by the preferences window the first time the pane is chosen and
// kept there; the defaults and the switcher states outlive it. Main thread.

#include <memory>

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "control/switchers/ExternalMixerPreferencesPane.h"

namespace Ui {
class ExternalMixerPreferencesView;
}

namespace control {

class ExternalMixerPreferencesViewController final : public QObject, private ExternalMixerPreferencesOutlets {
  Q_OBJECT

 public:
  ExternalMixerPreferencesViewController(platform::UserDefaults& defaults, ExternalMixerSwitchers switchers,
                                         QObject* parent = nullptr);
  ~ExternalMixerPreferencesViewController() override;

  // Owned here until a window takes it as a child.
  QWidget* view() const { return view_.data(); }
  const ExternalMixerPreferencesPane& pane() const { return *pane_; }

 private:
  void showStatusImage(const std::string& imageName, bool visible) override;
  void showProgress(bool animating, bool visible) override;
  void setSourceMenuItems(const std::vector<ExternalMixerSourceItem>& items) override;
  void bindControls();

  platform::UserDefaults& defaults_;
  std::unique_ptr<Ui::ExternalMixerPreferencesView> ui_;
  QPointer<QWidget> view_;
  std::unique_ptr<ExternalMixerPreferencesPane> pane_;
};

}  // namespace control
