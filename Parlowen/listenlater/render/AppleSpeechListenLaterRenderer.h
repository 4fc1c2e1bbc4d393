#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Parlowen/listenlater/queue/RenderProgressStore.h"
#include "Parlowen/listenlater/render/ListenLaterCache.h"
#include "Parlowen/listenlater/render/ListenLaterRenderer.h"
#include "platform/runtime/Executor.h"
#include "platform/speechsynth/SpeechSynthesizer.h"

namespace parlowen {

// Renders an item with the system voice: the speech text goes through the
// platform synthesiser's buffer writing, and every buffer goes straight into
// `<UUID>.caf` in the render cache, in the format of the first buffer (no
// conversion). Reports progress to the render progress store. Every failure
// is `synthesisFailed` with the cause's description; a failed render leaves
// what it wrote until the next render of the item.
//
// `render` runs on a worker executor; it hops to the main executor for the
// first and last progress values and posts the others there without waiting.
// The synthesiser's handler appends on the synthesiser's thread and holds the
// write state, so renders may run at the same time.
class AppleSpeechListenLaterRenderer final : public ListenLaterRenderer {
public:
    struct Dependencies {
        // Where the progress store lives (the main executor).
        platform::Executor& main;
        RenderProgressStore& progress;
        ListenLaterCache cache;
        // A new synthesiser for each render, owned by that render.
        std::function<std::unique_ptr<platform::SpeechSynthesizer>()> makeSynthesizer;
    };

    // `rate` on the synthesiser's scale; clamped to its range when a render starts.
    AppleSpeechListenLaterRenderer(float rate, Dependencies dependencies);

    platform::Task<platform::Result<ListenLaterRenderResult>> render(QueueItem item) override;

    float rate() const { return rate_; }

    // The denominator of the progress estimate: max(⌊1.6 × characters⌋, 20).
    static std::int64_t expectedBuffers(std::size_t expectedChars);
    // The voice an item asks the synthesiser for: only an installed voice
    // whose identifier begins with "com.apple.voice."; otherwise none, and
    // the synthesiser speaks with its default voice for the current language.
    static std::optional<std::string> voiceFor(platform::SpeechSynthesizer& synthesizer, const std::string& voiceID);

private:
    float rate_;
    Dependencies deps_;
};

}  // namespace parlowen
