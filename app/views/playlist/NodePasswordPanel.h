#pragma once
// NodePasswordPanel: asks the operator for the password of node A, or of
// nodes A and B, each with a box to keep it in the keychain. It hangs 154
// pixels below the top of its playlist window, centred, and fades in. OK
// hands the typed passwords (and the boxes) to the handler; Cancel and
// closing hand nothing.
//
// Owned by its playlist window (Qt parent); non-modal. GUI thread.

#include <QDialog>
#include <functional>

#include "app/playlist/PlaylistNodeSelection.h"
#include "app/playlist/PlaylistView.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace app::views {

class NodePasswordPanel final : public QDialog {
  Q_OBJECT

 public:
  using OKHandler = std::function<void(const PlaylistNodeSelection::Passwords&)>;
  using CancelHandler = std::function<void()>;

  NodePasswordPanel(OKHandler ok, CancelHandler cancel, QWidget* parent);

  // Fills the fields (keychain boxes off), places the panel over `window`
  // and fades it in.
  void present(const PasswordPanelState& state, const QWidget& window);

 private:
  void reposition(const QWidget& window);
  void accepted();

  OKHandler ok_;
  CancelHandler cancel_;
  PasswordRequest request_ = PasswordRequest::None;
  QLabel* nodeANameField_;
  QLabel* nodeBNameField_;
  QLineEdit* nodeAPasswordField_;
  QLineEdit* nodeBPasswordField_;
  QCheckBox* nodeAKeychainBox_;
  QCheckBox* nodeBKeychainBox_;
};

}  // namespace app::views
