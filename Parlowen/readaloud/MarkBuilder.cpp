#include <charconv>
#include <cstdint>
#include <string_view>

#include "Parlowen/readaloud/SpeechTextNormalizer.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

// An optional sign then one or more ASCII digits, nothing else, within 64 bits.
std::optional<std::int64_t> readDecimal(std::string_view s) {
    const bool plus = !s.empty() && s.front() == '+';
    if (plus) s.remove_prefix(1);
    if (s.empty() || (plus && s.front() == '-')) return std::nullopt;
    std::int64_t value = 0;  // from_chars takes a leading minus itself
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string SpeechTextNormalizer::MarkBuilder::record(SpeechMark::Kind kind, std::string label,
                                                      std::string literal, std::string spoken) {
    std::string marker;
    marker.append(kMarkerOpen);
    marker.append(std::to_string(entries_.size()));
    marker.append(kMarkerClose);
    entries_.push_back(Entry{kind, std::move(label), std::move(literal), std::move(spoken)});
    return marker;
}

std::pair<std::string, std::vector<SpeechMark>> SpeechTextNormalizer::MarkBuilder::resolve(
    std::string_view workingText) const {
    if (entries_.empty()) return {std::string(workingText), {}};

    // One scan over the characters; positions count characters of the output.
    const std::vector<std::size_t> bounds = platform::text::graphemeBoundaries(workingText);
    const std::size_t count = bounds.size() - 1;
    auto character = [&](std::size_t i) {
        return workingText.substr(bounds[i], bounds[i + 1] - bounds[i]);
    };

    std::string out;
    out.reserve(workingText.size());
    std::vector<SpeechMark> marks;
    std::int64_t p = 0;
    std::size_t i = 0;
    // The first closing mark at or after the last search start. It stays valid
    // until the scan passes it, so stray opening marks never make this quadratic.
    std::size_t nextClose = 0;
    bool nextCloseKnown = false;
    while (i < count) {
        if (character(i) == kMarkerOpen) {
            if (!nextCloseKnown || nextClose < i + 1) {
                nextClose = i + 1;
                while (nextClose < count && character(nextClose) != kMarkerClose) ++nextClose;
                nextCloseKnown = true;
            }
            const std::size_t close = nextClose;
            if (close < count) {
                const std::string_view number =
                    workingText.substr(bounds[i + 1], bounds[close] - bounds[i + 1]);
                const auto n = readDecimal(number);
                if (n && *n >= 0 && static_cast<std::uint64_t>(*n) < entries_.size()) {
                    const Entry& e = entries_[static_cast<std::size_t>(*n)];
                    const auto spokenCount =
                        static_cast<std::int64_t>(platform::text::graphemeCount(e.spoken));
                    out.append(e.spoken);
                    marks.push_back(SpeechMark{e.kind, e.label, e.literal, {p, p + spokenCount}});
                    p += spokenCount;
                    i = close + 1;
                    continue;
                }
            }
        }
        out.append(character(i));
        ++p;
        ++i;
    }
    return {std::move(out), std::move(marks)};
}

}  // namespace parlowen
