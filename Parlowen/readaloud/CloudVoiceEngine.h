#pragma once

// What the cloud voices (OpenAI, Cartesia, ElevenLabs) share: the text is
// read sentence by sentence, one streamed request per sentence; raw 16-bit
// 24 kHz mono PCM is cut into 100 ms buffers and played while it downloads;
// the two sentences after the current one are fetched ahead; a 1 ms silent
// marker after each sentence's audio says when it has been heard. Each voice
// fills in only its own points (key, request, speed, errors, log lines).
//
// Everything runs on the main executor: the fetch tasks await the key, the
// head and each chunk there, and hand every buffer, the end of a sentence and
// a failure to the main executor as separate steps, in the order made.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "Parlowen/readaloud/SentenceModel.h"
#include "Parlowen/readaloud/SpeechSynthesisEngine.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/audio/AudioHardware.h"
#include "platform/audio/AudioOutputStream.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/http/HttpClient.h"
#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// What a cloud voice needs from the composition root; all must outlive it.
struct CloudVoiceServices {
    platform::Executor& main;
    platform::HttpClient& http;
    const KeychainStore& keychain;
    platform::AudioOutput& audioOutput;
    // Where "preferredOutputDeviceUID" is looked up at each output start.
    platform::AudioHardware& audioHardware;
    platform::UserDefaults& defaults;
};

// The error cases the cloud voices share, each voice in its own domain
// ("OpenAITTSError", "CartesiaTTSError", ...). Codes: httpStatus 1,
// audioInitFailed 2, unexpectedResponse 3.
namespace cloud_voice_error {
// "HTTP <status>: <message>"; the status and message also ride apart.
platform::Error httpStatus(const char* domain, int status, std::string message);
// "Audio init / playback failed"
platform::Error audioInitFailed(const char* domain);
// "URLResponse was not HTTPURLResponse"
platform::Error unexpectedResponse(const char* domain);

struct HttpStatus {
    int status = 0;
    std::string message;
};
// The status and message of an httpStatus error of `domain`.
std::optional<HttpStatus> httpStatusOf(const char* domain, const platform::Error& error);
}  // namespace cloud_voice_error

// Cuts a streamed body of little-endian 16-bit samples into playable buffers
// of a fixed (even) size in bytes, the last one holding what is left (an odd
// last byte dropped, none for fewer than 2 bytes). Each byte is copied once:
// a block that spans two chunks is filled in place.
class PcmBlockCutter {
public:
    // Called with each buffer made (a buffer that cannot be allocated is skipped).
    using Deliver = std::function<void(platform::PcmBuffer&&)>;

    PcmBlockCutter(std::size_t blockBytes, Deliver deliver);
    void append(const std::uint8_t* bytes, std::size_t count);
    // The bytes left, as a last shorter buffer.
    void finish();
    // Every byte appended.
    std::int64_t total() const { return total_; }

private:
    void deliverPending();

    std::size_t blockBytes_;
    Deliver deliver_;
    platform::PcmBuffer pending_;  // the block being filled
    std::size_t filled_ = 0;       // its bytes so far
    std::int64_t total_ = 0;
};

class CloudVoiceEngine : public SentenceListEngine {
public:
    // Signed 16-bit, 24,000 Hz, one channel, interleaved.
    static const platform::PcmFormat pcmFormat;
    // Bytes per playable buffer from the network (2,400 frames, 100 ms).
    static constexpr std::size_t kBlockBytes = 4800;
    // The silent end-of-sentence marker (1 ms).
    static constexpr std::uint32_t kEndMarkerFrames = 24;
    // How much of a non-2xx body is read for its message.
    static constexpr std::size_t kErrorBodyBytes = 512;
    // How much of a key test's error body is shown.
    static constexpr std::size_t kTestBodyBytes = 256;
    static constexpr platform::Duration kSentenceTimeout = std::chrono::seconds(30);
    static constexpr platform::Duration kWarmUpTimeout = std::chrono::seconds(5);
    static constexpr platform::Duration kTestTimeout = std::chrono::seconds(10);
    static constexpr const char* kPreferredOutputKey = "preferredOutputDeviceUID";

    ~CloudVoiceEngine() override;
    CloudVoiceEngine(const CloudVoiceEngine&) = delete;
    CloudVoiceEngine& operator=(const CloudVoiceEngine&) = delete;

    void speak(std::string_view text, std::optional<std::string> voiceIdentifier, float rate) override;
    void pause() override;
    void resume() override;
    void stop() override;
    void setRate(float rate) override;
    // "Not set" for no or an empty id, else its first 8 characters and "…".
    std::string voiceDisplayName(const std::optional<std::string>& voiceIdentifier) override;

    float rate() const { return rate_; }
    const std::optional<std::string>& voiceIdentifier() const { return voiceIdentifier_; }
    std::int64_t currentIndex() const { return currentIndex_; }
    const std::vector<SpeechSentence>& sentences() const { return sentences_; }
    // The sentences whose streams are kept (fetching or fetched), in order.
    std::vector<std::int64_t> streamIndexes() const;
    // Whether the output is open (the "audio engine" runs).
    bool audioEngineRunning() const { return output_ != nullptr; }
    // Buffers kept over all streams, and their bytes (audio held in memory).
    std::size_t heldAudioBytes() const;

