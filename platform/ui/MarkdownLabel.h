#pragma once

#include <string>
#include <string_view>

#include <QLabel>

namespace platform::ui {

// A wrapping label whose text is inline Markdown (InlineMarkdown.h): bold,
// italics, code spans and links render; everything else shows as written.
// Clicking a link emits QLabel::linkActivated with its target.
class MarkdownLabel : public QLabel {
public:
    explicit MarkdownLabel(std::string_view markdown = {}, QWidget* parent = nullptr);

    void setMarkdown(std::string_view markdown);
    const std::string& markdown() const { return markdown_; }

private:
    std::string markdown_;
};

}  // namespace platform::ui
