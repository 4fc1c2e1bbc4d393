#include "platform/audio/AudioFile.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "platform/values/Files.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

PcmSampleType storedSampleType(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16: return PcmSampleType::int16;
        default: return PcmSampleType::float32;
    }
}

class SndfileReader final : public AudioFileReader {
public:
    SndfileReader(SndfilePtr file, fs::path path, const SF_INFO& info)
        : file_(std::move(file)),
          path_(std::move(path)),
          length_(info.frames),
          fileFormat_{static_cast<double>(info.samplerate), static_cast<std::uint32_t>(info.channels),
                      storedSampleType(info.format), true},
          processingFormat_(PcmFormat::float32(info.samplerate, static_cast<std::uint32_t>(info.channels))) {}

    const PcmFormat& fileFormat() const override { return fileFormat_; }
    const PcmFormat& processingFormat() const override { return processingFormat_; }
    std::int64_t length() const override { return length_; }
    std::int64_t framePosition() const override { return position_; }

    Status read(PcmBuffer& buffer, std::uint32_t frames) override {
        if (buffer.format() != processingFormat_)
            return fail(fileError(FileErrorCode::readFailed, "Could not read", path_,
                                       "buffer format " + buffer.format().description()));
        const std::uint32_t want = std::min(frames, buffer.frameCapacity());
        const std::uint32_t channels = processingFormat_.channelCount;
        if (want == 0) {
            buffer.setFrameLength(0);
            return ok();
        }
        sf_count_t got = 0;
        if (channels == 1) {
            got = sf_readf_float(file_.get(), buffer.floatChannel(0), want);
        } else {
            // libsndfile reads interleaved frames; spread them over the planes.
            interleaved_.resize(static_cast<std::size_t>(want) * channels);
            got = sf_readf_float(file_.get(), interleaved_.data(), want);
            for (std::uint32_t c = 0; c < channels; ++c) {
                float* dst = buffer.floatChannel(c);
                const float* src = interleaved_.data() + c;
                for (sf_count_t i = 0; i < got; ++i) dst[i] = src[static_cast<std::size_t>(i) * channels];
            }
        }
        if (got < 0 || (got < static_cast<sf_count_t>(want) && sf_error(file_.get()) != SF_ERR_NO_ERROR)) {
            buffer.setFrameLength(0);
            return fail(fileError(FileErrorCode::readFailed, "Could not read", path_, sf_strerror(file_.get())));
        }
        position_ += got;
        buffer.setFrameLength(static_cast<std::uint32_t>(got));
        return ok();
    }

private:
    SndfilePtr file_;
    fs::path path_;
    std::int64_t length_;
    std::int64_t position_ = 0;
    PcmFormat fileFormat_;
    PcmFormat processingFormat_;
    std::vector<float> interleaved_;
};

int sndfileFormatOf(AudioFileType type, PcmSampleType sampleType) {
    const int pcm = sampleType == PcmSampleType::float32 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
    switch (type) {
        case AudioFileType::wav: return SF_FORMAT_WAV | pcm;
        case AudioFileType::caf: return SF_FORMAT_CAF | pcm;
        case AudioFileType::flac: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case AudioFileType::ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case AudioFileType::mp3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    }
    return SF_FORMAT_WAV | pcm;
}

}  // namespace

Result<std::unique_ptr<AudioFileReader>> openAudioFileForReading(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec))
        return fail(fileError(FileErrorCode::notFound, "Could not open audio file", path,
                                   std::strerror(ENOENT)));
    SF_INFO info{};
    SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file)
        return fail(fileError(FileErrorCode::readFailed, "Could not open audio file", path, sf_strerror(nullptr)));
    if (info.channels <= 0 || info.samplerate <= 0)
        return fail(fileError(FileErrorCode::readFailed, "Could not open audio file", path, "no audio"));
    return std::unique_ptr<AudioFileReader>(new SndfileReader(std::move(file), path, info));
}

struct AudioFileWriter::Impl {
    // About 1.5 s of 22,050 Hz mono.
    static constexpr std::size_t kStagedSamples = 32768;

    SndfilePtr file;
    fs::path path;
    double sampleRate = 0;
    std::uint32_t channels = 0;
    std::vector<float> interleaved;
    std::vector<std::int16_t> staged;  // 16-bit frames not yet handed to libsndfile

    // A write that took fewer frames than it was given failed.
    Status checked(sf_count_t written, std::uint32_t frames) {
        if (written != static_cast<sf_count_t>(frames))
            return fail(fileError(FileErrorCode::writeFailed, "Could not write", path, sf_strerror(file.get())));
        return ok();
    }
    Status writeShorts(const std::int16_t* samples, std::uint32_t frames) {
        return checked(sf_writef_short(file.get(), samples, frames), frames);
    }
    Status flushStaged() {
        if (staged.empty()) return ok();
        const auto frames = static_cast<std::uint32_t>(staged.size() / channels);
        auto written = writeShorts(staged.data(), frames);
        staged.clear();
        return written;
    }
};

AudioFileWriter::AudioFileWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AudioFileWriter::AudioFileWriter(AudioFileWriter&&) noexcept = default;
AudioFileWriter& AudioFileWriter::operator=(AudioFileWriter&&) noexcept = default;
AudioFileWriter::~AudioFileWriter() {
    if (impl_) (void)close();
}

