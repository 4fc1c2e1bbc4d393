#include "Parlowen/listenlater/queue/ShareService.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <system_error>

#include <nlohmann/json.hpp>

#include "Parlowen/shell/KeychainStore.h"
#include "platform/log/Log.h"
#include "platform/text/Unicode.h"
#include "platform/values/Files.h"

namespace parlowen {

namespace {

namespace fs = std::filesystem;
using platform::Bytes;

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "share-service");
    return log;
}

platform::Error failure(ShareError e) { return e.toError(); }

// The secret as it goes into the header: trimmed at both ends; none when
// nothing is left or a control character remains (a header cannot carry it).
std::optional<std::string> usableSecret(std::string_view text) {
    std::string secret = platform::text::trim(text);
    if (secret.empty()) return std::nullopt;
    for (unsigned char c : secret)
        if (c < 0x20 || c == 0x7f) return std::nullopt;
    return secret;
}

// A link in the service's reply, judged as a URL parser that also takes
// relative references would: nothing when the text is no URL at all; else
// its scheme as written (none for a reference without one) and, when it is
// absolute, the parsed URL.
struct ReplyLink {
    std::optional<std::string> scheme;
    std::optional<platform::Url> url;
};

std::optional<ReplyLink> readLink(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c >= 0x7f || std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos)
            return std::nullopt;
        if (c == '%' && (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                         !std::isxdigit(static_cast<unsigned char>(text[i + 2]))))
            return std::nullopt;
    }
    ReplyLink link;
    std::size_t end = 0;
    if (std::isalpha(static_cast<unsigned char>(text[0]))) {
        end = 1;
        while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '+' ||
                                     text[end] == '-' || text[end] == '.'))
            ++end;
    }
    if (end > 0 && end < text.size() && text[end] == ':') {
        link.scheme = std::string(text.substr(0, end));
        link.url = platform::Url::parse(text);
        if (!link.url) return std::nullopt;
    }
    return link;
}

std::string bodyDetail(const Bytes& body) {
    std::string text(body.begin(), body.end());
    return platform::text::isValidUtf8(text) ? text : "<binary>";
}

struct PreparedUpload {
    Bytes body;
    std::uintmax_t audioBytes = 0;
};

// Worker side: the file, the cap and the body.
platform::Result<PreparedUpload> prepareUpload(const QueueItem& item) {
    const fs::path path = item.audioFileURL->filePath();
    std::error_code ec;
    if (!fs::exists(path, ec)) return platform::fail(failure(ShareError::missingAudio()));
    auto audio = platform::readFile(path);
    if (!audio) return platform::fail(failure(ShareError::audioReadFailed(audio.error().description)));
    if (audio->size() > ShareService::kMaxAudioBytes)
        return platform::fail(failure(ShareError::uploadFailed("Audio is " + std::to_string(audio->size() / 1048576) +
                                                               " MB; current cap is 25 MB. Try a shorter article.")));
    std::string extension = path.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    auto body = ShareService::makeBody(item, extension, *audio);
    if (!body) return platform::fail(body.error());
    return PreparedUpload{std::move(*body), audio->size()};
}

platform::Task<platform::Result<ShareResult>> shareOn(ShareService* self, ShareService::Services services,
                                                      QueueItem item) {
    auto secret = co_await self->uploadSecret();
    if (!secret) co_return platform::fail(failure(ShareError::notConfigured()));
    if (!item.audioFileURL) co_return platform::fail(failure(ShareError::missingAudio()));

    // Tens of megabytes of base64 would hold the main thread up.
    co_await platform::resumeOn(services.worker);
    auto prepared = prepareUpload(item);
    co_await platform::resumeOn(services.main);
    if (!prepared) co_return platform::fail(prepared.error());

    platform::HttpRequest request;
    request.method = "POST";
    request.url = self->endpoint().absoluteString();
    request.timeout = ShareService::kTimeout;
    request.headers.add("Content-Type", "application/json");
    request.headers.add("X-Share-Secret", *secret);
    request.body = std::move(prepared->body);

    logger().info("share upload begin: {} bytes={}", item.id.uuidString(), prepared->audioBytes);
    auto reply = co_await services.http.send(std::move(request));
    if (!reply) {
        if (reply.error().isCancellation()) co_return platform::fail(reply.error());
        co_return platform::fail(failure(ShareError::uploadFailed(reply.error().description)));
    }

    if (!reply->isSuccess()) {
        std::string detail = "HTTP " + std::to_string(reply->status);
        auto json = nlohmann::json::parse(reply->body.begin(), reply->body.end(), nullptr, false);
        if (json.is_object()) {
            auto message = json.find("error");
            if (message != json.end() && message->is_string()) detail += " \u2014 " + message->get<std::string>();
        }
        co_return platform::fail(failure(ShareError::uploadFailed(std::move(detail))));
    }

    auto json = nlohmann::json::parse(reply->body.begin(), reply->body.end(), nullptr, false);
    std::optional<ReplyLink> shareLink, audioLink;
    std::string id;
    if (json.is_object()) {
        auto text = [&](const char* key) -> const nlohmann::json* {
            auto it = json.find(key);
            return it != json.end() && it->is_string() ? &*it : nullptr;
        };
        const auto *idValue = text("id"), *shareValue = text("shareURL"), *audioValue = text("audioURL");
        if (idValue && shareValue && audioValue) {
            id = idValue->get<std::string>();
            shareLink = readLink(shareValue->get_ref<const std::string&>());
            audioLink = readLink(audioValue->get_ref<const std::string&>());
        }
    }
    if (!shareLink || !audioLink)
        co_return platform::fail(failure(ShareError::unexpectedResponse(bodyDetail(reply->body))));
    if (shareLink->scheme != "https" || audioLink->scheme != "https")
        co_return platform::fail(failure(ShareError::unexpectedResponse(
            "Server returned a non-https URL (shareURL=" + shareLink->scheme.value_or("<none>") +
            ", audioURL=" + audioLink->scheme.value_or("<none>") + ")")));

    logger().info("share upload done: {} shareURL={}", item.id.uuidString(),
                  platform::priv(shareLink->url->absoluteString()));
    co_return ShareResult{std::move(id), std::move(*shareLink->url), std::move(*audioLink->url)};
}

}  // namespace

