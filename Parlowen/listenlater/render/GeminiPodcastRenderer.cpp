#include "Parlowen/listenlater/render/GeminiPodcastRenderer.h"

#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

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

// Builds the reply's document with one exception: the string at
// candidates[0].content.parts[0].inlineData.data (the audio, tens of
// megabytes) is moved aside instead of into the document, where an empty
// string stands for it. Everything else is nlohmann's own document builder.
class ReplyReader {
public:
    using Json = nlohmann::json;

    explicit ReplyReader(Json& root) : dom_(root, false) {}

    std::optional<std::string> audioData;
    std::optional<std::string> parseError;

    bool null() { return value() && dom_.null(); }
    bool boolean(bool v) { return value() && dom_.boolean(v); }
    bool number_integer(Json::number_integer_t v) { return value() && dom_.number_integer(v); }
    bool number_unsigned(Json::number_unsigned_t v) { return value() && dom_.number_unsigned(v); }
    bool number_float(Json::number_float_t v, const Json::string_t& s) { return value() && dom_.number_float(v, s); }
    bool string(Json::string_t& v) {
        if (!value()) return false;
        if (atAudioData()) {
            audioData = std::move(v);
            Json::string_t placeholder;
            return dom_.string(placeholder);
        }
        return dom_.string(v);
    }
    bool binary(Json::binary_t& v) { return value() && dom_.binary(v); }
    bool start_object(std::size_t n) {
        if (!value()) return false;
        frames_.push_back({false, 0, {}});
        return dom_.start_object(n);
    }
    bool key(Json::string_t& k) {
        frames_.back().key = k;
        return dom_.key(k);
    }
    bool end_object() {
        frames_.pop_back();
        return dom_.end_object();
    }
    bool start_array(std::size_t n) {
        if (!value()) return false;
        frames_.push_back({true, 0, {}});
        return dom_.start_array(n);
    }
    bool end_array() {
        frames_.pop_back();
        return dom_.end_array();
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        parseError = e.what();
        return false;
    }

private:
    struct Frame {
        bool array;
        std::size_t count;  // elements begun so far (arrays)
        std::string key;    // the current member (objects)
    };

    // Counts a value into the array that holds it.
    bool value() {
        if (!frames_.empty() && frames_.back().array) ++frames_.back().count;
        return true;
    }
    bool member(std::size_t i, std::string_view name) const { return !frames_[i].array && frames_[i].key == name; }
    bool firstElement(std::size_t i) const { return frames_[i].array && frames_[i].count == 1; }
    bool atAudioData() const {
        return frames_.size() == 7 && member(0, "candidates") && firstElement(1) && member(2, "content") &&
               member(3, "parts") && firstElement(4) && member(5, "inlineData") && member(6, "data");
    }

    nlohmann::detail::json_sax_dom_parser<Json> dom_;
    std::vector<Frame> frames_;
};

// The reply's shape as the decoder requires it: every candidate has content
// with parts, and a part's inlineData (when present) has a string "data".
// Returns the first problem found.
std::optional<std::string> shapeProblem(const nlohmann::json& root) {
    if (!root.is_object()) return "expected an object at the top level";
    auto candidates = root.find("candidates");
    if (candidates == root.end() || candidates->is_null()) return "no value for key \"candidates\"";
    if (!candidates->is_array()) return "\"candidates\" is not an array";
    for (std::size_t c = 0; c < candidates->size(); ++c) {
        const auto& candidate = (*candidates)[c];
        const std::string at = "candidates[" + std::to_string(c) + "]";
        if (!candidate.is_object()) return at + " is not an object";
        auto content = candidate.find("content");
        if (content == candidate.end() || content->is_null()) return "no value for key \"content\" in " + at;
        if (!content->is_object()) return at + ".content is not an object";
        auto parts = content->find("parts");
        if (parts == content->end() || parts->is_null()) return "no value for key \"parts\" in " + at + ".content";
        if (!parts->is_array()) return at + ".content.parts is not an array";
        for (std::size_t p = 0; p < parts->size(); ++p) {
            const auto& part = (*parts)[p];
            const std::string partAt = at + ".content.parts[" + std::to_string(p) + "]";
            if (!part.is_object()) return partAt + " is not an object";
            auto inlineData = part.find("inlineData");
            if (inlineData == part.end() || inlineData->is_null()) continue;
            if (!inlineData->is_object()) return partAt + ".inlineData is not an object";
            auto data = inlineData->find("data");
            if (data == inlineData->end() || data->is_null())
                return "no value for key \"data\" in " + partAt + ".inlineData";
            if (!data->is_string()) return partAt + ".inlineData.data is not a string";
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
    nlohmann::json root;
    ReplyReader reader(root);
    const bool parsed = nlohmann::json::sax_parse(body.begin(), body.end(), &reader);
    Bytes().swap(body);  // the audio text now lives apart; the reply's bytes are done with
    if (!parsed)
        return platform::fail(
            GeminiRenderError::decodeFailed("JSON decode failed: " + reader.parseError.value_or("invalid JSON"))
                .toError());
    if (auto problem = shapeProblem(root))
        return platform::fail(GeminiRenderError::decodeFailed("JSON decode failed: " + *problem).toError());

    const auto& candidates = root["candidates"];
    if (candidates.empty()) return platform::fail(GeminiRenderError::noAudioData().toError());
    const auto& parts = candidates[0]["content"]["parts"];
    if (parts.empty()) return platform::fail(GeminiRenderError::noAudioData().toError());
    auto inlineData = parts[0].find("inlineData");
    if (inlineData == parts[0].end() || inlineData->is_null() || !reader.audioData)
        return platform::fail(GeminiRenderError::noAudioData().toError());

    std::string text = std::move(*reader.audioData);
    auto decoded = platform::base64Decode(text);
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
