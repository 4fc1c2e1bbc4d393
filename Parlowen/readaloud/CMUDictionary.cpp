#include "Parlowen/readaloud/CMUDictionary.h"

#include <array>
#include <chrono>
#include <utility>
#include <vector>


#include "platform/runtime/Resources.h"
#include "platform/text/Unicode.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

struct Phone {
    std::string_view symbol;
    std::string_view ipa;
};

// AH and ER are absent: their sound depends on the stress.
constexpr std::array<Phone, 37> kArpabetPhoneTable{{
    {"AA", "\u0251"}, {"AE", "\u00E6"}, {"AO", "\u0254"}, {"EH", "\u025B"}, {"IH", "\u026A"},
    {"IY", "i"},      {"UH", "\u028A"}, {"UW", "u"},      {"AW", "W"},      {"AY", "I"},
    {"EY", "A"},      {"OW", "O"},      {"OY", "Y"},
    {"B", "b"},       {"CH", "\u02A7"}, {"D", "d"},       {"DH", "\u00F0"}, {"F", "f"},
    {"G", "\u0261"},  {"HH", "h"},      {"JH", "\u02A4"}, {"K", "k"},       {"L", "l"},
    {"M", "m"},       {"N", "n"},       {"NG", "\u014B"}, {"P", "p"},       {"R", "\u0279"},
    {"S", "s"},       {"SH", "\u0283"}, {"T", "t"},       {"TH", "\u03B8"}, {"V", "v"},
    {"W", "w"},       {"Y", "j"},       {"Z", "z"},       {"ZH", "\u0292"},
}};

constexpr std::array<std::string_view, 15> kArpabetVowels{
    "AA", "AE", "AH", "AO", "AW", "AY", "EH", "ER", "EY", "IH", "IY", "OW", "OY", "UH", "UW"};

std::optional<std::string_view> phoneIPA(std::string_view symbol) {
    for (const auto& row : kArpabetPhoneTable)
        if (row.symbol == symbol) return row.ipa;
    return std::nullopt;
}

bool isVowel(std::string_view symbol) {
    for (auto v : kArpabetVowels)
        if (v == symbol) return true;
    return false;
}

// Splits at every line terminator (LF, CR, CRLF, NEL, LS, PS).
template <class F>
void forEachLine(std::string_view text, F&& f) {
    std::size_t start = 0, i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t terminator = 0;
        if (c == '\n') terminator = 1;
        else if (c == '\r') terminator = (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) terminator = 2;
        else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                 (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9))
            terminator = 3;
        if (terminator) {
            f(text.substr(start, i - start));
            i += terminator;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) f(text.substr(start));
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

CMUDictionary::CMUDictionary(platform::Executor& main, platform::Environment environment)
    : CMUDictionary(
          main,
          [env = std::move(environment)]() -> std::optional<std::filesystem::path> {
              if (auto p = platform::resourcePath("CMUDict/cmudict.dict", env)) return p;
              return platform::resourcePath("cmudict.dict", env);
          },
          [](const std::filesystem::path& p) { return platform::readFile(p); }) {}

CMUDictionary::CMUDictionary(platform::Executor& main, Locator locate, FileReader read)
    : main_(main), locate_(std::move(locate)), read_(std::move(read)) {}

platform::Task<platform::Status> CMUDictionary::loadIfNeeded() {
    PARLOWEN_ASSERT_ON(main_);
    if (didLoad_) co_return platform::ok();
    if (!loadTask_) {
        auto outcome = std::make_shared<platform::Status>();
        loadTask_ = Flight{platform::spawn(main_, runLoad(this, outcome)), outcome};
    }
    Flight flight = *loadTask_;
    co_await flight.done;
    co_return *flight.outcome;
}

platform::Task<void> CMUDictionary::runLoad(CMUDictionary* self, std::shared_ptr<platform::Status> outcome) {
    *outcome = self->load();
    if (*outcome) self->didLoad_ = true;
    self->loadTask_.reset();
    co_return;
}

platform::Status CMUDictionary::load() {
    auto path = locate_();
    if (!path) {
        log_.error("CMU dict bundle resource not found; OOV fallback inert");
        return platform::ok();
    }
    auto started = std::chrono::steady_clock::now();
    auto bytes = read_(*path);
    if (!bytes) return platform::fail(bytes.error());
    std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (!platform::text::isValidUtf8(text))
        return platform::fail(platform::Error::make(kErrorDomain, kInvalidUtf8Code, "invalidUTF8",
                                                    "cmudict.dict is not valid UTF-8"));

    std::unordered_map<std::string, std::string> map;
    map.reserve(135'000);
    forEachLine(text, [&](std::string_view line) { parseLine(line, map); });
    entries_ = std::move(map);
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    log_.info("CMU dict loaded \u2014 {} entries in {:.2f}s", entries_.size(), elapsed);
    return platform::ok();
}

void CMUDictionary::parseLine(std::string_view line, std::unordered_map<std::string, std::string>& entries) {
    if (line.starts_with(";;;")) return;
    auto sep = line.find_first_of(" \t");
    if (sep == std::string_view::npos) return;
    auto word = line.substr(0, sep);
    if (word.empty() || word.find('(') != std::string_view::npos) return;
    entries.try_emplace(std::string(word), std::string(trimBlanks(line.substr(sep + 1))));
}

std::optional<std::string> CMUDictionary::ipa(std::string_view word) const {
    if (!didLoad_) return std::nullopt;
    auto it = entries_.find(platform::text::lowercased(word));
    if (it == entries_.end()) return std::nullopt;
    std::vector<std::string> phones;
    std::string_view rest = it->second;
    while (!rest.empty()) {
        auto space = rest.find(' ');
        auto piece = rest.substr(0, space);
        if (!piece.empty()) phones.emplace_back(piece);
        if (space == std::string_view::npos) break;
        rest.remove_prefix(space + 1);
    }
    auto out = arpabetToIPA(phones);
    if (out.empty()) return std::nullopt;
    return out;
}

std::string CMUDictionary::arpabetToIPA(std::span<const std::string> phones) {
    std::string out;
    for (const auto& phone : phones) {
        std::string_view base = phone;
        int stress = 0;
        // A trailing number (any numeral, as a user-perceived character) is the stress digit.
        if (!base.empty()) {
            auto bounds = platform::text::graphemeBoundaries(base);
            std::size_t lastStart = bounds[bounds.size() - 2];
            char32_t first = platform::text::decodeUtf8(base, lastStart).codePoint;
            if (platform::text::hasNumericType(first)) {
                auto digit = base.substr(lastStart);
                stress = digit == "1" ? 1 : digit == "2" ? 2 : 0;
                base = base.substr(0, lastStart);
            }
        }
        std::string_view ipa;
        if (base == "AH") ipa = stress ? "\u028C" : "\u0259";
        else if (base == "ER") ipa = stress ? "\u025C\u0279" : "\u0259\u0279";
        else if (auto found = phoneIPA(base)) ipa = *found;
        else continue;
        if (isVowel(base)) {
            if (stress == 1) out += "\u02C8";
            else if (stress == 2) out += "\u02CC";
        }
        out += ipa;
    }
    return out;
}

}  // namespace parlowen
