#include "Auralith/foundation/AudioConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "platform/audio/AudioFile.h"
#include "platform/log/CaptureSink.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace auralith {
namespace {

using platform::PcmBuffer;
using platform::PcmFormat;

std::uint32_t u32(const platform::Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t u16(const platform::Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }
std::string tag(const platform::Bytes& b, std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

std::vector<std::int16_t> samplesOf(const platform::Bytes& wav) {
    std::vector<std::int16_t> out;
    for (std::size_t at = 44; at + 1 < wav.size(); at += 2) out.push_back(static_cast<std::int16_t>(u16(wav, at)));
    return out;
}

TEST(AudioWAV, HeaderIsExactlyFortyFourBytesWithTruncatedRates) {
    const struct {
        std::vector<float> samples;
        double rate;
        std::uint32_t sampleRate, byteRate;
    } cases[] = {
        {{}, 24000, 24000, 48000},
        {{0.25f, -0.5f}, 24000, 24000, 48000},
        {{0.1f}, 22050.5, 22050, 44101},
        {{0.1f}, 0.75, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        auto wav = AudioWAV::data(c.samples, c.rate);
        ASSERT_TRUE(wav);
        const std::uint32_t n = 2 * static_cast<std::uint32_t>(c.samples.size());
        ASSERT_EQ(wav->size(), 44 + n);
        EXPECT_EQ(tag(*wav, 0), "RIFF");
        EXPECT_EQ(u32(*wav, 4), n + 36);
        EXPECT_EQ(tag(*wav, 8), "WAVE");
        EXPECT_EQ(tag(*wav, 12), "fmt ");
        EXPECT_EQ(u32(*wav, 16), 16u);
        EXPECT_EQ(u16(*wav, 20), 1);
        EXPECT_EQ(u16(*wav, 22), 1);
        EXPECT_EQ(u32(*wav, 24), c.sampleRate);
        EXPECT_EQ(u32(*wav, 28), c.byteRate);
        EXPECT_EQ(u16(*wav, 32), 2);
        EXPECT_EQ(u16(*wav, 34), 16);
        EXPECT_EQ(tag(*wav, 36), "data");
        EXPECT_EQ(u32(*wav, 40), n);
    }
}

TEST(AudioWAV, SamplesArePeakNormalisedAndTruncated) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* name;
        std::vector<float> samples;
        std::vector<std::int16_t> written;
    } cases[] = {
        {"normalised by the peak 0.5", {0.25f, -0.5f}, {16383, -32767}},
        {"silence stays silence", {0.0f, 0.0f}, {0, 0}},
        {"truncation toward zero", {0.5f, 1.0f, 0.999f}, {16383, 32767, 32734}},
        {"quiet input is raised to full scale", {0.01f, -0.02f}, {16383, -32767}},
        // A sample that is not a number is written as silence, not as a
        // full-scale click, and does not stop the others being normalised.
        {"NaN first", {nan, 0.5f}, {0, 32767}},
        {"NaN between", {0.25f, nan, -0.5f}, {16383, 0, -32767}},
        {"only NaN", {nan, nan}, {0, 0}},
        // Infinities are ignored by the peak and written as silence too, so
        // one of them does not scale every other sample to 0.
        {"+inf between", {0.25f, inf, -0.5f}, {16383, 0, -32767}},
        {"-inf between", {0.25f, -inf, -0.5f}, {16383, 0, -32767}},
        {"only infinities", {inf, -inf}, {0, 0}},
        // A huge finite value is a real peak: the others scale down by it.
        {"huge finite value", {0.25f, 3.0e38f, -1.5e38f}, {0, 32767, -16383}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto wav = AudioWAV::data(c.samples, 16000);
        ASSERT_TRUE(wav);
        EXPECT_EQ(samplesOf(*wav), c.written);
    }
}

TEST(AudioWAV, RatesTheHeaderCannotHoldFail) {
    const float one[] = {0.5f};
    for (double rate : {-1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                        2147483648.0})
        EXPECT_FALSE(AudioWAV::data(one, rate)) << rate;
    EXPECT_TRUE(AudioWAV::data(one, 2147483647.0));
}

TEST(AudioConverterError, DescriptionsAndUnderlyingErrors) {
    const platform::Error cause = platform::Error::make("test", 7, "broken", "the converter broke");
    const struct {
        AudioConverterError error;
        const char* text;
    } cases[] = {
        {AudioConverterError::conversionFailed(cause), "Audio conversion failed: the converter broke"},
        {AudioConverterError::conversionFailed(std::nullopt), "Audio conversion failed: Unknown error"},
        {AudioConverterError::sampleBufferCopyFailed(-12731),
         "Failed to copy samples from CMSampleBuffer (status: -12731)"},
        {AudioConverterError::failedToCreateConverter(), "Failed to create audio converter"},
        {AudioConverterError::failedToCreateBuffer(), "Failed to create conversion buffer"},
        {AudioConverterError::sampleBufferFormatMissing(), "Sample buffer is missing a valid audio format description."},
        {AudioConverterError::failedToCreateSourceFormat(),
         "Failed to create a source audio format description for CMSampleBuffer."},
    };
    for (const auto& c : cases) {
        const platform::Error e = toError(c.error);
        EXPECT_EQ(e.description, c.text);
        EXPECT_TRUE(isAudioConverterError(e, c.error.kind));
    }
    ASSERT_TRUE(toError(AudioConverterError::conversionFailed(cause)).underlying);
    EXPECT_EQ(*toError(AudioConverterError::conversionFailed(cause)).underlying, cause);
}

// Left and right carry the same tone at 0.5 and 0.25: the mono mix is 0.375 of it.
PcmBuffer stereoTone(double rate, std::uint32_t frames, double hz = 440) {
    PcmBuffer b(PcmFormat::float32(rate, 2), frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float v = static_cast<float>(std::sin(2 * std::numbers::pi * hz * i / rate));
        b.setSample(0, i, 0.5f * v);
        b.setSample(1, i, 0.25f * v);
    }
    b.setFrameLength(frames);
    return b;
}

// Checks a mono 16 kHz result against the 0.375-amplitude tone, away from the filter's edges.
void expectMixedTone(const std::vector<float>& out, double hz = 440) {
    double worst = 0;
    for (std::size_t i = 400; i + 400 < out.size(); ++i) {
        const double expected = 0.375 * std::sin(2 * std::numbers::pi * hz * i / 16000.0);
        worst = std::max(worst, std::abs(out[i] - expected));
    }
    EXPECT_LT(worst, 2e-3);
}

TEST(AudioConverter, StereoAt48kBecomesMonoAt16kOfTheExpectedLength) {
    platform::FakeAudioMedia media;
    const AudioConverter converter(AudioConverter::defaultTargetFormat(), false, media);
    for (std::uint32_t frames : {48000u, 48001u, 4095u, 100000u}) {
        SCOPED_TRACE(frames);
        auto out = converter.resampleBuffer(stereoTone(48000, frames));
        ASSERT_TRUE(out) << out.error().description;
        // Drained to the end: the whole signal, not just the first block's worth.
        EXPECT_NEAR(static_cast<double>(out->size()), frames / 3.0, 1.0);
        expectMixedTone(*out);
    }
    // The highest quality stands in for the mastering algorithm.
    ASSERT_FALSE(media.converterRequests().empty());
    EXPECT_EQ(media.converterRequests()[0].quality, platform::Resampler::Quality::veryHigh);
    EXPECT_EQ(media.converterRequests()[0].output, PcmFormat::float32(16000, 1));
}

TEST(AudioConverter, OtherLayoutsConvertToo) {
    const AudioConverter converter;
    // Interleaved 16-bit stereo at 16 kHz: only mixed, not resampled.
    PcmBuffer ints(PcmFormat::int16(16000, 2), 3);
    const float left[] = {0.5f, -0.25f, 0}, right[] = {0.25f, 0.25f, -1};
    for (std::uint32_t i = 0; i < 3; ++i) {
        ints.setSample(0, i, left[i]);
        ints.setSample(1, i, right[i]);
    }
    ints.setFrameLength(3);
    auto out = converter.resampleBuffer(ints);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, (std::vector<float>{0.375f, 0.0f, -0.5f}));
    // An empty buffer in another format converts to nothing, resampled or not.
    for (const PcmFormat& format : {PcmFormat::float32(44100, 1), PcmFormat::float32(16000, 2)}) {
        auto none = converter.resampleBuffer(PcmBuffer(format, 16));
        ASSERT_TRUE(none) << format.description() << ": " << none.error().description;
        EXPECT_TRUE(none->empty());
    }
}

TEST(AudioConverter, ABufferAlreadyInTheTargetFormatComesBackBitForBit) {
    platform::FakeAudioMedia media;
    const AudioConverter converter(AudioConverter::defaultTargetFormat(), false, media);
    PcmBuffer b(AudioConverter::defaultTargetFormat(), 5);
    const float values[] = {-0.0f, 1e-42f, 3.5f, -1.25f, std::numeric_limits<float>::quiet_NaN()};
    std::memcpy(b.floatChannel(0), values, sizeof values);
    b.setFrameLength(5);
    auto out = converter.resampleBuffer(b);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 5u);
    EXPECT_EQ(std::memcmp(out->data(), values, sizeof values), 0);
    b.setFrameLength(0);
    EXPECT_TRUE(converter.resampleBuffer(b)->empty());
    EXPECT_TRUE(media.converterRequests().empty()) << "copied, not converted";
}

// Six channels at 44.1 kHz: channel c carries `hz` at amplitude 0.125·(c + 1)
// · `scale` (the average is 0.4375·scale) plus `tone` on every channel.
PcmBuffer sixChannels(std::uint32_t frames, double hz, double scale, double toneHz, double tone) {
    PcmBuffer six(PcmFormat::float32(44100, 6), frames);
    for (std::uint32_t i = 0; i < frames; ++i)
        for (std::uint32_t c = 0; c < 6; ++c)
            six.setSample(c, i,
                          static_cast<float>(0.125 * (c + 1) * scale * std::sin(2 * std::numbers::pi * hz * i / 44100) +
                                             tone * std::sin(2 * std::numbers::pi * toneHz * i / 44100)));
    six.setFrameLength(frames);
    return six;
}

TEST(AudioConverter, ThreeOrMoreChannelsAreAveragedThenResampledWithoutAliasing) {
    platform::ScopedLogCapture capture;
    platform::setRedactPrivate(false);
    platform::FakeAudioMedia media;
    const AudioConverter converter(AudioConverter::defaultTargetFormat(), true, media);
    const std::uint32_t frames = 44100;

    // A full-scale 12 kHz tone lies above the 8 kHz Nyquist frequency of the
    // target: nothing of it may fold back into the band (below −60 dB).
    auto alias = converter.resampleBuffer(sixChannels(frames, 440, 0, 12000, 1.0));
    ASSERT_TRUE(alias) << alias.error().description;
    EXPECT_NEAR(static_cast<double>(alias->size()), frames * 16000.0 / 44100.0, 1.0);
    double loudest = 0;
    for (std::size_t i = 400; i + 400 < alias->size(); ++i) loudest = std::max(loudest, std::abs(double((*alias)[i])));
    EXPECT_LT(loudest, 1e-3);

    // The in-band content is the average of the channels: 0.375 of the
    // 440 Hz tone when the channel amplitudes average to it.
    auto mixed = converter.resampleBuffer(sixChannels(frames, 440, 0.375 / 0.4375, 12000, 0.5));
    ASSERT_TRUE(mixed);
    expectMixedTone(*mixed);
    ASSERT_FALSE(media.converterRequests().empty());
    EXPECT_EQ(media.converterRequests().back().quality, platform::Resampler::Quality::veryHigh);
    EXPECT_EQ(media.converterRequests().back().input, PcmFormat::float32(44100, 1));
    EXPECT_TRUE(capture->contains("Manual resampling: 6 channels → mono, 44100.0Hz → 16000.0Hz"));

    const auto six = sixChannels(4410, 440, 1, 12000, 0.0);
    std::vector<double> mono(4410);
    for (std::uint32_t i = 0; i < 4410; ++i) {
        double sum = 0;
        for (std::uint32_t c = 0; c < 6; ++c) sum += six.floatChannel(c)[i];
        mono[i] = sum / 6;
    }
    // At the target rate only the average is taken, and always mono.
    auto same = converter.convertBuffer(six, PcmFormat::float32(44100, 2));
    ASSERT_TRUE(same);
    ASSERT_EQ(same->size(), 4410u);
    for (std::uint32_t i = 0; i < 4410; i += 101) EXPECT_NEAR((*same)[i], mono[i], 1e-6);

    // The hand path needs one plane of floats per channel.
    PcmBuffer interleaved(PcmFormat::float32(44100, 4, true), 8);
    interleaved.setFrameLength(8);
    auto refused = converter.resampleBuffer(interleaved);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(isAudioConverterError(refused.error(), AudioConverterError::Case::failedToCreateBuffer));
    platform::setRedactPrivate(true);
}

TEST(AudioConverter, SampleArraysAtOtherRates) {
    platform::ScopedLogCapture capture;
    platform::setRedactPrivate(false);
    platform::FakeAudioMedia media;
    const AudioConverter converter(AudioConverter::defaultTargetFormat(), true, media);
    EXPECT_TRUE(converter.resampleToTargetRate({}, 44100)->empty());
    const std::vector<float> same{0.1f, 0.2f, -0.3f};
    EXPECT_EQ(*converter.resampleToTargetRate(same, 16000), same);
    EXPECT_TRUE(media.converterRequests().empty()) << "neither touches a converter";

    std::vector<float> tone(24000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(0.375 * std::sin(2 * std::numbers::pi * 440 * i / 24000.0));
    auto out = converter.resampleToTargetRate(tone, 24000);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), 16000u);
    expectMixedTone(*out);
    EXPECT_TRUE(capture->contains("Audio conversion: 24000 samples → 16000 samples, ratio: 0.6666666666666666"));

