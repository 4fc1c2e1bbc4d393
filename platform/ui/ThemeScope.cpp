#include "platform/ui/ThemeScope.h"

#include <QPointer>
#include <QVariant>
#include <QWidget>

namespace platform::ui {
namespace {

constexpr const char* kPaletteProperty = "parlowen.themePalette";
constexpr const char* kExemptionProperty = "parlowen.contrastExemption";

QColor mix(const Color& a, const Color& b, double t) {
    return toQColor({a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t, a.blue + (b.blue - a.blue) * t,
                     a.alpha + (b.alpha - a.alpha) * t});
}

}  // namespace
}  // namespace platform::ui

Q_DECLARE_METATYPE(platform::ui::Palette)

namespace platform::ui {

QColor toQColor(const Color& c) { return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha)); }

Color fromQColor(const QColor& q) {
    const QColor c = q.toRgb();
    return {c.redF(), c.greenF(), c.blueF(), c.alphaF()};
}

QPalette qtPalette(const Palette& p) {
    QPalette q;
    const QColor surface = toQColor(p.surfaceBackground);
    const QColor text = toQColor(p.primaryText);
    const SystemColors system = systemColors(p);
    // Secondary text, fields and links take the readable system colours.
    const QColor secondary = toQColor(system.secondary);
    const QColor base = toQColor(system.controlBackground);
    const QColor button = toQColor(p.dimSurface);
    const Color edge = p.isDark ? Color::white() : Color::black();

    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        q.setColor(group, QPalette::Window, surface);
        q.setColor(group, QPalette::Base, base);
        q.setColor(group, QPalette::AlternateBase, button);
        q.setColor(group, QPalette::Button, button);
        q.setColor(group, QPalette::ToolTipBase, button);
        q.setColor(group, QPalette::Highlight, toQColor(p.accent));
        q.setColor(group, QPalette::HighlightedText, toQColor(p.accentForeground));
        q.setColor(group, QPalette::Link, toQColor(system.accentText));
        q.setColor(group, QPalette::LinkVisited, toQColor(system.accentText));
        q.setColor(group, QPalette::PlaceholderText, secondary);
        q.setColor(group, QPalette::Light, mix(p.dimSurface, Color::white(), p.isDark ? 0.15 : 0.6));
        q.setColor(group, QPalette::Midlight, mix(p.dimSurface, Color::white(), p.isDark ? 0.08 : 0.3));
        q.setColor(group, QPalette::Mid, mix(p.dimSurface, edge, 0.25));
        q.setColor(group, QPalette::Dark, mix(p.dimSurface, edge, 0.45));
        q.setColor(group, QPalette::Shadow, QColor(0, 0, 0, p.isDark ? 160 : 90));
        const QColor fg = group == QPalette::Disabled ? secondary : text;
        q.setColor(group, QPalette::WindowText, fg);
        q.setColor(group, QPalette::Text, fg);
        q.setColor(group, QPalette::ButtonText, fg);
        q.setColor(group, QPalette::ToolTipText, text);
        q.setColor(group, QPalette::BrightText, toQColor(p.accentForeground));
    }
    return q;
}

void ThemeScope::apply(QWidget* root, const Palette& palette) {
    if (!root) return;
    root->setProperty(kPaletteProperty, QVariant::fromValue(palette));
    root->setPalette(qtPalette(palette));
    root->setAutoFillBackground(root->isWindow() || root->autoFillBackground());
    // Custom-painted descendants read the scope while painting.
    root->update();
    for (auto* child : root->findChildren<QWidget*>()) child->update();
}

void ThemeScope::clear(QWidget* root) {
    if (!root) return;
    root->setProperty(kPaletteProperty, QVariant());
    root->setPalette(QPalette());
    root->update();
}

std::optional<Palette> ThemeScope::paletteFor(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        const QVariant v = w->property(kPaletteProperty);
        if (v.isValid() && v.canConvert<Palette>()) return v.value<Palette>();
    }
    return std::nullopt;
}

Palette ThemeScope::resolve(const QWidget* widget) {
    if (auto p = paletteFor(widget)) return *p;
    const QPalette q = widget ? widget->palette() : QPalette();
    Palette p;
    p.surfaceBackground = fromQColor(q.color(QPalette::Window));
    p.primaryText = fromQColor(q.color(QPalette::WindowText));
    p.secondaryText = fromQColor(q.color(QPalette::PlaceholderText));
    p.accent = fromQColor(q.color(QPalette::Highlight));
    p.accentForeground = fromQColor(q.color(QPalette::HighlightedText));
    p.dimSurface = fromQColor(q.color(QPalette::AlternateBase));
    p.dotStroke = p.accent.opacity(0.25);
    p.isDark = p.surfaceBackground.luminance() < 0.5;
    return p;
}

Subscription ThemeScope::follow(QWidget* root, Stream<Palette> palettes) {
    QPointer<QWidget> target(root);
    return palettes.subscribe([target](const Palette& p) {
        if (target) apply(target, p);
    });
}

void exemptFromContrastCheck(QWidget* widget, const QString& reason) {
    if (widget) widget->setProperty(kExemptionProperty, reason);
}

QString contrastExemption(const QWidget* widget) {
    return widget ? widget->property(kExemptionProperty).toString() : QString();
}

}  // namespace platform::ui
