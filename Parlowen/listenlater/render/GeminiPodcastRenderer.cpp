#include "Parlowen/listenlater/render/GeminiPodcastRenderer.h"

#include <limits>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "Parlowen/listenlater/render/AudioDuration.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/audio/AudioFile.h"
#include "platform/log/Log.h"
#include "platform/text/Unicode.h"

namespace parlowen {

namespace {

namespace fs = std::filesystem;
using platform::Bytes;
using platform::Error;
using platform::Result;
using platform::Status;

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "podcast-render-gemini");
    return log;
}

platform::Task<void> reportProgress(platform::Executor* main, platform::Executor* worker, RenderProgressStore* store,
                                    platform::Uuid id, double fraction) {
    co_await platform::resumeOn(*main);
    store->update(id, fraction);
    co_await platform::resumeOn(*worker);
}

using JsonValue = rapidjson::Value;

// RapidJSON's in-place stream over a buffer that simply ends, where its own
// wants a NUL after the text (adding one could mean moving the whole reply).
// Strings are unescaped where they stand and the document points at them.
struct BoundedInsituStream {
    using Ch = char;
    Ch* src;
    Ch* end;
    Ch* head;
    Ch* dst = nullptr;

    Ch Peek() const { return src != end ? *src : '\0'; }
    Ch Take() { return src != end ? *src++ : '\0'; }
    std::size_t Tell() const { return static_cast<std::size_t>(src - head); }
    Ch* PutBegin() { return dst = src; }
    void Put(Ch c) { *dst++ = c; }
    std::size_t PutEnd(Ch* begin) { return static_cast<std::size_t>(dst - begin); }
    void Flush() {}
    Ch* Peek4() const { return nullptr; }
};

const JsonValue* member(const JsonValue& object, const char* name) {
    auto it = object.FindMember(name);
    return it == object.MemberEnd() || it->value.IsNull() ? nullptr : &it->value;
}

// The reply's shape as the decoder requires it: every candidate has content
// with parts, and a part's inlineData (when present) has a string "data".
// Returns the first problem found.
std::optional<std::string> shapeProblem(const JsonValue& root) {
    if (!root.IsObject()) return "expected an object at the top level";
    const JsonValue* candidates = member(root, "candidates");
    if (!candidates) return "no value for key \"candidates\"";
    if (!candidates->IsArray()) return "\"candidates\" is not an array";
    for (rapidjson::SizeType c = 0; c < candidates->Size(); ++c) {
        const JsonValue& candidate = (*candidates)[c];
        const std::string at = "candidates[" + std::to_string(c) + "]";
        if (!candidate.IsObject()) return at + " is not an object";
        const JsonValue* content = member(candidate, "content");
        if (!content) return "no value for key \"content\" in " + at;
        if (!content->IsObject()) return at + ".content is not an object";
        const JsonValue* parts = member(*content, "parts");
        if (!parts) return "no value for key \"parts\" in " + at + ".content";
        if (!parts->IsArray()) return at + ".content.parts is not an array";
        for (rapidjson::SizeType p = 0; p < parts->Size(); ++p) {
            const JsonValue& part = (*parts)[p];
            const std::string partAt = at + ".content.parts[" + std::to_string(p) + "]";
            if (!part.IsObject()) return partAt + " is not an object";
            const JsonValue* inlineData = member(part, "inlineData");
            if (!inlineData) continue;
            if (!inlineData->IsObject()) return partAt + ".inlineData is not an object";
            const JsonValue* data = member(*inlineData, "data");
            if (!data) return "no value for key \"data\" in " + partAt + ".inlineData";
            if (!data->IsString()) return partAt + ".inlineData.data is not a string";
        }
    }
    return std::nullopt;
}

Error networkOrPassedOn(const Error& error) {
    if (error.isCancellation() || error.domain != platform::kHttpErrorDomain) return error;
    return GeminiRenderError::network(error).toError();
}

}  // namespace

std::string GeminiRenderError::description() const {
    switch (kind) {
        case Kind::http: return "Gemini API " + std::to_string(status) + ": " + text;
        case Kind::network: return "Network error: " + (cause ? cause->description : std::string());
        case Kind::decodeFailed: return "Couldn't decode Gemini response: " + text;
        case Kind::missingKey: return "No Google AI Studio API key configured";
        case Kind::noAudioData: return "Gemini response contained no audio data";
    }
    return {};
}

Error GeminiRenderError::toError() const {
    static constexpr const char* names[] = {"", "http", "network", "decodeFailed", "missingKey", "noAudioData"};
    Error e = Error::make(kDomain, static_cast<int>(kind), names[static_cast<int>(kind)], description());
    if (cause) e = e.withUnderlying(*cause);
    return e;
}

