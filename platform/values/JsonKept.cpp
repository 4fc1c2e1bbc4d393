#include "platform/values/JsonKept.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "platform/values/Json.h"

namespace platform {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void skipBlanks(std::string_view text, std::size_t& at) {
    while (at < text.size() && isBlank(text[at])) ++at;
}

// The end of the value that starts at `at` in valid JSON text: where a comma
// or the closing bracket of the enclosing container begins (blanks excluded).
std::size_t valueEnd(std::string_view text, std::size_t at) {
    int depth = 0;
    bool inString = false;
    std::size_t lastSolid = at;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (inString) {
            if (c == '\\') ++at;
            else if (c == '"') inString = false;
            lastSolid = at + 1;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            if (depth == 0) break;
            --depth;
        } else if (c == ',' && depth == 0) {
            break;
        }
        if (!isBlank(c)) lastSolid = at + 1;
    }
    return lastSolid;
}

// Validates `text` as one JSON value of the kind `open` starts, and returns
// the position just after its opening bracket.
Result<std::size_t> openContainer(std::string_view text, char open) {
    auto json = decodeJson(text);
    if (!json) return fail(json.error());
    if (open == '[' ? !json->is_array() : !json->is_object())
        return fail(jsonError(JsonErrorCode::typeMismatch,
                              std::string("Expected ") + (open == '[' ? "an array" : "an object") + " but found " +
                                  json->type_name()));
    std::size_t at = 0;
    skipBlanks(text, at);
    return at + 1;
}

}  // namespace

Result<std::vector<std::string_view>> jsonArrayElementTexts(std::string_view text) {
    auto start = openContainer(text, '[');
    if (!start) return fail(start.error());
    std::vector<std::string_view> out;
    std::size_t at = *start;
    skipBlanks(text, at);
    while (at < text.size() && text[at] != ']') {
        const std::size_t end = valueEnd(text, at);
        out.push_back(text.substr(at, end - at));
        at = end;
        skipBlanks(text, at);
        if (at < text.size() && text[at] == ',') ++at;
        skipBlanks(text, at);
    }
    return out;
}

Result<std::vector<JsonMemberText>> jsonObjectMemberTexts(std::string_view text) {
    auto start = openContainer(text, '{');
    if (!start) return fail(start.error());
    std::vector<JsonMemberText> out;
    std::size_t at = *start;
    skipBlanks(text, at);
    while (at < text.size() && text[at] != '}') {
        // A key is a string: it ends at its closing quote.
        std::size_t close = at + 1;
        while (close < text.size() && text[close] != '"') close += text[close] == '\\' ? 2 : 1;
        const std::string_view keyText = text.substr(at, close + 1 - at);
        at = close + 1;
        skipBlanks(text, at);
        ++at;  // the colon
        skipBlanks(text, at);
        const std::size_t end = valueEnd(text, at);
        auto key = decodeJson(keyText);
        out.push_back({key ? key->get<std::string>() : std::string(keyText), keyText, text.substr(at, end - at)});
        at = end;
        skipBlanks(text, at);
        if (at < text.size() && text[at] == ',') ++at;
        skipBlanks(text, at);
    }
    return out;
}

void KeptJsonEntries::elementRead() { elements_.emplace_back(Read{}); }

void KeptJsonEntries::keepElement(std::string_view text) {
    elements_.emplace_back(std::string(text));
    ++kept_;
}

void KeptJsonEntries::keepMember(const JsonMemberText& member) {
    members_.push_back({member.key, std::string(member.keyText), std::string(member.valueText)});
    ++kept_;
}

std::string KeptJsonEntries::writeArray(const std::vector<std::string>& elements) const {
    std::string out = "[";
    std::size_t next = 0;
    auto add = [&](std::string_view piece) {
        if (out.size() > 1) out += ',';
        out += piece;
    };
    for (const auto& slot : elements_) {
        if (const auto* kept = std::get_if<std::string>(&slot)) add(*kept);
        else if (next < elements.size()) add(elements[next++]);
    }
    for (; next < elements.size(); ++next) add(elements[next]);
    out += ']';
    return out;
}

std::string KeptJsonEntries::writeObject(const std::vector<std::pair<std::string, std::string>>& members) const {
    struct Piece {
        std::string_view key;
        std::string keyText;
        std::string_view valueText;
    };
    std::vector<Piece> pieces;
    for (const auto& [key, value] : members) pieces.push_back({key, Json(key).dump(), value});
    for (const auto& m : members_) {
        const bool replaced =
            std::any_of(members.begin(), members.end(), [&](const auto& member) { return member.first == m.key; });
        if (!replaced) pieces.push_back({m.key, m.keyText, m.valueText});
    }
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.key < b.key; });
    std::string out = "{";
    for (const auto& p : pieces) {
        if (out.size() > 1) out += ',';
        out += p.keyText;
        out += ':';
        out += p.valueText;
    }
    out += '}';
    return out;
}

}  // namespace platform
