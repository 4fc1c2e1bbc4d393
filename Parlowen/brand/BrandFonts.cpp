#include "Parlowen/brand/BrandFonts.h"

#include "platform/ui/Fonts.h"

namespace parlowen {

using platform::ui::FontDesign;
using platform::ui::TextStyle;
using platform::ui::systemFont;

const QFont& brandTitle() {
    static const QFont f = systemFont(TextStyle::title, QFont::DemiBold, FontDesign::rounded);
    return f;
}
const QFont& brandBody() {
    static const QFont f = systemFont(TextStyle::body, QFont::Normal, FontDesign::standard);
    return f;
}
const QFont& brandCaption() {
    static const QFont f = systemFont(TextStyle::caption, QFont::Normal, FontDesign::rounded);
    return f;
}
const QFont& brandCallout() {
    static const QFont f = systemFont(TextStyle::callout, QFont::Medium, FontDesign::rounded);
    return f;
}
const QFont& brandSerifTitle() {
    static const QFont f = systemFont(22, QFont::DemiBold, FontDesign::serif);
    return f;
}

}  // namespace parlowen
