#pragma once

// Drawn stand-ins for the symbols the dictation views name ("mic.fill",
// "headphones", "timer", "info.circle.fill"), registered with the shared icon
// registry unless something else already draws them. Each is one shape in
// one colour, so it takes a tint (IconRegistry::templatePixmap).

#include <string>

#include <QColor>
#include <QPixmap>

namespace parlowen {

void ensureDictationSymbols();

// The symbol `name` at `side` points square in `tint`, for `devicePixelRatio`.
QPixmap dictationSymbol(const std::string& name, int side, const QColor& tint, qreal devicePixelRatio = 1);

}  // namespace parlowen
