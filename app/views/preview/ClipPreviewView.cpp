#include "app/views/preview/ClipPreviewView.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/views/common/ViewCategory.h"
#include "app/views/preview/InOutPointViewer.h"
#include "app/views/preview/SampleBufferDisplayWidget.h"
#include "app/views/preview/TimecodeTextField.h"
#include "app/views/preview/TimelineSlider.h"
#include "media/preview/CVNDecompressionSessionPlayerView.h"

namespace app::views {

namespace {

ClipPreviewView::PlayerFactory sessionPlayer() {
  return [](media::SampleBufferDisplay* display) {
    return std::make_unique<media::CVNDecompressionSessionPlayerView>(display);
  };
}

QLabel* caption(const QString& text) {
  auto* label = new QLabel(text);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

}  // namespace

std::optional<ClipPreviewKey> clipPreviewKeyForEvent(const QKeyEvent& event) {
  ClipPreviewKey key;
  key.shift = event.modifiers().testFlag(Qt::ShiftModifier);
  key.option = event.modifiers().testFlag(Qt::AltModifier);
  if (event.modifiers().testFlag(Qt::ControlModifier) || event.modifiers().testFlag(Qt::MetaModifier)) {
    return std::nullopt;  // menu shortcuts
  }
  if (event.key() == Qt::Key_Left) {
    key.kind = ClipPreviewKey::Kind::LeftArrow;
  } else if (event.key() == Qt::Key_Right) {
    key.kind = ClipPreviewKey::Kind::RightArrow;
  } else if (event.key() >= Qt::Key_Space && event.key() <= Qt::Key_AsciiTilde) {
    key.characters = std::string(1, static_cast<char>(event.key()));
  } else {
    return std::nullopt;
  }
  return key;
}

ClipPreviewView::ClipPreviewView(platform::UserDefaults& defaults, QWidget* parent)
    : ClipPreviewView(sessionPlayer(), defaults, parent) {}

ClipPreviewView::ClipPreviewView(const PlayerFactory& makePlayer, platform::UserDefaults& defaults, QWidget* parent)
    : QWidget(parent) {
  setObjectName("contentView");
  setFocusPolicy(Qt::StrongFocus);
  auto* column = new QVBoxLayout(this);
  column->addWidget(makePicture(), 1);
  markers_ = new InOutPointViewer;
  markers_->setObjectName("inOutPointViewer");
  column->addWidget(markers_);
  column->addWidget(makeTransportRow());
  accessoryContainer_ = new QWidget(this);
  accessoryContainer_->setObjectName("accessoryViewContainer");
  column->addWidget(accessoryContainer_);
  column->addWidget(makeMixPoints());
  inOutControls_ = makeInOutControls();
  setAccessoryView(nullptr);

  // Keys anywhere in the pane but a typing field reach the controller first.
  for (QWidget* child : findChildren<QWidget*>()) {
    if (!qobject_cast<QLineEdit*>(child)) child->installEventFilter(this);
  }
  controller_ = std::make_unique<ClipPreviewViewController>(makePlayer(display_), defaults);
  controller_->loadView(this);
}

ClipPreviewView::~ClipPreviewView() { controller_->loadView(nullptr); }

QWidget* ClipPreviewView::makePicture() {
  auto* container = new QWidget;
  container->setObjectName("previewViewContainer");
  container->setAutoFillBackground(true);
  QPalette black = container->palette();
  black.setColor(QPalette::Window, Qt::black);
  container->setPalette(black);
  container->setMinimumSize(320, 180);
  display_ = new SampleBufferDisplayWidget(container);
  fillInSuperView(*display_);
  thumbnail_ = new QLabel(container);
  thumbnail_->setAlignment(Qt::AlignCenter);
  fillInSuperView(*thumbnail_);
  errorLabel_ = new QLabel(container);
  errorLabel_->setObjectName("errorLabel");
  errorLabel_->setAlignment(Qt::AlignCenter);
  errorLabel_->setStyleSheet("color: white; font-weight: bold;");
  fillInSuperView(*errorLabel_);
  controls_[ClipPreviewControl::PlayerView] = display_;
  controls_[ClipPreviewControl::ThumbnailView] = thumbnail_;
  return container;
}

QWidget* ClipPreviewView::makeTransportRow() {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  playPause_ = new QToolButton;
  playPause_->setObjectName("playPauseButton");
  playPause_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  connect(playPause_, &QToolButton::clicked, this, [this] { controller_->playPauseButtonAction(); });
  slider_ = new TimelineSlider;
  slider_->setObjectName("positionSlider");
  slider_->setHandlers([this](double s) { controller_->startedScrubbingTimelineAtPosition(s); },
                       [this](double s) { controller_->positionSliderChanged(s); },
                       [this](double s) { controller_->stoppedScrubbingTimelineAtPosition(s); });
  loading_ = new QProgressBar;
  loading_->setObjectName("loadingProgressIndicator");
  loading_->setRange(0, 0);  // busy
  loading_->setMaximumWidth(60);
  position_ = new PlayheadTextField;
  position_->setObjectName("currentPositionTextField");
  position_->setBecameFirstResponderHandler([this] { controller_->playHeadTextFieldDidBecomeFirstResponder(); });
  position_->setEnteredHandler([this](const QString& text) {
    controller_->currentPositionTextFieldAction(text.toStdString());
  });
  position_->setCancelledHandler([this] { focusPane(); });
  fields_[ClipPreviewField::CurrentPosition] = position_;
  layout->addWidget(playPause_);
  layout->addWidget(slider_, 1);
  layout->addWidget(loading_);
  layout->addWidget(position_);
  controls_[ClipPreviewControl::PlayPauseButton] = playPause_;
  controls_[ClipPreviewControl::LoadingIndicator] = loading_;
  setPlaying(false);
  return row;
}

TimecodeTextField* ClipPreviewView::makeField(ClipPreviewField field,
                                              void (ClipPreviewViewController::*action)(const std::string&)) {
  auto* edit = new TimecodeTextField;
  edit->setEnteredHandler([this, action](const QString& text) {
    (controller_.get()->*action)(text.toStdString());
    focusPane();
  });
  edit->setCancelledHandler([this] { focusPane(); });
  fields_[field] = edit;
  return edit;
}

QWidget* ClipPreviewView::makeSegments(void (ClipPreviewViewController::*action)(int),
                                       std::vector<ClipPreviewControl> names) {
  auto* segments = new QWidget;
  auto* layout = new QHBoxLayout(segments);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  const char* titles[] = {QT_TR_NOOP("Mrk"), QT_TR_NOOP("Go"), QT_TR_NOOP("Clr")};
  for (int segment = 0; segment < 3; ++segment) {
    auto* button = new QToolButton;
    button->setText(tr(titles[segment]));
    connect(button, &QToolButton::clicked, this, [this, action, segment] { (controller_.get()->*action)(segment); });
    layout->addWidget(button);
    if (static_cast<std::size_t>(segment) < names.size()) controls_[names[static_cast<std::size_t>(segment)]] = button;
  }
  return segments;
}

QWidget* ClipPreviewView::makeInOutControls() {
  using C = ClipPreviewControl;
  auto* view = new QWidget;
  view->setObjectName("inOutControlsView");
  auto* grid = new QGridLayout(view);
  grid->setContentsMargins(0, 0, 0, 0);
  auto* in = makeField(ClipPreviewField::InPoint, &ClipPreviewViewController::inPointTextFieldAction);
  in->setObjectName("inPointTextField");
  auto* out = makeField(ClipPreviewField::OutPoint, &ClipPreviewViewController::outPointTextFieldAction);
  out->setObjectName("outPointTextField");
  auto* media = makeField(ClipPreviewField::MediaDuration, &ClipPreviewViewController::mediaDurationFieldAction);
  media->setObjectName("mediaDurationTextField");
  inOutDuration_ = new QLabel;
  inOutDuration_->setObjectName("inOutDurationLabel");
  inOutDuration_->setFont(in->font());
  inOutDuration_->setAlignment(Qt::AlignCenter);
  grid->addWidget(caption(tr("In")), 0, 0);
  grid->addWidget(in, 0, 1);
  grid->addWidget(makeSegments(&ClipPreviewViewController::inPointSegmentedControlPushed,
                               {C::InPointMark, C::InPointGo, C::InPointClear}), 0, 2);
  grid->addWidget(caption(tr("Out")), 0, 3);
  grid->addWidget(out, 0, 4);
  grid->addWidget(makeSegments(&ClipPreviewViewController::outPointSegmentedControlPushed,
                               {C::OutPointMark, C::OutPointGo, C::OutPointClear}), 0, 5);
  grid->addWidget(caption(tr("Duration")), 1, 0);
  grid->addWidget(inOutDuration_, 1, 1);
  grid->addWidget(caption(tr("Media")), 1, 3);
  grid->addWidget(media, 1, 4);
  auto* split = new QPushButton(tr("Split"));
  split->setObjectName("splitButton");
  connect(split, &QPushButton::clicked, this, [this] { controller_->splitButtonPushed(); });
  grid->addWidget(split, 1, 5);
  overriden_ = new QCheckBox(tr("Override In/Out Points"));
  overriden_->setObjectName("overridenInOutPointCheckBox");
  connect(overriden_, &QCheckBox::clicked, this, [this](bool on) { controller_->inOutPointCheckBoxAction(on); });
  grid->addWidget(overriden_, 2, 0, 1, 6);
  controls_[C::InPointField] = in;
  controls_[C::OutPointField] = out;
  controls_[C::MediaDurationField] = media;
  controls_[C::SplitButton] = split;
  controls_[C::OverridenInOutPointCheckBox] = overriden_;
  return view;
}

QWidget* ClipPreviewView::makeMixPoints() {
  mixPoints_ = new QWidget;
  mixPoints_->setObjectName("mixPointViewContainer");
  auto* layout = new QHBoxLayout(mixPoints_);
  layout->setContentsMargins(0, 0, 0, 0);
  const auto mixPoint = [this, layout](const QString& name, ClipPreviewField field, void (ClipPreviewViewController::*action)(int)) {
    auto* edit = new TimecodeTextField;
    edit->setReadOnly(true);
    fields_[field] = edit;
    layout->addWidget(caption(name));
    layout->addWidget(edit);
    layout->addWidget(makeSegments(action));
  };
  mixPoint(tr("Previous Mix"), ClipPreviewField::PreviousItemMixPoint,
           &ClipPreviewViewController::previousClipMixPointSegmentedButtonAction);
  mixPoint(tr("Next Mix"), ClipPreviewField::NextItemMixPoint,
           &ClipPreviewViewController::nextClipMixPointSegmentedButonAction);
  controls_[ClipPreviewControl::MixPointViewContainer] = mixPoints_;
  return mixPoints_;
}

void ClipPreviewView::setAccessoryView(QWidget* view) {
  if (!view) view = inOutControls_;
  if (view->parentWidget() == accessoryContainer_ && view->isVisibleTo(accessoryContainer_)) return;
  // Views taken out stay with the pane, hidden, as their owners may show them again.
  for (QWidget* child : accessoryContainer_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    child->hide();
    child->setParent(this);
  }
  view->setParent(accessoryContainer_);
  fillInSuperView(*view);
  view->show();
}

// ---- ClipPreviewControls ----

void ClipPreviewView::setFieldText(ClipPreviewField field, const std::string& text) {
  if (field == ClipPreviewField::InOutDuration) {
    inOutDuration_->setText(QString::fromStdString(text));
    return;
  }
  if (const auto found = fields_.find(field); found != fields_.end()) {
    found->second->setText(QString::fromStdString(text));
  }
}

bool ClipPreviewView::isEditing(ClipPreviewField field) const {
  const auto found = fields_.find(field);
  return found != fields_.end() && found->second->hasFocus();
}

void ClipPreviewView::setEnabled(ClipPreviewControl control, bool enabled) {
  if (const auto found = controls_.find(control); found != controls_.end()) found->second->setEnabled(enabled);
}

void ClipPreviewView::setHidden(ClipPreviewControl control, bool hidden) {
  if (const auto found = controls_.find(control); found != controls_.end()) found->second->setHidden(hidden);
}

void ClipPreviewView::setErrorText(const std::string& text) { errorLabel_->setText(QString::fromStdString(text)); }

void ClipPreviewView::setPlaying(bool playing) {
  playPause_->setText(playing ? tr("Pause") : tr("Play"));
  playPause_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
}

void ClipPreviewView::setOverridenInOutPointChecked(bool checked) { overriden_->setChecked(checked); }
void ClipPreviewView::setSliderMaximum(double seconds) { slider_->setMaximumSeconds(seconds); }
void ClipPreviewView::setSliderValue(double seconds) { slider_->setSeconds(seconds); }

// The marker strip belongs to the in/out inspector; the fields show the points here.
void ClipPreviewView::setMarkers(double inPoint, double outPoint, double duration) {
  markers_->setDuration(duration);
  markers_->setInPointValue(inPoint);
  markers_->setOutPointValue(outPoint);
}

void ClipPreviewView::setThumbnail(std::shared_ptr<const nodes::RGBAImage> image) {
  if (!image || image->rgba.size() < std::size_t{image->width} * image->height * 4) {
    thumbnail_->clear();
    return;
  }
  const QImage picture(image->rgba.data(), static_cast<int>(image->width), static_cast<int>(image->height),
                       static_cast<qsizetype>(image->width) * 4, QImage::Format_RGBA8888);
  thumbnail_->setPixmap(QPixmap::fromImage(picture.scaled(thumbnail_->size(), Qt::KeepAspectRatio,
                                                          Qt::SmoothTransformation)));
}

void ClipPreviewView::focusCurrentPositionField(const std::string& text) {
  position_->setFocus(Qt::ShortcutFocusReason);
  // Once the field edits: the typed key goes after its old text.
  QTimer::singleShot(0, position_, [this, typed = QString::fromStdString(text)] {
    position_->deselect();
    position_->end(false);
    position_->insert(typed);
  });
}

void ClipPreviewView::focusPane() { setFocus(Qt::OtherFocusReason); }

// ---- Events ----

void ClipPreviewView::followAltKey(const QKeyEvent& event) {
  if (event.key() == Qt::Key_Alt) controller_->setShowMixPoints(event.type() == QEvent::KeyPress);
}

bool ClipPreviewView::forwardKey(QKeyEvent& event) {
  followAltKey(event);
  const auto key = clipPreviewKeyForEvent(event);
  return key && controller_->handleKeyDownWithEvent(*key);
}

bool ClipPreviewView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && forwardKey(static_cast<QKeyEvent&>(*event))) return true;
  if (event->type() == QEvent::KeyRelease) followAltKey(static_cast<QKeyEvent&>(*event));
  return QWidget::eventFilter(watched, event);
}

void ClipPreviewView::keyPressEvent(QKeyEvent* event) {
  if (!forwardKey(*event)) QWidget::keyPressEvent(event);
}

void ClipPreviewView::keyReleaseEvent(QKeyEvent* event) {
  followAltKey(*event);
  QWidget::keyReleaseEvent(event);
}

void ClipPreviewView::mousePressEvent(QMouseEvent* event) {
  // A click on the picture gives the pane the keys.
  setFocus(Qt::MouseFocusReason);
  QWidget::mousePressEvent(event);
}

void ClipPreviewView::showEvent(QShowEvent* event) {
  controller_->windowVisibilityChanged(true);
  QWidget::showEvent(event);
}

void ClipPreviewView::hideEvent(QHideEvent* event) {
  controller_->windowVisibilityChanged(false);
  QWidget::hideEvent(event);
}

}  // namespace app::views
