#include "platform/ui/IconRegistry.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include "platform/runtime/Resources.h"
#include "platform/ui/ImageEffects.h"

namespace platform::ui {
namespace {

std::uint32_t fnv1a(const std::string& s) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

QString initials(const std::string& name) {
    QString out;
    bool take = true;
    for (char c : name) {
        if (c == '.' || c == '-' || c == '_' || c == ' ') {
            take = true;
            continue;
        }
        if (take && out.size() < 2) out += QChar(c).toUpper();
        take = false;
    }
    return out.isEmpty() ? QStringLiteral("?") : out;
}

// The symbols views use that the icon theme draws, by freedesktop name.
const std::map<std::string, std::string>& themeNames() {
    static const std::map<std::string, std::string> names{
        {"sparkles", "starred-symbolic"},
        {"person.wave.2.fill", "avatar-default-symbolic"},
        {"person.wave.2", "user-info-symbolic"},
        {"sunrise", "daytime-sunrise-symbolic"},
        {"sunset", "daytime-sunset-symbolic"},
        {"sun.max", "weather-clear-symbolic"},
        {"moon.stars", "weather-clear-night-symbolic"},
        {"checkmark.circle.fill", "emblem-ok-symbolic"},
        {"wifi.slash", "network-wireless-offline-symbolic"},
        {"hand.raised", "action-unavailable-symbolic"},
        {"questionmark.circle", "dialog-question-symbolic"},
        {"doc.plaintext", "text-x-generic-symbolic"},
        {"exclamationmark.triangle", "dialog-warning-symbolic"},
        {"exclamationmark.triangle.fill", "dialog-warning-symbolic"},
        {"link", "insert-link-symbolic"},
        {"envelope", "mail-unread-symbolic"},
        {"text.alignleft", "format-justify-left-symbolic"},
        {"list.bullet", "view-list-bullet-symbolic"},
        {"arrow.up.left.and.arrow.down.right", "view-fullscreen-symbolic"},
        {"checklist", "checkbox-checked-symbolic"},
        {"pause.circle.fill", "media-playback-pause-symbolic"},
        {"play.circle.fill", "media-playback-start-symbolic"},
        {"lock.shield.fill", "security-high-symbolic"},
        {"folder.fill", "folder-symbolic"},
        {"lock.fill", "changes-prevent-symbolic"},
        {"lock.open.fill", "changes-allow-symbolic"},
        {"bell.slash.fill", "notifications-disabled-symbolic"},
        {"doc.on.doc", "edit-copy-symbolic"},
        {"note.text", "accessories-text-editor-symbolic"},
        {"xmark.circle.fill", "process-stop-symbolic"},
        {"pencil.circle", "document-edit-symbolic"},
        {"chevron.down", "pan-down-symbolic"},
        {"tag", "user-bookmarks-symbolic"},
        {"wand.and.stars", "starred-symbolic"},
        {"cpu", "computer-symbolic"},
        {"arrow.up.circle", "go-up-symbolic"},
        {"gear", "emblem-system-symbolic"},
        {"lightbulb", "keyboard-brightness-symbolic"},
        {"mic", "audio-input-microphone-symbolic"},
        {"mic.fill", "audio-input-microphone-symbolic"},
        {"speaker.wave.2", "audio-volume-high-symbolic"},
        {"key.horizontal", "dialog-password-symbolic"},
        {"key.fill", "dialog-password-symbolic"},
        {"app.badge", "view-app-grid-symbolic"},
        {"paintpalette", "applications-graphics-symbolic"},
        {"lock.shield", "security-high-symbolic"},
        {"info.circle", "dialog-information-symbolic"},
        {"questionmark.circle.fill", "dialog-question-symbolic"},
        {"keyboard", "input-keyboard-symbolic"},
        {"rectangle.on.rectangle", "edit-copy-symbolic"},
        {"checkmark.seal.fill", "emblem-ok-symbolic"},
        {"arrow.up.right.square", "send-to-symbolic"},
    };
    return names;
}

// The symbols the icon theme has nothing fitting for, drawn in black (views
// tint them like the theme's symbols).
void paintWaveform(QPainter& p, const QRectF& r) {
    const double side = std::min(r.width(), r.height());
    const double heights[] = {0.35, 0.7, 1.0, 0.55, 0.8, 0.4};
    const double gap = side / 6;
    const double width = gap * 0.6;
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    for (int i = 0; i < 6; ++i) {
        const double h = side * 0.9 * heights[i];
        const QRectF bar(r.center().x() - side / 2 + gap * i + (gap - width) / 2, r.center().y() - h / 2, width, h);
        p.drawRoundedRect(bar, width / 2, width / 2);
    }
}

// A hand with the index finger pointing up and to the left.
void paintPointingHand(QPainter& p, const QRectF& bounds) {
    const double s = std::min(bounds.width(), bounds.height());
    p.save();
    p.translate(bounds.center());
    p.rotate(-35);
    p.scale(s, s);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(-0.08, -0.48, 0.16, 0.55), 0.08, 0.08);  // index finger
    p.drawRoundedRect(QRectF(-0.22, -0.05, 0.44, 0.5), 0.13, 0.13);   // fist
    p.drawRoundedRect(QRectF(-0.32, -0.02, 0.16, 0.3), 0.08, 0.08);   // thumb
    p.restore();
}

QPainterPath bubble(const QRectF& r) {
    const double s = std::min(r.width(), r.height());
    const QRectF body(r.center().x() - 0.45 * s, r.center().y() - 0.4 * s, 0.9 * s, 0.65 * s);
    QPainterPath path;
    path.addRoundedRect(body, 0.22 * s, 0.22 * s);
    QPainterPath tail;
    tail.moveTo(body.left() + 0.15 * s, body.bottom() - 0.05 * s);
    tail.lineTo(body.left() + 0.08 * s, body.bottom() + 0.18 * s);
    tail.lineTo(body.left() + 0.38 * s, body.bottom() - 0.05 * s);
    tail.closeSubpath();
    return path.united(tail);
}

void paintBubble(QPainter& p, const QRectF& r) {
    const double s = std::min(r.width(), r.height());
    p.setPen(QPen(Qt::black, std::max(1.0, s * 0.09)));
    p.setBrush(Qt::NoBrush);
    p.drawPath(bubble(r.adjusted(s * 0.05, s * 0.05, -s * 0.05, -s * 0.05)));
}

void paintGlyph(QPainter& p, const QRectF& r, const QString& glyph, double scale) {
    QFont font = p.font();
    font.setPixelSize(std::max(6, int(std::min(r.width(), r.height()) * scale)));
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(r, Qt::AlignCenter, glyph);
}

void paintExclamationBubble(QPainter& p, const QRectF& r) {
    const double s = std::min(r.width(), r.height());
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPath(bubble(r));
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    const double x = r.center().x();
    p.drawRoundedRect(QRectF(x - 0.05 * s, r.center().y() - 0.3 * s, 0.1 * s, 0.3 * s), 0.05 * s, 0.05 * s);
    p.drawEllipse(QPointF(x, r.center().y() + 0.1 * s), 0.06 * s, 0.06 * s);
}

void paintBriefcase(QPainter& p, const QRectF& r) {
    const double s = std::min(r.width(), r.height());
    const QPointF c = r.center();
    p.setPen(QPen(Qt::black, std::max(1.0, s * 0.09)));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(c.x() - 0.2 * s, c.y() - 0.4 * s, 0.4 * s, 0.2 * s), 0.06 * s, 0.06 * s);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(c.x() - 0.45 * s, c.y() - 0.22 * s, 0.9 * s, 0.62 * s), 0.1 * s, 0.1 * s);
}

