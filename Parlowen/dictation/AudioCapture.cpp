#include "Parlowen/dictation/AudioCapture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "platform/log/Log.h"

namespace parlowen {

namespace {
const platform::Logger& log() {
    static const platform::Logger logger("com.kelvatrum.Parlowen", "audio");
    return logger;
}
}  // namespace

platform::Error toError(AudioCaptureError error, std::optional<platform::Error> underlying) {
    const bool start = error == AudioCaptureError::engineStartFailed;
    std::string caseName = start ? "engineStartFailed" : "formatUnavailable";
    // The cases have no text of their own; a start failure shows the platform's.
    std::string description = start && underlying ? underlying->description : caseName;
    auto e = platform::Error::make(kAudioCaptureErrorDomain, start ? 1 : 2, caseName, description);
    if (underlying) e = e.withUnderlying(*underlying);
    return e;
}

AudioCapture::AudioCapture(std::unique_ptr<platform::AudioInputEngine> engine, platform::AudioHardware& hardware,
                           platform::UserDefaults& defaults, platform::Executor& main)
    : engine_(std::move(engine)), hardware_(hardware), defaults_(defaults), main_(main) {}

AudioCapture::~AudioCapture() {
    lifetime_.end();
    prewarmTeardown_.cancel();
    // After these return the tap never runs again, so it may refer to this object.
    engine_->removeTap();
    engine_->stop();
}

void AudioCapture::setOnBuffer(BufferCallback callback) {
    onBuffer_.store(callback ? std::make_shared<const BufferCallback>(std::move(callback)) : nullptr);
}

void AudioCapture::setOnAmplitude(AmplitudeCallback callback) {
    onAmplitude_.store(callback ? std::make_shared<const AmplitudeCallback>(std::move(callback)) : nullptr);
}

void AudioCapture::routeInput() {
    auto uid = defaults_.stringForKey(kPreferredInputDeviceKey);
    if (!uid) return;
    if (auto id = AudioDeviceCatalog::deviceID(hardware_, *uid)) AudioDeviceCatalog::setCurrentDevice(*id, *engine_);
}

platform::Status AudioCapture::start() {
    PARLOWEN_ASSERT_ON(main_);
    if (isRunning_) return platform::ok();
    // An engine left running by a prewarm is taken over as it is.
    prewarmTeardown_.cancel();
    prewarmTeardown_ = {};
    routeInput();
    const platform::PcmFormat format = engine_->inputFormat();
    if (!(format.sampleRate > 0)) return platform::fail(toError(AudioCaptureError::formatUnavailable));
    log().info("audio input format {}Hz / {}ch / {}", static_cast<long long>(format.sampleRate), format.channelCount,
               format.commonFormat());
    engine_->removeTap();
    engine_->installTap(kTapBufferFrames, format, [this](const platform::PcmBuffer& b) { deliver(b); });
    if (auto started = engine_->start(); !started) {
        engine_->removeTap();
        return platform::fail(toError(AudioCaptureError::engineStartFailed, started.error()));
    }
    isRunning_ = true;
    return platform::ok();
}

platform::PcmFormat AudioCapture::captureFormat() {
    PARLOWEN_ASSERT_ON(main_);
    if (!isRunning_) routeInput();
    return engine_->inputFormat();
}

void AudioCapture::stop() {
    PARLOWEN_ASSERT_ON(main_);
    if (!isRunning_) return;
    engine_->removeTap();
    engine_->stop();
    isRunning_ = false;
}

void AudioCapture::prewarm() {
    PARLOWEN_ASSERT_ON(main_);
    if (isRunning_ || prewarmTeardown_.active()) return;
    routeInput();
    const platform::PcmFormat format = engine_->inputFormat();
    if (!(format.sampleRate > 0)) return;
    engine_->removeTap();
    engine_->installTap(kTapBufferFrames, format, [](const platform::PcmBuffer&) {});
    if (auto started = engine_->start(); !started) {
        engine_->removeTap();
        log().error("prewarm failed: {}", started.error().description);
        return;
    }
    log().info("prewarm: engine started, will stop in 150ms");
    prewarmTeardown_ = main_.postAfter(kPrewarmTeardownDelay, [this, weak = lifetime_.weak()] {
        if (weak.expired()) return;
        prewarmTeardown_ = {};
        engine_->removeTap();
        engine_->stop();
        log().info("prewarm: engine stopped");
    });
}

void AudioCapture::deliver(const platform::PcmBuffer& buffer) const {
    if (auto onBuffer = onBuffer_.load()) (*onBuffer)(buffer);
    if (auto onAmplitude = onAmplitude_.load())
        if (auto l = level(buffer)) (*onAmplitude)(*l);
}

std::optional<float> AudioCapture::level(const platform::PcmBuffer& buffer) {
    const float* samples = buffer.floatChannel(0);
    if (!samples) return std::nullopt;
    const std::uint32_t frames = buffer.frameLength();
    if (frames == 0) return 0.0f;
    const std::size_t stride = buffer.stride();
    // Eight running sums in two SIMD registers (GCC vector extension): one
    // pass without a long chain of dependent additions.
    using F4 = float __attribute__((vector_size(16)));
    F4 sumA = {0, 0, 0, 0}, sumB = {0, 0, 0, 0};
    float tail = 0;
    std::uint32_t i = 0;
    if (stride == 1) {
        for (; i + 8 <= frames; i += 8) {
            F4 a, b;
            std::memcpy(&a, samples + i, sizeof a);
            std::memcpy(&b, samples + i + 4, sizeof b);
            sumA += a * a;
            sumB += b * b;
        }
    }
    for (; i < frames; ++i) {
        const float s = samples[i * stride];
        tail += s * s;
    }
    const F4 sum = sumA + sumB;
    const double mean = (static_cast<double>(sum[0]) + sum[1] + sum[2] + sum[3] + tail) / frames;
    if (!(mean > 0)) return 0.0f;
    const double l = (20 * std::log10(std::sqrt(mean)) + 50) / 50;
    return static_cast<float>(std::clamp(l, 0.0, 1.0));
}

}  // namespace parlowen