std::string ShareError::description() const {
    switch (kind) {
        case Kind::audioReadFailed: return "Couldn't read the audio file: " + detail;
        case Kind::uploadFailed: return "Upload failed: " + detail;
        case Kind::unexpectedResponse: return "Server returned an unexpected response: " + detail;
        case Kind::missingAudio:
            return "This item doesn't have rendered audio yet. Wait for it to finish, then try again.";
        case Kind::notConfigured:
            return "Share upload isn't configured. From Terminal, run:\n\ndefaults write com.kelvatrum.Parlowen "
                   "shareUploadSecret <secret>\n\nwhere <secret> matches the SHARE_UPLOAD_SECRET env var on the "
                   "Vercel project. Then relaunch Parlowen.";
    }
    return {};
}

platform::Error ShareError::toError() const {
    static constexpr const char* names[] = {"", "audioReadFailed", "uploadFailed", "unexpectedResponse",
                                            "missingAudio", "notConfigured"};
    return platform::Error::make(kDomain, static_cast<int>(kind), names[static_cast<int>(kind)], description());
}

ShareService::ShareService(platform::Url endpoint, Services services)
    : endpoint_(std::move(endpoint)), services_(services) {}

std::optional<platform::Url> ShareService::endpointFor(std::string_view baseURL) {
    std::string base(baseURL);
    while (!base.empty() && base.back() == '/') base.pop_back();
    return platform::Url::parse(base + kPath);
}

std::string ShareService::audioMime(std::string_view extension) {
    return platform::text::lowercased(extension) == "caf" ? "audio/x-caf" : "audio/mp4";
}

platform::Result<Bytes> ShareService::makeBody(const QueueItem& item, std::string_view audioExtension,
                                               platform::ByteView audio) {
    if (!std::isfinite(item.durationSec))
        return platform::fail(failure(ShareError::uploadFailed("JSON encode failed: Invalid number value in JSON write")));
    // The small members through the JSON library; the audio's base64 needs no
    // escaping and is written straight into the body.
    nlohmann::ordered_json rest = nlohmann::ordered_json::object();
    rest["audioMime"] = audioMime(audioExtension);
    rest["title"] = item.title;
    rest["duration"] = item.durationSec;
    if (item.sourceURL) rest["sourceURL"] = item.sourceURL->absoluteString();
    if (item.sourceApp) rest["siteName"] = *item.sourceApp;
    if (!item.voiceID.empty()) rest["voiceName"] = item.voiceID;
    std::string members;
    try {
        members = rest.dump();
    } catch (const nlohmann::json::exception& e) {
        return platform::fail(failure(ShareError::uploadFailed(std::string("JSON encode failed: ") + e.what())));
    }
    static constexpr std::string_view head = "{\"audio\":\"";
    const std::size_t encodedLength = platform::base64EncodedLength(audio.size());
    Bytes body(head.size() + encodedLength + 2 + members.size() - 1);
    auto* out = reinterpret_cast<char*>(body.data());
    out = std::copy(head.begin(), head.end(), out);
    platform::base64EncodeInto(audio, out);
    out += encodedLength;
    *out++ = '"';
    *out++ = ',';
    std::copy(members.begin() + 1, members.end(), out);  // past the members' own "{"
    return body;
}

platform::Task<std::optional<std::string>> ShareService::uploadSecret() {
    auto stored = co_await services_.keychain.readAsync(KeychainStore::Key::shareUpload);
    if (stored)
        if (auto secret = usableSecret(*stored)) co_return secret;
    auto fromDefaults = services_.defaults.stringForKey(kSecretDefaultsKey);
    if (!fromDefaults) co_return std::nullopt;
    auto secret = usableSecret(*fromDefaults);
    if (!secret) co_return std::nullopt;
    // The defaults hold the only copy until the keychain has it.
    auto written = co_await services_.keychain.writeAsync(KeychainStore::Key::shareUpload, *secret);
    if (written) {
        services_.defaults.remove(kSecretDefaultsKey);
        logger().info("migrated share-upload secret from UserDefaults to Keychain");
    } else {
        logger().error("share-upload secret left in UserDefaults: keychain write failed: {}",
                       written.error().description);
    }
    co_return secret;
}

platform::Task<platform::Result<ShareResult>> ShareService::share(QueueItem item) {
    return shareOn(this, services_, std::move(item));
}

}  // namespace parlowen
