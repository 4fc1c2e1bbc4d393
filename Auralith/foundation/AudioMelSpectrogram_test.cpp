#include "Auralith/foundation/AudioMelSpectrogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "platform/accel/Fft.h"

namespace auralith {
namespace {

using Mel = AudioMelSpectrogram;

// A straightforward double-precision log-mel: explicit padding, pre-emphasis,
// window, a plain DFT per frame and a plain filterbank sum, written from the
// definitions rather than from the code under test.
struct Reference {
    int nFFT = 512, hop = 160, win = 400, nMels = 128, sampleRate = 16000;
    double preemph = 0.97, floor = std::ldexp(1.0, -24);
    bool periodic = false;

    static double hzToMel(double f) {
        return f >= 1000 ? 1000 / (200.0 / 3) + std::log(f / 1000) / (std::log(6.4) / 27) : f / (200.0 / 3);
    }
    static double melToHz(double m) {
        const double brk = 1000 / (200.0 / 3);
        return m >= brk ? 1000 * std::exp((m - brk) * (std::log(6.4) / 27)) : m * (200.0 / 3);
    }
    std::vector<std::vector<double>> filterbank() const {
        const int bins = nFFT / 2 + 1;
        const double lo = hzToMel(0), hi = hzToMel(sampleRate / 2.0);
        std::vector<double> edges(nMels + 2);
        for (int i = 0; i < nMels + 2; ++i) edges[i] = melToHz(lo + (hi - lo) * i / (nMels + 1));
        std::vector<std::vector<double>> fb(nMels, std::vector<double>(bins, 0));
        for (int m = 0; m < nMels; ++m)
            for (int k = 0; k < bins; ++k) {
                const double f = static_cast<double>(sampleRate) * k / nFFT;
                const double l = edges[m], c = edges[m + 1], u = edges[m + 2];
                if (l <= f && f < c) fb[m][k] = 2 / (u - l) * (f - l) / (c - l);
                else if (c <= f && f <= u) fb[m][k] = 2 / (u - l) * (u - f) / (u - c);
            }
        return fb;
    }
    // Frame-major log-mel of `audio` with the given padding on each side.
    std::vector<std::vector<double>> logMel(const std::vector<float>& audio, int pad, int frames, double last) const {
        std::vector<double> signal(audio.size() + 2 * pad, 0.0);
        for (std::size_t k = 0; k < audio.size(); ++k)
            signal[pad + k] = audio[k] - preemph * (k == 0 ? last : audio[k - 1]);
        const int denominator = periodic ? win : win - 1;
        const auto fb = filterbank();
        const int offset = (nFFT - win) / 2, bins = nFFT / 2 + 1;
        std::vector<std::vector<double>> out;
        for (int i = 0; i < frames; ++i) {
            std::vector<double> frame(nFFT, 0.0);
            for (int j = 0; j < win; ++j) {
                const std::size_t at = static_cast<std::size_t>(i) * hop + offset + j;
                if (at < signal.size())
                    frame[offset + j] = signal[at] * 0.5 * (1 - std::cos(2 * std::numbers::pi * j / denominator));
            }
            std::vector<double> power(bins);
            for (int k = 0; k < bins; ++k) {
                double re = 0, im = 0;
                for (int n = 0; n < nFFT; ++n) {
                    const double a = -2 * std::numbers::pi * k * n / nFFT;
                    re += frame[n] * std::cos(a);
                    im += frame[n] * std::sin(a);
                }
                power[k] = re * re + im * im;
            }
            std::vector<double> bands(nMels);
            for (int m = 0; m < nMels; ++m) {
                double sum = 0;
                for (int k = 0; k < bins; ++k) sum += fb[m][k] * power[k];
                bands[m] = std::log(sum + floor);
            }
            out.push_back(std::move(bands));
        }
        return out;
    }
};

std::vector<float> speechLike(std::size_t n, unsigned seed = 7) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0, 0.05f);
    std::vector<float> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 220 * i / 16000.0) +
                                  0.2 * std::sin(2 * std::numbers::pi * 1375 * i / 16000.0) +
                                  0.1 * std::sin(2 * std::numbers::pi * 5100 * i / 16000.0)) +
               noise(rng);
    return s;
}

