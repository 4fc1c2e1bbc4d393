#include "Auralith/foundation/AudioSampleSource.h"
#include "Auralith/foundation/AudioConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <regex>

#include "platform/audio/AudioFile.h"
#include "platform/log/CaptureSink.h"
#include "platform/testsupport/TempHome.h"

namespace auralith {
namespace {

namespace fs = std::filesystem;
using platform::PcmBuffer;
using platform::PcmFormat;

std::vector<float> ramp(std::size_t n) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<float>(i);
    return v;
}

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
    return out;
}

TEST(AudioSampleSource, WindowCopiesOfBothSources) {
    testsupport::TempDir dir;
    const std::vector<float> samples = ramp(100);
    {
        std::ofstream raw(dir / "ramp.raw", std::ios::binary);
        raw.write(reinterpret_cast<const char*>(samples.data()), 100 * sizeof(float));
    }
    auto mapped = MappedFile::map(dir / "ramp.raw");
    ASSERT_TRUE(mapped);
    DiskBackedAudioSampleSource disk;
    disk.mappedData = *mapped;
    disk.fileURL = dir / "ramp.raw";
    disk.count = 100;
    const ArrayAudioSampleSource array(samples);

    const struct {
        std::int64_t offset, count;
        int first;   // first sample copied (-1: none)
        int copied;  // how many
    } cases[] = {
        {-5, 10, 0, 10},  // a negative offset counts as 0, the count stays
        {95, 10, 95, 5},  // clipped at the end; the rest of the destination untouched
        {100, 10, -1, 0}, {250, 10, -1, 0}, {0, 0, -1, 0}, {10, -3, -1, 0},
        {0, 100, 0, 100}, {37, 1, 37, 1},
    };
    for (const AudioSampleSource* source : {static_cast<const AudioSampleSource*>(&array),
                                            static_cast<const AudioSampleSource*>(&disk)}) {
        EXPECT_EQ(source->sampleCount(), 100);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.offset << "+" << c.count);
            std::vector<float> destination(110, -1.0f);
            source->copySamples(destination.data(), c.offset, c.count);
            for (int i = 0; i < 110; ++i)
                ASSERT_EQ(destination[i], i < c.copied ? static_cast<float>(c.first + i) : -1.0f) << i;
        }
    }
    std::vector<float> destination(4, -1.0f);
    ArrayAudioSampleSource().copySamples(destination.data(), 0, 4);
    DiskBackedAudioSampleSource().copySamples(destination.data(), 0, 4);
    EXPECT_EQ(destination, std::vector<float>(4, -1.0f));
}

class AudioSourceFactoryTest : public ::testing::Test {
protected:
    AudioSourceFactoryTest() {
        platform::setRedactPrivate(false);
        factory_.temporaryDirectory = temporary_.path();
        factory_.media = &media_;
    }
    ~AudioSourceFactoryTest() override { platform::setRedactPrivate(true); }

    static PcmBuffer stereoTone(double rate, std::uint32_t frames) {
        PcmBuffer b(PcmFormat::float32(rate, 2), frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            const float v = static_cast<float>(std::sin(2 * std::numbers::pi * 440 * i / rate));
            b.setSample(0, i, 0.5f * v);
            b.setSample(1, i, 0.25f * v);
        }
        b.setFrameLength(frames);
        return b;
    }

    platform::ScopedLogCapture capture_;
    testsupport::TempDir files_;
    testsupport::TempDir temporary_;
    platform::FakeAudioMedia media_;
    AudioSourceFactory factory_;
};

