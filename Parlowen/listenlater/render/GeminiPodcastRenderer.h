#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Parlowen/listenlater/queue/RenderProgressStore.h"
#include "Parlowen/listenlater/render/ListenLaterCache.h"
#include "Parlowen/listenlater/render/ListenLaterRenderer.h"
#include "Parlowen/podcast/PodcastScript.h"
#include "platform/audio/PcmFormat.h"
#include "platform/http/HttpClient.h"
#include "platform/runtime/Executor.h"
#include "platform/values/Bytes.h"

namespace parlowen {

class KeychainStore;

// The Gemini renderer's failures, with the texts users see.
struct GeminiRenderError {
    enum class Kind { http = 1, network, decodeFailed, missingKey, noAudioData };
    static constexpr const char* kDomain = "GeminiPodcastRenderer.GeminiRenderError";

    Kind kind = Kind::noAudioData;
    int status = 0;                       // http
    std::string text;                     // http: the body text; decodeFailed: the detail
    std::optional<platform::Error> cause;  // network: the HTTP layer's error

    static GeminiRenderError http(int status, std::string body) { return {Kind::http, status, std::move(body), {}}; }
    static GeminiRenderError network(platform::Error cause) { return {Kind::network, 0, {}, std::move(cause)}; }
    static GeminiRenderError decodeFailed(std::string detail) { return {Kind::decodeFailed, 0, std::move(detail), {}}; }
    static GeminiRenderError missingKey() { return {Kind::missingKey, 0, {}, {}}; }
    static GeminiRenderError noAudioData() { return {Kind::noAudioData, 0, {}, {}}; }

    // "Gemini API <status>: <body>", "Network error: …", "Couldn't decode
    // Gemini response: …", "No Google AI Studio API key configured",
    // "Gemini response contained no audio data".
    std::string description() const;
    platform::Error toError() const;
};

// Renders a two-host dialogue in one request to Gemini's multi-speaker
// text-to-speech model with the user's own Google AI Studio key, and writes
// the reply's raw 16-bit PCM as `<UUID>-podcast.caf` in the render cache.
//
// `render` hops onto the worker executor for its work (the key read may wait
// for the keyring); each progress value is stored on the main executor before
// the render goes on, so they arrive as 0.05, 0.1, 0.7, 0.95, 1.0. The
// renderer keeps no state between renders, so one instance may serve several.
// The key and the script are never logged; an error reply's body is private.
class GeminiPodcastRenderer final : public PodcastRenderer {
public:
    using RenderError = GeminiRenderError;
    // Reads the key afresh at each call (never cached); a failure means no key.
    using APIKeyProvider = std::function<platform::Result<std::string>()>;

    static constexpr const char* kDefaultBaseURL = "https://generativelanguage.googleapis.com";
    static constexpr const char* kPath = "/v1beta/models/gemini-2.5-flash-preview-tts:generateContent";
    static constexpr auto kTimeout = std::chrono::seconds(300);
    // Error bodies longer than this many characters are cut and end in "…".
    static constexpr std::size_t kErrorBodyLimit = 500;

    struct Dependencies {
        platform::Executor& main;     // where the progress store lives
        platform::Executor& worker;   // where the render works
        RenderProgressStore& progress;
        ListenLaterCache cache;
        platform::HttpClient& http;
        // Scheme, host and port of the service; the path is fixed.
        std::string baseURL = kDefaultBaseURL;
    };

    GeminiPodcastRenderer(APIKeyProvider apiKeyProvider, Dependencies dependencies);

    // The provider the application uses: the "google-ai-studio" keychain item,
    // read with each call (the keychain must outlive the provider).
    static APIKeyProvider keychainKeyProvider(const KeychainStore& keychain);

    platform::Task<platform::Result<ListenLaterRenderResult>> render(PodcastDialogue dialogue, std::string hostAVoice,
                                                                     std::string hostBVoice,
                                                                     platform::Uuid itemID) override;

    // 16-bit signed integer, 24,000 Hz, mono, interleaved.
    static platform::PcmFormat outputFormat();

    // One line per turn, "<speaker's promptLabel>: <text>", joined by line feeds.
    static std::string makeScriptText(const PodcastDialogue& dialogue);
    // The compact JSON request: the script and the two speakers, host A first.
    static std::string requestBody(const PodcastDialogue& dialogue, std::string_view hostAVoice,
                                   std::string_view hostBVoice);
    // The audio bytes of the first part of the first candidate (possibly
    // empty). Takes the body by value and parses it in place, so a large
    // reply is held once besides its decoded audio.
    static platform::Result<platform::Bytes> extractPCM(platform::Bytes body);
    // Writes the bytes as 16-bit little-endian mono samples at 24 kHz into a
    // CAF file, in one write; an odd last byte is dropped. Fewer than two
    // bytes is `decodeFailed`; a file failure is the audio layer's error.
    static platform::Status writeAudioFile(platform::ByteView pcm, const std::filesystem::path& to);

    // The text an error reply's body becomes: "(non-utf8)", or at most 500
    // characters followed by "…".
    static std::string errorBodyText(platform::ByteView body);

private:
    APIKeyProvider apiKeyProvider_;
    Dependencies deps_;
};

}  // namespace parlowen
