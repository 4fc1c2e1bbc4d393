#pragma once

#include <QColor>
#include <QImage>

namespace platform::ui {

// A Gaussian-like blur (three box passes) of `image` for a blur radius in
// device-independent pixels, as drop shadows and glows are specified
// (standard deviation = radius / 2). The result keeps the image's size and
// device pixel ratio: leave room around what is blurred.
QImage blurred(const QImage& image, double radius);

// The image's shape (its alpha) filled with `color`: how symbols are drawn
// in a tint, and how a shadow is cut from a picture.
QImage tinted(const QImage& image, const QColor& color);

}  // namespace platform::ui
