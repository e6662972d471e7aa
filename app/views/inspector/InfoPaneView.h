#pragma once
// InfoPaneView: the Info pane's labels (caption and value per field, unique
// IDs as tool tips) and, under them, the metadata table. Draws the panes'
// state; decides nothing.
//
// Owned by the inspector panel. GUI thread.

#include <array>

#include <QWidget>

#include "app/inspector/GeneralClipInspectorViewController.h"
#include "app/inspector/MetadataClipInspectorViewController.h"

class QLabel;
class QTableWidget;

namespace app::views {

class InfoPaneView final : public QWidget {
  Q_OBJECT

 public:
  InfoPaneView(inspector::GeneralClipInspectorViewController& general,
               inspector::MetadataClipInspectorViewController& metadata, QWidget* parent = nullptr);
  void refresh();

 private:
  inspector::GeneralClipInspectorViewController& general_;
  inspector::MetadataClipInspectorViewController& metadata_;
  QLabel* selectionValidation_ = nullptr;
  std::array<QLabel*, static_cast<std::size_t>(inspector::InfoField::Count)> captions_{};
  std::array<QLabel*, static_cast<std::size_t>(inspector::InfoField::Count)> values_{};
  QTableWidget* metadataTable_ = nullptr;
};

}  // namespace app::views