TEST(AudioMelSpectrogram, FrameCountsOfBothPaddingModesAndPadding) {
    Mel mel;
    const std::vector<float> audio(16000, 0.0f);
    auto centred = mel.computeFlat(audio);
    EXPECT_EQ(centred.frameCount, 101);
    EXPECT_EQ(centred.paddedFrameCount, 101);
    EXPECT_EQ(centred.features.size(), 101u * 128);
    auto prePadded = mel.computeFlat(audio, Mel::PaddingMode::prePadded);
    EXPECT_EQ(prePadded.frameCount, 97);
    auto transposed = mel.computeFlatTransposed(audio);
    EXPECT_EQ(transposed.frameCount, 101);
    EXPECT_EQ(transposed.paddedFrameCount, 101);

    Mel padded8(Mel::Settings{.padTo = 8});
    for (const auto& r : {padded8.computeFlat(audio), padded8.computeFlatTransposed(audio)}) {
        EXPECT_EQ(r.frameCount, 101);
        EXPECT_EQ(r.paddedFrameCount, 104);
        ASSERT_EQ(r.features.size(), 104u * 128);
    }
    // Padding frames hold 0: rows 101..103 frame-major, columns 101..103 mel-major.
    auto flat = padded8.computeFlat(audio);
    for (std::size_t i = 101 * 128; i < flat.features.size(); ++i) ASSERT_EQ(flat.features[i], 0.0f);
    auto t = padded8.computeFlatTransposed(audio);
    for (int m = 0; m < 128; ++m)
        for (int i = 101; i < 104; ++i) ASSERT_EQ(t.features[static_cast<std::size_t>(m) * 104 + i], 0.0f);

    for (const auto& empty : {mel.computeFlat({}), mel.computeFlatTransposed({}),
                              mel.computeFlat(std::vector<float>(100, 0.1f), Mel::PaddingMode::prePadded)}) {
        EXPECT_EQ(empty.features, std::vector<float>(128, 0.0f));
        EXPECT_EQ(empty.frameCount, 0);
        EXPECT_EQ(empty.paddedFrameCount, 1);
    }
}

TEST(AudioMelSpectrogram, SilenceGivesTheFloorInEveryBandOfEveryFrame) {
    Mel mel;
    const std::vector<float> zeros(16000, 0.0f);
    const float floorLog = std::log(0x1p-24f);
    EXPECT_NEAR(floorLog, -16.635532f, 1e-5f);
    for (float v : mel.computeFlat(zeros).features) ASSERT_EQ(v, floorLog);
    for (float v : mel.computeFlatTransposed(zeros).features) ASSERT_EQ(v, floorLog);

    Mel clamped(Mel::Settings{.logFloorMode = Mel::LogFloorMode::clamped, .logFloor = 1e-10f});
    for (float v : clamped.computeFlat(zeros).features) ASSERT_EQ(v, std::log(1e-10f));

    // Frames asked for beyond the signal see nothing but the floor.
    auto extra = mel.computeFlat(std::vector<float>(1600, 0.5f), Mel::PaddingMode::center, 20);
    EXPECT_EQ(extra.frameCount, 20);
    for (int i = 15; i < 20; ++i)
        for (int m = 0; m < 128; ++m) ASSERT_EQ(extra.features[static_cast<std::size_t>(i) * 128 + m], floorLog);
}