    auto at24k = AudioConverter::withSampleRate(24000, false, media);
    EXPECT_EQ(at24k.targetFormat(), PcmFormat::float32(24000, 1));
    EXPECT_EQ(at24k.resample(tone, 24000, 48000)->size(), 48000u);

    for (double bad : {0.0, -16000.0, std::numeric_limits<double>::infinity()}) {
        auto failed = converter.resample(tone, bad, 16000);
        ASSERT_FALSE(failed);
        EXPECT_TRUE(isAudioConverterError(failed.error(), AudioConverterError::Case::failedToCreateSourceFormat));
        EXPECT_FALSE(AudioConverter::withSampleRate(bad, false, media).resampleToTargetRate(tone, 24000));
    }
    platform::setRedactPrivate(true);
}

TEST(AudioConverter, ConverterFailuresBecomeConverterErrors) {
    platform::FakeAudioMedia media;
    const AudioConverter converter(AudioConverter::defaultTargetFormat(), false, media);
    const PcmBuffer input = stereoTone(48000, 40000);  // three blocks
    const platform::Error cause = platform::Error::make("test", 1, "broken", "filter exploded");

    media.failConverterCreation(cause);
    auto noConverter = converter.resampleBuffer(input);
    ASSERT_FALSE(noConverter);
    EXPECT_TRUE(isAudioConverterError(noConverter.error(), AudioConverterError::Case::failedToCreateConverter));
    media.failConverterCreation(std::nullopt);

    media.failConversion(1, cause);  // the second block
    auto midway = converter.resampleBuffer(input);
    ASSERT_FALSE(midway);
    EXPECT_EQ(midway.error().description, "Audio conversion failed: filter exploded");
    ASSERT_TRUE(midway.error().underlying);
    EXPECT_EQ(*midway.error().underlying, cause);

    media.failFlush(cause);
    auto tail = converter.resampleBuffer(input);
    ASSERT_FALSE(tail);
    EXPECT_TRUE(isAudioConverterError(tail.error(), AudioConverterError::Case::conversionFailed));
}

