#include "app/views/preferences/PreferencesWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/views/preferences/PreferencesTableModel.h"

namespace app::views {

using namespace app::preferences;

namespace {

constexpr const char* kAddButtonName = "add";
constexpr const char* kRemoveButtonName = "remove";
constexpr const char* kProblemLabelName = "problem";
constexpr const char* kOutletProperty = "outlet";

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QStyle::StandardPixmap paneIcon(int tag) {
  switch (tag) {
    case kGeneralPaneTag: return QStyle::SP_ComputerIcon;
    case kMediaFoldersPaneTag: return QStyle::SP_DirIcon;
    case kStaticIPPaneTag: return QStyle::SP_DriveNetIcon;
    case kTrelvanePaneTag: return QStyle::SP_DialogApplyButton;
    default: return QStyle::SP_MediaPlay;
  }
}

// The metadata table takes row drags from itself only.
class MetadataTableView final : public QTableView {
 protected:
  void dragEnterEvent(QDragEnterEvent* event) override {
    if (!acceptsSourceOf(*event)) return event->ignore();
    QTableView::dragEnterEvent(event);
  }
  void dragMoveEvent(QDragMoveEvent* event) override {
    if (!acceptsSourceOf(*event)) return event->ignore();
    QTableView::dragMoveEvent(event);
  }
  void dropEvent(QDropEvent* event) override {
    if (!acceptsSourceOf(*event)) return event->ignore();
    QTableView::dropEvent(event);
  }

 private:
  bool acceptsSourceOf(const QDropEvent& event) const {
    return PreferencesWindowController::validateMetadataDrop(event.source() == this, false);
  }
};

template <typename T>
T* named(T* widget, const char* outlet) {
  widget->setObjectName(outlet);
  return widget;
}

}  // namespace

PreferencesWindow::PreferencesWindow(PreferencesWindowController& controller,
                                     std::function<QWidget*()> makeTriggersPane)
    : controller_(controller), makeTriggersPane_(std::move(makeTriggersPane)) {
  setWindowTitle(tr("Preferences"));
  setObjectName("Preferences");
  auto* toolbar = addToolBar(tr("Preferences"));
  toolbar->setObjectName("preferencesToolbar");
  toolbar->setMovable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolbarActions_ = new QActionGroup(this);
  toolbarActions_->setExclusive(true);
  for (const PreferencesPane& pane : kPreferencesPanes) {
    QAction* action = toolbar->addAction(style()->standardIcon(paneIcon(pane.tag)), tr(pane.identifier));
    action->setObjectName(pane.identifier);
    action->setToolTip(pane.identifier);
    action->setCheckable(true);
    action->setData(pane.tag);
    action->setProperty("imageName", pane.image);
    toolbarActions_->addAction(action);
    connect(action, &QAction::triggered, this, [this, tag = pane.tag] { controller_.changePanes(tag); });
  }
  stack_ = new QStackedWidget(this);
  stack_->setObjectName("emptyPanelView");
  setCentralWidget(stack_);
  panes_[kGeneralPaneTag] = makeGeneralPane();
  panes_[kMediaFoldersPaneTag] = makeMediaFoldersPane();
  panes_[kStaticIPPaneTag] = makeStaticIPPane();
  panes_[kTrelvanePaneTag] = makeTrelvanePane();
  for (const auto& [tag, pane] : panes_) stack_->addWidget(pane);
  connectControls();
  controller_.setView(this);
}

PreferencesWindow::~PreferencesWindow() { controller_.setView(nullptr); }

void PreferencesWindow::windowDidLoad() { controller_.windowDidLoad(); }

QWidget* PreferencesWindow::labelled(const QString& label, QWidget* control) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(label));
  layout->addWidget(control, 1);
  return row;
}

QWidget* PreferencesWindow::makeSegmentedControl(const char* outlet) {
  auto* segments = named(new QWidget, outlet);
  auto* layout = new QHBoxLayout(segments);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* add = named(new QToolButton, kAddButtonName);
  add->setText("+");
  auto* remove = named(new QToolButton, kRemoveButtonName);
  remove->setText(QString::fromUtf8("\u2212"));
  layout->addWidget(add);
  layout->addWidget(remove);
  layout->addStretch(1);
  connect(add, &QToolButton::clicked, this, [this, outlet] { controller_.segmentClicked(outlet, kAddSegment); });
  connect(remove, &QToolButton::clicked, this, [this, outlet] { controller_.segmentClicked(outlet, kRemoveSegment); });
  return segments;
}

