#pragma once

// Images by name: the system symbols the views name ("sunset",
// "hand.point.up.left.fill", ...) and the application's artwork ("quon-...").
// A name resolves, in this order, to
//   1. a bundled file "images/<name>.png" found through resourcePath,
//   2. the freedesktop icon the symbol maps to, from the "Adwaita" icon
//      theme (its symbolic icons: one-colour shapes, drawn as templates in
//      the colour a view asks for, so they follow dark palettes too),
//   3. a painter registered for the name (drawn symbols with no fitting
//      theme icon, drawn artwork, stand-ins for pictures not delivered yet),
//   4. a generic placeholder drawn from the name,
// so a view always gets an image of the size it asks for.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "platform/runtime/Environment.h"

class QPainter;

namespace platform::ui {

class IconRegistry {
public:
    // Draws the image into `bounds` (the whole requested size, transparent).
    using Painter = std::function<void(QPainter& painter, const QRectF& bounds)>;

    enum class Source { file, theme, painter, placeholder };

    // The icon theme symbols are looked up in, set explicitly so the
    // desktop's own theme cannot change what the views show.
    static constexpr const char* kIconTheme = "Adwaita";
    // The freedesktop icon name a symbol maps to, if any.
    static std::optional<std::string> themeIconName(const std::string& symbol);

    explicit IconRegistry(Environment environment = {});

    // The process's registry (images are process-wide resources). The program
    // gives it its environment once at start-up.
    static IconRegistry& shared();
    void setEnvironment(Environment environment);

    void registerPainter(const std::string& name, Painter painter);
    bool hasPainter(const std::string& name) const;
    std::vector<std::string> registeredNames() const;

    Source sourceOf(const std::string& name) const;

    // The image at `size` device-independent pixels (times `devicePixelRatio`
    // device pixels), aspect ratio kept for files (fitted and centred).
    QPixmap pixmap(const std::string& name, QSize size, qreal devicePixelRatio = 1) const;
    QImage image(const std::string& name, QSize size, qreal devicePixelRatio = 1) const;
    QIcon icon(const std::string& name, QSize size = {16, 16}) const;
    // The image's shape in one colour, the way symbols take a tint.
    QPixmap templatePixmap(const std::string& name, QSize size, const QColor& tint, qreal devicePixelRatio = 1) const;

    // The placeholder for `name`: the outline of a rounded tile with the
    // name's initials, in a colour derived from the name (one colour, so it
    // can take a tint like a symbol).
    static void paintPlaceholder(QPainter& painter, const QRectF& bounds, const std::string& name);

private:
    std::optional<QImage> fileImage(const std::string& name) const;
    // The theme's icon for `name`, if the symbol maps to one the theme has.
    std::optional<QIcon> themeIcon(const std::string& name) const;

    mutable std::mutex mutex_;
    Environment environment_;
    std::map<std::string, Painter> painters_;
    mutable std::map<std::string, std::optional<QImage>> files_;
};

}  // namespace platform::ui
