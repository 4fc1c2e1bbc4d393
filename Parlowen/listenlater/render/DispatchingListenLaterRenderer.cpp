#include "Parlowen/listenlater/render/DispatchingListenLaterRenderer.h"

#include "platform/log/Log.h"

namespace parlowen {

namespace {

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "listen-later-render");
    return log;
}

bool isCloudEngine(const std::string& engine) {
    return engine == "openai" || engine == "cartesia" || engine == "elevenlabs";
}

}  // namespace

DispatchingListenLaterRenderer::DispatchingListenLaterRenderer(float rate,
                                                               AppleSpeechListenLaterRenderer::Dependencies apple,
                                                               KokoroFactory makeKokoro)
    : apple_(rate, std::move(apple)), kokoro_(makeKokoro ? makeKokoro(rate) : nullptr) {}

platform::Task<platform::Result<ListenLaterRenderResult>> DispatchingListenLaterRenderer::render(QueueItem item) {
    const std::string engine = QueueItem::canonicalEngine(item.voiceEngine);
    if (engine == "kokoro") {
        platform::Result<ListenLaterRenderResult> kokoro =
            platform::fail(toError(ListenLaterRendererError::engineUnavailable("Kokoro voice not available")));
        if (kokoro_) kokoro = co_await kokoro_->render(item);
        if (kokoro) co_return kokoro;
        logger().error("kokoro failed for {}: {} — falling back to Apple Speech", item.id.uuidString(),
                       fullErrorDescription(kokoro.error()));
    } else if (engine == "appleSpeech") {
        // Rendered below, without a line.
    } else if (isCloudEngine(engine)) {
        logger().error("voiceEngine '{}' not yet supported for listen-later; falling back to Apple Speech",
                       item.voiceEngine);
    } else {
        logger().error("unknown voiceEngine '{}'; falling back to Apple Speech", item.voiceEngine);
    }
    co_return co_await apple_.render(std::move(item));
}

}  // namespace parlowen
