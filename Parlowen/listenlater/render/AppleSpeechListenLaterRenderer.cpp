#include "Parlowen/listenlater/render/AppleSpeechListenLaterRenderer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <coroutine>
#include <system_error>

#include "Parlowen/listenlater/render/AudioDuration.h"
#include "Parlowen/readaloud/SpeechTextNormalizer.h"
#include "platform/audio/AudioFile.h"
#include "platform/log/Log.h"
#include "platform/text/Unicode.h"

namespace parlowen {

namespace {

namespace fs = std::filesystem;
using platform::Error;
using platform::Result;
using platform::Status;

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "listen-later-render");
    return log;
}

// The renderer's own failure (the layer hands out PCM only, so a write can
// fail here only by ending empty), with the text users see after
// "Synthesis failed: ".
Error noBuffersProduced() {
    return Error::make("AppleSpeechListenLaterRenderer", 2, "noBuffersProduced",
                       "synthesizer produced no audio (unknown voice?)");
}

// What one write shares between the synthesiser's handler (its thread, one
// buffer after another) and the suspended render. Only the handler touches
// the file and the counts until the write has ended; the render reads them
// after it is resumed.
struct WriteState {
    WriteState(platform::Executor& m, RenderProgressStore& p, platform::Uuid i, fs::path path, std::int64_t expected)
        : main(m), progress(p), id(i), url(std::move(path)), expectedBuffers(expected) {}

    platform::Executor& main;
    RenderProgressStore& progress;
    const platform::Uuid id;
    const fs::path url;

    std::atomic<bool> finished{false};
    // Created from the first buffer; none when the write ended before any.
    std::optional<platform::AudioFileWriter> file;
    std::int64_t buffersWritten = 0;
    int lastReportedStep = -1;
    const std::int64_t expectedBuffers;
    // How the write ended: normally (the end marker) or with the error that stopped it.
    Status ending;

    // The end and the awaiting render each arrive once; the second one resumes.
    std::atomic<int> arrivals{0};
    std::coroutine_handle<> waiter;
    platform::Executor* executor = nullptr;

    void onBuffer(Result<platform::PcmBuffer> buffer) {
        if (finished.load(std::memory_order_acquire)) return;
        // The layer hands out PCM only; an error in its place ends the write
        // as a failed append does.
        if (!buffer) return end(platform::fail(buffer.error()));
        if (buffer->frameLength() == 0) return end(platform::ok());
        if (!file) {
            const platform::PcmFormat& f = buffer->format();
            auto created = platform::AudioFileWriter::create(url, platform::AudioFileType::caf, f.sampleRate,
                                                             f.channelCount, f.sampleType);
            if (!created) return end(platform::fail(created.error()));
            file.emplace(std::move(*created));
        }
        if (auto written = file->write(*buffer); !written) return end(platform::fail(written.error()));
        ++buffersWritten;
        const double fraction =
            std::min(static_cast<double>(buffersWritten) / static_cast<double>(expectedBuffers), 0.95);
        const int step = static_cast<int>(fraction * 20);
        if (step != lastReportedStep) {
            lastReportedStep = step;
            RenderProgressStore* store = &progress;
            main.post([store, i = id, fraction] { store->update(i, fraction); });
        }
    }

    void end(Status how) {
        if (finished.exchange(true, std::memory_order_acq_rel)) return;
        // Finishing the file writes its header: a failure there is a failed write.
        if (file) {
            auto closed = file->close();
            if (how && !closed) how = platform::fail(closed.error());
        }
        ending = std::move(how);
        if (arrivals.fetch_add(1, std::memory_order_acq_rel) == 1) {
            auto h = waiter;
            executor->post([h] { h.resume(); });
        }
    }
};

// Starts the synthesiser's write and suspends until it ends; the render goes
// on on its own executor. The render does not check for cancellation: once
// started, the synthesiser writes to the end.
struct WriteAwaiter {
    std::shared_ptr<WriteState> state;
    platform::SpeechSynthesizer* synthesizer;
    platform::SpeechUtterance utterance;

