#include "Parlowen/brand/QuonKind.h"

#include <algorithm>

namespace parlowen {

const std::array<QuonKind, 22>& allQuonKinds() {
    using enum QuonKind;
    static const std::array<QuonKind, 22> all{
        listening,      reading,        thinking,        dozing,         success,        concerned,
        idle1,          idle2,          readingEngaged,  readingClassic, thinkingCute,   thinking2,
        thinking3,      notetakingTall, notetakingSide,  listeningMicClassic, portraitCurious, portraitUpward,
        portraitDirect, sceneHero,      sceneMic,        scenePapers,
    };
    return all;
}

std::string_view assetName(QuonKind kind) {
    switch (kind) {
        case QuonKind::listening: return "quon-listening";
        case QuonKind::reading: return "quon-reading";
        case QuonKind::thinking: return "quon-thinking";
        case QuonKind::dozing: return "quon-dozing";
        case QuonKind::success: return "quon-portrait-direct";
        case QuonKind::concerned: return "quon-portrait-direct";
        case QuonKind::idle1: return "quon-idle-1";
        case QuonKind::idle2: return "quon-idle-2";
        case QuonKind::readingEngaged: return "quon-reading-engaged";
        case QuonKind::readingClassic: return "quon-reading-classic";
        case QuonKind::thinkingCute: return "quon-thinking-cute";
        case QuonKind::thinking2: return "quon-thinking-2";
        case QuonKind::thinking3: return "quon-thinking-3";
        case QuonKind::notetakingTall: return "notetaking-tall";
        case QuonKind::notetakingSide: return "notetaking-side";
        case QuonKind::listeningMicClassic: return "listening-mic-classic";
        case QuonKind::portraitCurious: return "quon-portrait-curious";
        case QuonKind::portraitUpward: return "quon-portrait-upward";
        case QuonKind::portraitDirect: return "quon-portrait-direct";
        case QuonKind::sceneHero: return "quon-scene-hero";
        case QuonKind::sceneMic: return "quon-scene-mic";
        case QuonKind::scenePapers: return "quon-scene-papers";
    }
    return {};
}

const std::vector<QuonKind>& variants(QuonKind kind) {
    using enum QuonKind;
    static const std::vector<QuonKind> listeningFamily{listening, notetakingTall, notetakingSide, listeningMicClassic};
    static const std::vector<QuonKind> readingFamily{reading, readingEngaged, readingClassic};
    static const std::vector<QuonKind> thinkingFamily{thinking, thinkingCute, thinking2, thinking3};
    static const std::vector<QuonKind> dozingFamily{dozing, idle1, idle2};
    static const auto singles = [] {
        std::array<std::vector<QuonKind>, 22> out;
        for (QuonKind k : allQuonKinds()) out[static_cast<std::size_t>(k)] = {k};
        return out;
    }();
    switch (kind) {
        case listening: return listeningFamily;
        case reading: return readingFamily;
        case thinking: return thinkingFamily;
        case dozing: return dozingFamily;
        default: return singles[static_cast<std::size_t>(kind)];
    }
}

QuonKind randomVariant(QuonKind kind, RandomWordSource& source) {
    const auto& family = variants(kind);
    if (family.size() == 1) return family.front();
    return family[static_cast<std::size_t>(boundedRandom(family.size(), source))];
}

std::vector<std::string_view> mascotAssetNames() {
    std::vector<std::string_view> names;
    for (QuonKind k : allQuonKinds())
        if (std::find(names.begin(), names.end(), assetName(k)) == names.end()) names.push_back(assetName(k));
    return names;
}

}  // namespace parlowen
