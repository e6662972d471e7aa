#pragma once
// The named images of the media browser's rows and colour labels, drawn or
// taken from the icon theme, in one table. GUI thread.

#include <cstdint>
#include <string_view>

#include <QColor>
#include <QIcon>

namespace app::views {

// The row image with this name; a null icon for an unknown name.
QIcon mediaBrowserImage(std::string_view name);
// The colour of label 1 ("Gray") to 7 ("Orange"); invalid outside.
QColor finderLabelColour(std::int64_t index);

}  // namespace app::views