QTableView* PreferencesWindow::makeTable(const char* outlet, std::vector<PreferencesTableColumn> columns) {
  auto* table = named(outlet == std::string_view(kMetadataTableViewOutlet) ? new MetadataTableView : new QTableView,
                      outlet);
  auto* model = new PreferencesTableModel(controller_, outlet, std::move(columns), table);
  table->setModel(model);
  tables_[outlet] = model;
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->horizontalHeader()->setStretchLastSection(true);
  table->verticalHeader()->hide();
  connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, table, outlet] {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedRows()) {
      rows.push_back(static_cast<std::size_t>(index.row()));
    }
    std::sort(rows.begin(), rows.end());
    controller_.tableSelectionChanged(outlet, std::move(rows));
  });
  return table;
}

QWidget* PreferencesWindow::makeGeneralPane() {
  auto* pane = named(new QWidget, "generalPreferencesView");
  auto* layout = new QVBoxLayout(pane);
  auto* playback = new QGroupBox(tr("New playlists"));
  auto* boxes = new QVBoxLayout(playback);
  boxes->addWidget(named(new QCheckBox(tr("Chain mode")), kChainModeBoxOutlet));
  boxes->addWidget(named(new QCheckBox(tr("Loop mode")), kLoopModeBoxOutlet));
  boxes->addWidget(named(new QCheckBox(tr("Cue mode")), kCueModeBoxOutlet));
  boxes->addWidget(named(new QCheckBox(tr("A/B roll")), kABRollBoxOutlet));
  layout->addWidget(playback);
  auto* form = new QFormLayout;
  form->addRow(tr("Default node A:"), named(new QComboBox, kDefaultNodeAPopUpButtonOutlet));
  form->addRow(tr("Default node B:"), named(new QComboBox, kDefaultNodeBPopUpButtonOutlet));
  form->addRow(tr("Offline clip duration (s):"), named(new QLineEdit, kClipOfflineDurationOutlet));
  auto* autoCue = new QWidget;
  auto* autoCueRow = new QHBoxLayout(autoCue);
  autoCueRow->setContentsMargins(0, 0, 0, 0);
  autoCueRow->addWidget(named(new QCheckBox(tr("Cue the next clip after")), kAutoCueCheckButtonOutlet));
  autoCueRow->addWidget(named(new QLineEdit, kDelayTextFieldOutlet));
  autoCueRow->addWidget(new QLabel(tr("seconds")));
  form->addRow(QString(), autoCue);
  form->addRow(QString(), named(new QCheckBox(tr("Show thumbnails")), kShowThumbnailsBoxOutlet));
  layout->addLayout(form);
  layout->addWidget(makeMetadataView());
  return pane;
}

QWidget* PreferencesWindow::makeMetadataView() {
  auto* view = named(new QGroupBox(tr("Metadata shown in the clip inspector")), "metadataView");
  auto* layout = new QVBoxLayout(view);
  QTableView* table = makeTable(kMetadataTableViewOutlet, {{kMetadataEntryShowKey, tr("Show")},
                                                           {kMetadataEntryKeyKey, tr("Key")},
                                                           {kMetadataEntryDescriptionKey, tr("Description")}});
  table->setDragEnabled(true);
  table->setAcceptDrops(true);
  table->setDropIndicatorShown(true);
  table->setDragDropMode(QAbstractItemView::DragDrop);
  table->setDefaultDropAction(Qt::CopyAction);
  table->setDragDropOverwriteMode(false);
  table->setMinimumHeight(160);
  layout->addWidget(table);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(makeSegmentedControl(kMetadataSegmentedControlOutlet));
  auto* restore = named(new QPushButton(tr("Restore")), "restoreMetadataButton");
  auto* exportButton = named(new QPushButton(tr("Export...")), "exportMetadataButton");
  auto* importButton = named(new QPushButton(tr("Import...")), "importMetadataButton");
  buttons->addStretch(1);
  buttons->addWidget(restore);
  buttons->addWidget(exportButton);
  buttons->addWidget(importButton);
  layout->addLayout(buttons);
  connect(restore, &QPushButton::clicked, this, [this] { controller_.restoreMetadata(); });
  connect(exportButton, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, tr("Export Metadata"), QString(), tr("Property lists (*.plist)"));
    if (!path.isEmpty()) controller_.exportMetadata(path.toStdString());
  });
  connect(importButton, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, tr("Import Metadata"), QString(), tr("Property lists (*.plist)"));
    if (!path.isEmpty()) controller_.importMetadata(path.toStdString());
  });
  makeSheet(kMetadataPanelOutlet, tr("New Metadata"),
            {{kMetadataKeyTextFieldOutlet, tr("Key:")}, {kMetadataDescritionTextFieldOutlet, tr("Description:")}});
  return view;
}

