#pragma once

// A palette applied to a window and inherited by everything inside it, the
// way an environment value reaches a whole view tree: `apply` sets it on a
// window (or any container), `paletteFor` finds the nearest one above a
// widget. Applying a palette also sets the Qt palette of the container, so
// standard widgets follow it (a dark palette where `isDark`).

#include <optional>

#include <QColor>
#include <QPalette>

#include "platform/runtime/Observable.h"
#include "platform/ui/Palette.h"

class QWidget;

namespace platform::ui {

QColor toQColor(const Color& color);
Color fromQColor(const QColor& color);

// The Qt palette that carries a theme's colours to standard widgets.
QPalette qtPalette(const Palette& palette);

class ThemeScope {
public:
    // Sets `palette` on `root`: its Qt palette, its descendants' view of the
    // theme, and a repaint. Applying it again replaces it.
    static void apply(QWidget* root, const Palette& palette);
    // Removes a palette applied to `root` (descendants see the next one up).
    static void clear(QWidget* root);
    // The palette of the nearest scope at or above `widget`, if any.
    static std::optional<Palette> paletteFor(const QWidget* widget);
    // The palette of the nearest scope, or one read from the widget's Qt
    // palette when no scope encloses it.
    static Palette resolve(const QWidget* widget);

    // Applies every palette `palettes` delivers to `root` (starting with the
    // current one) until the subscription ends or `root` is destroyed.
    [[nodiscard]] static Subscription follow(QWidget* root, Stream<Palette> palettes);
};

// Marks `widget` as exempt from the screenshot tests' contrast check, with
// the reason (a logotype, a colour emoji). Kept on the widget, so the check
// and the people reading a failure both see why.
void exemptFromContrastCheck(QWidget* widget, const QString& reason);
// The reason `widget` is exempt, or empty.
QString contrastExemption(const QWidget* widget);

}  // namespace platform::ui
