#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>

#include "platform/audio/AudioFile.h"
#include "platform/audio/AudioMedia.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

using namespace platform;

namespace {

PcmBuffer stereoTone(double rate, std::uint32_t frames) {
    PcmBuffer b(PcmFormat::float32(rate, 2), frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float v = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * i / rate));
        b.setSample(0, i, v);
        b.setSample(1, i, -0.25f * v);
    }
    b.setFrameLength(frames);
    return b;
}

Result<PcmBuffer> readAll(AudioFileReader& reader) {
    PcmBuffer all(reader.processingFormat(), static_cast<std::uint32_t>(reader.length()) + 1);
    PcmBuffer block(reader.processingFormat(), 1000);
    std::uint32_t at = 0;
    for (;;) {
        if (auto s = reader.read(block, 1000); !s) return fail(s.error());
        if (block.empty()) break;
        for (std::uint32_t c = 0; c < block.format().channelCount; ++c)
            std::copy_n(block.floatChannel(c), block.frameLength(), all.floatChannel(c) + at);
        at += block.frameLength();
        if (at > reader.length()) break;
    }
    all.setFrameLength(at);
    return all;
}

double rms(const float* s, std::uint32_t n) {
    double sum = 0;
    for (std::uint32_t i = 0; i < n; ++i) sum += double(s[i]) * s[i];
    return n ? std::sqrt(sum / n) : 0;
}

TEST(AudioFile, EveryTypeWritesAndReadsBackAsPlanarFloat) {
    testsupport::TempDir dir;
    const PcmBuffer tone = stereoTone(44100, 22050);
    const struct {
        AudioFileType type;
        const char* name;
        PcmSampleType sampleType;
        PcmSampleType stored;
        double tolerance;  // per sample; lossy codecs are checked by level only
        bool exactLength;
    } cases[] = {
        {AudioFileType::wav, "a.wav", PcmSampleType::int16, PcmSampleType::int16, 1.0 / 32768, true},
        {AudioFileType::wav, "f.wav", PcmSampleType::float32, PcmSampleType::float32, 0, true},
        {AudioFileType::caf, "a.caf", PcmSampleType::float32, PcmSampleType::float32, 0, true},
        {AudioFileType::flac, "a.flac", PcmSampleType::int16, PcmSampleType::int16, 1.0 / 32768, true},
        {AudioFileType::ogg, "a.ogg", PcmSampleType::int16, PcmSampleType::float32, -1, true},
        {AudioFileType::mp3, "a.mp3", PcmSampleType::int16, PcmSampleType::float32, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            auto writer = AudioFileWriter::create(dir / c.name, c.type, 44100, 2, c.sampleType);
            ASSERT_TRUE(writer) << writer.error().description;
            ASSERT_TRUE(writer->write(tone));
            ASSERT_TRUE(writer->close());
        }
        auto reader = openAudioFileForReading(dir / c.name);
        ASSERT_TRUE(reader) << reader.error().description;
        EXPECT_EQ((*reader)->processingFormat(), PcmFormat::float32(44100, 2));
        EXPECT_EQ((*reader)->fileFormat().sampleType, c.stored);
        if (c.exactLength) EXPECT_EQ((*reader)->length(), 22050);
        else EXPECT_NEAR(static_cast<double>((*reader)->length()), 22050, 2400);
        auto all = readAll(**reader);
        ASSERT_TRUE(all) << all.error().description;
        EXPECT_EQ(all->frameLength(), (*reader)->length());
        EXPECT_EQ((*reader)->framePosition(), (*reader)->length());
        if (c.tolerance >= 0) {
            for (std::uint32_t ch = 0; ch < 2; ++ch)
                for (std::uint32_t i = 0; i < tone.frameLength(); i += 97)
                    ASSERT_NEAR(all->floatChannel(ch)[i], tone.sample(ch, i), c.tolerance) << ch << "/" << i;
        } else {
            // A lossy codec keeps the level of each channel.
            EXPECT_NEAR(rms(all->floatChannel(0), all->frameLength()), 0.5 / std::sqrt(2.0), 0.05);
            EXPECT_NEAR(rms(all->floatChannel(1), all->frameLength()), 0.125 / std::sqrt(2.0), 0.02);
        }
    }
}

