#pragma once

// System fonts by text style, sized the way the desktop platform the
// application was first designed for sizes them (one point = one
// device-independent pixel), so that layouts given in points keep their
// proportions.

#include <optional>

#include <QFont>

namespace platform::ui {

enum class TextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };

// Rounded and serif designs fall back to what the system's font
// configuration offers for them.
enum class FontDesign { standard, rounded, serif, monospaced };

// Size in points of a text style.
double pointSize(TextStyle style);

// The system font at `size` points.
QFont systemFont(double size, QFont::Weight weight = QFont::Normal, FontDesign design = FontDesign::standard);
// The system font of a text style (headline is semibold unless asked otherwise).
QFont systemFont(TextStyle style, std::optional<QFont::Weight> weight = std::nullopt,
                 FontDesign design = FontDesign::standard);

}  // namespace platform::ui
