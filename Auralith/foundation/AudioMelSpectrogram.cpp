#include "Auralith/foundation/AudioMelSpectrogram.h"

#include <algorithm>
#include <cmath>


namespace auralith {

namespace {

// The mel scale in single precision: linear below 1 kHz (200/3 Hz per mel),
// logarithmic above it (ln(6.4)/27 per mel).
constexpr float kHzPerMel = 66.666664f;
constexpr float kBreakHz = 1000.0f;
constexpr float kBreakMel = 15.000001f;
constexpr float kLogStep = 0.068751775f;
constexpr float kTwoPi = 6.283185f;

}  // namespace

AudioMelSpectrogram::AudioMelSpectrogram() : AudioMelSpectrogram(Settings{}) {}

AudioMelSpectrogram::AudioMelSpectrogram(Settings s)
    : sampleRate_(s.sampleRate),
      nFFT_(std::max(s.nFFT, 0)),
      hopLength_(std::max(s.hopLength, 1)),
      winLength_(std::clamp(s.winLength, 0, std::max(s.nFFT, 0))),
      fMin_(0),
      fMax_(static_cast<float>(s.sampleRate) * 0.5f),
      preemph_(s.preemph),
      logFloor_(s.logFloor),
      logFloorMode_(s.logFloorMode),
      padValue_(0),
      nMels_(std::max(s.nMels, 0)),
      padTo_(std::max(1, s.padTo)),
      windowPeriodic_(s.windowPeriodic),
      nBins_(nFFT_ / 2 + 1) {
    hannWindow_ = makeHannWindow(winLength_, windowPeriodic_);
    melFilterbank_ = makeFilterbank(nFFT_, nMels_, sampleRate_, 0, fMax_);
    melFilterbankFlat_.reserve(static_cast<std::size_t>(nMels_) * nBins_);
    for (const auto& row : melFilterbank_) melFilterbankFlat_.insert(melFilterbankFlat_.end(), row.begin(), row.end());
    bands_ = bandsOf(melFilterbank_);
    if (nFFT_ > 0) fft_ = platform::accel::RealFft::make(static_cast<std::size_t>(nFFT_));
    frame_.assign(static_cast<std::size_t>(nFFT_), 0.0f);
    spectrum_.assign(static_cast<std::size_t>(nBins_), {});
    power_.assign(static_cast<std::size_t>(nBins_), 0.0f);
}

std::vector<AudioMelSpectrogram::Band> AudioMelSpectrogram::bandsOf(const std::vector<std::vector<float>>& filterbank) {
    std::vector<Band> bands;
    bands.reserve(filterbank.size());
    for (const auto& row : filterbank) {
        const auto isWeight = [](float w) { return w != 0.0f; };
        const auto first = std::find_if(row.begin(), row.end(), isWeight);
        const auto last = std::find_if(row.rbegin(), row.rend(), isWeight).base();
        Band band;
        if (first < last) {
            band.firstBin = static_cast<int>(first - row.begin());
            band.weights.assign(first, last);
        }
        bands.push_back(std::move(band));
    }
    return bands;
}

void AudioMelSpectrogram::projectFrame(const float* power, float* out, std::size_t stride) const {
    for (std::size_t m = 0; m < bands_.size(); ++m) {
        const Band& band = bands_[m];
        const float* p = power + band.firstBin;
        float sum = 0;
        for (std::size_t k = 0; k < band.weights.size(); ++k) sum += band.weights[k] * p[k];
        out[m * stride] = logOf(sum);
    }
}

std::vector<float> AudioMelSpectrogram::makeHannWindow(int length, bool periodic) {
    std::vector<float> w(static_cast<std::size_t>(std::max(length, 0)));
    const int n = periodic ? length : length - 1;
    if (n <= 0) {
        std::fill(w.begin(), w.end(), 1.0f);  // a one-point symmetric window
        return w;
    }
    for (int i = 0; i < length; ++i)
        w[static_cast<std::size_t>(i)] =
            (1.0f - std::cos(static_cast<float>(i) * kTwoPi / static_cast<float>(n))) * 0.5f;
    return w;
}

float AudioMelSpectrogram::hzToMel(float hz) {
    if (hz >= kBreakHz) return kBreakMel + std::log(hz / kBreakHz) / kLogStep;
    return hz / kHzPerMel;
}

float AudioMelSpectrogram::melToHz(float mel) {
    if (mel >= kBreakMel) return std::exp((mel - kBreakMel) * kLogStep) * kBreakHz;
    return mel * kHzPerMel;
}

std::vector<float> AudioMelSpectrogram::filterbankEdgesHz(int nMels, float fMin, float fMax) {
    const float melMin = hzToMel(fMin);
    const float melMax = hzToMel(fMax);
    std::vector<float> edges(static_cast<std::size_t>(std::max(nMels, 0) + 2));
    for (std::size_t i = 0; i < edges.size(); ++i)
        edges[i] = melToHz(melMin + ((melMax - melMin) * static_cast<float>(i)) / static_cast<float>(nMels + 1));
    return edges;
}

std::vector<std::vector<float>> AudioMelSpectrogram::makeFilterbank(int nFFT, int nMels, int sampleRate, float fMin,
                                                                    float fMax) {
    const int bins = std::max(nFFT, 0) / 2 + 1;
    std::vector<float> binHz(static_cast<std::size_t>(bins));
    for (int k = 0; k < bins; ++k)
        binHz[static_cast<std::size_t>(k)] =
            (static_cast<float>(sampleRate) * static_cast<float>(k)) / static_cast<float>(std::max(nFFT, 1));
    const std::vector<float> edges = filterbankEdgesHz(nMels, fMin, fMax);
    std::vector<std::vector<float>> bank(static_cast<std::size_t>(std::max(nMels, 0)),
                                         std::vector<float>(static_cast<std::size_t>(bins), 0.0f));
    for (std::size_t m = 0; m < bank.size(); ++m) {
        const float lower = edges[m], centre = edges[m + 1], upper = edges[m + 2];
        const float scale = 2.0f / (upper - lower);  // equal area per band
        for (std::size_t k = 0; k < binHz.size(); ++k) {
            const float f = binHz[k];
            if (lower <= f && f < centre) bank[m][k] = (scale * (f - lower)) / (centre - lower);
            else if (centre <= f && f <= upper) bank[m][k] = (scale * (upper - f)) / (upper - centre);
        }
    }
    return bank;
}

float AudioMelSpectrogram::logOf(float x) const {
    if (logFloorMode_ == LogFloorMode::additive) return std::log(x + logFloor_);
    return x <= logFloor_ ? std::log(logFloor_) : std::log(x);
}

void AudioMelSpectrogram::powerSpectrum(float* power) {
    if (!fft_) {
        std::fill_n(power, nBins_, 0.0f);
        return;
    }
    fft_->forward(frame_, spectrum_);
    for (int k = 0; k < nBins_; ++k) {
        const std::complex<float> c = spectrum_[static_cast<std::size_t>(k)];
        power[k] = c.real() * c.real() + c.imag() * c.imag();
    }
}

AudioMelSpectrogram::FlatResult AudioMelSpectrogram::computeFrames(std::span<const float> audio, int pad, int frames,
                                                                   int paddedFrames, bool applyPreemphasis,
                                                                   float lastAudioSample, Layout layout) {
    const std::size_t length = audio.size();
    const std::size_t padded = length + 2 * static_cast<std::size_t>(pad);
    std::vector<float> signal(padded, 0.0f);
    float* body = signal.data() + pad;
    if (!applyPreemphasis) {
        std::copy(audio.begin(), audio.end(), body);
    } else {
        body[0] = audio[0] - lastAudioSample * preemph_;
        for (std::size_t k = 1; k < length; ++k) body[k] = audio[k] - preemph_ * audio[k - 1];
    }

    FlatResult result;
    result.features.assign(static_cast<std::size_t>(paddedFrames) * nMels_, 0.0f);
    result.frameCount = frames;
    result.paddedFrameCount = paddedFrames;
    const int offset = (nFFT_ - winLength_) / 2;

    // Frame-major rows are nMels apart per frame; mel-major rows are
    // paddedFrames long, one per band.
    const bool frameMajor = layout == Layout::frameMajor;
    const std::size_t bandStride = frameMajor ? 1 : static_cast<std::size_t>(paddedFrames);
    for (int i = 0; i < frames; ++i) {
        std::fill(frame_.begin(), frame_.end(), 0.0f);
        const long long start = static_cast<long long>(i) * hopLength_ + offset;
        const long long take = std::min<long long>(static_cast<long long>(padded) - start, winLength_);
        for (long long j = 0; j < take; ++j)
            frame_[static_cast<std::size_t>(offset + j)] =
                signal[static_cast<std::size_t>(start + j)] * hannWindow_[static_cast<std::size_t>(j)];
        powerSpectrum(power_.data());
        float* out = result.features.data() +
                     (frameMajor ? static_cast<std::size_t>(i) * nMels_ : static_cast<std::size_t>(i));
        projectFrame(power_.data(), out, bandStride);
    }
    return result;
}

AudioMelSpectrogram::FlatResult AudioMelSpectrogram::computeFlat(std::span<const float> audio,
                                                                 PaddingMode paddingMode,
                                                                 std::optional<int> frameCount,
                                                                 float lastAudioSample) {
    const long long length = static_cast<long long>(audio.size());
    const long long natural = paddingMode == PaddingMode::center
                                  ? (length + 2 * (nFFT_ / 2) - winLength_) / hopLength_ + 1
                                  : std::max<long long>(0, (length - nFFT_) / hopLength_ + 1);
    const long long n = frameCount ? *frameCount : natural;
    if (n <= 0 || audio.empty() || nMels_ == 0) return {std::vector<float>(static_cast<std::size_t>(nMels_), 0.0f), 0, 1};
    const long long padded = (n + padTo_ - 1) / padTo_ * padTo_;
    const int pad = paddingMode == PaddingMode::center ? nFFT_ / 2 : 0;
    return computeFrames(audio, pad, static_cast<int>(n), static_cast<int>(padded), preemph_ != 0, lastAudioSample,
                         Layout::frameMajor);
}

AudioMelSpectrogram::FlatResult AudioMelSpectrogram::computeFlatTransposed(std::span<const float> audio,
                                                                           float lastAudioSample) {
    const long long length = static_cast<long long>(audio.size());
    const long long last = (length + 2 * (nFFT_ / 2) - winLength_) / hopLength_;
    const long long n = last + 1;
    if (n <= 0 || audio.empty() || nMels_ == 0) return {std::vector<float>(static_cast<std::size_t>(nMels_), 0.0f), 0, 1};
    const long long padded = (last / padTo_ + 1) * padTo_;
    return computeFrames(audio, nFFT_ / 2, static_cast<int>(n), static_cast<int>(padded), true, lastAudioSample,
                         Layout::melMajor);
}

AudioMelSpectrogram::BatchResult AudioMelSpectrogram::compute(std::span<const float> audio) {
    const long long length = static_cast<long long>(audio.size());
    const long long n = (length - winLength_) / hopLength_ + 1;
    if (n <= 0) return {{}, 0};
    std::vector<std::vector<float>> rows(static_cast<std::size_t>(nMels_),
                                         std::vector<float>(static_cast<std::size_t>(n), 0.0f));
    std::vector<float> power(static_cast<std::size_t>(nBins_));
    std::vector<float> bands(static_cast<std::size_t>(nMels_));
    for (long long i = 0; i < n; ++i) {
        std::fill(frame_.begin(), frame_.end(), 0.0f);
        for (int j = 0; j < winLength_; ++j) {
            const long long source = i * hopLength_ + j;
            if (source >= length) break;
            frame_[static_cast<std::size_t>(j)] =
                audio[static_cast<std::size_t>(source)] * hannWindow_[static_cast<std::size_t>(j)];
        }
        powerSpectrum(power.data());
        projectFrame(power.data(), bands.data(), 1);
        for (int m = 0; m < nMels_; ++m)
            rows[static_cast<std::size_t>(m)][static_cast<std::size_t>(i)] = bands[static_cast<std::size_t>(m)];
    }
    return {{std::move(rows)}, static_cast<int>(n)};
}

}  // namespace auralith