    // A buffer of the bytes' little-endian samples in pcmFormat (an odd last
    // byte dropped); none for fewer than 2 bytes.
    static std::optional<platform::PcmBuffer> makePCMBuffer(const std::uint8_t* bytes, std::size_t count);
    // A cut error body as one line of text: an incomplete character at the
    // cut is dropped, text that is not UTF-8 is "<non-utf8>", line feeds
    // become blanks and carriage returns go.
    static std::string errorMessage(std::string_view body);

protected:
    // What a sentence's fetch fixes when it is created: later changes of the
    // voice or the rate do not reach it.
    struct SentenceFetch {
        std::int64_t index = 0;
        std::string text;
        std::optional<std::string> voice;
        float rate = 0.5f;
    };

    // `logName` ("openai", "cartesia", ...) starts the voice's log lines and
    // names its log category ("engine.tts.<logName>").
    CloudVoiceEngine(CloudVoiceServices services, const char* logName);

    Sentences skipSentences() const override { return sentences_; }
    std::int64_t skipCurrentIndex() const override { return currentIndex_; }
    // The stored rate, unchanged (speak leaves it unclamped).
    float skipRate() const override { return rate_; }
    void restartSentence(std::int64_t index) override;
    void finishAfterSkip() override;

    const platform::Logger& logger() const { return log_; }

    // ---- The points each voice fills in.
    virtual KeychainStore::Key keyService() const = 0;
    // Whether a missing or empty voice id ends playback (with an error line).
    virtual bool requiresVoice() const = 0;
    // URL, headers and body of one sentence request; the method, POST, and the
    // time-out are set here. A body that cannot be made is a fetch failure.
    virtual platform::Result<platform::HttpRequest> sentenceRequest(const SentenceFetch& fetch,
                                                                    const std::string& apiKey) const = 0;
    // Whether moving from the stored rate to `newRate` (clamped) drops the prefetched sentences.
    virtual bool rateChangeMatters(float storedRate, float newRate) const = 0;
    // The voice's error for a non-2xx answer.
    virtual platform::Error httpStatusError(int status, std::string message) const = 0;
    // What the stream-started line says of the fetch after "<logName> stream started: ".
    virtual std::string streamStartedDetails(const SentenceFetch& fetch) const = 0;
    // "<logName> stream failed (sentence <index>): <error description>".
    virtual void logStreamFailed(std::int64_t index, const platform::Error& error) const;

    // A request body as compact JSON; text that cannot be serialised fails.
    static platform::Result<std::string> serialise(const nlohmann::ordered_json& body);
    // A voice id in a log line: its first 8 characters, and "…" only when it has more.
    static std::string shortVoiceID(std::string_view id);

    // ---- Type-level operations the voices expose with their own URLs.
    // A HEAD request without headers, its answer and any error ignored.
    static platform::Task<void> warmUp(platform::HttpClient& http, std::string url);
    // A GET request with the voice's key headers, mapped to the test result.
    static platform::Task<ConnectionTestResult> testKey(platform::HttpClient& http, std::string url,
                                                        platform::HttpHeaders headers);

private:
    struct SentenceStream;
    using StreamPtr = std::shared_ptr<SentenceStream>;

    void playCurrentSentence();
    StreamPtr sentenceStream(std::int64_t index);
    void dropStream(std::int64_t index);
    void cancelAllSentenceStreams();
    void scheduleSentenceBuffer(const platform::PcmBuffer& buffer, std::int64_t index, const std::string& text);
    void scheduleSentenceEndMarker(std::int64_t index);
    void sentenceDidFinish(std::int64_t index, std::uint64_t generation);
    void sentenceStreamFailed(std::int64_t index, const StreamPtr& stream, const platform::Error& error);
    // Opens the output when none is open, routed by the preferred device.
    platform::Status startAudioEngineIfNeeded();
    // Starts the output for the current loading sentence; false when it could not.
    bool startPlayerForLoadingSentence();
    void stopAudio();
    bool playerIsPlaying() const;

    static platform::Task<void> fetchSentence(CloudVoiceEngine* engine, std::weak_ptr<void> alive,
                                              std::weak_ptr<SentenceStream> weakStream, SentenceFetch fetch);
    static platform::Task<platform::Status> readSentence(CloudVoiceEngine* engine, std::weak_ptr<void> alive,
                                                         std::shared_ptr<SentenceStream> stream, SentenceFetch fetch);
    static void deliver(platform::Executor& main, std::weak_ptr<SentenceStream> stream, platform::PcmBuffer&& buffer);

    CloudVoiceServices services_;
    const char* logName_;
    platform::Logger log_;
    std::vector<SpeechSentence> sentences_;
    std::int64_t currentIndex_ = 0;
    std::optional<std::string> voiceIdentifier_;
    float rate_ = 0.5f;
    // The "audio engine": open while running; its player is the stream itself.
    std::unique_ptr<platform::AudioOutputStream> output_;
    // The device the last routed start found; a later start whose preferred
    // device is gone keeps it.
    std::optional<platform::AudioDeviceID> routedDevice_;
    std::map<std::int64_t, StreamPtr> sentenceStreams_;
    // Each playCurrentSentence and stop starts a new generation: end markers
    // completed by an earlier one (a stopped player completes what is queued)
    // must not move playback on.
    std::uint64_t generation_ = 0;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
