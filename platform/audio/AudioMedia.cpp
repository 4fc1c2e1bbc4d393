#include "platform/audio/AudioMedia.h"

#include <algorithm>
#include <utility>

#include "platform/audio/PcmConverter.h"
#include "platform/values/Files.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

// Input frames one internal pass of the wrapped converter takes.
constexpr std::uint32_t kConverterChunk = 16384;

class SoxrFormatConverter final : public AudioFormatConverter {
public:
    explicit SoxrFormatConverter(PcmConverter converter) : converter_(std::move(converter)) {}
    const PcmFormat& inputFormat() const override { return converter_.inputFormat(); }
    const PcmFormat& outputFormat() const override { return converter_.outputFormat(); }
    std::uint32_t maxOutputFrames(std::uint32_t inputFrames) const override {
        return converter_.maxOutputFrames(inputFrames);
    }
    Status convert(const PcmBuffer& input, PcmBuffer& output) override { return converter_.convert(input, output); }
    Status flush(PcmBuffer& output) override { return converter_.flush(output); }

private:
    PcmConverter converter_;
};

class SystemAudioMedia final : public AudioMedia {
public:
    Result<std::unique_ptr<AudioFileReader>> openForReading(const fs::path& path) override {
        return openAudioFileForReading(path);
    }
    Result<std::unique_ptr<AudioFormatConverter>> makeConverter(const PcmFormat& input, const PcmFormat& output,
                                                               Resampler::Quality quality) override {
        auto made = PcmConverter::make(input, output, kConverterChunk, quality);
        if (!made) return fail(made.error());
        return std::unique_ptr<AudioFormatConverter>(new SoxrFormatConverter(std::move(*made)));
    }
};

}  // namespace

AudioMedia& systemAudioMedia() {
    static SystemAudioMedia media;
    return media;
}

struct FakeAudioMedia::State {
    struct File {
        PcmBuffer contents;
        std::vector<std::uint32_t> reads;
    };
    mutable std::mutex mutex;
    std::map<fs::path, File> files;
    std::map<fs::path, Error> openFailures;
    std::map<fs::path, std::map<int, Error>> readFailures;
    std::optional<Error> creationFailure;
    std::map<int, Error> conversionFailures;
    std::optional<Error> flushFailure;
    int conversions = 0;
    std::vector<ConverterRequest> requests;
};

namespace {

class FakeReader final : public AudioFileReader {
public:
    FakeReader(std::shared_ptr<FakeAudioMedia::State> state, fs::path path, PcmFormat fileFormat, std::int64_t length)
        : state_(std::move(state)),
          path_(std::move(path)),
          fileFormat_(fileFormat),
          processingFormat_(PcmFormat::float32(fileFormat.sampleRate, fileFormat.channelCount)),
          length_(length) {}

    const PcmFormat& fileFormat() const override { return fileFormat_; }
    const PcmFormat& processingFormat() const override { return processingFormat_; }
    std::int64_t length() const override { return length_; }
    std::int64_t framePosition() const override { return position_; }

    Status read(PcmBuffer& buffer, std::uint32_t frames) override {
        std::lock_guard lock(state_->mutex);
        auto& file = state_->files.at(path_);
        file.reads.push_back(frames);
        const int index = reads_++;
        if (auto f = state_->readFailures.find(path_); f != state_->readFailures.end())
            if (auto e = f->second.find(index); e != f->second.end()) {
                buffer.setFrameLength(0);
                return fail(e->second);
            }
        if (buffer.format() != processingFormat_) return fail(toError(AudioError::formatMismatch));
        const auto n = static_cast<std::uint32_t>(
            std::min<std::int64_t>({frames, buffer.frameCapacity(), length_ - position_}));
        for (std::uint32_t c = 0; c < processingFormat_.channelCount; ++c)
            for (std::uint32_t i = 0; i < n; ++i)
                buffer.floatChannel(c)[i] = file.contents.sample(c, static_cast<std::uint32_t>(position_) + i);
        buffer.setFrameLength(n);
        position_ += n;
        return ok();
    }

private:
    std::shared_ptr<FakeAudioMedia::State> state_;
    fs::path path_;
    PcmFormat fileFormat_;
    PcmFormat processingFormat_;
    std::int64_t length_;
    std::int64_t position_ = 0;
    int reads_ = 0;
};

class FailingConverter final : public AudioFormatConverter {
public:
    FailingConverter(std::shared_ptr<FakeAudioMedia::State> state, std::unique_ptr<AudioFormatConverter> real)
        : state_(std::move(state)), real_(std::move(real)) {}
    const PcmFormat& inputFormat() const override { return real_->inputFormat(); }
    const PcmFormat& outputFormat() const override { return real_->outputFormat(); }
    std::uint32_t maxOutputFrames(std::uint32_t inputFrames) const override {
        return real_->maxOutputFrames(inputFrames);
    }
    Status convert(const PcmBuffer& input, PcmBuffer& output) override {
        {
            std::lock_guard lock(state_->mutex);
            const int index = state_->conversions++;
            if (auto e = state_->conversionFailures.find(index); e != state_->conversionFailures.end())
                return fail(e->second);
        }
        return real_->convert(input, output);
    }
    Status flush(PcmBuffer& output) override {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->flushFailure) return fail(*state_->flushFailure);
        }
        return real_->flush(output);
    }