class AudioConverterFiles : public ::testing::Test {
protected:
    void writeFile(const std::string& name, const PcmBuffer& contents, platform::PcmSampleType type) {
        auto writer = platform::AudioFileWriter::create(dir_ / name, platform::AudioFileType::wav,
                                                        contents.format().sampleRate,
                                                        contents.format().channelCount, type);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->write(contents));
        ASSERT_TRUE(writer->close());
    }
    testsupport::TempDir dir_;
};

TEST_F(AudioConverterFiles, FilesAreMixedAndConvertedBlockByBlock) {
    writeFile("stereo.wav", stereoTone(48000, 96000), platform::PcmSampleType::float32);
    const AudioConverter converter;
    auto out = converter.resampleAudioFile(dir_ / "stereo.wav");
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_NEAR(static_cast<double>(out->size()), 32000, 1);
    expectMixedTone(*out);
}

TEST_F(AudioConverterFiles, AFileAtTheTargetRateIsOnlyMixed) {
    PcmBuffer mono(PcmFormat::float32(16000, 1), 20000);
    for (std::uint32_t i = 0; i < 20000; ++i) mono.setSample(0, i, static_cast<float>(i % 200) / 400.0f - 0.25f);
    mono.setFrameLength(20000);
    writeFile("mono.wav", mono, platform::PcmSampleType::float32);
    writeFile("stereo16k.wav", stereoTone(16000, 5000), platform::PcmSampleType::float32);
    writeFile("empty.wav", PcmBuffer(PcmFormat::float32(16000, 1), 1), platform::PcmSampleType::int16);

    platform::FakeAudioMedia media;
    const AudioConverter converter(AudioConverter::defaultTargetFormat(), false, media);
    auto same = converter.resampleAudioFile(dir_ / "mono.wav");
    ASSERT_TRUE(same);
    ASSERT_EQ(same->size(), 20000u);
    EXPECT_EQ(std::memcmp(same->data(), mono.floatChannel(0), 20000 * sizeof(float)), 0);
    EXPECT_TRUE(media.converterRequests().empty());

    auto mixed = converter.resampleAudioFile(dir_ / "stereo16k.wav");
    ASSERT_TRUE(mixed);
    ASSERT_EQ(mixed->size(), 5000u);
    const PcmBuffer tone = stereoTone(16000, 5000);
    for (std::uint32_t i = 0; i < 5000; i += 7) EXPECT_FLOAT_EQ((*mixed)[i], (tone.sample(0, i) + tone.sample(1, i)) / 2);

    auto empty = converter.resampleAudioFile(dir_ / "empty.wav");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST_F(AudioConverterFiles, ReadsAboutOneSecondAtATimeAndPassFileErrorsOn) {
    platform::FakeAudioMedia media;
    media.addFile("/mem/44k.wav", stereoTone(44100, 100000));
    media.addFile("/mem/4k.wav", stereoTone(4000, 9000));
    const AudioConverter converter(AudioConverter::defaultTargetFormat(), false, media);
    auto out = converter.resampleAudioFile("/mem/44k.wav");
    ASSERT_TRUE(out);
    EXPECT_NEAR(static_cast<double>(out->size()), 100000 * 16000.0 / 44100, 1);
    EXPECT_EQ(media.readRequests("/mem/44k.wav"), (std::vector<std::uint32_t>{44100, 44100, 11800}));
    // Never less than 4096 frames per read, even for a slow rate.
    ASSERT_TRUE(converter.resampleAudioFile("/mem/4k.wav"));
    EXPECT_EQ(media.readRequests("/mem/4k.wav"), (std::vector<std::uint32_t>{4096, 4096, 808}));

    const platform::Error readError = platform::Error::make("file", 2, "readFailed", "disk went away");
    media.failRead("/mem/44k.wav", 1, readError);
    auto failed = converter.resampleAudioFile("/mem/44k.wav");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), readError) << "passed on unchanged";

    auto missing = converter.resampleAudioFile(dir_ / "missing.wav");
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is(platform::kFileErrorDomain, static_cast<int>(platform::FileErrorCode::notFound)));
}

}  // namespace
}  // namespace auralith