GeminiPodcastRenderer::GeminiPodcastRenderer(APIKeyProvider apiKeyProvider, Dependencies dependencies)
    : apiKeyProvider_(std::move(apiKeyProvider)), deps_(std::move(dependencies)) {}

GeminiPodcastRenderer::APIKeyProvider GeminiPodcastRenderer::keychainKeyProvider(const KeychainStore& keychain) {
    return [&keychain] { return keychain.read(KeychainStore::Key::googleAIStudio); };
}

platform::PcmFormat GeminiPodcastRenderer::outputFormat() { return platform::PcmFormat::int16(24000, 1, true); }

std::string GeminiPodcastRenderer::makeScriptText(const PodcastDialogue& dialogue) {
    std::string script;
    for (std::size_t i = 0; i < dialogue.turns.size(); ++i) {
        const PodcastTurn& turn = dialogue.turns[i];
        if (i > 0) script += '\n';
        script += dialogue.host(turn.role).promptLabel;
        script += ": ";
        script += turn.text;
    }
    return script;
}

std::string GeminiPodcastRenderer::requestBody(const PodcastDialogue& dialogue, std::string_view hostAVoice,
                                               std::string_view hostBVoice) {
    using Json = nlohmann::ordered_json;
    auto speaker = [](const PodcastHost& host, std::string_view voice) {
        Json prebuilt = Json::object();
        prebuilt["voiceName"] = std::string(voice);
        Json voiceConfig = Json::object();
        voiceConfig["prebuiltVoiceConfig"] = std::move(prebuilt);
        Json config = Json::object();
        config["speaker"] = host.promptLabel;
        config["voiceConfig"] = std::move(voiceConfig);
        return config;
    };
    Json part = Json::object();
    part["text"] = makeScriptText(dialogue);
    Json content = Json::object();
    content["parts"] = Json::array({std::move(part)});
    Json multiSpeaker = Json::object();
    multiSpeaker["speakerVoiceConfigs"] =
        Json::array({speaker(dialogue.hostA, hostAVoice), speaker(dialogue.hostB, hostBVoice)});
    Json speech = Json::object();
    speech["multiSpeakerVoiceConfig"] = std::move(multiSpeaker);
    Json generation = Json::object();
    generation["responseModalities"] = Json::array({"AUDIO"});
    generation["speechConfig"] = std::move(speech);
    Json body = Json::object();
    body["contents"] = Json::array({std::move(content)});
    body["generationConfig"] = std::move(generation);
    // A script is the model's text; should it hold broken UTF-8, the service
    // gets replacement characters rather than the render failing here.
    return body.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Result<Bytes> GeminiPodcastRenderer::extractPCM(Bytes body) {
    auto decodeFailed = [](const std::string& why) {
        return platform::fail(GeminiRenderError::decodeFailed("JSON decode failed: " + why).toError());
    };
    // The parser's string lengths are 32-bit.
    if (body.size() >= std::numeric_limits<rapidjson::SizeType>::max()) return decodeFailed("reply too large");
    // Parsed in place, so the audio text (tens of megabytes) is never copied.
    char* text = reinterpret_cast<char*>(body.data());
    BoundedInsituStream stream{text, text + body.size(), text};
    rapidjson::Document root;
    root.ParseStream<rapidjson::kParseInsituFlag>(stream);
    if (root.HasParseError())
        return decodeFailed(std::string(rapidjson::GetParseError_En(root.GetParseError())) + " (at offset " +
                            std::to_string(root.GetErrorOffset()) + ")");
    if (auto problem = shapeProblem(root)) return decodeFailed(*problem);

    const JsonValue& candidates = root["candidates"];
    if (candidates.Empty()) return platform::fail(GeminiRenderError::noAudioData().toError());
    const JsonValue& parts = candidates[0]["content"]["parts"];
    if (parts.Empty()) return platform::fail(GeminiRenderError::noAudioData().toError());
    const JsonValue* inlineData = member(parts[0], "inlineData");
    if (!inlineData) return platform::fail(GeminiRenderError::noAudioData().toError());
    const JsonValue& data = (*inlineData)["data"];
    auto decoded = platform::base64Decode(std::string_view(data.GetString(), data.GetStringLength()));
    if (!decoded) return platform::fail(GeminiRenderError::decodeFailed("inlineData.data not valid base64").toError());
    return std::move(*decoded);
}

Status GeminiPodcastRenderer::writeAudioFile(platform::ByteView pcm, const fs::path& to) {
    if (pcm.size() < 2)
        return platform::fail(
            GeminiRenderError::decodeFailed("Couldn't create PCM buffer (" + std::to_string(pcm.size()) + " bytes)")
                .toError());
    const platform::PcmFormat format = outputFormat();
    auto file = platform::AudioFileWriter::create(to, platform::AudioFileType::caf, format.sampleRate,
                                                  format.channelCount, format.sampleType);
    if (!file) return platform::fail(file.error());
    if (auto written = file->writeInt16LittleEndian(pcm.first(pcm.size() / 2 * 2)); !written)
        return platform::fail(written.error());
    return file->close();
}

std::string GeminiPodcastRenderer::errorBodyText(platform::ByteView body) {
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    if (!platform::text::isValidUtf8(text)) return "(non-utf8)";
    // A character is at least one byte: a body this short cannot be too long.
    if (text.size() <= kErrorBodyLimit) return std::string(text);
    std::string kept = platform::text::graphemePrefix(text, kErrorBodyLimit);
    if (kept.size() == text.size()) return kept;
    return kept + "\u2026";
}

namespace {

platform::Task<Result<ListenLaterRenderResult>> renderOn(GeminiPodcastRenderer::APIKeyProvider apiKeyProvider,
                                                         GeminiPodcastRenderer::Dependencies deps,
                                                         PodcastDialogue dialogue, std::string hostAVoice,
                                                         std::string hostBVoice, platform::Uuid itemID) {
    platform::Executor* main = &deps.main;
    platform::Executor* worker = &deps.worker;
    RenderProgressStore* progress = &deps.progress;
    co_await platform::resumeOn(*worker);

    const platform::Url output = deps.cache.podcastAudioFileURL(itemID);
    std::error_code ignored;
    fs::remove(output.filePath(), ignored);

    std::optional<std::string> key;
    try {
        if (auto read = apiKeyProvider()) key = std::move(*read);
    } catch (...) {
    }
    if (!key) co_return platform::fail(GeminiRenderError::missingKey().toError());

    logger().info("gemini render begin: {} turns={} voiceA={} voiceB={}", itemID.uuidString(), dialogue.turns.size(),
                  hostAVoice, hostBVoice);
    co_await reportProgress(main, worker, progress, itemID, 0.05);

    platform::HttpRequest request;
    request.method = "POST";
    request.url = deps.baseURL + GeminiPodcastRenderer::kPath;
    request.timeout = GeminiPodcastRenderer::kTimeout;
    request.headers.add("Content-Type", "application/json");
    request.headers.add("x-goog-api-key", *key);
    const std::string body = GeminiPodcastRenderer::requestBody(dialogue, hostAVoice, hostBVoice);
    request.body.assign(body.begin(), body.end());
    co_await reportProgress(main, worker, progress, itemID, 0.1);

    const auto started = worker->now();
    auto reply = co_await deps.http.send(std::move(request));
    if (!reply) co_return platform::fail(networkOrPassedOn(reply.error()));
    if (!reply->isSuccess()) {
        std::string text = GeminiPodcastRenderer::errorBodyText(reply->body);
        logger().error("gemini http {}: {}", reply->status, platform::priv(text));
        co_return platform::fail(GeminiRenderError::http(reply->status, std::move(text)).toError());
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(worker->now() - started);
    logger().info("gemini response {} bytes in {}ms", reply->body.size(), elapsed.count());
    co_await reportProgress(main, worker, progress, itemID, 0.7);

    auto pcm = GeminiPodcastRenderer::extractPCM(std::move(reply->body));
    if (!pcm) co_return platform::fail(pcm.error());
    if (pcm->empty()) co_return platform::fail(GeminiRenderError::noAudioData().toError());
    if (auto written = GeminiPodcastRenderer::writeAudioFile(*pcm, output.filePath()); !written)
        co_return platform::fail(written.error());
    Bytes().swap(*pcm);
    co_await reportProgress(main, worker, progress, itemID, 0.95);

    const double duration = audioDuration(output);
    co_await reportProgress(main, worker, progress, itemID, 1.0);
    logger().info("gemini render done: {} duration={:f}s", itemID.uuidString(), duration);
    co_return ListenLaterRenderResult{output, duration};
}

}  // namespace

platform::Task<Result<ListenLaterRenderResult>> GeminiPodcastRenderer::render(PodcastDialogue dialogue,
                                                                              std::string hostAVoice,
                                                                              std::string hostBVoice,
                                                                              platform::Uuid itemID) {
    return renderOn(apiKeyProvider_, deps_, std::move(dialogue), std::move(hostAVoice), std::move(hostBVoice),
                    itemID);
}

}  // namespace parlowen
