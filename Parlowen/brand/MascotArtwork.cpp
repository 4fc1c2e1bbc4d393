#include "Parlowen/brand/MascotArtwork.h"

#include <mutex>
#include <string>

#include <QPainter>
#include <QPainterPath>

#include "Parlowen/brand/BrandColors.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using platform::ui::toQColor;

enum class Eyes { open, closed, up, side, wide };
enum class Prop { none, mic, notepad, book, thought, zzz, sparkle };

struct Look {
    Eyes eyes = Eyes::open;
    Prop prop = Prop::none;
    bool portrait = false;  // a closer, larger face
    bool scene = false;     // a backdrop behind the mascot
    int variant = 0;        // small differences between members of a family
};

bool has(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

Look lookFor(const std::string& name) {
    Look look;
    look.variant = has(name, "-2") || has(name, "engaged") || has(name, "tall") ? 1
                   : has(name, "-3") || has(name, "classic") || has(name, "side") ? 2
                   : has(name, "cute") ? 3
                                       : 0;
    if (has(name, "listening")) look.prop = Prop::mic;
    if (has(name, "notetaking")) look.prop = Prop::notepad;
    if (has(name, "reading")) look.prop = Prop::book, look.eyes = Eyes::side;
    if (has(name, "thinking")) look.prop = Prop::thought, look.eyes = Eyes::up;
    if (has(name, "dozing") || has(name, "idle")) look.eyes = Eyes::closed, look.prop = Prop::zzz;
    if (has(name, "portrait")) {
        look.portrait = true;
        look.eyes = has(name, "upward") ? Eyes::up : has(name, "curious") ? Eyes::wide : Eyes::open;
    }
    if (has(name, "scene")) {
        look.scene = true;
        look.prop = has(name, "mic") ? Prop::mic : has(name, "papers") ? Prop::notepad : Prop::sparkle;
    }
    return look;
}

void paintQuon(QPainter& p, const QRectF& bounds, const Look& look) {
    const double s = std::min(bounds.width(), bounds.height());
    const QPointF o(bounds.center().x() - s / 2, bounds.center().y() - s / 2);
    auto at = [&](double x, double y) { return o + QPointF(x * s, y * s); };
    auto box = [&](double x, double y, double w, double h) { return QRectF(at(x, y), QSizeF(w * s, h * s)); };
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    if (look.scene) {
        QPainterPath backdrop;
        backdrop.addRoundedRect(box(0.02, 0.02, 0.96, 0.96), 0.12 * s, 0.12 * s);
        p.fillPath(backdrop, toQColor(brandLinen()));
        p.save();
        p.setClipPath(backdrop);
        p.setBrush(toQColor(brandSage().opacity(0.55)));
        p.drawEllipse(box(-0.2, 0.72, 1.4, 0.6));
        p.restore();
    }

    const double scale = look.portrait ? 1.25 : look.scene ? 0.8 : 1.0;
    const double cx = 0.5, cy = look.portrait ? 0.6 : 0.58;
    auto body = [&](double dx, double dy, double w, double h) {
        return box(cx + (dx - w / 2) * scale, cy + (dy - h / 2) * scale, w * scale, h * scale);
    };

    // Ears, body, belly.
    p.setBrush(toQColor(brandAmberDeep()));
    p.drawEllipse(body(-0.2, -0.24, 0.16, 0.16));
    p.drawEllipse(body(0.2, -0.24, 0.16, 0.16));
    p.setBrush(toQColor(brandAmber()));
    p.drawEllipse(body(0, 0, 0.62, 0.56));
    p.setBrush(toQColor(brandCream().opacity(0.85)));
    p.drawEllipse(body(0, 0.12, 0.34, 0.26));

    // Eyes.
    const QColor ink = toQColor(brandInk());
    for (double side : {-1.0, 1.0}) {
        const QRectF eye = body(0.1 * side, -0.06, 0.07, 0.07);
        switch (look.eyes) {
            case Eyes::closed:
                p.setPen(QPen(ink, std::max(1.0, 0.018 * s * scale), Qt::SolidLine, Qt::RoundCap));
                p.setBrush(Qt::NoBrush);
                p.drawArc(eye, 200 * 16, 140 * 16);
                p.setPen(Qt::NoPen);
                break;
            case Eyes::wide:
                p.setBrush(Qt::white);
                p.drawEllipse(eye.adjusted(-0.01 * s, -0.01 * s, 0.01 * s, 0.01 * s));
                p.setBrush(ink);
                p.drawEllipse(eye.adjusted(0.01 * s, 0.01 * s, -0.01 * s, -0.01 * s));
                break;
            default: {
                QRectF pupil = eye;
                if (look.eyes == Eyes::up) pupil.translate(0, -0.012 * s);
                if (look.eyes == Eyes::side) pupil.translate(0.012 * s, 0.01 * s);
                p.setBrush(ink);
                p.drawEllipse(pupil);
                p.setBrush(Qt::white);
                p.drawEllipse(QRectF(pupil.topLeft() + QPointF(pupil.width() * 0.55, pupil.height() * 0.2),
                                     pupil.size() * 0.3));
            }
        }
        p.setBrush(toQColor(brandCoral().opacity(0.55)));
        p.drawEllipse(body(0.19 * side, 0.03, 0.07, 0.04));
    }
    // Mouth.
    p.setPen(QPen(ink, std::max(1.0, 0.014 * s * scale), Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(body(0, -0.01, 0.06, 0.05), 200 * 16, 140 * 16);
    p.setPen(Qt::NoPen);

    const double mirror = look.variant == 2 ? -1 : 1;
    auto px = [&](double x) { return 0.5 + (x - 0.5) * mirror; };
    switch (look.prop) {
        case Prop::none: break;
        case Prop::mic: {
            const double x = px(look.variant == 1 ? 0.8 : 0.78);
            p.setBrush(ink);
            p.drawRoundedRect(box(x - 0.05, 0.46, 0.1, 0.16), 0.05 * s, 0.05 * s);
            p.drawRect(box(x - 0.008, 0.62, 0.016, 0.14));
            p.drawRoundedRect(box(x - 0.06, 0.76, 0.12, 0.025), 0.01 * s, 0.01 * s);
            break;
        }
        case Prop::notepad: {
            const QRectF pad = box(px(0.7) - 0.1, look.variant == 1 ? 0.52 : 0.6, 0.2, look.variant == 1 ? 0.3 : 0.22);
            p.setBrush(toQColor(brandCream()));
            p.setPen(QPen(toQColor(brandInk().opacity(0.5)), std::max(1.0, 0.01 * s)));
            p.drawRoundedRect(pad, 0.02 * s, 0.02 * s);
            for (int i = 1; i <= 3; ++i) {
                const double y = pad.top() + pad.height() * i / 4.5;
                p.drawLine(QPointF(pad.left() + pad.width() * 0.15, y), QPointF(pad.right() - pad.width() * 0.15, y));
            }
            p.setPen(Qt::NoPen);
            break;
        }
        case Prop::book: {
            p.setBrush(toQColor(brandMoss()));
            p.drawRoundedRect(box(0.3, 0.7, 0.4, 0.16), 0.02 * s, 0.02 * s);
            p.setBrush(toQColor(brandCream()));
            p.drawRect(box(0.32, 0.71, 0.17, 0.13));
            p.drawRect(box(0.51, 0.71, 0.17, 0.13));
            break;
        }
        case Prop::thought: {
            p.setBrush(toQColor(brandInk().opacity(0.35)));
            const double x = px(look.variant == 3 ? 0.76 : 0.8);
            p.drawEllipse(box(x - 0.02, 0.26, 0.04, 0.04));
            p.drawEllipse(box(x + 0.01, 0.17, 0.06, 0.06));
            p.drawEllipse(box(x + 0.04, 0.04 + 0.02 * look.variant, 0.1, 0.09));
            break;
        }
        case Prop::zzz: {
            QFont f = p.font();
            f.setPixelSize(std::max(6, int(0.12 * s)));
            f.setBold(true);
            p.setFont(f);
            p.setPen(toQColor(brandInk().opacity(0.45)));
            p.drawText(box(px(0.72) - 0.1, 0.12 + 0.04 * look.variant, 0.2, 0.16), Qt::AlignCenter,
                       look.variant ? QStringLiteral("z") : QStringLiteral("zz"));
            p.setPen(Qt::NoPen);
            break;
        }
        case Prop::sparkle: {
            p.setBrush(toQColor(brandAmberDeep()));
            for (auto [x, y, r] : {std::tuple{0.2, 0.2, 0.035}, std::tuple{0.8, 0.16, 0.05}, std::tuple{0.86, 0.36, 0.025}})
                p.drawEllipse(box(x - r, y - r, 2 * r, 2 * r));
            break;
        }
    }
    p.restore();
}

}  // namespace

void registerMascotArtwork(platform::ui::IconRegistry& icons) {
    for (std::string_view name : mascotAssetNames()) {
        const std::string key(name);
        const Look look = lookFor(key);
        icons.registerPainter(key, [look](QPainter& p, const QRectF& r) { paintQuon(p, r, look); });
    }
}

void ensureMascotArtwork() {
    static std::once_flag once;
    std::call_once(once, [] { registerMascotArtwork(platform::ui::IconRegistry::shared()); });
}

QPixmap mascotPixmap(QuonKind kind, QSize size, qreal dpr) {
    ensureMascotArtwork();
    return platform::ui::IconRegistry::shared().pixmap(std::string(assetName(kind)), size, dpr);
}

}  // namespace parlowen
