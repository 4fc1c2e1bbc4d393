#pragma once

// What the share host hands the extension: input items, each with attachments
// that can load what they hold as one of several types, and the request to
// complete once the panel has shown its outcome.

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"
#include "platform/values/Bytes.h"
#include "platform/values/Url.h"

namespace parlowen {

inline constexpr const char* kTypeURL = "public.url";
inline constexpr const char* kTypeFileURL = "public.file-url";
inline constexpr const char* kTypeWebArchive = "com.apple.webarchive";
inline constexpr const char* kTypeHTML = "public.html";
inline constexpr const char* kTypePlainText = "public.plain-text";
inline constexpr const char* kTypeText = "public.text";

// What one load delivers: nothing, a URL, a text or a block of data.
using SharedItem = std::variant<std::monostate, platform::Url, std::string, platform::Bytes>;

// One attachment of an input item.
class ShareItemProvider {
public:
    virtual ~ShareItemProvider() = default;
    // The type identifiers the attachment was registered with, in order.
    virtual std::vector<std::string> registeredTypeIdentifiers() const = 0;
    virtual bool hasItemConformingTo(const std::string& typeIdentifier) const = 0;
    // Loads the attachment as `typeIdentifier`; may finish on any executor.
    virtual platform::Task<platform::Result<SharedItem>> loadItem(std::string typeIdentifier) = 0;
};

struct ShareExtensionItem {
    std::vector<std::shared_ptr<ShareItemProvider>> attachments;
    std::optional<std::string> attributedContentText;
};

class ShareExtensionContext {
public:
    virtual ~ShareExtensionContext() = default;
    // Nothing when the host's input items are not extension items.
    virtual std::optional<std::vector<ShareExtensionItem>> inputItems() const = 0;
    // Ends the share request, returning no items.
    virtual void completeRequest() = 0;
};

}  // namespace parlowen