TEST(AudioMelSpectrogram, WindowEndPoints) {
    const auto symmetric = Mel::makeHannWindow(400, false);
    EXPECT_EQ(symmetric[0], 0.0f);
    EXPECT_NEAR(symmetric[399], 0.0f, 1e-12f);
    EXPECT_NEAR(symmetric[199], 0.9999845f, 1e-7f);
    EXPECT_EQ(symmetric[199], symmetric[200]);
    const auto periodic = Mel::makeHannWindow(400, true);
    EXPECT_EQ(periodic[0], 0.0f);
    EXPECT_EQ(periodic[200], 1.0f);
    EXPECT_GT(periodic[399], 0.0f);
    EXPECT_EQ(Mel::makeHannWindow(1, false), std::vector<float>{1.0f});
    EXPECT_EQ(Mel().hannWindow(), symmetric);
}

TEST(AudioMelSpectrogram, FilterbankEdgesAndWeights) {
    const auto edges = Mel::filterbankEdgesHz(128, 0, 8000);
    ASSERT_EQ(edges.size(), 130u);
    EXPECT_EQ(edges[0], 0.0f);
    EXPECT_NEAR(edges[1], 23.382761f, 1e-4f);
    EXPECT_NEAR(edges[2], 46.765522f, 1e-4f);
    EXPECT_NEAR(edges[127], 7623.332f, 2e-3f);
    EXPECT_NEAR(edges[128], 7809.3945f, 2e-3f);
    EXPECT_NEAR(edges[129], 8000.002f, 1e-3f);
    EXPECT_GT(edges[129], 8000.0f) << "the single-precision round trip lands just above 8000 Hz";

    Mel mel;
    ASSERT_EQ(mel.melFilterbank().size(), 128u);
    ASSERT_EQ(mel.melFilterbankFlat().size(), 128u * 257);
    for (std::size_t m = 0; m < 128; ++m) {
        ASSERT_EQ(mel.melFilterbank()[m].size(), 257u);
        const float cap = 2.0f / (edges[m + 2] - edges[m]);
        float sumArea = 0;
        for (std::size_t k = 0; k < 257; ++k) {
            const float w = mel.melFilterbank()[m][k];
            ASSERT_GE(w, 0.0f);
            ASSERT_LE(w, cap * (1 + 1e-6f)) << m << "/" << k;
            ASSERT_EQ(mel.melFilterbankFlat()[m * 257 + k], w);
            sumArea += w;
        }
        EXPECT_GT(sumArea, 0.0f) << "band " << m << " has no bin";
    }
    // The rising edge leaves out its centre; the falling edge keeps both ends.
    // Bin 1 (31.25 Hz) sits on band 0's falling edge; the Nyquist bin (8000 Hz)
    // lies inside the last band because its upper edge is 8000.002 Hz.
    const float scale0 = 2.0f / (edges[2] - edges[0]);
    EXPECT_FLOAT_EQ(mel.melFilterbank()[0][1], scale0 * (edges[2] - 31.25f) / (edges[2] - edges[1]));
    EXPECT_EQ(mel.melFilterbank()[0][0], 0.0f) << "bin 0 is band 0's lower edge, weight 0";
    EXPECT_GT(mel.melFilterbank()[127][256], 0.0f);
    EXPECT_LT(mel.melFilterbank()[127][256], 1e-7f);

    // Edge inclusion, on a filterbank whose edges fall on bins exactly.
    const auto tiny = Mel::makeFilterbank(8, 1, 8, 0, 4);
    const auto tinyEdges = Mel::filterbankEdgesHz(1, 0, 4);
    ASSERT_EQ(tinyEdges, (std::vector<float>{0, 2, 4}));
    // Bins at 0, 1, 2, 3, 4 Hz; band [0, 2, 4], scale 0.5.
    EXPECT_EQ(tiny[0], (std::vector<float>{0.0f, 0.25f, 0.5f, 0.25f, 0.0f}));
}