TEST_F(AudioSourceFactoryTest, AStereoFileIsStreamedIntoAMappedTemporaryFile) {
    const std::uint32_t frames = 44100 * 3 + 123;  // several blocks and a short last one
    {
        auto writer = platform::AudioFileWriter::create(files_ / "talk.wav", platform::AudioFileType::wav, 44100, 2,
                                                        platform::PcmSampleType::float32);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->write(stereoTone(44100, frames)));
    }
    auto made = factory_.makeDiskBackedSource(files_ / "talk.wav", 16000);
    ASSERT_TRUE(made) << made.error().description;
    const DiskBackedAudioSampleSource& source = made->source;
    EXPECT_GE(made->elapsed, 0.0);
    EXPECT_NEAR(static_cast<double>(source.sampleCount()), frames * 16000.0 / 44100, 2);
    EXPECT_EQ(source.floatStride, 4);
    EXPECT_EQ(fs::file_size(source.fileURL), static_cast<std::uintmax_t>(4 * source.sampleCount()));
    EXPECT_EQ(source.fileURL.parent_path(), temporary_.path());
    EXPECT_TRUE(std::regex_match(source.fileURL.filename().string(),
                                 std::regex("auralith-streaming-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                                            "[0-9A-F]{12}\\.raw")))
        << source.fileURL;

    // The mono mix of the tone (0.375 of it) at 16 kHz, read through windows.
    std::vector<float> window(1000);
    double worst = 0;
    for (std::int64_t at = 1000; at + 2000 < source.sampleCount(); at += 1000) {
        source.copySamples(window.data(), at, 1000);
        for (int i = 0; i < 1000; ++i)
            worst = std::max(worst, std::abs(window[i] - 0.375 * std::sin(2 * std::numbers::pi * 440 * (at + i) / 16000.0)));
    }
    EXPECT_LT(worst, 2e-3);

    EXPECT_TRUE(capture_->contains("Streaming conversion 44100.0Hz×2ch → 16000.0Hz×1ch", platform::LogLevel::debug));
    EXPECT_TRUE(capture_->contains(fmt::format("Streaming audio total samples={}", source.sampleCount())));
    EXPECT_TRUE(capture_->contains(fmt::format("Streaming audio temp file size={} bytes", 4 * source.sampleCount())));
    EXPECT_FALSE(capture_->contains("Mapped sample count mismatch"));
    ASSERT_FALSE(media_.converterRequests().empty());
    EXPECT_EQ(media_.converterRequests()[0].output, PcmFormat::float32(16000, 1));

    // The converter's file path gives the same samples: both recognition
    // entry points resample at one quality.
    EXPECT_EQ(media_.converterRequests()[0].quality, AudioConverter::kResamplingQuality);
    auto converted = AudioConverter(AudioConverter::defaultTargetFormat(), false, media_)
                         .resampleAudioFile(files_ / "talk.wav");
    ASSERT_TRUE(converted);
    ASSERT_EQ(static_cast<std::int64_t>(converted->size()), source.sampleCount());
    std::vector<float> all(converted->size());
    source.copySamples(all.data(), 0, source.sampleCount());
    double apart = 0;
    for (std::size_t i = 0; i < all.size(); ++i) apart = std::max(apart, double(std::abs(all[i] - (*converted)[i])));
    EXPECT_LT(apart, 1e-6);

    // A copy shares the mapping; cleanup removes the file and the mapping stays readable.
    const DiskBackedAudioSampleSource copy = source;
    EXPECT_EQ(copy.mappedData.get(), source.mappedData.get());
    source.cleanup();
    EXPECT_FALSE(fs::exists(source.fileURL));
    float one = 0;
    copy.copySamples(&one, 1000, 1);
    EXPECT_NEAR(one, 0.375 * std::sin(2 * std::numbers::pi * 440 * 1000 / 16000.0), 2e-3);
    source.cleanup();  // a second removal is ignored
}

TEST_F(AudioSourceFactoryTest, AnEmptyFileGivesAnEmptySource) {
    media_.addFile("/mem/empty.wav", PcmBuffer(PcmFormat::float32(16000, 1), 1));
    auto made = factory_.makeDiskBackedSource("/mem/empty.wav", 16000);
    ASSERT_TRUE(made) << made.error().description;
    EXPECT_EQ(made->source.sampleCount(), 0);
    made->source.cleanup();
    EXPECT_TRUE(filesIn(temporary_.path()).empty());
}

TEST_F(AudioSourceFactoryTest, FailuresAreProcessingErrorsAndLeaveNoTemporaryFile) {
    media_.addFile("/mem/long.wav", stereoTone(44100, 50000));  // four blocks
    const platform::Error cause = platform::Error::make("test", 1, "io", "disk went away");

    auto missing = factory_.makeDiskBackedSource(files_ / "missing.wav", 16000);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(isAudioSourceError(missing.error()));
    EXPECT_EQ(missing.error().description.rfind("Processing failed: Streaming audio source creation failed: Could not "
                                                "open audio file",
                                                0),
              0u)
        << missing.error().description;
    EXPECT_TRUE(capture_->contains("Streaming audio source creation failed: ", platform::LogLevel::error));

    media_.failConverterCreation(cause);
    auto unsupported = factory_.makeDiskBackedSource("/mem/long.wav", 16000);
    ASSERT_FALSE(unsupported);
    EXPECT_EQ(unsupported.error().description,
              "Processing failed: Unsupported audio format 44100 Hz, 2 ch, Float32, deinterleaved; failed to create "
              "converter");
    media_.failConverterCreation(std::nullopt);
    EXPECT_TRUE(filesIn(temporary_.path()).empty());

    media_.failRead("/mem/long.wav", 1, cause);
    auto unreadable = factory_.makeDiskBackedSource("/mem/long.wav", 16000);
    ASSERT_FALSE(unreadable);
    EXPECT_EQ(unreadable.error().description, "Processing failed: Failed while reading audio: disk went away");
    EXPECT_TRUE(capture_->contains("Streaming conversion failed before file mapping: Processing failed: Failed while "
                                   "reading audio: disk went away",
                                   platform::LogLevel::error));
    EXPECT_TRUE(filesIn(temporary_.path()).empty()) << "the half-written file is removed";

    media_.addFile("/mem/other.wav", stereoTone(44100, 50000));
    media_.failConversion(2, cause);
    auto broken = factory_.makeDiskBackedSource("/mem/other.wav", 16000);
    ASSERT_FALSE(broken);
    EXPECT_EQ(broken.error().description, "Processing failed: Audio conversion failed: disk went away");
    EXPECT_TRUE(filesIn(temporary_.path()).empty());

    media_.addFile("/mem/third.wav", stereoTone(44100, 100));
    media_.failFlush(cause);
    auto tail = factory_.makeDiskBackedSource("/mem/third.wav", 16000);
    ASSERT_FALSE(tail);
    EXPECT_EQ(tail.error().description, "Processing failed: Audio conversion failed: disk went away");
    media_.failFlush(std::nullopt);
    EXPECT_TRUE(filesIn(temporary_.path()).empty());

    factory_.temporaryDirectory = temporary_ / "no" / "such" / "folder";
    auto nowhere = factory_.makeDiskBackedSource("/mem/third.wav", 16000);
    ASSERT_FALSE(nowhere);
    EXPECT_EQ(nowhere.error().description.rfind("Processing failed: Failed to create temporary audio buffer at " +
                                                    (temporary_ / "no" / "such" / "folder").string() +
                                                    "/auralith-streaming-",
                                                0),
              0u)
        << nowhere.error().description;
}

}  // namespace
}  // namespace auralith