void registerSymbolPainters(IconRegistry& icons) {
    icons.registerPainter("waveform", paintWaveform);
    icons.registerPainter("hand.point.up.left.fill", paintPointingHand);
    icons.registerPainter("bubble.left", paintBubble);
    icons.registerPainter("exclamationmark.bubble", paintExclamationBubble);
    icons.registerPainter("briefcase", paintBriefcase);
    icons.registerPainter("number", [](QPainter& p, const QRectF& r) { paintGlyph(p, r, QStringLiteral("#"), 0.85); });
    icons.registerPainter("chevron.left.forwardslash.chevron.right",
                          [](QPainter& p, const QRectF& r) { paintGlyph(p, r, QStringLiteral("</>"), 0.55); });
}

}  // namespace

IconRegistry::IconRegistry(Environment environment) : environment_(std::move(environment)) {
    registerSymbolPainters(*this);
}

std::optional<std::string> IconRegistry::themeIconName(const std::string& symbol) {
    const auto& names = themeNames();
    if (auto it = names.find(symbol); it != names.end()) return it->second;
    return std::nullopt;
}

std::optional<QIcon> IconRegistry::themeIcon(const std::string& name) const {
    const auto themeName = themeIconName(name);
    // Icons need the GUI application (and its main thread).
    if (!themeName || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return std::nullopt;
    if (QIcon::themeName() != QLatin1String(kIconTheme)) {
        // The desktop's data folders may not list the system's (a test's do
        // not): the standard ones are searched too.
        QStringList paths = QIcon::themeSearchPaths();
        for (const char* standard : {"/usr/local/share/icons", "/usr/share/icons"})
            if (!paths.contains(QLatin1String(standard))) paths << QLatin1String(standard);
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(QLatin1String(kIconTheme));
    }
    const QString icon = QString::fromStdString(*themeName);
    if (!QIcon::hasThemeIcon(icon)) return std::nullopt;
    return QIcon::fromTheme(icon);
}

IconRegistry& IconRegistry::shared() {
    static IconRegistry registry;
    return registry;
}

void IconRegistry::setEnvironment(Environment environment) {
    std::lock_guard lock(mutex_);
    environment_ = std::move(environment);
    files_.clear();
}

void IconRegistry::registerPainter(const std::string& name, Painter painter) {
    std::lock_guard lock(mutex_);
    painters_[name] = std::move(painter);
}

bool IconRegistry::hasPainter(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return painters_.count(name) != 0;
}

std::vector<std::string> IconRegistry::registeredNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [name, _] : painters_) names.push_back(name);
    return names;
}

