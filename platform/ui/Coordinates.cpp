#include "platform/ui/Coordinates.h"

namespace platform::ui {

Point toTopLeft(Point p, const Rect& primary) {
    return {primary.x + p.x, primary.y + primary.height - p.y};
}

Rect toTopLeft(const Rect& r, const Rect& primary) {
    // The rectangle's origin is its lower edge; Qt wants its upper edge.
    return {primary.x + r.x, primary.y + primary.height - (r.y + r.height), r.width, r.height};
}

Point toBottomLeft(Point p, const Rect& primary) {
    return {p.x - primary.x, primary.y + primary.height - p.y};
}

Rect toBottomLeft(const Rect& r, const Rect& primary) {
    return {r.x - primary.x, primary.y + primary.height - (r.y + r.height), r.width, r.height};
}

}  // namespace platform::ui