TEST(AudioMelSpectrogram, MatchesADoublePrecisionReference) {
    Mel mel;
    const Reference ref;
    const auto audio = speechLike(4000);
    const int frames = (4000 + 512 - 400) / 160 + 1;
    const auto expected = ref.logMel(audio, 256, frames, 0.0);

    auto flat = mel.computeFlat(audio);
    auto transposed = mel.computeFlatTransposed(audio);
    ASSERT_EQ(flat.frameCount, frames);
    ASSERT_EQ(transposed.frameCount, frames);
    double worst = 0;
    for (int i = 0; i < frames; ++i)
        for (int m = 0; m < 128; ++m) {
            const double e = expected[i][m];
            worst = std::max(worst, std::abs(flat.features[static_cast<std::size_t>(i) * 128 + m] - e));
            ASSERT_EQ(transposed.features[static_cast<std::size_t>(m) * frames + i],
                      flat.features[static_cast<std::size_t>(i) * 128 + m]);
        }
    EXPECT_LT(worst, 2e-3);

    // Pre-padded frames start at the first sample.
    auto pre = mel.computeFlat(audio, Mel::PaddingMode::prePadded);
    const auto expectedPre = ref.logMel(audio, 0, pre.frameCount, 0.0);
    ASSERT_EQ(pre.frameCount, (4000 - 512) / 160 + 1);
    worst = 0;
    for (int i = 0; i < pre.frameCount; ++i)
        for (int m = 0; m < 128; ++m)
            worst = std::max(worst, std::abs(pre.features[static_cast<std::size_t>(i) * 128 + m] - expectedPre[i][m]));
    EXPECT_LT(worst, 2e-3);
}

TEST(AudioMelSpectrogram, PeriodicClampedWithoutPreEmphasisMatchesTheReference) {
    Mel mel(Mel::Settings{.sampleRate = 8000, .nMels = 23, .nFFT = 256, .hopLength = 80, .winLength = 200,
                          .logFloorMode = Mel::LogFloorMode::clamped, .windowPeriodic = true, .preemph = 0,
                          .logFloor = 1e-10f});
    Reference ref{.nFFT = 256, .hop = 80, .win = 200, .nMels = 23, .sampleRate = 8000, .preemph = 0, .floor = 0,
                  .periodic = true};
    EXPECT_EQ(mel.fMax(), 4000.0f);
    std::vector<float> audio = speechLike(3000, 11);
    auto flat = mel.computeFlat(audio, Mel::PaddingMode::center, std::nullopt, 0.9f);  // ignored without pre-emphasis
    const auto expected = ref.logMel(audio, 128, flat.frameCount, 0.0);
    double worst = 0;
    for (int i = 0; i < flat.frameCount; ++i)
        for (int m = 0; m < 23; ++m)
            worst = std::max(worst, std::abs(flat.features[static_cast<std::size_t>(i) * 23 + m] -
                                             std::max(expected[i][m], std::log(1e-10))));
    EXPECT_LT(worst, 2e-3);
}

TEST(AudioMelSpectrogram, TheCarriedSampleJoinsTwoHalvesIntoOneCall) {
    Mel mel;
    Mel plain(Mel::Settings{.preemph = 0});
    const auto audio = speechLike(32000, 3);
    const std::span<const float> first(audio.data(), 16000), second(audio.data() + 16000, 16000);
    // The whole signal's pre-emphasis, cut at the join: with the first half's
    // last sample carried over, the second half is emphasised exactly so.
    std::vector<float> emphasised(16000);
    for (std::size_t k = 0; k < 16000; ++k) emphasised[k] = audio[16000 + k] - 0.97f * audio[15999 + k];
    const auto expected = plain.computeFlat(emphasised);
    const auto expectedT = plain.computeFlatTransposed(emphasised);

    const auto tail = mel.computeFlat(second, Mel::PaddingMode::center, std::nullopt, first.back());
    const auto tailT = mel.computeFlatTransposed(second, first.back());
    ASSERT_EQ(tail.features.size(), expected.features.size());
    ASSERT_EQ(tailT.features.size(), expectedT.features.size());
    for (std::size_t i = 0; i < expected.features.size(); ++i) {
        ASSERT_NEAR(tail.features[i], expected.features[i], 1e-5) << i;
        ASSERT_NEAR(tailT.features[i], expectedT.features[i], 1e-5) << i;
    }
    // Without the carried sample the first frame, which holds the first sample
    // near the middle of its window, comes out otherwise.
    const auto fresh = mel.computeFlat(second, Mel::PaddingMode::center, std::nullopt, 0.0f);
    double difference = 0;
    for (int m = 0; m < 128; ++m) difference += std::abs(fresh.features[m] - tail.features[m]);
    EXPECT_GT(difference, 1e-3);

    // Frames that lie wholly inside one half are the same as in one call over both.
    const auto whole = mel.computeFlat(audio, Mel::PaddingMode::prePadded, std::nullopt, 0.25f);
    const auto head = mel.computeFlat(first, Mel::PaddingMode::prePadded, std::nullopt, 0.25f);
    ASSERT_EQ(head.frameCount, 97);
    for (std::size_t i = 0; i < head.features.size(); ++i) ASSERT_NEAR(head.features[i], whole.features[i], 1e-5);
}

