#pragma once

// Audio files on libsndfile: WAV, CAF, FLAC, Ogg Vorbis and MP3. Reading
// always hands out planar 32-bit float (integer files scaled to [-1, 1)),
// whatever the file stores. Open, read and write failures are file errors
// (platform/values/Files.h: notFound, readFailed, writeFailed) carrying
// libsndfile's message.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "platform/audio/PcmBuffer.h"
#include "platform/runtime/Error.h"

namespace platform {

// One audio file open for reading, read from the start to the end.
class AudioFileReader {
public:
    virtual ~AudioFileReader() = default;

    // How the file stores its samples (rate, channels, integer or float, interleaved).
    virtual const PcmFormat& fileFormat() const = 0;
    // The format reads come in: planar float32 at the file's rate and channel count.
    virtual const PcmFormat& processingFormat() const = 0;
    // Frames in the file.
    virtual std::int64_t length() const = 0;
    // The next frame a read returns.
    virtual std::int64_t framePosition() const = 0;

    // Reads up to `frames` frames (at most the buffer's capacity) into `buffer`,
    // which must be in processingFormat(), and sets its frame length to the
    // frames read: 0 at the end of the file.
    virtual Status read(PcmBuffer& buffer, std::uint32_t frames) = 0;
};

// The libsndfile reader. A missing file is notFound; a file libsndfile cannot
// take is readFailed.
Result<std::unique_ptr<AudioFileReader>> openAudioFileForReading(const std::filesystem::path& path);

enum class AudioFileType { wav, caf, flac, ogg, mp3 };

// A new audio file written from PCM buffers. WAV and CAF store the sample type
// asked for; FLAC stores 16-bit integers, Ogg Vorbis and MP3 their codec.
class AudioFileWriter {
public:
    static Result<AudioFileWriter> create(const std::filesystem::path& path, AudioFileType type, double sampleRate,
                                          std::uint32_t channels, PcmSampleType sampleType = PcmSampleType::int16);

    AudioFileWriter(AudioFileWriter&&) noexcept;
    AudioFileWriter& operator=(AudioFileWriter&&) noexcept;
    ~AudioFileWriter();

    // Appends the buffer's frames; it must have the file's rate and channel
    // count (any sample type and layout).
    Status write(const PcmBuffer& buffer);
    // Appends interleaved 16-bit little-endian samples straight from memory,
    // in one write and without a staging copy on a little-endian machine:
    // bytes.size() / (2 × channels) frames; trailing bytes of a partial
    // frame are ignored.
    Status writeInt16LittleEndian(std::span<const std::uint8_t> bytes);
    // Finishes the file (headers, codec tail). Called by the destructor too,
    // which cannot report a failure.
    Status close();

private:
    struct Impl;
    explicit AudioFileWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