private:
    std::shared_ptr<FakeAudioMedia::State> state_;
    std::unique_ptr<AudioFormatConverter> real_;
};

}  // namespace

FakeAudioMedia::FakeAudioMedia() : state_(std::make_shared<State>()) {}
FakeAudioMedia::~FakeAudioMedia() = default;

Result<std::unique_ptr<AudioFileReader>> FakeAudioMedia::openForReading(const fs::path& path) {
    {
        std::lock_guard lock(state_->mutex);
        if (auto e = state_->openFailures.find(path); e != state_->openFailures.end()) return fail(e->second);
        if (auto f = state_->files.find(path); f != state_->files.end())
            return std::unique_ptr<AudioFileReader>(
                new FakeReader(state_, path, f->second.contents.format(), f->second.contents.frameLength()));
    }
    return openAudioFileForReading(path);
}

Result<std::unique_ptr<AudioFormatConverter>> FakeAudioMedia::makeConverter(const PcmFormat& input,
                                                                           const PcmFormat& output,
                                                                           Resampler::Quality quality) {
    {
        std::lock_guard lock(state_->mutex);
        state_->requests.push_back({input, output, quality});
        if (state_->creationFailure) return fail(*state_->creationFailure);
    }
    auto real = systemAudioMedia().makeConverter(input, output, quality);
    if (!real) return fail(real.error());
    return std::unique_ptr<AudioFormatConverter>(new FailingConverter(state_, std::move(*real)));
}

void FakeAudioMedia::addFile(const fs::path& path, PcmBuffer contents) {
    std::lock_guard lock(state_->mutex);
    state_->files[path] = State::File{std::move(contents), {}};
}

void FakeAudioMedia::failOpen(const fs::path& path, Error error) {
    std::lock_guard lock(state_->mutex);
    state_->openFailures.insert_or_assign(path, std::move(error));
}

void FakeAudioMedia::failRead(const fs::path& path, int readIndex, Error error) {
    std::lock_guard lock(state_->mutex);
    state_->readFailures[path].insert_or_assign(readIndex, std::move(error));
}

void FakeAudioMedia::failConverterCreation(std::optional<Error> error) {
    std::lock_guard lock(state_->mutex);
    state_->creationFailure = std::move(error);
}

void FakeAudioMedia::failConversion(int callIndex, Error error) {
    std::lock_guard lock(state_->mutex);
    state_->conversionFailures.insert_or_assign(callIndex, std::move(error));
}

void FakeAudioMedia::failFlush(std::optional<Error> error) {
    std::lock_guard lock(state_->mutex);
    state_->flushFailure = std::move(error);
}

std::vector<FakeAudioMedia::ConverterRequest> FakeAudioMedia::converterRequests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

std::vector<std::uint32_t> FakeAudioMedia::readRequests(const fs::path& path) const {
    std::lock_guard lock(state_->mutex);
    auto f = state_->files.find(path);
    return f == state_->files.end() ? std::vector<std::uint32_t>{} : f->second.reads;
}

}  // namespace platform
