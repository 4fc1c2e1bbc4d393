#pragma once

#include <string>
#include <string_view>

namespace platform::ui {

// Renders the inline part of Markdown that user-facing texts use to rich
// text (HTML) for a label: **bold** and __bold__, *italic* and _italic_
// (underscores only at word edges, so snake_case stays as it is), ~~struck~~,
// `code spans` (their content is literal), [links](target), backslash
// escapes of punctuation, and line breaks. Everything else, block syntax
// included ("# ", "1. ", "- "), is plain text, and HTML in the input is
// escaped. Delimiters without a partner stay literal.
std::string inlineMarkdownToHtml(std::string_view markdown);

}  // namespace platform::ui
