#include "Auralith/foundation/AudioSampleSource.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include <fmt/format.h>

#include "Auralith/foundation/AudioConverter.h"
#include "platform/values/Files.h"
#include "platform/values/Number.h"
#include "platform/values/Uuid.h"

namespace auralith {

namespace fs = std::filesystem;
using platform::PcmBuffer;
using platform::PcmFormat;

namespace {

// The shared window copy: up to `count` samples from `offset`, clipped to the source.
void copyWindow(const float* samples, std::int64_t n, float* destination, std::int64_t offset, std::int64_t count) {
    if (count <= 0 || n < 1 || !samples) return;
    offset = std::max<std::int64_t>(offset, 0);
    if (offset >= n) return;
    const std::int64_t k = std::min(count, n - offset);
    std::memcpy(destination, samples + offset, static_cast<std::size_t>(k) * sizeof(float));
}

platform::Error fileError(platform::FileErrorCode code, std::string_view what, const fs::path& path, int err) {
    return platform::fileError(code, what, path, std::string_view(std::strerror(err)));
}

std::unexpected<platform::Error> processingFailed(std::string message) {
    return platform::fail(toError(AudioSourceError{std::move(message)}));
}

// A file descriptor closed when it goes out of scope unless closed before.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    void closeIgnoringErrors() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

platform::Status writeAll(int fd, const fs::path& path, const float* samples, std::size_t count) {
    const auto* bytes = reinterpret_cast<const char*>(samples);
    std::size_t left = count * sizeof(float);
    while (left > 0) {
        const ssize_t n = ::write(fd, bytes, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return platform::fail(fileError(platform::FileErrorCode::writeFailed, "Could not write", path, errno));
        }
        bytes += n;
        left -= static_cast<std::size_t>(n);
    }
    return platform::ok();
}

// Reads the file block by block through the converter and appends the mono
// samples to the descriptor; the number of samples written.
platform::Result<std::int64_t> streamConversion(platform::AudioFileReader& file,
                                                platform::AudioFormatConverter& converter, int fd,
                                                const fs::path& path) {
    constexpr std::uint32_t kBlock = AudioSourceFactory::kBlockFrames;
    PcmBuffer input(file.processingFormat(), kBlock);
    if (input.frameCapacity() == 0) return processingFailed(fmt::format("Failed to allocate input buffer ({} frames)", kBlock));
    const double wanted = std::ceil(converter.outputFormat().sampleRate * kBlock / file.processingFormat().sampleRate);
    const auto outputFrames = static_cast<std::uint32_t>(std::min(wanted, 4294967295.0));
    PcmBuffer output(converter.outputFormat(),
                     std::max({outputFrames, std::uint32_t{1024}, converter.maxOutputFrames(kBlock)}));
    if (output.frameCapacity() == 0)
        return processingFailed(fmt::format("Failed to allocate output buffer ({} frames)", outputFrames));

    std::int64_t written = 0;
    auto writeOut = [&]() -> platform::Status {
        if (output.frameLength() == 0) return platform::ok();
        if (!output.floatChannel(0)) return processingFailed("Missing channel data during conversion");
        if (auto s = writeAll(fd, path, output.floatChannel(0), output.frameLength()); !s) return s;
        written += output.frameLength();
        return platform::ok();
    };
    for (;;) {
        const std::int64_t left = file.length() - file.framePosition();
        input.setFrameLength(0);
        if (left > 0)
            if (auto s = file.read(input, static_cast<std::uint32_t>(std::min<std::int64_t>(left, kBlock))); !s)
                return processingFailed("Failed while reading audio: " + s.error().description);
        output.setFrameLength(0);
        if (input.frameLength() > 0) {
            if (auto s = converter.convert(input, output); !s)
                return processingFailed("Audio conversion failed: " + s.error().description);
            if (auto s = writeOut(); !s) return platform::fail(s.error());
            continue;
        }
        // End of input: drain what the converter still holds.
        if (auto s = converter.flush(output); !s)
            return processingFailed("Audio conversion failed: " + s.error().description);
        if (output.frameLength() == 0) return written;
        if (auto s = writeOut(); !s) return platform::fail(s.error());
    }
}

}  // namespace

void ArrayAudioSampleSource::copySamples(float* destination, std::int64_t offset, std::int64_t count) const {
    copyWindow(samples.data(), sampleCount(), destination, offset, count);
}

platform::Result<std::shared_ptr<const MappedFile>> MappedFile::map(const fs::path& path) {
    Descriptor d{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (d.fd < 0) return platform::fail(fileError(platform::FileErrorCode::readFailed, "Could not map", path, errno));
    struct stat st {};
    if (::fstat(d.fd, &st) != 0)
        return platform::fail(fileError(platform::FileErrorCode::readFailed, "Could not map", path, errno));
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size == 0) return std::shared_ptr<const MappedFile>(new MappedFile(nullptr, 0));
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, d.fd, 0);
    if (p == MAP_FAILED)
        return platform::fail(fileError(platform::FileErrorCode::readFailed, "Could not map", path, errno));
    return std::shared_ptr<const MappedFile>(new MappedFile(static_cast<const std::byte*>(p), size));
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::byte*>(data_), size_);
}