QWidget* PreferencesWindow::makeMediaFoldersPane() {
  auto* pane = named(new QWidget, "nodeMediaFolderPreferencesView");
  auto* layout = new QVBoxLayout(pane);
  layout->addWidget(new QLabel(tr("Local folders that hold the same files as a node's media folder:")));
  QTableView* table = makeTable(kMediaFolderTableViewOutlet, {{"nodeName", tr("Node")},
                                                              {"mediaFolderPath", tr("Media Folder")},
                                                              {"equivalentLocalPath", tr("Local Folder")}});
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    controller_.tableDoubleClicked(kMediaFolderTableViewOutlet,
                                   index.isValid() ? std::optional<std::size_t>(index.row()) : std::nullopt);
  });
  layout->addWidget(table);
  layout->addWidget(makeSegmentedControl(kMediaFolderEquivSegmentedControlOutlet));
  auto* extra = new QWidget;
  auto* form = new QFormLayout(extra);
  form->setContentsMargins(0, 0, 0, 0);
  form->addRow(tr("Node:"), named(new QComboBox, kNodesPopUpButtonOutlet));
  form->addRow(tr("Media folder:"), named(new QComboBox, kMediaPopUpButtonOutlet));
  auto* choose = named(new QPushButton(tr("Choose...")), "chooseMediaFolderLocalEquivalentPath");
  form->addRow(QString(), choose);
  QDialog* sheet = makeSheet(kMediaFolderEquivalentPanelOutlet, tr("Media Folder Equivalent"),
                             {{kEquivalentLocalPathFieldOutlet, tr("Local folder:")}}, extra);
  connect(choose, &QPushButton::clicked, sheet, [this, sheet] {
    const QString folder = QFileDialog::getExistingDirectory(
        sheet, tr("Choose the local folder"), QString::fromStdString(controller_.folderChooserStart().string()));
    if (!folder.isEmpty()) controller_.folderChosen(folder.toStdString());
  });
  return pane;
}

QWidget* PreferencesWindow::makeStaticIPPane() {
  auto* pane = named(new QWidget, "staticIPView");
  auto* layout = new QVBoxLayout(pane);
  layout->addWidget(new QLabel(tr("Nodes entered by address:")));
  QTableView* table = makeTable(kStaticIPTableViewOutlet, {{"ipAdress", tr("Address")}, {"portNumber", tr("Port")}});
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  layout->addWidget(table);
  layout->addWidget(makeSegmentedControl(kStaticIPSegmentedControlOutlet));
  makeSheet(kStaticIPPanelOutlet, tr("Add a Node"),
            {{kStaticIPTextFieldOutlet, tr("Address:")}, {kPortNumberTextFieldOutlet, tr("Port:")}});
  return pane;
}

QWidget* PreferencesWindow::makeTrelvanePane() {
  auto* pane = named(new QWidget, "trelvaneView");
  auto* form = new QFormLayout(pane);
  form->addRow(tr("GPI box:"), named(new QComboBox, kTrelvanePopUpButtonOutlet));
  const QString titles[] = {tr("Cue selected clip:"), tr("Play selected clip:"), tr("Pause:"),
                            tr("Space bar:"),         tr("Stop:"),               tr("Skip to previous:"),
                            tr("Skip to next:"),      tr("Switch playlist:"),    tr("Playing tally:"),
                            tr("Paused tally:")};
  for (std::size_t i = 0; i < kTrelvaneIndexPopUps.size(); ++i) {
    form->addRow(titles[i], named(new QComboBox, kTrelvaneIndexPopUps[i].outlet));
  }
  form->addRow(QString(), named(new QCheckBox(tr("Trigger all playlists")), kTrelvaneTriggerAllDocumentsCheckBoxOutlet));
  return pane;
}

QDialog* PreferencesWindow::makeSheet(const char* outlet, const QString& title,
                                      const std::vector<std::pair<const char*, QString>>& fields, QWidget* extra) {
  auto* sheet = named(new QDialog(this), outlet);
  sheet->setWindowTitle(title);
  sheet->setWindowModality(Qt::WindowModal);
  auto* layout = new QVBoxLayout(sheet);
  if (extra) layout->addWidget(extra);
  auto* form = new QFormLayout;
  for (const auto& [field, label] : fields) form->addRow(label, named(new QLineEdit, field));
  layout->addLayout(form);
  auto* problem = named(new QLabel, kProblemLabelName);
  problem->setWordWrap(true);
  problem->setStyleSheet("color: #b00020");
  problem->hide();
  layout->addWidget(problem);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, sheet, [this, sheet, outlet] {
    if (controller_.sheetDidEnd(outlet, kSheetOK)) sheet->done(kSheetOK);
  });
  connect(buttons, &QDialogButtonBox::rejected, sheet, [this, sheet, outlet] {
    controller_.sheetDidEnd(outlet, kSheetCancel);
    sheet->done(kSheetCancel);
  });
  return sheet;
}

