#include "Parlowen/readaloud/CloudVoiceEngine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "Parlowen/readaloud/ChunkedDataStream.h"
#include "platform/text/Unicode.h"

namespace parlowen {

using platform::Error;
using platform::PcmBuffer;
using platform::Result;
using platform::Status;
using platform::Task;
using State = SpeechSynthesisState;

struct CloudVoiceEngine::SentenceStream {
    explicit SentenceStream(std::int64_t i) : idx(i) {}

    const std::int64_t idx;
    // Every buffer received, kept so that a replay needs no new request.
    std::vector<PcmBuffer> buffers;
    bool streamClosed = false;
    platform::JoinHandle<void> task;
    // Set once its fetch is cancelled: late buffers are discarded.
    bool cancelled = false;
    std::function<void(const PcmBuffer&)> onBufferArrival;
    std::function<void()> onStreamClose;

    void cancel() {
        cancelled = true;
        task.cancel();
    }
};

const platform::PcmFormat CloudVoiceEngine::pcmFormat = platform::PcmFormat::int16(24000, 1, true);

namespace {

bool isCancelled(const Error& e) { return e.isCancellation(); }

// Drops a character cut in two by a byte limit, so that one split
// character does not make the whole text undecodable.
std::string_view withoutCutCharacter(std::string_view text) {
    std::size_t n = text.size();
    // The lead byte of the last sequence lies at most three bytes back.
    for (std::size_t back = 1; back <= 4 && back <= n; ++back) {
        auto byte = static_cast<unsigned char>(text[n - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
        std::size_t length = byte < 0x80 ? 1 : (byte & 0xE0) == 0xC0 ? 2 : (byte & 0xF0) == 0xE0 ? 3
                                            : (byte & 0xF8) == 0xF0 ? 4 : 1;
        if (length > back) return text.substr(0, n - back);
        break;
    }
    return text;
}

}  // namespace

namespace cloud_voice_error {
namespace {
// The status and message ride in the underlying error, so a log line can
// print them apart.
std::string statusDomain(const char* domain) { return std::string(domain) + ".httpStatus"; }
}  // namespace

Error httpStatus(const char* domain, int status, std::string message) {
    auto e = Error::make(domain, 1, "httpStatus", "HTTP " + std::to_string(status) + ": " + message);
    return e.withUnderlying(Error::make(statusDomain(domain), status, std::to_string(status), std::move(message)));
}

Error audioInitFailed(const char* domain) {
    return Error::make(domain, 2, "audioInitFailed", "Audio init / playback failed");
}

Error unexpectedResponse(const char* domain) {
    return Error::make(domain, 3, "unexpectedResponse", "URLResponse was not HTTPURLResponse");
}

std::optional<HttpStatus> httpStatusOf(const char* domain, const Error& error) {
    if (!error.is(domain, 1) || !error.underlying || error.underlying->domain != statusDomain(domain))
        return std::nullopt;
    return HttpStatus{error.underlying->code, error.underlying->description};
}
}  // namespace cloud_voice_error

PcmBlockCutter::PcmBlockCutter(std::size_t blockBytes, Deliver deliver)
    : blockBytes_(blockBytes), deliver_(std::move(deliver)) {}

void PcmBlockCutter::append(const std::uint8_t* bytes, std::size_t count) {
    total_ += static_cast<std::int64_t>(count);
    if (filled_ > 0) {
        const std::size_t take = std::min(count, blockBytes_ - filled_);
        std::memcpy(pending_.data() + filled_, bytes, take);
        filled_ += take;
        bytes += take;
        count -= take;
        if (filled_ < blockBytes_) return;
        deliverPending();
    }
    for (; count >= blockBytes_; bytes += blockBytes_, count -= blockBytes_)
        if (auto block = CloudVoiceEngine::makePCMBuffer(bytes, blockBytes_)) deliver_(std::move(*block));
    if (count == 0) return;
    pending_ = platform::PcmBuffer::forOverwrite(CloudVoiceEngine::pcmFormat,
                                                 static_cast<std::uint32_t>(blockBytes_ / 2));
    if (pending_.byteCapacity() < blockBytes_) return;  // could not be made: these bytes are skipped
    std::memcpy(pending_.data(), bytes, count);
    filled_ = count;
}

void PcmBlockCutter::finish() {
    if (filled_ > 0) deliverPending();
}

void PcmBlockCutter::deliverPending() {
    const auto frames = static_cast<std::uint32_t>(filled_ / 2);
    filled_ = 0;
    if (frames == 0) return;
    if constexpr (std::endian::native != std::endian::little) {
        auto* samples = reinterpret_cast<std::uint16_t*>(pending_.data());
        for (std::uint32_t i = 0; i < frames; ++i) samples[i] = static_cast<std::uint16_t>((samples[i] << 8) | (samples[i] >> 8));
    }
    pending_.setFrameLength(frames);
    deliver_(std::move(pending_));
}

CloudVoiceEngine::CloudVoiceEngine(CloudVoiceServices services, const char* logName)
    : services_(services), logName_(logName), log_("com.kelvatrum.Parlowen", std::string("engine.tts.") + logName) {}

CloudVoiceEngine::~CloudVoiceEngine() {
    lifetime_.end();
    onStateChange = {};
    onError = {};
    cancelAllSentenceStreams();
    stopAudio();
}

std::optional<PcmBuffer> CloudVoiceEngine::makePCMBuffer(const std::uint8_t* bytes, std::size_t count) {
    if (count < 2) return std::nullopt;
    const auto frames = static_cast<std::uint32_t>(count / 2);
    auto buffer = PcmBuffer::forOverwrite(pcmFormat, frames);
    std::int16_t* out = buffer.int16Channel(0);
    if (!out) return std::nullopt;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, bytes, std::size_t(frames) * 2);
    } else {
        for (std::uint32_t i = 0; i < frames; ++i)
            out[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    buffer.setFrameLength(frames);
    return buffer;
}

std::string CloudVoiceEngine::errorMessage(std::string_view body) {
    std::string_view whole = withoutCutCharacter(body);
    if (!platform::text::isValidUtf8(whole)) return "<non-utf8>";
    std::string out;
    out.reserve(whole.size());
    for (char c : whole) {
        if (c == '\r') continue;
        out.push_back(c == '\n' ? ' ' : c);
    }
    return out;
}

Result<std::string> CloudVoiceEngine::serialise(const nlohmann::ordered_json& body) {
    try {
        return body.dump();
    } catch (const nlohmann::json::exception& e) {
        return platform::fail(Error::make("JSONSerialization", e.id, "invalidValue", e.what()));
    }
}

std::string CloudVoiceEngine::shortVoiceID(std::string_view id) {
    if (platform::text::graphemeCount(id) <= 8) return std::string(id);
    return platform::text::graphemePrefix(id, 8) + "…";
}

std::vector<std::int64_t> CloudVoiceEngine::streamIndexes() const {
    std::vector<std::int64_t> out;
    for (const auto& [k, s] : sentenceStreams_) out.push_back(k);
    return out;
}

std::size_t CloudVoiceEngine::heldAudioBytes() const {
    std::size_t bytes = 0;
    for (const auto& [k, s] : sentenceStreams_)
        for (const auto& b : s->buffers) bytes += std::size_t(b.frameLength()) * pcmFormat.bytesPerFrame();
    return bytes;
}

// ---- Playback control

void CloudVoiceEngine::speak(std::string_view text, std::optional<std::string> voiceIdentifier, float rate) {
    PARLOWEN_ASSERT_ON(services_.main);
    stop();
    voiceIdentifier_ = std::move(voiceIdentifier);
    rate_ = rate;
    sentences_ = makeSentences(text);
    if (sentences_.empty()) {
        setState(State::finished());
        return;
    }
    currentIndex_ = 0;
    playCurrentSentence();
}

void CloudVoiceEngine::playCurrentSentence() {
    const auto i = currentIndex_;
    const auto n = static_cast<std::int64_t>(sentences_.size());
    if (i < 0 || i >= n) {
        stop();
        setState(State::finished());
        return;
    }
    if (requiresVoice() && (!voiceIdentifier_ || voiceIdentifier_->empty())) {
        log_.error("{} speak called with no voice ID set", logName_);
        stop();
        setState(State::finished());
        return;
    }
    const std::uint64_t generation = ++generation_;
    if (output_) output_->stop();
    std::vector<std::int64_t> outside;
    for (const auto& [k, s] : sentenceStreams_)
        if (k < i || k > i + 2) outside.push_back(k);
    for (auto k : outside) dropStream(k);

    const std::string text = sentences_[static_cast<std::size_t>(i)].text;
    setState(State::loading(i, n, text));
    StreamPtr s = sentenceStream(i);
    auto alive = lifetime_.weak();
    s->onBufferArrival = [this, alive, i, text](const PcmBuffer& b) {
        if (!alive.expired()) scheduleSentenceBuffer(b, i, text);
    };
    s->onStreamClose = [this, alive, i] {
        if (!alive.expired()) scheduleSentenceEndMarker(i);
    };
    // A replay plays what was already received; a failed output start ends
    // the reading, and with it this loop.
    for (const auto& b : s->buffers) {
        scheduleSentenceBuffer(b, i, text);
        if (generation != generation_) return;
    }
    if (s->streamClosed) {
        scheduleSentenceEndMarker(i);
        if (generation != generation_) return;
    }
    if (i + 1 < n) {
        sentenceStream(i + 1);
        if (i + 2 < n) sentenceStream(i + 2);
    }
}

void CloudVoiceEngine::pause() {
    PARLOWEN_ASSERT_ON(services_.main);
    if (!playerIsPlaying()) return;
    output_->pause();
    const auto& s = state();
    if (s.kind == State::Case::speaking) setState(State::paused(s.sentenceIndex, s.totalSentences, s.currentText));
}

void CloudVoiceEngine::resume() {
    PARLOWEN_ASSERT_ON(services_.main);
    if (auto started = startAudioEngineIfNeeded(); !started) {
        // Nothing can play: the player stays stopped and the state as it is.
        log_.error("audioEngine start failed: {}", started.error().description);
        return;
    }
    if (!output_->isPlaying()) (void)output_->play();
    const auto& s = state();
    if (s.kind == State::Case::paused) setState(State::speaking(s.sentenceIndex, s.totalSentences, s.currentText));
}

void CloudVoiceEngine::stop() {
    PARLOWEN_ASSERT_ON(services_.main);
    cancelAllSentenceStreams();
    stopAudio();
    sentences_.clear();
    currentIndex_ = 0;
    setState(State::idle());
}

void CloudVoiceEngine::stopAudio() {
    ++generation_;
    if (!output_) return;
    output_->stop();
    output_.reset();
}

bool CloudVoiceEngine::playerIsPlaying() const { return output_ && output_->isPlaying(); }

void CloudVoiceEngine::restartSentence(std::int64_t index) {
    currentIndex_ = index;
    playCurrentSentence();
}

void CloudVoiceEngine::finishAfterSkip() {
    stop();
    setState(State::finished());
}

void CloudVoiceEngine::setRate(float rate) {
    PARLOWEN_ASSERT_ON(services_.main);
    const float clamped = rate > 1.0f ? 1.0f : rate > 0.0f ? rate : 0.0f;  // NaN becomes 0
    if (rateChangeMatters(rate_, clamped)) {
        std::vector<std::int64_t> ahead;
        for (const auto& [k, s] : sentenceStreams_)
            if (k != currentIndex_) ahead.push_back(k);
        for (auto k : ahead) dropStream(k);
    }
    rate_ = clamped;
}

std::string CloudVoiceEngine::voiceDisplayName(const std::optional<std::string>& voiceIdentifier) {
    if (!voiceIdentifier || voiceIdentifier->empty()) return "Not set";
    return platform::text::graphemePrefix(*voiceIdentifier, 8) + "…";
}

// ---- Streams

CloudVoiceEngine::StreamPtr CloudVoiceEngine::sentenceStream(std::int64_t index) {
    if (auto it = sentenceStreams_.find(index); it != sentenceStreams_.end()) return it->second;
    auto s = std::make_shared<SentenceStream>(index);
    sentenceStreams_[index] = s;
    SentenceFetch fetch{index, sentences_[static_cast<std::size_t>(index)].text, voiceIdentifier_, rate_};
    s->task = platform::spawn(services_.main, fetchSentence(this, lifetime_.weak(), s, std::move(fetch)));
    return s;
}

void CloudVoiceEngine::dropStream(std::int64_t index) {
    auto it = sentenceStreams_.find(index);
    if (it == sentenceStreams_.end()) return;
    it->second->cancel();
    sentenceStreams_.erase(it);
}

void CloudVoiceEngine::cancelAllSentenceStreams() {
    for (auto& [k, s] : sentenceStreams_) s->cancel();
    sentenceStreams_.clear();
}

// ---- Output

Status CloudVoiceEngine::startAudioEngineIfNeeded() {
    if (output_) return platform::ok();
    if (auto uid = services_.defaults.stringForKey(kPreferredOutputKey))
        if (auto device = AudioDeviceCatalog::deviceID(services_.audioHardware, *uid)) routedDevice_ = device;
    platform::AudioOutputOptions options;
    options.sampleRate = pcmFormat.sampleRate;
    options.channels = pcmFormat.channelCount;
    options.device = routedDevice_;
    auto opened = services_.audioOutput.openStream(std::move(options));
    if (!opened) return platform::fail(opened.error());
    output_ = std::move(*opened);
    return platform::ok();
}

bool CloudVoiceEngine::startPlayerForLoadingSentence() {
    if (auto started = startAudioEngineIfNeeded(); !started) {
        log_.error("audioEngine start failed: {}", started.error().description);
        stop();
        setState(State::finished());
        return false;
    }
    return true;
}

void CloudVoiceEngine::scheduleSentenceBuffer(const PcmBuffer& buffer, std::int64_t index, const std::string& text) {
    if (index != currentIndex_) return;
    if (state().kind == State::Case::loading) {
        if (!startPlayerForLoadingSentence()) return;
        setState(State::speaking(index, static_cast<std::int64_t>(sentences_.size()), text));
        if (!output_->isPlaying()) (void)output_->play();
    }
    if (output_) (void)output_->schedule(buffer);
}

void CloudVoiceEngine::scheduleSentenceEndMarker(std::int64_t index) {
    // A sentence whose answer held no audio has nothing that starts the
    // player: start it here, so that the marker plays and reading moves on.
    if (state().kind == State::Case::loading && index == currentIndex_) {
        if (!startPlayerForLoadingSentence()) return;
        if (!output_->isPlaying()) (void)output_->play();
    }
    if (!output_) return;
    PcmBuffer marker(pcmFormat, kEndMarkerFrames);
    if (marker.frameCapacity() != kEndMarkerFrames) return;
    marker.setFrameLength(kEndMarkerFrames);
    platform::Executor* main = &services_.main;
    auto alive = lifetime_.weak();
    const std::uint64_t generation = generation_;
    (void)output_->schedule(std::move(marker), [this, main, alive, index, generation](platform::ScheduledBufferEnd) {
        main->post([this, alive, index, generation] {
            if (!alive.expired()) sentenceDidFinish(index, generation);
        });
    });
}

void CloudVoiceEngine::sentenceDidFinish(std::int64_t index, std::uint64_t generation) {
    if (generation != generation_ || index != currentIndex_) return;
    dropStream(index);
    if (index + 1 < static_cast<std::int64_t>(sentences_.size())) {
        currentIndex_ = index + 1;
        playCurrentSentence();
        return;
    }
    stopAudio();
    setState(State::finished());
}

void CloudVoiceEngine::sentenceStreamFailed(std::int64_t index, const StreamPtr& stream, const Error& error) {
    // Only the failure of the stream still kept for the sentence counts.
    auto it = sentenceStreams_.find(index);
    if (!stream || it == sentenceStreams_.end() || it->second != stream || stream->cancelled) return;
    if (index == currentIndex_) {
        stop();
        if (onError) onError(error);
        return;
    }
    sentenceStreams_.erase(it);
}

// ---- The fetch task

void CloudVoiceEngine::logStreamFailed(std::int64_t index, const Error& error) const {
    log_.error("{} stream failed (sentence {}): {}", logName_, index, error.description);
}

void CloudVoiceEngine::deliver(platform::Executor& main, std::weak_ptr<SentenceStream> weak, PcmBuffer&& buffer) {
    main.post([weak = std::move(weak), buffer = std::move(buffer)]() mutable {
        auto s = weak.lock();
        if (!s || s->cancelled) return;
        s->buffers.push_back(std::move(buffer));
        if (s->onBufferArrival) {
            auto callback = s->onBufferArrival;  // it may replace itself
            callback(s->buffers.back());
        }
    });
}

Task<void> CloudVoiceEngine::fetchSentence(CloudVoiceEngine* engine, std::weak_ptr<void> alive,
                                           std::weak_ptr<SentenceStream> weakStream, SentenceFetch fetch) {
    StreamPtr stream = weakStream.lock();
    if (!stream || stream->cancelled || alive.expired()) co_return;
    Status outcome = co_await readSentence(engine, alive, stream, fetch);
    if (outcome || alive.expired() || stream->cancelled || isCancelled(outcome.error())) co_return;
    engine->logStreamFailed(fetch.index, outcome.error());
    engine->services_.main.post([engine, alive, weakStream, index = fetch.index, error = outcome.error()] {
        if (!alive.expired()) engine->sentenceStreamFailed(index, weakStream.lock(), error);
    });
}

Task<Status> CloudVoiceEngine::readSentence(CloudVoiceEngine* engine, std::weak_ptr<void> alive,
                                            std::shared_ptr<SentenceStream> stream, SentenceFetch fetch) {
    // The keychain may wait for an unlock prompt: never on this thread.
    auto key = co_await engine->services_.keychain.readAsync(engine->keyService());
    if (alive.expired() || stream->cancelled) co_return platform::fail(Error::cancelled());
    if (!key) co_return platform::fail(key.error());
    auto request = engine->sentenceRequest(fetch, *key);
    if (!request) co_return platform::fail(request.error());
    request->method = "POST";
    request->timeout = kSentenceTimeout;

    ChunkedDataStream transfer(engine->services_.http);
    auto response = co_await transfer.go(std::move(*request));
    if (alive.expired() || stream->cancelled) co_return platform::fail(Error::cancelled());
    if (!response) co_return platform::fail(response.error());
    const int status = response->http.statusCode;

    if (status < 200 || status > 299) {
        // Enough of the body for a message; the rest is not read.
        std::string body;
        body.reserve(kErrorBodyBytes);
        while (body.size() < kErrorBodyBytes) {
            auto chunk = co_await response->stream.next();
            if (alive.expired() || stream->cancelled) co_return platform::fail(Error::cancelled());
            if (!chunk) co_return platform::fail(chunk.error());
            if (!*chunk) break;
            body.append((*chunk)->begin(), (*chunk)->end());
        }
        response->stream.stop();
        co_return platform::fail(engine->httpStatusError(status, errorMessage(body)));
    }

    if (engine->log_.isEnabled(platform::LogLevel::info))
        engine->log_.info("{} stream started: {}", engine->logName_, engine->streamStartedDetails(fetch));
    platform::Executor& main = engine->services_.main;
    PcmBlockCutter cutter(kBlockBytes, [&main, weak = std::weak_ptr<SentenceStream>(stream)](PcmBuffer&& buffer) {
        deliver(main, weak, std::move(buffer));
    });
    for (;;) {
        auto chunk = co_await response->stream.next();
        if (alive.expired() || stream->cancelled) co_return platform::fail(Error::cancelled());
        if (!chunk) co_return platform::fail(chunk.error());
        if (!*chunk) break;
        cutter.append((*chunk)->data(), (*chunk)->size());
    }
    cutter.finish();
    const std::int64_t total = cutter.total();
    engine->log_.info("{} stream done: {} bytes", engine->logName_, total);
    main.post([weak = std::weak_ptr<SentenceStream>(stream)] {
        auto s = weak.lock();
        if (!s || s->cancelled) return;
        s->streamClosed = true;
        if (s->onStreamClose) {
            auto callback = s->onStreamClose;
            callback();
        }
    });
    co_return platform::ok();
}

// ---- Type-level operations

Task<void> CloudVoiceEngine::warmUp(platform::HttpClient& http, std::string url) {
    platform::HttpRequest request;
    request.method = "HEAD";
    request.url = std::move(url);
    request.timeout = kWarmUpTimeout;
    (void)co_await http.send(std::move(request));
}

Task<ConnectionTestResult> CloudVoiceEngine::testKey(platform::HttpClient& http, std::string url,
                                                     platform::HttpHeaders headers) {
    platform::HttpRequest request = platform::HttpRequest::get(std::move(url), kTestTimeout);
    request.headers = std::move(headers);
    auto response = co_await http.send(std::move(request));
    if (!response) co_return ConnectionTestResult::failure(response.error().description);
    const int status = response->status;
    if (status < 100 || status > 999) co_return ConnectionTestResult::failure("Unexpected non-HTTP response");
    if (status >= 200 && status <= 299) co_return ConnectionTestResult::success();
    if (status == 401) co_return ConnectionTestResult::failure("Invalid API key (HTTP 401)");
    std::string_view head(reinterpret_cast<const char*>(response->body.data()),
                          std::min(response->body.size(), kTestBodyBytes));
    head = withoutCutCharacter(head);
    std::string text = platform::text::isValidUtf8(head) ? std::string(head) : std::string();
    std::replace(text.begin(), text.end(), '\n', ' ');
    co_return ConnectionTestResult::failure("HTTP " + std::to_string(status) + ": " + text);
}

}  // namespace parlowen