    bool await_ready() const noexcept { return false; }
    template <platform::detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        std::shared_ptr<WriteState> s = state;
        s->waiter = h;
        s->executor = h.promise().executor;
        synthesizer->write(std::move(utterance), [s](Result<platform::PcmBuffer> b) { s->onBuffer(std::move(b)); });
        // When the write ended already (a synthesiser may deliver at once),
        // carry on without suspending; otherwise its end resumes the render.
        return s->arrivals.fetch_add(1, std::memory_order_acq_rel) == 0;
    }
    void await_resume() const noexcept {}
};

platform::Task<Status> writePCM(platform::SpeechUtterance utterance, platform::SpeechSynthesizer& synthesizer,
                                std::shared_ptr<WriteState> state) {
    // Named, not a braced temporary: g++ 12 destroys a brace-initialised
    // awaiter temporary twice.
    WriteAwaiter write{state, &synthesizer, std::move(utterance)};
    co_await write;
    if (!state->ending) co_return platform::fail(state->ending.error());
    logger().info("apple render: wrote {} PCM buffers", state->buffersWritten);
    if (state->file) co_return platform::ok();
    co_return platform::fail(noBuffersProduced());
}

// The playing time of the written file; 0, with a line in the log, when it
// cannot be read. Never fails the render.
double probeDuration(const platform::Url& url) {
    auto seconds = loadAudioDuration(url.filePath());
    if (!seconds) {
        logger().error("duration probe failed for {}: {}", url.lastPathComponent(), seconds.error().description);
        return 0;
    }
    return std::isfinite(*seconds) ? *seconds : 0;
}

}  // namespace

AppleSpeechListenLaterRenderer::AppleSpeechListenLaterRenderer(float rate, Dependencies dependencies)
    : rate_(rate), deps_(std::move(dependencies)) {}

std::int64_t AppleSpeechListenLaterRenderer::expectedBuffers(std::size_t expectedChars) {
    return std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(static_cast<double>(expectedChars) * 1.6)),
                                  20);
}

std::optional<std::string> AppleSpeechListenLaterRenderer::voiceFor(platform::SpeechSynthesizer& synthesizer,
                                                                     const std::string& voiceID) {
    if (!voiceID.starts_with("com.apple.voice.")) return std::nullopt;
    if (!synthesizer.voice(voiceID)) return std::nullopt;
    return voiceID;
}

platform::Task<Result<ListenLaterRenderResult>> AppleSpeechListenLaterRenderer::render(QueueItem item) {
    const platform::Url output = deps_.cache.audioFileURL(item.id, "caf");
    const std::string speech = SpeechTextNormalizer::normalize(item.text, SpeechTextNormalizer::Mode::listenLater).text;
    const std::size_t speechChars = platform::text::graphemeCount(speech);
    logger().info("apple render begin: {} chars-raw={} chars-norm={}", item.id.uuidString(),
                  platform::text::graphemeCount(item.text), speechChars);

    std::error_code ignored;
    fs::remove(output.filePath(), ignored);

    std::unique_ptr<platform::SpeechSynthesizer> synthesizer = deps_.makeSynthesizer();
    platform::SpeechUtterance utterance;
    utterance.text = speech;
    utterance.voiceIdentifier = voiceFor(*synthesizer, item.voiceID);
    utterance.rate = platform::clampSpeechRate(rate_);

    platform::Executor& worker = co_await platform::currentExecutor();
    co_await platform::resumeOn(deps_.main);
    deps_.progress.update(item.id, 0.02);
    co_await platform::resumeOn(worker);

    auto state = std::make_shared<WriteState>(deps_.main, deps_.progress, item.id, output.filePath(),
                                              expectedBuffers(speechChars));
    Status written = co_await writePCM(std::move(utterance), *synthesizer, state);
    if (!written) {
        const std::string description = fullErrorDescription(written.error());
        logger().error("apple render failed: {}", description);
        co_return platform::fail(toError(ListenLaterRendererError::synthesisFailed(description)));
    }

    const double duration = probeDuration(output);

    co_await platform::resumeOn(deps_.main);
    deps_.progress.update(item.id, 1.0);
    co_await platform::resumeOn(worker);

    logger().info("apple render done: {} duration={:f}s url={}", item.id.uuidString(), duration,
                  output.lastPathComponent());
    co_return ListenLaterRenderResult{output, duration};
}

}  // namespace parlowen