void PreferencesWindow::connectControls() {
  for (QCheckBox* box : findChildren<QCheckBox*>()) {
    const std::string outlet = box->objectName().toStdString();
    connect(box, &QCheckBox::clicked, this, [this, outlet](bool on) { controller_.boxClicked(outlet, on); });
  }
  for (QComboBox* popUp : findChildren<QComboBox*>()) {
    const std::string outlet = popUp->objectName().toStdString();
    connect(popUp, &QComboBox::activated, this, [this, outlet](int index) {
      if (index >= 0) controller_.popUpChosen(outlet, static_cast<std::size_t>(index));
    });
  }
  for (QLineEdit* field : findChildren<QLineEdit*>()) {
    const std::string outlet = field->objectName().toStdString();
    if (outlet.empty()) continue;  // a pop-up's own editor
    field->setProperty(kOutletProperty, QString::fromStdString(outlet));
    field->installEventFilter(this);
    connect(field, &QLineEdit::textEdited, this,
            [this, outlet](const QString& text) { controller_.fieldTextChanged(outlet, text.toStdString()); });
    connect(field, &QLineEdit::editingFinished, this, [this, outlet] { controller_.fieldDidEndEditing(outlet); });
  }
}

bool PreferencesWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    const QVariant outlet = watched->property(kOutletProperty);
    if (outlet.isValid()) controller_.fieldDidBeginEditing(outlet.toString().toStdString());
  }
  return QMainWindow::eventFilter(watched, event);
}

void PreferencesWindow::applyState(QWidget* widget, const ControlState& state) {
  const QSignalBlocker blocker(widget);
  if (auto* box = qobject_cast<QCheckBox*>(widget)) {
    box->setChecked(state.on);
    box->setEnabled(state.enabled);
  } else if (auto* popUp = qobject_cast<QComboBox*>(widget)) {
    popUp->clear();
    for (const PopUpItem& item : state.items) {
      popUp->addItem(qs(item.title),
                     item.representedObject ? QVariant(QString::fromStdString(*item.representedObject)) : QVariant());
    }
    popUp->setCurrentIndex(state.selectedItem ? static_cast<int>(*state.selectedItem) : -1);
    popUp->setEnabled(state.enabled);
  } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
    if (field->text() != qs(state.text)) field->setText(qs(state.text));
    field->setEnabled(state.enabled);
  } else if (auto* remove = widget->findChild<QToolButton*>(kRemoveButtonName)) {
    remove->setEnabled(state.enabled);
  }
}

void PreferencesWindow::controlDidChange(std::string_view outlet) {
  if (QWidget* widget = findChild<QWidget*>(qs(outlet))) applyState(widget, controller_.control(outlet));
}

void PreferencesWindow::tableDidChange(std::string_view table) {
  const auto found = tables_.find(table);
  if (found != tables_.end()) found->second->reload();
}

void PreferencesWindow::selectTableRows(std::string_view table, const std::vector<std::size_t>& rows) {
  auto* view = findChild<QTableView*>(qs(table));
  if (!view) return;
  QItemSelection selection;
  for (std::size_t row : rows) {
    const QModelIndex index = view->model()->index(static_cast<int>(row), 0);
    selection.select(index, index);
  }
  view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void PreferencesWindow::showPane(int tag) {
  auto pane = panes_.find(tag);
  if (pane == panes_.end() && tag == kTriggersPaneTag && makeTriggersPane_) {
    QWidget* triggers = makeTriggersPane_();
    if (!triggers) return;
    stack_->addWidget(triggers);
    pane = panes_.emplace(tag, triggers).first;
  }
  if (pane == panes_.end()) return;
  for (QAction* action : toolbarActions_->actions()) {
    if (action->data().toInt() == tag) action->setChecked(true);
  }
  fitWindowToPane(pane->second);
}

void PreferencesWindow::fitWindowToPane(QWidget* pane) {
  // Only the shown pane counts for the window's size.
  for (const auto& [tag, each] : panes_) {
    each->setSizePolicy(each == pane ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                        each == pane ? QSizePolicy::Preferred : QSizePolicy::Ignored);
  }
  stack_->setCurrentWidget(pane);
  const QPoint topLeft = pos();
  setMinimumSize(0, 0);
  stack_->adjustSize();
  adjustSize();
  setMinimumSize(sizeHint());
  resize(sizeHint());
  if (isVisible()) move(topLeft);
}

void PreferencesWindow::beginSheet(std::string_view sheet) {
  auto* dialog = findChild<QDialog*>(qs(sheet));
  if (!dialog) return;
  if (auto* problem = dialog->findChild<QLabel*>(kProblemLabelName)) problem->hide();
  dialog->open();
}

void PreferencesWindow::showSheetProblem(std::string_view sheet, const std::string& reason) {
  auto* dialog = findChild<QDialog*>(qs(sheet));
  if (!dialog) return;
  if (auto* problem = dialog->findChild<QLabel*>(kProblemLabelName)) {
    problem->setText(qs(reason));
    problem->show();
  }
}

}  // namespace app::views