Result<AudioFileWriter> AudioFileWriter::create(const fs::path& path, AudioFileType type, double sampleRate,
                                                std::uint32_t channels, PcmSampleType sampleType) {
    if (!(sampleRate >= 1) || sampleRate > 0x7fffffff || channels == 0 || channels > 0xffff)
        return fail(fileError(FileErrorCode::writeFailed, "Could not create audio file", path,
                                   fmt::format("{} Hz, {} channels", sampleRate, channels)));
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = static_cast<int>(channels);
    info.format = sndfileFormatOf(type, sampleType);
    SndfilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file)
        return fail(fileError(FileErrorCode::writeFailed, "Could not create audio file", path,
                                   sf_strerror(nullptr)));
    auto impl = std::make_unique<Impl>();
    impl->file = std::move(file);
    impl->path = path;
    impl->sampleRate = info.samplerate;
    impl->channels = channels;
    impl->staged.reserve(Impl::kStagedSamples);
    return AudioFileWriter(std::move(impl));
}

Status AudioFileWriter::write(const PcmBuffer& buffer) {
    if (!impl_ || !impl_->file)
        return fail(fileError(FileErrorCode::writeFailed, "Could not write", impl_ ? impl_->path : fs::path(),
                                   "the file is closed"));
    const PcmFormat& f = buffer.format();
    if (f.sampleRate != impl_->sampleRate || f.channelCount != impl_->channels)
        return fail(fileError(FileErrorCode::writeFailed, "Could not write", impl_->path,
                                   "buffer format " + f.description()));
    const std::uint32_t frames = buffer.frameLength();
    const std::uint32_t channels = impl_->channels;
    if (f.sampleType == PcmSampleType::int16 && (f.interleaved || channels == 1)) {
        // 16-bit frames already lie together: stored as they are, without a
        // round trip through float. Small buffers (a synthesiser's 50 ms) are
        // gathered so that the file gets few large writes.
        const std::int16_t* samples = buffer.int16Channel(0);
        const std::size_t count = static_cast<std::size_t>(frames) * channels;
        if (impl_->staged.size() + count > Impl::kStagedSamples)
            if (auto flushed = impl_->flushStaged(); !flushed) return flushed;
        if (count >= Impl::kStagedSamples) return impl_->writeShorts(samples, frames);
        impl_->staged.insert(impl_->staged.end(), samples, samples + count);
        return ok();
    }
    if (auto flushed = impl_->flushStaged(); !flushed) return flushed;
    impl_->interleaved.resize(static_cast<std::size_t>(frames) * channels);
    for (std::uint32_t i = 0; i < frames; ++i)
        for (std::uint32_t c = 0; c < channels; ++c)
            impl_->interleaved[static_cast<std::size_t>(i) * channels + c] = buffer.sample(c, i);
    return impl_->checked(sf_writef_float(impl_->file.get(), impl_->interleaved.data(), frames), frames);
}

Status AudioFileWriter::writeInt16LittleEndian(std::span<const std::uint8_t> bytes) {
    if (!impl_ || !impl_->file)
        return fail(fileError(FileErrorCode::writeFailed, "Could not write", impl_ ? impl_->path : fs::path(),
                                   "the file is closed"));
    if (auto flushed = impl_->flushStaged(); !flushed) return flushed;
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(impl_->channels);
    const auto frames = static_cast<sf_count_t>(bytes.size() / frameBytes);
    if (frames == 0) return ok();
    auto checked = [&](sf_count_t written, sf_count_t wanted) -> Status {
        if (written != wanted)
            return fail(fileError(FileErrorCode::writeFailed, "Could not write", impl_->path,
                                  sf_strerror(impl_->file.get())));
        return ok();
    };
    const bool aligned = reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(std::int16_t) == 0;
    if constexpr (std::endian::native == std::endian::little) {
        // The bytes already are the samples libsndfile takes.
        if (aligned)
            return checked(sf_writef_short(impl_->file.get(), reinterpret_cast<const short*>(bytes.data()), frames),
                           frames);
    }
    // Otherwise through a bounded staging buffer, a block of frames at a time.
    const sf_count_t blockFrames = static_cast<sf_count_t>(Impl::kStagedSamples / impl_->channels);
    std::vector<short> block;
    for (sf_count_t done = 0; done < frames;) {
        const sf_count_t n = std::min(blockFrames, frames - done);
        block.resize(static_cast<std::size_t>(n) * impl_->channels);
        const std::uint8_t* from = bytes.data() + static_cast<std::size_t>(done) * frameBytes;
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<short>(static_cast<std::uint16_t>(from[2 * i] | (from[2 * i + 1] << 8)));
        if (auto w = checked(sf_writef_short(impl_->file.get(), block.data(), n), n); !w) return w;
        done += n;
    }
    return ok();
}

Status AudioFileWriter::close() {
    if (!impl_ || !impl_->file) return ok();
    auto flushed = impl_->flushStaged();
    SNDFILE* f = impl_->file.release();
    if (const int err = sf_close(f); err != 0)
        return fail(fileError(FileErrorCode::writeFailed, "Could not finish", impl_->path, sf_error_number(err)));
    return flushed;
}

}  // namespace platform
