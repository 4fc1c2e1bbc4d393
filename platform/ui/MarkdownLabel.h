#pragma once

#include <string>
#include <string_view>

#include <QLabel>

namespace platform::ui {

// A wrapping label whose text is inline Markdown (InlineMarkdown.h): bold,
// italics, code spans and links render; everything else shows as written.
// Clicking a link emits QLabel::linkActivated with its target. Links take
// the theme's readable accent (rich text would otherwise draw them in the
// application's stock blue, whatever the window's theme).
class MarkdownLabel : public QLabel {
public:
    explicit MarkdownLabel(std::string_view markdown = {}, QWidget* parent = nullptr);

    void setMarkdown(std::string_view markdown);
    const std::string& markdown() const { return markdown_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void render();
    std::string markdown_;
};

}  // namespace platform::ui
