// The layout helpers on real widgets (offscreen): masks move and stretch a
// widget when its parent resizes, pinned widgets fill their parent, and a
// column stacks its widgets with the given spaces.

#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

#include "app/views/common/ViewCategory.h"
#include "tests/app/views/QtTestApplication.h"

namespace app::views {
namespace {

TEST(ViewCategoryTest, EdgeHelpersSetTheirBits) {
  testing_support::qtTestApplication();
  struct Case {
    void (*fix)(QWidget&, bool);
    bool fixed;
    unsigned mask;
  };
  const Case cases[] = {
      {fixLeftEdge, false, kFlexibleLeftMargin},    {fixLeftEdge, true, 0},
      {fixRightEdge, false, kFlexibleRightMargin},  {fixWidth, false, kFlexibleWidth},
      {fixHeight, false, kFlexibleHeight},          {fixHeight, true, 0},
      {fixTopEdge, true, kFlexibleBottomMargin},    {fixTopEdge, false, 0},
      {fixBottomEdge, true, kFlexibleTopMargin},    {fixBottomEdge, false, 0},
  };
  for (const Case& c : cases) {
    QWidget view;
    c.fix(view, c.fixed);
    EXPECT_EQ(autoresizingMask(view), c.mask);
  }
  QWidget view;
  setAutoresizingBit(view, kFlexibleWidth | kFlexibleHeight | kFlexibleTopMargin, true);
  setAutoresizingBit(view, kFlexibleHeight, false);
  EXPECT_EQ(autoresizingMask(view), kFlexibleWidth | kFlexibleTopMargin);
}

TEST(ViewCategoryTest, MasksMoveAndStretchWidgetsWhenTheParentResizes) {
  testing_support::qtTestApplication();
  struct Case {
    const char* what;
    unsigned mask;
    QRect after;  // the child starts at (10, 10, 50, 20) in a 200 x 100 parent that grows to 300 x 150
  };
  const Case cases[] = {
      {"no mask keeps place and size", 0, {10, 10, 50, 20}},
      {"flexible width, top kept", kFlexibleWidth | kFlexibleBottomMargin, {10, 10, 150, 20}},
      {"pinned to the right and the bottom", kFlexibleLeftMargin | kFlexibleTopMargin, {110, 60, 50, 20}},
      {"centred: both margins share", kFlexibleLeftMargin | kFlexibleRightMargin, {60, 10, 50, 20}},
      {"everything flexible", 63, {43, 26, 83, 36}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QWidget parent;
    parent.resize(200, 100);
    auto* child = new QWidget(&parent);
    child->setGeometry(10, 10, 50, 20);
    setAutoresizingBit(*child, c.mask, true);
    auto* untranslated = new QWidget(&parent);
    untranslated->setGeometry(10, 10, 50, 20);
    setAutoresizingBit(*untranslated, kFlexibleWidth, true);
    setTranslatesAutoresizingMask(*untranslated, false);
    parent.show();
    parent.resize(300, 150);
    EXPECT_EQ(child->geometry(), c.after);
    EXPECT_EQ(untranslated->geometry(), QRect(10, 10, 50, 20)) << "a widget that does not translate its mask";
  }
}

TEST(ViewCategoryTest, PinnedWidgetsFillTheirParentAndAParentWithItsOwnLayoutRefuses) {
  testing_support::qtTestApplication();
  QWidget parent;
  auto* back = new QWidget(&parent);
  auto* front = new QWidget(&parent);
  ASSERT_TRUE(fillInSuperView(*back));
  ASSERT_TRUE(fillInSuperView(*front));
  EXPECT_FALSE(translatesAutoresizingMask(*front));
  parent.show();
  for (const QSize size : {QSize(320, 200), QSize(90, 400)}) {
    parent.resize(size);
    parent.layout()->activate();
    EXPECT_EQ(back->geometry(), QRect(QPoint(0, 0), size));
    EXPECT_EQ(front->geometry(), QRect(QPoint(0, 0), size));
  }

  QWidget stacked;
  auto* ownLayout = new QVBoxLayout(&stacked);
  auto* view = new QWidget(&stacked);
  EXPECT_FALSE(fillInSuperView(*view));
  EXPECT_EQ(stacked.layout(), ownLayout);
  EXPECT_TRUE(translatesAutoresizingMask(*view));
  QWidget orphan;
  EXPECT_FALSE(fillInSuperView(orphan));
}

TEST(ViewCategoryTest, AColumnStacksItsWidgetsAndReplacesWhatWasThere) {
  testing_support::qtTestApplication();
  QWidget receiver;
  auto* old = new QVBoxLayout(&receiver);
  old->setObjectName("old");
  std::vector<QWidget*> rows;
  for (int i = 0; i < 3; ++i) {
    auto* row = new QLabel(QStringLiteral("row %1").arg(i), &receiver);
    row->setFixedHeight(20);
    rows.push_back(row);
  }
  layoutRowConstraintWithViews(receiver, rows, 7, 9, 4, 11, 13);
  ASSERT_NE(receiver.layout(), nullptr);
  EXPECT_NE(receiver.layout()->objectName(), "old");
  receiver.resize(200, 7 + 3 * 20 + 2 * 4 + 9);
  receiver.show();
  receiver.layout()->activate();
  int y = 7;
  for (QWidget* row : rows) {
    EXPECT_EQ(row->geometry(), QRect(11, y, 200 - 11 - 13, 20));
    y += 24;
  }

  layoutRowConstraintWithViews(receiver, {}, 0, 0, 0, 0, 0);
  EXPECT_EQ(receiver.layout(), nullptr);
}

TEST(ViewCategoryTest, TranslationIsTurnedOffDownTheHierarchyExceptInScrollAreas) {
  testing_support::qtTestApplication();
  QWidget window;
  auto* panel = new QWidget(&window);
  auto* field = new QLabel(panel);
  auto* table = new QTableView(panel);
  auto* insideTable = new QWidget(table);
  dontTranslateAutoresizingMaskToHierarchy(window);
  EXPECT_TRUE(translatesAutoresizingMask(window)) << "the receiver itself is left alone";
  EXPECT_FALSE(translatesAutoresizingMask(*panel));
  EXPECT_FALSE(translatesAutoresizingMask(*field));
  EXPECT_TRUE(translatesAutoresizingMask(*table));
  EXPECT_TRUE(translatesAutoresizingMask(*insideTable));
}

}  // namespace
}  // namespace app::views
