#include "Parlowen/dictation/GroqTranscriptionEngine.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <semaphore>
#include <thread>

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

// ------------------------------------------------------------------ core

namespace {

// The captured samples in fixed blocks, so that growing never moves or
// copies what is stored. The audio thread only takes ready blocks; a
// helper thread makes the next ones.
class SampleBlocks {
public:
    static constexpr std::size_t kBlockSamples = 10 * 16000;
    // Blocks kept ready ahead of the writer (20 s at 16 kHz).
    static constexpr std::size_t kSpareBlocks = 2;

    explicit SampleBlocks(std::size_t maxSamples) : maxSamples_(maxSamples) {
        blocks_.reserve(maxSamples / kBlockSamples + 2);
        spares_.reserve(kSpareBlocks + 1);  // what a finished session leaves is kept up to 30 s
    }

    std::size_t size() const { return size_; }
    bool needsSpares() const { return spares_.size() < kSpareBlocks && blocks_.size() * kBlockSamples < maxSamples_; }
    // Off the audio thread: a fresh block.
    static std::unique_ptr<float[]> makeBlock() { return std::make_unique<float[]>(kBlockSamples); }
    void addSpare(std::unique_ptr<float[]> block) {
        if (spares_.size() < spares_.capacity()) spares_.push_back(std::move(block));
    }

    // Up to `count` samples; the number kept (fewer only past `maxSamples`).
    std::size_t append(const float* samples, std::size_t count) {
        const std::size_t keep = std::min(count, maxSamples_ - std::min(maxSamples_, size_));
        for (std::size_t done = 0; done < keep;) {
            const std::size_t offset = size_ % kBlockSamples;
            if (offset == 0 && size_ / kBlockSamples == blocks_.size()) {
                if (!spares_.empty()) {
                    blocks_.push_back(std::move(spares_.back()));
                    spares_.pop_back();
                } else {
                    blocks_.push_back(makeBlock());  // the helper fell behind: better than losing speech
                }
            }
            const std::size_t n = std::min(keep - done, kBlockSamples - offset);
            std::copy_n(samples + done, n, blocks_[size_ / kBlockSamples].get() + offset);
            done += n;
            size_ += n;
        }
        return keep;
    }

    // The samples in one list; the blocks stay for the next session.
    std::vector<float> drain() {
        std::vector<float> out(size_);
        for (std::size_t at = 0; at < size_; at += kBlockSamples)
            std::copy_n(blocks_[at / kBlockSamples].get(), std::min(kBlockSamples, size_ - at), out.data() + at);
        clear();
        return out;
    }

    // Forgets the samples; used blocks become spares (as many as are kept).
    void clear() {
        size_ = 0;
        for (auto& b : blocks_) addSpare(std::move(b));
        blocks_.clear();
    }

private:
    std::size_t maxSamples_;
    std::size_t size_ = 0;
    std::vector<std::unique_ptr<float[]>> blocks_;
    std::vector<std::unique_ptr<float[]>> spares_;
};

}  // namespace

struct GroqTranscriptionEngine::Core {
    Core(std::string key, Model m, platform::HttpClient& h, platform::Executor& b, GroqTranscriptionConfig c)
        : apiKey(std::move(key)),
          model(m),
          http(h),
          background(b),
          config(std::move(c)),
          endpoint(config.baseURL + "/openai/v1/audio/transcriptions"),
          targetFormat(platform::PcmFormat::float32(kTargetSampleRate, 1)),
          samples(maxSamples()) {
        refiller = std::thread([this] { refill(); });
    }
    ~Core() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wanted.release();
        refiller.join();
    }

    std::size_t maxSamples() const {
        if (config.maxUploadBytes <= kWavHeaderBytes) return 0;
        return static_cast<std::size_t>((config.maxUploadBytes - kWavHeaderBytes) / 2);
    }

    // Under the lock: a converter and scratch for `format` (once per format).
    bool ensureConverterLocked(const platform::PcmFormat& format, std::uint32_t frames);
    void resetLocked();
    void accumulateLocked(const platform::PcmBuffer& buffer);
    void appendSamplesLocked(const float* data, std::size_t count);
    // Makes spare blocks until enough are ready (never on the audio thread).
    void fillSpares();
    // The helper thread: fills the spares whenever the audio thread asks.
    void refill();

    static platform::Task<platform::Result<Transcription>> transcribe(std::shared_ptr<Core> core,
                                                                      platform::Bytes wav);

    const std::string apiKey;
    const Model model;
    platform::HttpClient& http;
    platform::Executor& background;
    const GroqTranscriptionConfig config;
    const std::string endpoint;
    const platform::PcmFormat targetFormat;

    mutable std::mutex partialMutex;
    PartialCallback onPartial;

    std::mutex mutex;  // guards what follows; never held across a call out
    SampleBlocks samples;
    std::optional<platform::PcmConverter> converter;
    platform::PcmBuffer scratch;  // the converter's output, reused
    std::uint64_t droppedSamples = 0;  // past the upload limit
    bool stopping = false;

    std::binary_semaphore wanted{0};  // released (without allocating) when spares run low
    std::thread refiller;
};

