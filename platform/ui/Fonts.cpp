#include "platform/ui/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace platform::ui {

double pointSize(TextStyle style) {
    switch (style) {
        case TextStyle::largeTitle: return 26;
        case TextStyle::title: return 22;
        case TextStyle::title2: return 17;
        case TextStyle::title3: return 15;
        case TextStyle::headline: return 13;
        case TextStyle::body: return 13;
        case TextStyle::callout: return 12;
        case TextStyle::subheadline: return 11;
        case TextStyle::footnote: return 10;
        case TextStyle::caption: return 10;
        case TextStyle::caption2: return 10;
    }
    return 13;
}

QFont systemFont(double size, QFont::Weight weight, FontDesign design) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    switch (design) {
        case FontDesign::standard: break;
        case FontDesign::rounded:
            // No rounded system face here: keep the family, hint a sans face.
            font.setStyleHint(QFont::SansSerif);
            break;
        case FontDesign::serif:
            font.setFamilies(QStringList{QStringLiteral("serif")});
            font.setStyleHint(QFont::Serif);
            break;
        case FontDesign::monospaced: font = QFontDatabase::systemFont(QFontDatabase::FixedFont); break;
    }
    font.setPixelSize(std::max(1, static_cast<int>(size + 0.5)));
    font.setWeight(weight);
    return font;
}

QFont systemFont(TextStyle style, std::optional<QFont::Weight> weight, FontDesign design) {
    const QFont::Weight w = weight.value_or(style == TextStyle::headline ? QFont::DemiBold : QFont::Normal);
    return systemFont(pointSize(style), w, design);
}

}  // namespace platform::ui
