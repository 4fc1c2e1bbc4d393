#include "platform/ui/IconRegistry.h"

#include <QPainter>

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

}  // namespace

IconRegistry::IconRegistry(Environment environment) : environment_(std::move(environment)) {}

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
