#pragma once

// The mascot's poses. Every pose names one image of the application's
// artwork; the four base poses (listening, reading, thinking, dozing) have
// families of variants to vary what is shown.

#include <array>
#include <string_view>
#include <vector>

#include "Parlowen/brand/SecureRandom.h"

namespace parlowen {

enum class QuonKind {
    listening,
    reading,
    thinking,
    dozing,
    success,
    concerned,
    idle1,
    idle2,
    readingEngaged,
    readingClassic,
    thinkingCute,
    thinking2,
    thinking3,
    notetakingTall,
    notetakingSide,
    listeningMicClassic,
    portraitCurious,
    portraitUpward,
    portraitDirect,
    sceneHero,
    sceneMic,
    scenePapers,
};

// Every pose, in declaration order.
const std::array<QuonKind, 22>& allQuonKinds();

// The image name of the pose ("quon-listening", ...). `success` and
// `concerned` show the direct portrait.
std::string_view assetName(QuonKind kind);

// The pose's variant family, the pose itself first.
const std::vector<QuonKind>& variants(QuonKind kind);

// One member of the variant family, uniformly at random from `source`
// (the secure generator unless a test gives its own).
QuonKind randomVariant(QuonKind kind, RandomWordSource& source = SecureRandomWords::shared());

// The distinct image names of all poses, in order of first use.
std::vector<std::string_view> mascotAssetNames();

}  // namespace parlowen
