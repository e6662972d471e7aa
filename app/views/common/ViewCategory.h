#pragma once
// Layout helpers for Qt widgets, in the terms the window code is written in:
// autoresizing masks that move or stretch a widget when its parent resizes,
// pinning a widget to all four edges of its parent, and stacking widgets in
// a column.
//
// A widget's autoresizing mask applies only while it "translates" its mask
// (the default) and no layout of its parent manages it; pinning and stacking
// turn the translation off. Edge terms are Qt's top-down ones: a flexible
// bottom margin keeps the top edge in place, a flexible top margin keeps the
// bottom edge in place. When a parent resizes, the change is shared evenly
// between the flexible parts of each direction (left margin, width, right
// margin; top margin, height, bottom margin); with none flexible the widget
// keeps its place and size.
//
// Free functions on widgets; GUI thread.

#include <vector>

class QWidget;

namespace app::views {

inline constexpr unsigned kFlexibleLeftMargin = 1;
inline constexpr unsigned kFlexibleWidth = 2;
inline constexpr unsigned kFlexibleRightMargin = 4;
inline constexpr unsigned kFlexibleBottomMargin = 8;
inline constexpr unsigned kFlexibleHeight = 16;
inline constexpr unsigned kFlexibleTopMargin = 32;

unsigned autoresizingMask(const QWidget& view);
// Sets (on) or clears (off) the bits of `mask` in the view's mask, and makes
// its parent apply the mask when it resizes.
void setAutoresizingBit(QWidget& view, unsigned mask, bool on);
void fixLeftEdge(QWidget& view, bool fixed);
void fixRightEdge(QWidget& view, bool fixed);
void fixWidth(QWidget& view, bool fixed);
void fixHeight(QWidget& view, bool fixed);
void fixTopEdge(QWidget& view, bool fixed);
void fixBottomEdge(QWidget& view, bool fixed);

bool translatesAutoresizingMask(const QWidget& view);
void setTranslatesAutoresizingMask(QWidget& view, bool translates);

// Pins the view to all four edges of its parent, with no margin. Several
// views may be pinned to one parent (they overlap). False, and nothing
// changed, when the view has no parent or the parent already has a layout of
// its own.
bool fillInSuperView(QWidget& view);

// Turns the translation off in every descendant of the view, except scroll
// areas (tables, text views) and what they hold.
void dontTranslateAutoresizingMaskToHierarchy(QWidget& view);

// Stacks the views in a column inside the receiver, in order: `top` above the
// first, `spacing` between two, `bottom` below the last, `leading` and
// `trailing` at the sides. Whatever layout the receiver had goes first; with
// no views it is left with none.
void layoutRowConstraintWithViews(QWidget& receiver, const std::vector<QWidget*>& views, int top, int bottom,
                                  int spacing, int leading, int trailing);

}  // namespace app::views
