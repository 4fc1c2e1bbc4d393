#include "Parlowen/dictation/VoiceCommands.h"

#include <algorithm>
#include <compare>
#include <cstddef>
#include <vector>

#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

namespace text = platform::text;

char32_t firstScalar(std::string_view character) { return text::decodeUtf8(character, 0).codePoint; }
bool isWhitespaceCharacter(std::string_view character) {
    return !character.empty() && text::hasWhiteSpaceProperty(firstScalar(character));
}
bool isLetterOrNumber(std::string_view character) {
    const char32_t c = firstScalar(character);
    return platform::text::isAlphabetic(c) || platform::text::hasNumericType(c);
}

struct Command {
    VoiceCommand command;
    std::string_view phrase;
    std::size_t length;  // in characters
};

// The transcript as user-perceived characters.
class Characters {
public:
    explicit Characters(std::string_view text) : text_(text), bounds_(text::graphemeBoundaries(text)) {}
    std::size_t size() const { return bounds_.size() - 1; }
    std::string_view at(std::size_t i) const { return span(i, 1); }
    std::string_view span(std::size_t i, std::size_t count) const {
        return text_.substr(bounds_[i], bounds_[i + count] - bounds_[i]);
    }

private:
    std::string_view text_;
    std::vector<std::size_t> bounds_;
};

// The text built so far, with its characters kept apart so the last word can
// be taken off again.
class Output {
public:
    void append(std::string_view character) {
        text_.append(character);
        characters_.push_back({character.size(), isWhitespaceCharacter(character)});
    }
    std::size_t size() const { return text_.size(); }
    bool endsInWhitespace() const { return !characters_.empty() && characters_.back().whitespace; }
    void dropLast() {
        text_.resize(text_.size() - characters_.back().bytes);
        characters_.pop_back();
    }
    void deleteLastWord() {
        while (endsInWhitespace()) dropLast();
        while (!characters_.empty() && !endsInWhitespace()) dropLast();
    }
    void cutTo(std::size_t size) {
        while (text_.size() > size) dropLast();
    }
    const std::string& text() const { return text_; }

private:
    struct Character {
        std::size_t bytes;
        bool whitespace;
    };
    std::string text_;
    std::vector<Character> characters_;
};

bool endsSentence(std::string_view character) { return character == "." || character == "!" || character == "?"; }

}  // namespace

std::string applyVoiceCommands(std::string_view input, const std::set<VoiceCommand>& enabled) {
    if (enabled.empty()) return std::string(input);

    std::vector<Command> commands;
    for (auto command : enabled) {
        const auto phrase = spokenPhrase(command);
        commands.push_back({command, phrase, text::graphemeCount(phrase)});
    }
    std::stable_sort(commands.begin(), commands.end(),
                     [](const Command& a, const Command& b) { return a.length > b.length; });

    const Characters chars(input);
    const std::size_t count = chars.size();

    // The command whose phrase starts a word at `p` and ends before a
    // character that is neither a letter nor a number.
    auto matchAt = [&](std::size_t p) -> const Command* {
        if (p > 0 && !isWhitespaceCharacter(chars.at(p - 1))) return nullptr;
        for (const auto& command : commands) {
            if (p + command.length > count) continue;
            if (text::caseInsensitiveCompare(chars.span(p, command.length), command.phrase) !=
                std::weak_ordering::equivalent)
                continue;
            const std::size_t end = p + command.length;
            if (end < count && isLetterOrNumber(chars.at(end))) continue;
            return &command;
        }
        return nullptr;
    };

    Output output;
    std::size_t sentenceMark = 0;  // byte offset in the output where the current sentence began
    std::size_t p = 0;
    while (p < count) {
        if (const Command* command = matchAt(p)) {
            switch (command->command) {
            case VoiceCommand::deleteThat:
                output.deleteLastWord();
                sentenceMark = std::min(sentenceMark, output.size());
                break;
            case VoiceCommand::scratchThat:
                output.cutTo(sentenceMark);
                break;
            }
            const std::size_t end = p + command->length;
            if (end == count) break;
            // One whitespace character after the phrase goes with it; punctuation stays.
            p = isWhitespaceCharacter(chars.at(end)) ? end + 1 : end;
            continue;
        }
        const auto character = chars.at(p);
        output.append(character);
        if (endsSentence(character) && (p + 1 == count || isWhitespaceCharacter(chars.at(p + 1))))
            sentenceMark = output.size();
        ++p;
    }
    return text::trim(output.text());
}

}  // namespace parlowen
