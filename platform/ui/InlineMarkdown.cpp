#include "platform/ui/InlineMarkdown.h"

#include <cctype>
#include <cstring>

namespace platform::ui {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80; }
bool isEscapable(char c) { return c != 0 && std::strchr("\\`*_{}[]()#+-.!~<>\"'|", c) != nullptr; }

void appendEscaped(std::string& out, char c) {
    switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\n': out += "<br/>"; break;
        default: out += c;
    }
}

void appendEscaped(std::string& out, std::string_view s) {
    for (char c : s) appendEscaped(out, c);
}

class Renderer {
public:
    explicit Renderer(std::string_view s) : s_(s) {}

    std::string render(std::size_t begin, std::size_t end) {
        std::string out;
        std::size_t i = begin;
        while (i < end) {
            const char c = s_[i];
            if (c == '\\' && i + 1 < end && isEscapable(s_[i + 1])) {
                appendEscaped(out, s_[i + 1]);
                i += 2;
            } else if (c == '`') {
                i = codeSpan(out, i, end);
            } else if (c == '[') {
                i = link(out, i, end);
            } else if (c == '*' || c == '_' || c == '~') {
                i = emphasis(out, i, end);
            } else {
                appendEscaped(out, c);
                ++i;
            }
        }
        return out;
    }

private:
    std::size_t runLength(std::size_t i, std::size_t end, char c) const {
        std::size_t n = 0;
        while (i + n < end && s_[i + n] == c) ++n;
        return n;
    }

    std::size_t codeSpan(std::string& out, std::size_t i, std::size_t end) {
        const std::size_t n = runLength(i, end, '`');
        // The span ends at the next run of exactly as many backticks.
        for (std::size_t j = i + n; j < end;) {
            if (s_[j] != '`') {
                ++j;
                continue;
            }
            const std::size_t m = runLength(j, end, '`');
            if (m == n) {
                std::string_view body = s_.substr(i + n, j - (i + n));
                if (body.size() >= 2 && body.front() == ' ' && body.back() == ' ' &&
                    body.find_first_not_of(' ') != std::string_view::npos)
                    body = body.substr(1, body.size() - 2);
                out += "<code>";
                appendEscaped(out, body);
                out += "</code>";
                return j + m;
            }
            j += m;
        }
        out.append(n, '`');
        return i + n;
    }

    std::size_t link(std::string& out, std::size_t i, std::size_t end) {
        // [text](target): brackets in the text must balance.
        int depth = 0;
        std::size_t close = std::string_view::npos;
        for (std::size_t j = i; j < end; ++j) {
            if (s_[j] == '\\') {
                ++j;
                continue;
            }
            if (s_[j] == '[') ++depth;
            if (s_[j] == ']' && --depth == 0) {
                close = j;
                break;
            }
        }
        if (close != std::string_view::npos && close + 1 < end && s_[close + 1] == '(') {
            const std::size_t targetEnd = s_.find(')', close + 2);
            if (targetEnd != std::string_view::npos && targetEnd < end) {
                std::string_view target = s_.substr(close + 2, targetEnd - (close + 2));
                if (!target.empty() && target.find_first_of(" \n\t") == std::string_view::npos) {
                    out += "<a href=\"";
                    appendEscaped(out, target);
                    out += "\">";
                    out += render(i + 1, close);
                    out += "</a>";
                    return targetEnd + 1;
                }
            }
        }
        appendEscaped(out, '[');
        return i + 1;
    }

    bool canOpen(std::size_t i, std::size_t len, std::size_t end, char c) const {
        const std::size_t after = i + len;
        if (after >= end || isSpace(s_[after])) return false;
        if (c == '_' && i > 0 && isWordChar(s_[i - 1])) return false;
        return true;
    }

    bool canClose(std::size_t j, std::size_t len, std::size_t end, char c) const {
        if (j == 0 || isSpace(s_[j - 1])) return false;
        if (c == '_' && j + len < end && isWordChar(s_[j + len])) return false;
        return true;
    }

    std::size_t emphasis(std::string& out, std::size_t i, std::size_t end) {
        const char c = s_[i];
        const std::size_t run = runLength(i, end, c);
        // "~~" strikes through; a single "~" is text. "**"/"__" is bold, a
        // single "*"/"_" italic; longer runs open the longest form first.
        std::size_t len = c == '~' ? (run >= 2 ? 2 : 0) : (run >= 2 ? 2 : 1);
        if (len == 0 || !canOpen(i, len, end, c)) {
            out.append(run, c);
            return i + run;
        }
        for (std::size_t j = i + len; j < end; ++j) {
            if (s_[j] == '\\') {
                ++j;
                continue;
            }
            if (s_[j] == '`') {  // delimiters inside a code span do not count
                const std::size_t n = runLength(j, end, '`');
                const std::size_t closeAt = s_.find(std::string(n, '`'), j + n);
                if (closeAt != std::string_view::npos && closeAt < end) j = closeAt + n - 1;
                continue;
            }
            if (s_[j] != c) continue;
            const std::size_t m = runLength(j, end, c);
            // A single delimiter closes only on a single one, a double on a double or more.
            const bool fits = len == 1 ? m == 1 || m >= 3 : m >= 2;
            if (fits && canClose(j, len, end, c)) {
                const char* tag = c == '~' ? "s" : (len == 2 ? "b" : "i");
                out += '<';
                out += tag;
                out += '>';
                out += render(i + len, j);
                out += "</";
                out += tag;
                out += '>';
                return j + len;
            }
            j += m - 1;
        }
        out.append(run, c);
        return i + run;
    }

    std::string_view s_;
};

}  // namespace

std::string inlineMarkdownToHtml(std::string_view markdown) { return Renderer(markdown).render(0, markdown.size()); }

}  // namespace platform::ui
