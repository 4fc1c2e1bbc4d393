#pragma once

// Log-mel features computed on the host: a Hann-windowed power spectrum per
// frame, projected onto a Slaney-style triangular mel filterbank, then a
// natural log with a floor. Single precision throughout. Window, filterbank,
// transform plan and work buffers are made once per instance.

#include <complex>
#include <optional>
#include <span>
#include <vector>

#include "platform/accel/Fft.h"

namespace auralith {

class AudioMelSpectrogram {
public:
    enum class LogFloorMode { additive, clamped };  // log(x + floor), log(max(x, floor))
    enum class PaddingMode { center, prePadded };   // nFFT/2 zeros at each end, or the input as it is

    // The defaults are those of the package's speech front ends (16 kHz, 512-point
    // transform, 10 ms hop, 25 ms symmetric window, 128 bands, 0.97 pre-emphasis).
    struct Settings {
        int sampleRate = 16000;
        int nMels = 128;
        int nFFT = 512;
        int hopLength = 160;
        int winLength = 400;
        int padTo = 1;
        LogFloorMode logFloorMode = LogFloorMode::additive;
        bool windowPeriodic = false;
        float preemph = 0.97f;
        float logFloor = 0x1p-24f;
    };

    // Features with their frame counts. Frames beyond the valid count up to
    // the padded count hold 0.
    struct FlatResult {
        std::vector<float> features;
        int frameCount = 0;
        int paddedFrameCount = 0;
    };
    struct BatchResult {
        std::vector<std::vector<std::vector<float>>> features;  // [1][nMels][frames]
        int frameCount = 0;
    };

    // A hop below 1 counts as 1 and a window longer than the transform is cut
    // to it, so that no setting can make a frame reach past its buffer.
    AudioMelSpectrogram();
    explicit AudioMelSpectrogram(Settings settings);
    AudioMelSpectrogram(const AudioMelSpectrogram&) = delete;
    AudioMelSpectrogram& operator=(const AudioMelSpectrogram&) = delete;

    // Mel-major: nMels rows of paddedFrameCount values, centred frames.
    // `lastAudioSample` is the sample before `audio` in the stream, so that
    // pre-emphasis carries across consecutive pieces (0 for a fresh stream).
    FlatResult computeFlatTransposed(std::span<const float> audio, float lastAudioSample = 0);
    // Frame-major: paddedFrameCount rows of nMels values. `frameCount`
    // overrides the natural frame count.
    FlatResult computeFlat(std::span<const float> audio, PaddingMode paddingMode = PaddingMode::center,
                           std::optional<int> frameCount = std::nullopt, float lastAudioSample = 0);
    // An allocating form without padding, centring or pre-emphasis.
    BatchResult compute(std::span<const float> audio);

    int sampleRate() const { return sampleRate_; }
    int nFFT() const { return nFFT_; }
    int hopLength() const { return hopLength_; }
    int winLength() const { return winLength_; }
    float fMin() const { return fMin_; }
    float fMax() const { return fMax_; }
    float preemph() const { return preemph_; }
    float logFloor() const { return logFloor_; }
    LogFloorMode logFloorMode() const { return logFloorMode_; }
    float padValue() const { return padValue_; }
    int nMels() const { return nMels_; }
    int padTo() const { return padTo_; }
    bool windowPeriodic() const { return windowPeriodic_; }
    const std::vector<float>& hannWindow() const { return hannWindow_; }
    const std::vector<std::vector<float>>& melFilterbank() const { return melFilterbank_; }
    const std::vector<float>& melFilterbankFlat() const { return melFilterbankFlat_; }
    bool hasTransform() const { return fft_.has_value(); }

    // The building blocks, in single precision as the features use them.
    static std::vector<float> makeHannWindow(int length, bool periodic);
    static float hzToMel(float hz);
    static float melToHz(float mel);
    // The nMels + 2 band edges in Hz, evenly spaced on the mel scale.
    static std::vector<float> filterbankEdgesHz(int nMels, float fMin, float fMax);
    static std::vector<std::vector<float>> makeFilterbank(int nFFT, int nMels, int sampleRate, float fMin, float fMax);

private:
    // One band of the filterbank as the features use it: its non-zero
    // weights, which start at bin `firstBin`. The filterbank is almost all
    // zeros (each band spans a few bins), so each frame sums these short spans
    // on the calling thread instead of a dense product.
    struct Band {
        int firstBin = 0;
        std::vector<float> weights;
    };
    static std::vector<Band> bandsOf(const std::vector<std::vector<float>>& filterbank);
    // The bands of the power spectrum `power`, then the log, to out[m · stride].
    void projectFrame(const float* power, float* out, std::size_t stride) const;

    enum class Layout { frameMajor, melMajor };
    FlatResult computeFrames(std::span<const float> audio, int pad, int frames, int paddedFrames,
                             bool applyPreemphasis, float lastAudioSample, Layout layout);
    // Power spectrum of `frame_` into `power` (nFFT/2 + 1 values).
    void powerSpectrum(float* power);
    float logOf(float x) const;

    int sampleRate_;
    int nFFT_;
    int hopLength_;
    int winLength_;
    float fMin_;
    float fMax_;
    float preemph_;
    float logFloor_;
    LogFloorMode logFloorMode_;
    float padValue_;
    int nMels_;
    int padTo_;
    bool windowPeriodic_;
    int nBins_;
    std::vector<float> hannWindow_;
    std::vector<std::vector<float>> melFilterbank_;
    std::vector<float> melFilterbankFlat_;
    std::vector<Band> bands_;
    std::optional<platform::accel::RealFft> fft_;
    std::vector<float> frame_;
    std::vector<std::complex<float>> spectrum_;
    std::vector<float> power_;  // nBins_
};

}  // namespace auralith
