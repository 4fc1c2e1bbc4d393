#pragma once

#include <functional>
#include <memory>

#include "Parlowen/listenlater/render/AppleSpeechListenLaterRenderer.h"
#include "Parlowen/listenlater/render/ListenLaterRenderer.h"

namespace parlowen {

// The one renderer the application uses: hands each item to the renderer of
// its voice engine. "kokoro" goes to the on-device Kokoro renderer, with the
// system voice as the fallback when it fails; everything else (the cloud
// voices, which have no Listen Later renderer, and unknown engines) is
// rendered with the system voice. Only the system voice's error reaches the
// caller. No mutable state and no lock: several items may be dispatched at
// once.
class DispatchingListenLaterRenderer final : public ListenLaterRenderer {
public:
    // Builds the Kokoro renderer with the dispatcher's rate. Empty, or
    // returning none, while no Kokoro renderer is built in: Kokoro items then
    // take the fallback path straight away.
    using KokoroFactory = std::function<std::unique_ptr<ListenLaterRenderer>(float rate)>;

    DispatchingListenLaterRenderer(float rate, AppleSpeechListenLaterRenderer::Dependencies apple,
                                   KokoroFactory makeKokoro = {});

    platform::Task<platform::Result<ListenLaterRenderResult>> render(QueueItem item) override;

private:
    AppleSpeechListenLaterRenderer apple_;
    const std::unique_ptr<ListenLaterRenderer> kokoro_;
};

}  // namespace parlowen
