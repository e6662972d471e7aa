#include "app/views/inspector/InfoPaneView.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/views/inspector/PaneViewRefresh.h"

namespace app::views {

InfoPaneView::InfoPaneView(inspector::GeneralClipInspectorViewController& general,
                           inspector::MetadataClipInspectorViewController& metadata, QWidget* parent)
    : QWidget(parent), general_(general), metadata_(metadata) {
  setObjectName("infoPane");
  auto* column = new QVBoxLayout(this);
  selectionValidation_ = new QLabel;
  selectionValidation_->setObjectName("selectionValidationLabel");
  selectionValidation_->setAlignment(Qt::AlignCenter);
  column->addWidget(selectionValidation_);
  auto* grid = new QGridLayout;
  for (std::size_t i = 0; i < values_.size(); ++i) {
    captions_[i] = new QLabel(inspector::kInfoFieldCaptions[i]);
    captions_[i]->setAlignment(Qt::AlignRight | Qt::AlignTop);
    values_[i] = new QLabel;
    values_[i]->setObjectName(QString("infoValue%1").arg(i));
    values_[i]->setWordWrap(true);
    values_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(captions_[i], static_cast<int>(i), 0);
    grid->addWidget(values_[i], static_cast<int>(i), 1);
  }
  grid->setColumnStretch(1, 1);
  column->addLayout(grid);
  metadataTable_ = new QTableWidget(0, 2);
  metadataTable_->setObjectName("metadataTable");
  metadataTable_->setHorizontalHeaderLabels({tr("Key"), tr("Value")});
  metadataTable_->horizontalHeader()->setStretchLastSection(true);
  metadataTable_->verticalHeader()->hide();
  metadataTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  metadataTable_->setMinimumHeight(120);
  column->addWidget(metadataTable_, 1);
  setMinimumSize(360, 420);
  followPane(general_, this);
  followPane(metadata_, this);
  refresh();
}

void InfoPaneView::refresh() {
  const inspector::GeneralPaneState& state = general_.state();
  selectionValidation_->setText(QString::fromStdString(state.selectionValidation));
  selectionValidation_->setVisible(!state.selectionValidation.empty());
  for (std::size_t i = 0; i < values_.size(); ++i) {
    values_[i]->setText(QString::fromStdString(state.values[i].text));
    values_[i]->setToolTip(QString::fromStdString(state.values[i].toolTip));
    values_[i]->setVisible(!state.labelsHidden);
    captions_[i]->setVisible(!state.labelsHidden);
  }
  const inspector::MetadataPaneState& metadata = metadata_.state();
  metadataTable_->setVisible(!metadata.scrollViewHidden);
  metadataTable_->setRowCount(static_cast<int>(metadata.metadataArrayFiltered.size()));
  for (std::size_t row = 0; row < metadata.metadataArrayFiltered.size(); ++row) {
    const int r = static_cast<int>(row);
    metadataTable_->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(metadata_.objectValue("key", row).value_or(""))));
    metadataTable_->setItem(r, 1,
                            new QTableWidgetItem(QString::fromStdString(metadata_.objectValue("value", row).value_or(""))));
  }
}

}  // namespace app::views
