#pragma once

namespace platform::ui {

// Positions computed with the origin at the bottom-left of the primary screen
// and y growing upwards have to be flipped before they reach Qt, whose origin
// is the top-left of the virtual desktop with y growing downwards.
struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// `primaryScreen` is the primary screen's geometry in Qt's coordinates; its
// bottom-left corner is the origin of the bottom-left space.
Point toTopLeft(Point bottomLeft, const Rect& primaryScreen);
Rect toTopLeft(const Rect& bottomLeft, const Rect& primaryScreen);
Point toBottomLeft(Point topLeft, const Rect& primaryScreen);
Rect toBottomLeft(const Rect& topLeft, const Rect& primaryScreen);

}  // namespace platform::ui