TEST(AudioFile, SixteenBitBuffersAreStoredExactlyAsDelivered) {
    testsupport::TempDir dir;
    // Full-scale values included: a trip through float would scale them.
    const std::int16_t values[] = {0, 1, -1, 12345, -12345, 32767, -32768, 7};
    for (const std::uint32_t channels : {1u, 2u}) {
        SCOPED_TRACE(channels);
        PcmBuffer b(PcmFormat::int16(22050, channels), 8);
        for (std::uint32_t i = 0; i < 8; ++i)
            for (std::uint32_t c = 0; c < channels; ++c)
                b.int16Channel(0)[i * channels + c] = static_cast<std::int16_t>(c ? -values[i] / 2 : values[i]);
        b.setFrameLength(8);
        const auto path = dir / ("s" + std::to_string(channels) + ".caf");
        {
            auto writer = AudioFileWriter::create(path, AudioFileType::caf, 22050, channels);
            ASSERT_TRUE(writer);
            ASSERT_TRUE(writer->write(b));
            ASSERT_TRUE(writer->write(b));
        }
        auto reader = openAudioFileForReading(path);
        ASSERT_TRUE(reader);
        EXPECT_EQ((*reader)->fileFormat(), PcmFormat::int16(22050, channels));
        auto all = readAll(**reader);
        ASSERT_TRUE(all);
        ASSERT_EQ(all->frameLength(), 16u);
        for (std::uint32_t i = 0; i < 16; ++i)
            for (std::uint32_t c = 0; c < channels; ++c)
                EXPECT_EQ(std::lround(all->floatChannel(c)[i] * 32768.0), b.int16Channel(0)[(i % 8) * channels + c])
                    << i << "/" << c;
    }
}

