#pragma once

#include <string>

#include "Parlowen/model/QueueItem.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"
#include "platform/values/Url.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// What a renderer hands back: the audio file it wrote into the render cache and
// its playing time (0 when it cannot be measured).
struct ListenLaterRenderResult {
    platform::Url fileURL;
    double durationSec = 0;

    friend bool operator==(const ListenLaterRenderResult&, const ListenLaterRenderResult&) = default;
};

// The failures renderers report; the description is a fixed prefix and the detail.
struct ListenLaterRendererError {
    enum class Kind { engineUnavailable = 1, synthesisFailed = 2, fileWriteFailed = 3 };

    Kind kind;
    std::string detail;

    static ListenLaterRendererError engineUnavailable(std::string detail) {
        return {Kind::engineUnavailable, std::move(detail)};
    }
    static ListenLaterRendererError synthesisFailed(std::string detail) {
        return {Kind::synthesisFailed, std::move(detail)};
    }
    static ListenLaterRendererError fileWriteFailed(std::string detail) {
        return {Kind::fileWriteFailed, std::move(detail)};
    }

    // "Engine unavailable: ", "Synthesis failed: " or "File write failed: " + detail.
    std::string description() const;
};

inline constexpr const char* kListenLaterRendererErrorDomain = "ListenLaterRendererError";
platform::Error toError(const ListenLaterRendererError& error);

// An error's description followed by each cause it does not already name:
// the text renderers log and carry on when a lower layer fails.
std::string fullErrorDescription(const platform::Error& error);

// Turns one queue item into its audio file `<UUID>.caf` in the render cache,
// replacing any earlier file there, and reports progress to the render
// progress store where it can measure it.
class ListenLaterRenderer {
public:
    virtual ~ListenLaterRenderer() = default;
    // Reads the item's id, text, voiceEngine and voiceID.
    virtual platform::Task<platform::Result<ListenLaterRenderResult>> render(QueueItem item) = 0;
};

// The parsed two-host script; defined by the podcast subsystem.
struct PodcastDialogue;

// Renders a podcast dialogue into the item's podcast file in the render cache
// (ListenLaterCache::podcastAudioFileURL), replacing an earlier podcast of the
// item and leaving its article audio alone.
class PodcastRenderer {
public:
    virtual ~PodcastRenderer() = default;
    // The voices are identifiers in the implementation's own voice catalogue.
    virtual platform::Task<platform::Result<ListenLaterRenderResult>> render(PodcastDialogue dialogue,
                                                                             std::string hostAVoice,
                                                                             std::string hostBVoice,
                                                                             platform::Uuid itemID) = 0;
};

}  // namespace parlowen
