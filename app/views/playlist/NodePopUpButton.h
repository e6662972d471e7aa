#pragma once
// NodePopUpButton: a node pop-up of the playlist window. It shows the
// NodeMenuItem list its window hands it (titles, separator, enabled items,
// lock images) and tells before it opens, so the list can be rebuilt from
// the current node list first.
//
// Owned by its window (Qt parent). GUI thread.

#include <QComboBox>
#include <functional>
#include <optional>
#include <vector>

#include "app/playlist/PlaylistNodeSelection.h"

namespace app::views {

class NodePopUpButton final : public QComboBox {
  Q_OBJECT

 public:
  explicit NodePopUpButton(QWidget* parent = nullptr);

  // Called just before the list opens.
  void setWillPopUpHandler(std::function<void()> handler) { willPopUp_ = std::move(handler); }
  // Rebuilds the list only when it changed; selects `selected` (none: no item).
  void showItems(const std::vector<NodeMenuItem>& items, std::optional<std::size_t> selected);

  // The width that shows the selected name whole, with its icon and arrow.
  int widthForSelectedName() const;

  void showPopup() override;

 private:
  std::function<void()> willPopUp_;
  std::vector<NodeMenuItem> shown_;
};

}  // namespace app::views
