#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "Parlowen/model/QueueItem.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/http/HttpClient.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"
#include "platform/values/Bytes.h"
#include "platform/values/Url.h"

namespace parlowen {

class KeychainStore;

// What a successful upload returns: the service's id and two https links.
struct ShareResult {
    std::string id;
    platform::Url shareURL;  // the public page to send to others
    platform::Url audioURL;  // the uploaded audio on the service

    friend bool operator==(const ShareResult&, const ShareResult&) = default;
};

// The share upload's failures, with the texts users see.
struct ShareError {
    enum class Kind { audioReadFailed = 1, uploadFailed, unexpectedResponse, missingAudio, notConfigured };
    static constexpr const char* kDomain = "ShareService.ShareError";

    Kind kind = Kind::notConfigured;
    std::string detail;  // the first three cases

    static ShareError audioReadFailed(std::string d) { return {Kind::audioReadFailed, std::move(d)}; }
    static ShareError uploadFailed(std::string d) { return {Kind::uploadFailed, std::move(d)}; }
    static ShareError unexpectedResponse(std::string d) { return {Kind::unexpectedResponse, std::move(d)}; }
    static ShareError missingAudio() { return {Kind::missingAudio, {}}; }
    static ShareError notConfigured() { return {Kind::notConfigured, {}}; }

    std::string description() const;
    platform::Error toError() const;
};

// Uploads one rendered Listen Later item (its audio and a few facts) to the
// share-link service, which answers with a public link. The upload is
// authorised by the user's share secret, kept in the keychain item
// "share-upload"; a secret the user wrote into the defaults under
// "shareUploadSecret" moves into the keychain on the next upload.
//
// `share` starts and ends on the main executor (keychain, defaults, the
// reply); reading the file and building the body happen on the worker. The
// secret is never logged, and nothing is logged for a failure (the caller
// shows it). Uploads are independent and may overlap.
class ShareService {
public:
    using ShareResult = ::parlowen::ShareResult;
    using ShareError = ::parlowen::ShareError;

    static constexpr const char* kPath = "/api/share";
    static constexpr const char* kSecretDefaultsKey = "shareUploadSecret";
    static constexpr std::uint64_t kMaxAudioBytes = 25ull * 1024 * 1024;
    static constexpr auto kTimeout = std::chrono::seconds(90);

    struct Services {
        platform::Executor& main;
        platform::Executor& worker;
        const KeychainStore& keychain;
        platform::UserDefaults& defaults;
        platform::HttpClient& http;
    };

    ShareService(platform::Url endpoint, Services services);

    // The service's base address (scheme, host, port) followed by "/api/share";
    // nothing when that is not an absolute URL.
    static std::optional<platform::Url> endpointFor(std::string_view baseURL);
    const platform::Url& endpoint() const { return endpoint_; }

    // The link for an item with an audio file, or a ShareError; a cancelled
    // upload ends with the cancellation.
    platform::Task<platform::Result<ShareResult>> share(QueueItem item);

    // The secret for the next upload: the keychain item, else the defaults
    // text (moved into the keychain once that write succeeds). Trimmed of
    // white space and line breaks; a text with a control character in it
    // counts as none. Main executor.
    platform::Task<std::optional<std::string>> uploadSecret();

    // The JSON body for `audio` read from the item's file: "audio" (base64),
    // "audioMime", "title", "duration" and, when the item has them,
    // "sourceURL", "siteName" and "voiceName".
    static platform::Result<platform::Bytes> makeBody(const QueueItem& item, std::string_view audioExtension,
                                                      platform::ByteView audio);
    // "audio/x-caf" for the extension "caf" in any case, else "audio/mp4".
    static std::string audioMime(std::string_view extension);

private:
    platform::Url endpoint_;
    Services services_;
};

}  // namespace parlowen
