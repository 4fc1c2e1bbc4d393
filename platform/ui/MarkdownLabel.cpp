#include "platform/ui/MarkdownLabel.h"

#include "platform/ui/InlineMarkdown.h"

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
    setText(QString::fromStdString(inlineMarkdownToHtml(markdown_)));
}

}  // namespace platform::ui
