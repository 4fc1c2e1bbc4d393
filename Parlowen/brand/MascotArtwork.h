#pragma once

#include <QPixmap>
#include <QSize>

#include "Parlowen/brand/QuonKind.h"

namespace platform::ui {
class IconRegistry;
}

namespace parlowen {

// Registers a drawn stand-in for every mascot image name with `icons`, so
// each pose shows a recognisable picture until the artwork is delivered as
// files (which the registry prefers).
void registerMascotArtwork(platform::ui::IconRegistry& icons);

// Registers them with the shared registry once per process.
void ensureMascotArtwork();

// The pose's image from the shared registry at `size`.
QPixmap mascotPixmap(QuonKind kind, QSize size, qreal devicePixelRatio = 1);

}  // namespace parlowen
