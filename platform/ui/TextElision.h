#pragma once

#include <QFont>
#include <QString>

namespace platform::ui {

// `text` wrapped at word boundaries to `width` pixels in `font` and cut to
// at most `maxLines` lines, the last one ending in an ellipsis when text was
// cut. Lines are joined with "\n", for a label that does not wrap itself.
QString elidedLines(const QString& text, const QFont& font, int width, int maxLines);

}  // namespace platform::ui
