#include "Parlowen/listenlater/render/DispatchingListenLaterRenderer.h"

#include <gtest/gtest.h>

#include "Parlowen/listenlater/render/RenderTestSupport.h"

using namespace parlowen;
using namespace parlowen::testing;
using platform::Result;
using platform::Uuid;

namespace {

using RenderResult = Result<ListenLaterRenderResult>;

// Stands in for the on-device Kokoro renderer: answers as scripted and
// remembers what it was given.
class FakeKokoroRenderer final : public ListenLaterRenderer {
public:
    struct Script {
        RenderResult answer;
        std::vector<QueueItem> rendered;
        float rate = -1;
    };
    explicit FakeKokoroRenderer(Script& script) : script_(script) {}
    platform::Task<RenderResult> render(QueueItem item) override { return answer(script_, std::move(item)); }

private:
    static platform::Task<RenderResult> answer(Script& script, QueueItem item) {
        script.rendered.push_back(std::move(item));
        co_return script.answer;
    }
    Script& script_;
};

class DispatchingRenderTest : public RenderFixture {
protected:
    DispatchingListenLaterRenderer::KokoroFactory kokoroFactory() {
        return [this](float rate) {
            kokoro.rate = rate;
            return std::make_unique<FakeKokoroRenderer>(kokoro);
        };
    }
    RenderResult renderNow(DispatchingListenLaterRenderer& renderer, const QueueItem& item) {
        auto h = platform::spawn(pool, renderer.render(item));
        drain();
        EXPECT_TRUE(h.done());
        return h.value();
    }
    QueueItem itemFor(std::string engine) {
        QueueItem item;
        item.id = Uuid::random();
        item.text = "A short article.";
        item.voiceEngine = std::move(engine);
        item.voiceID = "af_heart";
        return item;
    }
    std::string kokoroFile() const { return "/cache/kokoro.caf"; }

    FakeKokoroRenderer::Script kokoro{ListenLaterRenderResult{platform::Url::fromFilePath("/cache/kokoro.caf"), 4.5}};
};

TEST_F(DispatchingRenderTest, HandsEachEngineToItsRendererWithTheLineItCalls) {
    struct Case {
        std::string engine;
        bool byKokoro;
        std::optional<std::string> line;
    } cases[] = {
        {"Apple", false, std::nullopt},
        {"appleSpeech", false, std::nullopt},
        {"APPLESPEECH", false, std::nullopt},
        {"kokoro", true, std::nullopt},
        {"KOKORO", true, std::nullopt},
        {"ElevenLabs", false,
         "voiceEngine 'ElevenLabs' not yet supported for listen-later; falling back to Apple Speech"},
        {"openai", false, "voiceEngine 'openai' not yet supported for listen-later; falling back to Apple Speech"},
        {"Cartesia", false, "voiceEngine 'Cartesia' not yet supported for listen-later; falling back to Apple Speech"},
        {"", false, "unknown voiceEngine ''; falling back to Apple Speech"},
        {"Piper", false, "unknown voiceEngine 'Piper'; falling back to Apple Speech"},
    };
    synth.scriptWrite({speechBuffer()});
    DispatchingListenLaterRenderer renderer(platform::kSpeechDefaultRate, dependencies(), kokoroFactory());
    EXPECT_EQ(kokoro.rate, platform::kSpeechDefaultRate);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.engine);
        log->clear();
        kokoro.rendered.clear();
        const std::size_t writesBefore = synth.written().size();
        const QueueItem item = itemFor(c.engine);
        auto result = renderNow(renderer, item);
        ASSERT_TRUE(result) << result.error().description;
        if (c.byKokoro) {
            ASSERT_EQ(kokoro.rendered.size(), 1u);
            EXPECT_EQ(kokoro.rendered[0], item);
            EXPECT_EQ(result->fileURL.filePath(), kokoroFile());
            EXPECT_EQ(synth.written().size(), writesBefore);
        } else {
            EXPECT_TRUE(kokoro.rendered.empty());
            EXPECT_EQ(synth.written().size(), writesBefore + 1);
            EXPECT_EQ(result->fileURL, cache.audioFileURL(item.id, "caf"));
        }
        EXPECT_EQ(renderLines(platform::LogLevel::error),
                  c.line ? std::vector<std::string>{*c.line} : std::vector<std::string>{});
    }
}

TEST_F(DispatchingRenderTest, AFailedKokoroRenderFallsBackToTheSystemVoice) {
    kokoro.answer = platform::fail(toError(ListenLaterRendererError::engineUnavailable("model missing")));
    synth.scriptWrite({speechBuffer()});
    DispatchingListenLaterRenderer renderer(platform::kSpeechDefaultRate, dependencies(), kokoroFactory());
    const QueueItem item = itemFor("kokoro");
    auto result = renderNow(renderer, item);
    ASSERT_TRUE(result) << result.error().description;
    EXPECT_EQ(result->fileURL, cache.audioFileURL(item.id, "caf"));
    EXPECT_EQ(kokoro.rendered.size(), 1u);
    EXPECT_EQ(synth.written().size(), 1u);
    EXPECT_EQ(renderLines(platform::LogLevel::error),
              std::vector<std::string>{"kokoro failed for " + item.id.uuidString() +
                                       ": Engine unavailable: model missing — falling back to Apple Speech"});
}

TEST_F(DispatchingRenderTest, WhenBothFailTheCallerGetsTheSystemVoicesError) {
    kokoro.answer = platform::fail(toError(ListenLaterRendererError::synthesisFailed("phonemizer crashed")));
    synth.scriptWrite({});  // only the end marker
    DispatchingListenLaterRenderer renderer(platform::kSpeechDefaultRate, dependencies(), kokoroFactory());
    auto result = renderNow(renderer, itemFor("Kokoro"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description, "Synthesis failed: synthesizer produced no audio (unknown voice?)");
    EXPECT_EQ(renderLines(platform::LogLevel::error).size(), 2u);  // the fallback and the system voice's failure
}

TEST_F(DispatchingRenderTest, WithoutAKokoroRendererKokoroItemsTakeTheFallback) {
    synth.scriptWrite({speechBuffer()});
    for (DispatchingListenLaterRenderer::KokoroFactory factory :
         {DispatchingListenLaterRenderer::KokoroFactory{},
          DispatchingListenLaterRenderer::KokoroFactory([](float) { return std::unique_ptr<ListenLaterRenderer>(); })}) {
        log->clear();
        DispatchingListenLaterRenderer renderer(platform::kSpeechDefaultRate, dependencies(), factory);
        const QueueItem item = itemFor("kokoro");
        ASSERT_TRUE(renderNow(renderer, item));
        EXPECT_EQ(renderLines(platform::LogLevel::error),
                  std::vector<std::string>{"kokoro failed for " + item.id.uuidString() +
                                           ": Engine unavailable: Kokoro voice not available — falling back to "
                                           "Apple Speech"});
    }
    EXPECT_EQ(synth.written().size(), 2u);
}

}  // namespace