std::optional<QImage> IconRegistry::fileImage(const std::string& name) const {
    std::lock_guard lock(mutex_);
    if (auto it = files_.find(name); it != files_.end()) return it->second;
    std::optional<QImage> image;
    if (auto path = resourcePath("images/" + name + ".png", environment_)) {
        QImage loaded(QString::fromStdString(path->string()));
        if (!loaded.isNull()) image = std::move(loaded);
    }
    files_[name] = image;
    return image;
}

IconRegistry::Source IconRegistry::sourceOf(const std::string& name) const {
    if (fileImage(name)) return Source::file;
    if (themeIcon(name)) return Source::theme;
    if (hasPainter(name)) return Source::painter;
    return Source::placeholder;
}

QImage IconRegistry::image(const std::string& name, QSize size, qreal dpr) const {
    if (size.isEmpty()) return {};
    QImage out(size * dpr, QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(dpr);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds(QPointF(0, 0), QSizeF(size));

    if (auto file = fileImage(name)) {
        QSizeF fitted = QSizeF(file->size()).scaled(bounds.size(), Qt::KeepAspectRatio);
        QRectF target(QPointF(0, 0), fitted);
        target.moveCenter(bounds.center());
        painter.drawImage(target, *file);
        return out;
    }
    if (auto icon = themeIcon(name)) {
        const double side = std::min(bounds.width(), bounds.height());
        QRectF square(0, 0, side, side);
        square.moveCenter(bounds.center());
        icon->paint(&painter, square.toRect());
        return out;
    }
    Painter draw;
    {
        std::lock_guard lock(mutex_);
        if (auto it = painters_.find(name); it != painters_.end()) draw = it->second;
    }
    if (draw)
        draw(painter, bounds);
    else
        paintPlaceholder(painter, bounds, name);
    return out;
}

QPixmap IconRegistry::pixmap(const std::string& name, QSize size, qreal dpr) const {
    return QPixmap::fromImage(image(name, size, dpr));
}

QPixmap IconRegistry::templatePixmap(const std::string& name, QSize size, const QColor& tint, qreal dpr) const {
    return QPixmap::fromImage(tinted(image(name, size, dpr), tint));
}

QIcon IconRegistry::icon(const std::string& name, QSize size) const {
    QIcon icon;
    icon.addPixmap(pixmap(name, size, 1));
    icon.addPixmap(pixmap(name, size, 2));
    return icon;
}

void IconRegistry::paintPlaceholder(QPainter& painter, const QRectF& bounds, const std::string& name) {
    const std::uint32_t h = fnv1a(name);
    const QColor ink = QColor::fromHsv(int(h % 360), 140, 150);
    const double side = std::min(bounds.width(), bounds.height());
    QRectF square(0, 0, side, side);
    square.moveCenter(bounds.center());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double stroke = std::max(1.0, side * 0.07);
    const double inset = stroke / 2 + side * 0.04;
    painter.setPen(QPen(ink, stroke));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(square.adjusted(inset, inset, -inset, -inset), side * 0.22, side * 0.22);
    QFont font = painter.font();
    font.setPixelSize(std::max(6, int(side * 0.36)));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(ink);
    painter.drawText(square, Qt::AlignCenter, initials(name));
    painter.restore();
}

}  // namespace platform::ui
