#include "Parlowen/dictation/GroqTranscriptionEngine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/log/Log.h"
#include "platform/text/Unicode.h"
#include "platform/values/Json.h"
#include "platform/values/Uuid.h"

namespace parlowen {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("com.kelvatrum.Parlowen", "engine.dictation.groq");
    return logger;
}

// Room for 30 s from the first session on; a longer session grows it once in a while.
constexpr std::size_t kInitialCapacity = 30 * 16000;
constexpr std::size_t kWavHeaderBytes = 44;

void appendText(platform::Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

void appendLE(platform::Bytes& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

// ------------------------------------------------------------------ errors

platform::Error GroqTranscriptionEngineError::api(int status, const std::string& message) {
    return platform::Error::make(kDomain, static_cast<int>(Case::api), "api",
                                 fmt::format("Groq error {}: {}", status, message));
}

platform::Error GroqTranscriptionEngineError::invalidResponse() {
    return platform::Error::make(kDomain, static_cast<int>(Case::invalidResponse), "invalidResponse",
                                 "Groq returned an unexpected response shape.");
}

platform::Error GroqTranscriptionEngineError::recordingTooLong(std::uint64_t wavBytes, std::uint64_t limitBytes) {
    return platform::Error::make(
        kDomain, static_cast<int>(Case::recordingTooLong), "recordingTooLong",
        fmt::format("The recording is too long to transcribe with Groq: its audio ({:.3g} MB) is over the {:.3g} MB "
                    "upload limit.",
                    wavBytes / 1e6, limitBytes / 1e6));
}

// ------------------------------------------------------------------ engine

GroqTranscriptionEngine::GroqTranscriptionEngine(std::string apiKey, Model model, platform::HttpClient& http,
                                                 platform::Executor& background, GroqTranscriptionConfig config)
    : apiKey_(std::move(apiKey)),
      model_(model),
      http_(http),
      background_(background),
      config_(std::move(config)),
      endpoint_(config_.baseURL + "/openai/v1/audio/transcriptions"),
      targetFormat_(platform::PcmFormat::float32(kTargetSampleRate, 1)) {}

GroqTranscriptionEngine::~GroqTranscriptionEngine() = default;

TranscriptionEngine::PartialCallback GroqTranscriptionEngine::onPartial() const {
    std::lock_guard lock(partialMutex_);
    return onPartial_;
}

void GroqTranscriptionEngine::setOnPartial(PartialCallback callback) {
    std::lock_guard lock(partialMutex_);
    onPartial_ = std::move(callback);
}

std::size_t GroqTranscriptionEngine::maxSamples() const {
    if (config_.maxUploadBytes <= kWavHeaderBytes) return 0;
    return static_cast<std::size_t>((config_.maxUploadBytes - kWavHeaderBytes) / 2);
}

void GroqTranscriptionEngine::resetLocked() {
    state_.samples.clear();  // capacity kept
    state_.droppedSamples = 0;
    // The converter is kept for a capture in the same format, with a fresh signal.
    if (state_.converter) state_.converter->reset();
}

platform::Task<platform::Status> GroqTranscriptionEngine::start() { return startImpl(this); }

platform::Task<platform::Status> GroqTranscriptionEngine::startImpl(GroqTranscriptionEngine* self) {
    co_await platform::resumeOn(self->background_);
    {
        std::lock_guard lock(self->mutex_);
        self->resetLocked();
        // The list an earlier finish drained comes back with its capacity.
        if (self->spare_.capacity() > self->state_.samples.capacity()) {
            self->state_.samples.swap(self->spare_);
            self->state_.samples.clear();
        }
        if (self->state_.samples.capacity() >= kInitialCapacity) co_return platform::ok();
    }
    // Made outside the lock, since the audio thread may append meanwhile.
    std::vector<float> room;
    room.reserve(kInitialCapacity);
    std::lock_guard lock(self->mutex_);
    if (self->state_.samples.capacity() < kInitialCapacity) {
        room.assign(self->state_.samples.begin(), self->state_.samples.end());
        self->state_.samples.swap(room);
    }
    co_return platform::ok();
}

void GroqTranscriptionEngine::cancel() {
    std::lock_guard lock(mutex_);
    resetLocked();
}

void GroqTranscriptionEngine::append(const platform::PcmBuffer& buffer) {
    std::lock_guard lock(mutex_);
    accumulate(buffer, state_);
}

void GroqTranscriptionEngine::accumulate(const platform::PcmBuffer& buffer, AccumulatorState& state) {
    const platform::PcmFormat& format = buffer.format();
    if (!state.converter || state.converter->inputFormat() != format) {
        // Once per capture format; later buffers reuse it.
        state.converter.reset();
        auto made = platform::PcmConverter::make(format, targetFormat_, std::max<std::uint32_t>(buffer.frameLength(), 1024));
        if (!made) {
            log().error("failed to build converter from {} to 16kHz mono Float32", format.description());
            return;
        }
        state.converter.emplace(std::move(*made));
    }
    const std::uint32_t room = state.converter->maxOutputFrames(buffer.frameLength());
    if (state.scratch.frameCapacity() < room) state.scratch = platform::PcmBuffer(targetFormat_, room);
    state.scratch.setFrameLength(0);
    if (auto converted = state.converter->convert(buffer, state.scratch); !converted) {
        log().error("converter error: {}", converted.error().description);
        return;
    }
    appendSamples(state.scratch.floatChannel(0), state.scratch.frameLength(), state);
}

void GroqTranscriptionEngine::appendSamples(const float* samples, std::size_t count, AccumulatorState& state) {
    // Past the upload limit nothing more is kept: finish refuses such a
    // recording anyway, and memory stays bounded however long it runs.
    const std::size_t limit = maxSamples();
    const std::size_t keep = std::min(count, limit - std::min(limit, state.samples.size()));
    state.samples.insert(state.samples.end(), samples, samples + keep);
    state.droppedSamples += count - keep;
}

platform::Task<platform::Result<std::string>> GroqTranscriptionEngine::finish() { return finishImpl(this); }

platform::Task<platform::Result<std::string>> GroqTranscriptionEngine::finishImpl(GroqTranscriptionEngine* self) {
    co_await platform::resumeOn(self->background_);
    std::vector<float> samples;
    std::uint64_t dropped = 0;
    {
        std::lock_guard lock(self->mutex_);
        AccumulatorState& state = self->state_;
        // The converter's last few samples end the recording.
        if (state.converter) {
            const std::uint32_t room = state.converter->maxOutputFrames(0);
            if (state.scratch.frameCapacity() < room) state.scratch = platform::PcmBuffer(self->targetFormat_, room);
            state.scratch.setFrameLength(0);
            if (state.converter->flush(state.scratch))
                self->appendSamples(state.scratch.floatChannel(0), state.scratch.frameLength(), state);
        }
        samples = std::move(state.samples);
        state.samples = std::move(self->spare_);
        state.samples.clear();
        self->spare_ = {};
        dropped = std::exchange(state.droppedSamples, 0);
    }
    // Whatever happens next, the drained list goes back for its capacity.
    struct GiveBack {
        GroqTranscriptionEngine* self;
        std::vector<float>* samples;
        ~GiveBack() {
            std::lock_guard lock(self->mutex_);
            if (samples->capacity() > self->spare_.capacity()) {
                samples->clear();
                self->spare_ = std::move(*samples);
            }
        }
    } giveBack{self, &samples};

    const std::uint64_t total = samples.size() + dropped;
    if (total < kMinimumSamples) {
        log().info("audio too short to transcribe ({} samples)", total);
        co_return std::string();
    }
    const std::uint64_t wavBytes = kWavHeaderBytes + 2 * total;
    if (dropped > 0 || wavBytes > self->config_.maxUploadBytes) {
        auto error = GroqTranscriptionEngineError::recordingTooLong(wavBytes, self->config_.maxUploadBytes);
        log().error("not posting {} bytes ({:.2f}s): over the {} byte limit", wavBytes, total / kTargetSampleRate,
                    self->config_.maxUploadBytes);
        co_return platform::fail(error);
    }
    platform::Bytes wav = wavData(samples);
    log().info("posting {} bytes ({:.2f}s) to Groq {}", wav.size(), samples.size() / kTargetSampleRate,
               rawValue(self->model_));
    auto result = co_await transcribe(self, std::move(wav));
    if (!result) co_return platform::fail(result.error());
    log().info("groq transcribed in {}ms: {}…", result->milliseconds,
               platform::priv(platform::text::graphemePrefix(result->text, 60)));
    co_return platform::text::trim(result->text, platform::text::CharacterSet::whitespacesAndNewlines);
}

platform::Task<platform::Result<GroqTranscriptionEngine::Transcription>> GroqTranscriptionEngine::transcribe(
    GroqTranscriptionEngine* self, platform::Bytes wav) {
    const std::string boundary = "parlowen-" + platform::Uuid::random().uuidString();
    platform::HttpRequest request;
    request.method = "POST";
    request.url = self->endpoint_;
    request.timeout = self->config_.timeout;
    request.headers.set("Authorization", "Bearer " + self->apiKey_);
    request.headers.set("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.body = multipartBody(boundary, wav, self->model_);

    const auto started = self->background_.now();
    auto response = co_await self->http_.send(std::move(request));
    if (!response) co_return platform::fail(response.error());  // transport errors pass unchanged
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(self->background_.now() - started).count();
    if (response->status < 100) co_return platform::fail(GroqTranscriptionEngineError::invalidResponse());

    const std::string body = response->text();
    if (!response->isSuccess()) {
        // {"error":{"message":...,"type":...,"code":...}}; type and code must be text when present.
        auto message = [&]() -> std::optional<std::string> {
            auto json = platform::decodeJson(body);
            if (!json) return std::nullopt;
            auto detail = platform::requireMember(*json, "error");
            if (!detail) return std::nullopt;
            auto text = platform::requireString(**detail, "message");
            if (!text || !platform::optionalString(**detail, "type") || !platform::optionalString(**detail, "code"))
                return std::nullopt;
            return *text;
        }();
        co_return platform::fail(
            GroqTranscriptionEngineError::api(response->status, message.value_or(fmt::format("HTTP {}", response->status))));
    }
    auto json = platform::decodeJson(body);
    if (!json) co_return platform::fail(json.error());
    auto text = platform::requireString(*json, "text");
    if (!text) co_return platform::fail(text.error());
    co_return Transcription{std::move(*text), static_cast<std::int64_t>(elapsed)};
}

// ------------------------------------------------------------------ encoding

std::int16_t GroqTranscriptionEngine::pcm16(float x) {
    // A NaN sample is silence, not a full-scale click.
    if (std::isnan(x)) return 0;
    if (x >= 1.0f) return 32767;
    return static_cast<std::int16_t>(std::max(x, -1.0f) * 32767.0f);
}

platform::Bytes GroqTranscriptionEngine::wavData(std::span<const float> samples) {
    const std::uint32_t dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    platform::Bytes out;
    out.reserve(kWavHeaderBytes + dataSize);
    appendText(out, "RIFF");
    appendLE(out, 36 + dataSize, 4);
    appendText(out, "WAVE");
    appendText(out, "fmt ");
    appendLE(out, 16, 4);
    appendLE(out, 1, 2);      // integer PCM
    appendLE(out, 1, 2);      // channels
    appendLE(out, 16000, 4);  // sample rate
    appendLE(out, 32000, 4);  // bytes per second
    appendLE(out, 2, 2);      // block align
    appendLE(out, 16, 2);     // bits per sample
    appendText(out, "data");
    appendLE(out, dataSize, 4);
    for (float s : samples) appendLE(out, static_cast<std::uint16_t>(pcm16(s)), 2);
    return out;
}

platform::Bytes GroqTranscriptionEngine::multipartBody(std::string_view boundary, const platform::Bytes& wav,
                                                       Model model) {
    platform::Bytes out;
    out.reserve(wav.size() + 512);
    auto line = [&](std::string_view text) {
        appendText(out, text);
        appendText(out, "\r\n");
    };
    appendText(out, "--");
    line(boundary);
    line("Content-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"");
    appendText(out, "Content-Type: audio/wav\r\n\r\n");
    out.insert(out.end(), wav.begin(), wav.end());
    appendText(out, "\r\n");
    appendText(out, "--");
    line(boundary);
    appendText(out, "Content-Disposition: form-data; name=\"model\"\r\n\r\n");
    line(rawValue(model));
    appendText(out, "--");
    line(boundary);
    line("Content-Disposition: form-data; name=\"response_format\"");
    appendText(out, "\r\n");
    line("json");
    appendText(out, "--");
    appendText(out, boundary);
    line("--");
    return out;
}

}  // namespace parlowen