namespace {
// Input frames the converter and its scratch are made for (a tap buffer is far smaller).
constexpr std::uint32_t kPreparedFrames = 8192;
}  // namespace

bool GroqTranscriptionEngine::Core::ensureConverterLocked(const platform::PcmFormat& format, std::uint32_t frames) {
    if (!converter || converter->inputFormat() != format) {
        converter.reset();
        auto made = platform::PcmConverter::make(format, targetFormat, std::max(frames, kPreparedFrames));
        if (!made) {
            log().error("failed to build converter from {} to 16kHz mono Float32", format.description());
            return false;
        }
        converter.emplace(std::move(*made));
    }
    const std::uint32_t room = converter->maxOutputFrames(std::max(frames, kPreparedFrames));
    if (scratch.frameCapacity() < room) scratch = platform::PcmBuffer(targetFormat, room);
    return true;
}

void GroqTranscriptionEngine::Core::resetLocked() {
    samples.clear();
    droppedSamples = 0;
    if (!converter) return;
    // A fresh signal. The rate converter drops its buffers on reset and
    // makes them again over its next few uses: run it here, off the audio
    // thread, on silence (which leaves only a few milliseconds of silence
    // in its history), in buffers of a tap's size and of the largest size.
    converter->reset();
    platform::PcmBuffer silence(converter->inputFormat(), kPreparedFrames);
    for (std::uint32_t frames : {1024u, 1024u, 1024u, 1024u, 1024u, 1024u, 1024u, 1024u, kPreparedFrames}) {
        silence.setFrameLength(frames);
        scratch.setFrameLength(0);
        (void)converter->convert(silence, scratch);
    }
    scratch.setFrameLength(0);
}

void GroqTranscriptionEngine::Core::accumulateLocked(const platform::PcmBuffer& buffer) {
    if (!ensureConverterLocked(buffer.format(), buffer.frameLength())) return;
    scratch.setFrameLength(0);
    if (auto converted = converter->convert(buffer, scratch); !converted) {
        log().error("converter error: {}", converted.error().description);
        return;
    }
    appendSamplesLocked(scratch.floatChannel(0), scratch.frameLength());
}

void GroqTranscriptionEngine::Core::appendSamplesLocked(const float* data, std::size_t count) {
    // Past the upload limit nothing more is kept: finish refuses such a
    // recording anyway, and memory stays bounded however long it runs.
    droppedSamples += count - samples.append(data, count);
    if (samples.needsSpares()) wanted.release();
}

void GroqTranscriptionEngine::Core::fillSpares() {
    while (true) {
        {
            std::lock_guard lock(mutex);
            if (stopping || !samples.needsSpares()) return;
        }
        auto block = SampleBlocks::makeBlock();  // outside the lock: the audio thread may append meanwhile
        std::lock_guard lock(mutex);
        samples.addSpare(std::move(block));
    }
}

void GroqTranscriptionEngine::Core::refill() {
    while (true) {
        wanted.acquire();
        {
            std::lock_guard lock(mutex);
            if (stopping) return;
        }
        fillSpares();
    }
}

// ------------------------------------------------------------------ engine

GroqTranscriptionEngine::GroqTranscriptionEngine(std::string apiKey, Model model, platform::HttpClient& http,
                                                 platform::Executor& background, GroqTranscriptionConfig config)
    : core_(std::make_shared<Core>(std::move(apiKey), model, http, background, std::move(config))) {}

GroqTranscriptionEngine::~GroqTranscriptionEngine() = default;

GroqTranscriptionEngine::Model GroqTranscriptionEngine::model() const { return core_->model; }
const std::string& GroqTranscriptionEngine::endpoint() const { return core_->endpoint; }
const platform::PcmFormat& GroqTranscriptionEngine::targetFormat() const { return core_->targetFormat; }

