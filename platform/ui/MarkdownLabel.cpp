#include "platform/ui/MarkdownLabel.h"

#include <QEvent>

#include "platform/ui/InlineMarkdown.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {

MarkdownLabel::MarkdownLabel(std::string_view markdown, QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("markdownLabel"));
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    setOpenExternalLinks(false);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);  // wrapped: the height follows the width
    setSizePolicy(policy);
    setMarkdown(markdown);
}

void MarkdownLabel::setMarkdown(std::string_view markdown) {
    markdown_ = std::string(markdown);
    render();
}

void MarkdownLabel::render() {
    const QString link = toQColor(systemColors(ThemeScope::resolve(this)).accentText).name();
    QString html = QString::fromStdString(inlineMarkdownToHtml(markdown_));
    html.replace(QLatin1String("<a href=\""), QStringLiteral("<a style=\"color:%1\" href=\"").arg(link));
    setText(html);
}

void MarkdownLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) render();
}

}  // namespace platform::ui
