#include "Parlowen/notepad/PromptEnvelope.h"

namespace parlowen::PromptEnvelope {
namespace {

constexpr std::string_view kClosingTag = "</input>";

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool closingTagAt(std::string_view text, std::size_t at) {
    if (text.size() - at < kClosingTag.size()) return false;
    for (std::size_t i = 0; i < kClosingTag.size(); ++i)
        if (asciiLower(text[at + i]) != kClosingTag[i]) return false;
    return true;
}

}  // namespace

std::string sanitize(std::string_view content) {
    std::string out;
    out.reserve(content.size());
    std::size_t i = 0;
    while (i < content.size()) {
        if (content[i] == '<' && closingTagAt(content, i)) {
            out += "</input ";
            i += kClosingTag.size();
        } else {
            out += content[i++];
        }
    }
    return out;
}

std::string wrap(std::string_view content, std::string_view instruction) {
    std::string out;
    out.reserve(instruction.size() + content.size() + 32);
    out += instruction;
    out += "\n\n<input>\n";
    out += sanitize(content);
    out += "\n</input>";
    return out;
}

}  // namespace parlowen::PromptEnvelope