void DiskBackedAudioSampleSource::copySamples(float* destination, std::int64_t offset, std::int64_t n) const {
    const auto* samples = mappedData ? reinterpret_cast<const float*>(mappedData->data()) : nullptr;
    copyWindow(samples, count, destination, offset, n);
}

void DiskBackedAudioSampleSource::cleanup() const {
    std::error_code ec;
    fs::remove(fileURL, ec);
}

platform::Error toError(const AudioSourceError& error) {
    return platform::Error::make(kAudioSourceErrorDomain, 0, "processingFailed", error.description());
}

bool isAudioSourceError(const platform::Error& error) { return error.domain == kAudioSourceErrorDomain; }

platform::Result<AudioSourceFactory::Made> AudioSourceFactory::makeDiskBackedSource(const fs::path& url,
                                                                                   int sampleRate) const {
    const auto started = std::chrono::steady_clock::now();
    fs::path temporary;
    auto attempt = [&]() -> platform::Result<DiskBackedAudioSampleSource> {
        auto file = media->openForReading(url);
        if (!file) return platform::fail(file.error());
        const PcmFormat in = (*file)->processingFormat();
        const PcmFormat out = PcmFormat::float32(sampleRate, 1);

        std::error_code ec;
        fs::path folder = temporaryDirectory ? *temporaryDirectory : fs::temp_directory_path(ec);
        if (ec) folder = "/tmp";
        temporary = folder / ("auralith-streaming-" + platform::Uuid::random().uuidString() + ".raw");
        Descriptor handle{::open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600)};
        if (handle.fd < 0) {
            const std::string where = temporary.string();
            temporary.clear();  // nothing of ours to remove
            return processingFailed("Failed to create temporary audio buffer at " + where);
        }

        auto converter = media->makeConverter(in, out, AudioConverter::kResamplingQuality);
        if (!converter) {
            handle.closeIgnoringErrors();
            return processingFailed("Unsupported audio format " + in.description() + "; failed to create converter");
        }
        logger.debug(fmt::format("Streaming conversion {}Hz×{}ch → {}Hz×{}ch", platform::formatShortest(in.sampleRate),
                                 in.channelCount, platform::formatShortest(out.sampleRate), out.channelCount));

        auto written = streamConversion(**file, **converter, handle.fd, temporary);
        if (!written) {
            logger.error("Streaming conversion failed before file mapping: " + written.error().description);
            handle.closeIgnoringErrors();
            return platform::fail(written.error());
        }
        if (::fsync(handle.fd) != 0)
            return platform::fail(
                fileError(platform::FileErrorCode::writeFailed, "Could not write", temporary, errno));
        const int fd = std::exchange(handle.fd, -1);
        if (::close(fd) != 0)
            return platform::fail(
                fileError(platform::FileErrorCode::writeFailed, "Could not write", temporary, errno));

        const auto size = fs::file_size(temporary, ec);
        if (ec) return platform::fail(fileError(platform::FileErrorCode::readFailed, "Could not read", temporary, ec.value()));
        logger.debug(fmt::format("Streaming audio temp file size={} bytes", size));
        logger.debug(fmt::format("Streaming audio total samples={}", *written));

        auto mapped = MappedFile::map(temporary);
        if (!mapped) return platform::fail(mapped.error());
        DiskBackedAudioSampleSource source;
        source.mappedData = std::move(*mapped);
        source.floatStride = 4;
        source.fileURL = temporary;
        source.count = static_cast<std::int64_t>(source.mappedData->size() / 4);
        if (source.count != *written)
            logger.warning(fmt::format("Mapped sample count mismatch (reported={}, tracked={}); continuing",
                                       source.count, *written));
        return source;
    };

    auto source = attempt();
    if (!source) {
        // The caller gets no handle to a half-made file, so it goes now.
        if (!temporary.empty()) {
            std::error_code ec;
            fs::remove(temporary, ec);
        }
        if (isAudioSourceError(source.error())) return platform::fail(source.error());
        const std::string text = "Streaming audio source creation failed: " + source.error().description;
        logger.error(text);
        return processingFailed(text);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    return Made{std::move(*source), elapsed.count()};
}

}  // namespace auralith