// Small 16-bit buffers are gathered before they reach the file; what comes
// out keeps the order of the writes, whatever their kind and size.
TEST(AudioFile, MixedWritesKeepTheirOrder) {
    testsupport::TempDir dir;
    auto int16Run = [](std::uint32_t frames, std::int16_t first) {
        PcmBuffer b(PcmFormat::int16(16000, 1), frames);
        for (std::uint32_t i = 0; i < frames; ++i) b.int16Channel(0)[i] = static_cast<std::int16_t>(first + i % 1000);
        b.setFrameLength(frames);
        return b;
    };
    PcmBuffer floats(PcmFormat::float32(16000, 1), 3);
    for (std::uint32_t i = 0; i < 3; ++i) floats.setSample(0, i, -0.5f);
    floats.setFrameLength(3);
    const std::vector<PcmBuffer> writes = {int16Run(10, 100), floats, int16Run(50000, 2000), int16Run(5, 7000),
                                           int16Run(30000, -3000), int16Run(4, 9000)};
    std::vector<std::int32_t> expected;  // in 1/32768 units
    {
        auto writer = AudioFileWriter::create(dir / "mixed.caf", AudioFileType::caf, 16000, 1);
        ASSERT_TRUE(writer);
        for (const auto& w : writes) {
            ASSERT_TRUE(writer->write(w));
            for (std::uint32_t i = 0; i < w.frameLength(); ++i) expected.push_back(std::lround(w.sample(0, i) * 32768.0));
        }
        ASSERT_TRUE(writer->close());
    }
    auto reader = openAudioFileForReading(dir / "mixed.caf");
    ASSERT_TRUE(reader);
    auto all = readAll(**reader);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->frameLength(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(std::lround(all->floatChannel(0)[i] * 32768.0), expected[i]) << i;
}

// Little-endian bytes go in as they are, after buffers staged before them,
// from an aligned or an odd address; a partial last frame is left out.
TEST(AudioFile, LittleEndianBytesAreWrittenAsSamples) {
    testsupport::TempDir dir;
    const std::int16_t values[] = {1, -2, 300, -32768, 32767, 4660, -1, 0, 12345, -12345};
    std::vector<std::uint8_t> storage(1 + 2 * std::size(values) + 3);
    for (std::size_t offset : {0u, 1u}) {
        for (std::size_t i = 0; i < std::size(values); ++i) {
            const auto u = static_cast<std::uint16_t>(values[i]);
            storage[offset + 2 * i] = static_cast<std::uint8_t>(u & 0xff);
            storage[offset + 2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
        }
        PcmBuffer first(PcmFormat::int16(8000, 2), 1);
        first.int16Channel(0)[0] = 11;
        first.int16Channel(0)[1] = 22;
        first.setFrameLength(1);
        const auto path = dir / ("le" + std::to_string(offset) + ".caf");
        {
            auto writer = AudioFileWriter::create(path, AudioFileType::caf, 8000, 2);
            ASSERT_TRUE(writer);
            ASSERT_TRUE(writer->write(first));
            // Ten samples and three bytes more: five stereo frames, the rest dropped.
            ASSERT_TRUE(writer->writeInt16LittleEndian(std::span(storage).subspan(offset, 2 * std::size(values) + 3)));
            ASSERT_TRUE(writer->close());
        }
        auto reader = openAudioFileForReading(path);
        ASSERT_TRUE(reader);
        auto all = readAll(**reader);
        ASSERT_TRUE(all);
        ASSERT_EQ(all->frameLength(), 6u) << offset;
        std::vector<long> got;
        for (std::uint32_t f = 0; f < 6; ++f)
            for (std::uint32_t c = 0; c < 2; ++c) got.push_back(std::lround(all->sample(c, f) * 32768.0));
        std::vector<long> expected = {11, 22};
        for (std::int16_t v : values) expected.push_back(v);
        EXPECT_EQ(got, expected) << offset;
    }
}

TEST(AudioFile, OpeningFailuresAreFileErrors) {
    testsupport::TempDir dir;
    auto missing = openAudioFileForReading(dir / "none.wav");
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is(kFileErrorDomain, static_cast<int>(FileErrorCode::notFound)));
    EXPECT_NE(missing.error().description.find("none.wav"), std::string::npos);

    std::ofstream(dir / "text.wav") << "this is not audio at all";
    auto garbage = openAudioFileForReading(dir / "text.wav");
    ASSERT_FALSE(garbage);
    EXPECT_TRUE(garbage.error().is(kFileErrorDomain, static_cast<int>(FileErrorCode::readFailed)));

    auto unwritable = AudioFileWriter::create(dir / "no" / "such" / "folder.wav", AudioFileType::wav, 16000, 1);
    ASSERT_FALSE(unwritable);
    EXPECT_TRUE(unwritable.error().is(kFileErrorDomain, static_cast<int>(FileErrorCode::writeFailed)));

    auto writer = AudioFileWriter::create(dir / "mono.wav", AudioFileType::wav, 16000, 1);
    ASSERT_TRUE(writer);
    EXPECT_FALSE(writer->write(stereoTone(16000, 10))) << "a buffer of another shape is refused";
}

TEST(FakeAudioMedia, ReadsMemoryFilesAndFailsOnCue) {
    FakeAudioMedia media;
    PcmBuffer contents(PcmFormat::int16(8000, 2), 5);
    for (std::uint32_t i = 0; i < 5; ++i) {
        contents.setSample(0, i, static_cast<float>(i) / 8);
        contents.setSample(1, i, -static_cast<float>(i) / 8);
    }
    contents.setFrameLength(5);
    media.addFile("/mem/a.wav", contents);
    const Error readError = Error::make("test", 1, "io", "disk gone");
    media.failRead("/mem/a.wav", 1, readError);

    auto reader = media.openForReading("/mem/a.wav");
    ASSERT_TRUE(reader);
    EXPECT_EQ((*reader)->fileFormat(), PcmFormat::int16(8000, 2));
    EXPECT_EQ((*reader)->processingFormat(), PcmFormat::float32(8000, 2));
    PcmBuffer block((*reader)->processingFormat(), 4);
    ASSERT_TRUE((*reader)->read(block, 3));
    ASSERT_EQ(block.frameLength(), 3u);
    EXPECT_EQ(block.floatChannel(1)[2], -0.25f);
    auto second = (*reader)->read(block, 3);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error(), readError);
    ASSERT_TRUE((*reader)->read(block, 3));
    EXPECT_EQ(block.frameLength(), 2u);
    EXPECT_EQ(media.readRequests("/mem/a.wav"), (std::vector<std::uint32_t>{3, 3, 3}));

    media.failOpen("/mem/b.wav", readError);
    EXPECT_FALSE(media.openForReading("/mem/b.wav"));
    EXPECT_FALSE(media.openForReading("/mem/unknown.wav")) << "other paths go to the real files";

    const Error convError = Error::make("test", 2, "conv", "converter broke");
    media.failConversion(1, convError);
    auto conv = media.makeConverter(PcmFormat::float32(8000, 2), PcmFormat::float32(16000, 1),
                                    Resampler::Quality::veryHigh);
    ASSERT_TRUE(conv);
    PcmBuffer out(PcmFormat::float32(16000, 1), (*conv)->maxOutputFrames(4) * 3);
    EXPECT_TRUE((*conv)->convert(block, out));
    EXPECT_EQ((*conv)->convert(block, out).error(), convError);
    EXPECT_TRUE((*conv)->convert(block, out));
    media.failFlush(convError);
    EXPECT_FALSE((*conv)->flush(out));
    media.failConverterCreation(convError);
    EXPECT_FALSE(media.makeConverter(PcmFormat::float32(8000, 1), PcmFormat::float32(8000, 1),
                                     Resampler::Quality::high));
    ASSERT_EQ(media.converterRequests().size(), 2u);
    EXPECT_EQ(media.converterRequests()[0].quality, Resampler::Quality::veryHigh);
}

}  // namespace
