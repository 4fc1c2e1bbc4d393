#include "Parlowen/readaloud/SpeechMark.h"

#include <array>
#include <utility>

namespace parlowen {
namespace {

constexpr std::array<std::pair<SpeechMark::Kind, std::string_view>, 5> kKinds{{
    {SpeechMark::Kind::link, "link"},
    {SpeechMark::Kind::path, "path"},
    {SpeechMark::Kind::code, "code"},
    {SpeechMark::Kind::email, "email"},
    {SpeechMark::Kind::opaque, "opaque"},
}};

}  // namespace

std::string_view SpeechMark::rawValue(Kind kind) {
    for (const auto& [k, raw] : kKinds)
        if (k == kind) return raw;
    return {};
}

std::optional<SpeechMark::Kind> SpeechMark::kindFromRawValue(std::string_view raw) {
    for (const auto& [k, r] : kKinds)
        if (r == raw) return k;
    return std::nullopt;
}

}  // namespace parlowen
