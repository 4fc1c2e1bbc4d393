#pragma once

#include "platform/ui/Coordinates.h"

namespace platform::ui {

// Top-left origin (Qt coordinates) that centres a panel `width` wide
// horizontally in `visibleFrame`, with its top edge `topInset` below the
// frame's top edge.
inline Point topCentredOrigin(const Rect& visibleFrame, double width, double topInset) {
    return {visibleFrame.x + visibleFrame.width * 0.5 - width * 0.5, visibleFrame.y + topInset};
}

// Top-left origin (Qt coordinates) that puts a panel `width` wide with its
// top-right corner `inset` inside the top-right corner of `visibleFrame`.
inline Point topRightOrigin(const Rect& visibleFrame, double width, double inset) {
    return {visibleFrame.x + visibleFrame.width - width - inset, visibleFrame.y + inset};
}

}  // namespace platform::ui
