#pragma once

// The pictures of the status item: the application's icon as a one-colour
// shape, tinted, with a badge dot, and faded copies for the listening pulse.

#include <QColor>
#include <QImage>
#include <QSize>

#include "platform/statusitem/StatusItem.h"

namespace platform {

struct StatusIconColors {
    QColor label;           // the plain icon, and the update badge's shape
    QColor secondaryLabel;  // the permission badge's shape
    QColor red{0xFF, 0x3B, 0x30};
    QColor blue{0x00, 0x7A, 0xFF};
    QColor orange{0xFF, 0x95, 0x00};
    // From the application's palette (window text, and the same at half strength).
    static StatusIconColors fromApplicationPalette();
};

// The name of the icon in the icon registry.
inline constexpr const char* kMenuBarIconName = "MenuBarIcon";

// Registers the drawn stand-in for the icon artwork, unless the registry
// already has artwork of that name.
void registerMenuBarIconArtwork();

// `size` device pixels. The shape comes from the icon registry's "MenuBarIcon".
QImage drawStatusIcon(const StatusIcon& icon, QSize size, const StatusIconColors& colors);
// A copy of `image` with every pixel's alpha multiplied by `alpha`.
QImage fadedStatusIcon(const QImage& image, double alpha);

}  // namespace platform