TranscriptionEngine::PartialCallback GroqTranscriptionEngine::onPartial() const {
    std::lock_guard lock(core_->partialMutex);
    return core_->onPartial;
}

void GroqTranscriptionEngine::setOnPartial(PartialCallback callback) {
    std::lock_guard lock(core_->partialMutex);
    core_->onPartial = std::move(callback);
}

void GroqTranscriptionEngine::prepare(const platform::PcmFormat& captureFormat) {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->ensureConverterLocked(captureFormat, kPreparedFrames)) core_->resetLocked();
    }
    core_->fillSpares();
}

platform::Task<platform::Status> GroqTranscriptionEngine::start() { return startImpl(core_); }

platform::Task<platform::Status> GroqTranscriptionEngine::startImpl(std::shared_ptr<Core> core) {
    co_await platform::resumeOn(core->background);
    {
        std::lock_guard lock(core->mutex);
        core->resetLocked();
    }
    // Room for the first 20 s before any audio arrives.
    core->fillSpares();
    co_return platform::ok();
}

void GroqTranscriptionEngine::cancel() {
    std::lock_guard lock(core_->mutex);
    core_->resetLocked();
}

void GroqTranscriptionEngine::append(const platform::PcmBuffer& buffer) {
    std::lock_guard lock(core_->mutex);
    core_->accumulateLocked(buffer);
}

platform::Task<platform::Result<std::string>> GroqTranscriptionEngine::finish() { return finishImpl(core_); }

platform::Task<platform::Result<std::string>> GroqTranscriptionEngine::finishImpl(std::shared_ptr<Core> core) {
    co_await platform::resumeOn(core->background);
    std::vector<float> samples;
    std::uint64_t dropped = 0;
    {
        std::lock_guard lock(core->mutex);
        // The converter's last few samples end the recording.
        if (core->converter) {
            const std::uint32_t room = core->converter->maxOutputFrames(0);
            if (core->scratch.frameCapacity() < room) core->scratch = platform::PcmBuffer(core->targetFormat, room);
            core->scratch.setFrameLength(0);
            if (core->converter->flush(core->scratch))
                core->appendSamplesLocked(core->scratch.floatChannel(0), core->scratch.frameLength());
        }
        samples = core->samples.drain();
        dropped = std::exchange(core->droppedSamples, 0);
    }

    const std::uint64_t total = samples.size() + dropped;
    if (total < kMinimumSamples) {
        log().info("audio too short to transcribe ({} samples)", total);
        co_return std::string();
    }
    const std::uint64_t wavBytes = kWavHeaderBytes + 2 * total;
    if (dropped > 0 || wavBytes > core->config.maxUploadBytes) {
        auto error = GroqTranscriptionEngineError::recordingTooLong(wavBytes, core->config.maxUploadBytes);
        log().error("not posting {} bytes ({:.2f}s): over the {} byte limit", wavBytes, total / kTargetSampleRate,
                    core->config.maxUploadBytes);
        co_return platform::fail(error);
    }
    platform::Bytes wav = wavData(samples);
    log().info("posting {} bytes ({:.2f}s) to Groq {}", wav.size(), samples.size() / kTargetSampleRate,
               rawValue(core->model));
    auto result = co_await Core::transcribe(core, std::move(wav));
    if (!result) co_return platform::fail(result.error());
    log().info("groq transcribed in {}ms: {}…", result->milliseconds,
               platform::priv(platform::text::graphemePrefix(result->text, 60)));
    co_return platform::text::trim(result->text, platform::text::CharacterSet::whitespacesAndNewlines);
}

platform::Task<platform::Result<GroqTranscriptionEngine::Transcription>> GroqTranscriptionEngine::Core::transcribe(
    std::shared_ptr<Core> self, platform::Bytes wav) {
    const std::string boundary = "parlowen-" + platform::Uuid::random().uuidString();
    platform::HttpRequest request;
    request.method = "POST";
    request.url = self->endpoint;
    request.timeout = self->config.timeout;
    request.headers.set("Authorization", "Bearer " + self->apiKey);
    request.headers.set("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.body = multipartBody(boundary, wav, self->model);

    const auto started = self->background.now();
    auto response = co_await self->http.send(std::move(request));
    if (!response) co_return platform::fail(response.error());  // transport errors pass unchanged
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(self->background.now() - started).count();
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