TEST(AudioMelSpectrogram, TheAllocatingFormUsesNoPaddingOrPreEmphasis) {
    Mel mel;
    Reference ref;
    ref.preemph = 0;
    const auto audio = speechLike(2000, 5);
    auto batch = mel.compute(audio);
    ASSERT_EQ(batch.frameCount, (2000 - 400) / 160 + 1);
    ASSERT_EQ(batch.features.size(), 1u);
    ASSERT_EQ(batch.features[0].size(), 128u);
    ASSERT_EQ(batch.features[0][0].size(), static_cast<std::size_t>(batch.frameCount));
    // No centring offset: the window starts at the frame's first sample.
    double worst = 0;
    for (int i = 0; i < batch.frameCount; ++i) {
        std::vector<float> piece(audio.begin() + i * 160, audio.begin() + i * 160 + 400);
        // The reference centres its window (offset 56); lead the piece with that much silence.
        std::vector<float> padded(56, 0.0f);
        padded.insert(padded.end(), piece.begin(), piece.end());
        const auto e = ref.logMel(padded, 0, 1, 0.0);
        for (int m = 0; m < 128; ++m) worst = std::max(worst, std::abs(batch.features[0][m][i] - e[0][m]));
    }
    EXPECT_LT(worst, 2e-3);
    EXPECT_EQ(mel.compute({}).frameCount, 0);
    EXPECT_TRUE(mel.compute({}).features.empty());
}

// The filterbank is kept as each band's span of non-zero weights: the sums
// over those spans equal the full dense product of the filterbank the
// accessor gives (same transform, same order of the non-zero terms), on
// noise that reaches every band.
TEST(AudioMelSpectrogram, BandSpansGiveTheDenseFilterbankProduct) {
    Mel mel;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> audio(16000);
    for (auto& x : audio) x = noise(rng);
    const auto batch = mel.compute(audio);
    ASSERT_GT(batch.frameCount, 90);

    const auto fft = platform::accel::RealFft::make(512);
    const auto& bank = mel.melFilterbank();
    std::vector<float> frame(512);
    std::vector<std::complex<float>> bins(257);
    double worst = 0;
    for (int i = 0; i < batch.frameCount; ++i) {
        std::fill(frame.begin(), frame.end(), 0.0f);
        for (int j = 0; j < 400; ++j) frame[j] = audio[i * 160 + j] * mel.hannWindow()[j];
        fft->forward(frame, bins);
        for (int m = 0; m < 128; ++m) {
            float sum = 0;
            for (int k = 0; k < 257; ++k) sum += bank[m][k] * std::norm(bins[k]);
            worst = std::max(worst, double(std::abs(batch.features[0][m][i] - std::log(sum + mel.logFloor()))));
        }
    }
    EXPECT_LT(worst, 1e-5);
}

}  // namespace
}  // namespace auralith
