#include "MacShareExtension/ArgumentShareContext.h"

#include <algorithm>
#include <system_error>

namespace parlowen {

ArgumentAttachment::ArgumentAttachment(Kind kind, SharedItem url, std::string text)
    : kind_(kind), url_(std::move(url)), text_(std::move(text)) {}

std::shared_ptr<ArgumentAttachment> ArgumentAttachment::classify(const std::string& argument,
                                                                 const std::filesystem::path& workingDirectory) {
    auto make = [](Kind kind, SharedItem url, std::string text) {
        return std::shared_ptr<ArgumentAttachment>(new ArgumentAttachment(kind, std::move(url), std::move(text)));
    };
    if (auto url = platform::Url::parse(argument)) {
        if (url->scheme() == "http" || url->scheme() == "https") return make(Kind::link, *url, argument);
        if (url->isFileURL()) return make(Kind::fileURL, *url, {});
    }
    if (!argument.empty()) {
        std::error_code ec;
        const std::filesystem::path path = std::filesystem::path(argument).is_absolute()
                                               ? std::filesystem::path(argument)
                                               : workingDirectory / argument;
        if (std::filesystem::exists(path, ec))
            return make(Kind::fileURL, platform::Url::fromFilePath(std::filesystem::absolute(path, ec)), {});
    }
    return make(Kind::plainText, std::monostate{}, argument);
}

std::vector<std::string> ArgumentAttachment::registeredTypeIdentifiers() const {
    switch (kind_) {
        case Kind::link: return {kTypeURL, kTypePlainText};
        case Kind::fileURL: return {kTypeFileURL};
        case Kind::plainText: return {kTypePlainText};
    }
    return {};
}

bool ArgumentAttachment::hasItemConformingTo(const std::string& type) const {
    const auto registered = registeredTypeIdentifiers();
    auto has = [&](const char* t) { return std::ranges::find(registered, t) != registered.end(); };
    if (has(type.c_str())) return true;
    if (type == kTypeURL) return has(kTypeFileURL);
    if (type == kTypeText) return has(kTypePlainText) || has(kTypeHTML);
    return false;
}

platform::Task<platform::Result<SharedItem>> ArgumentAttachment::loadItem(std::string type) {
    if (!hasItemConformingTo(type))
        co_return std::unexpected(platform::Error::make("share", 1, "typeUnavailable",
                                                        "The attachment cannot be loaded as " + type + "."));
    if (type == kTypeURL || type == kTypeFileURL) co_return url_;
    co_return SharedItem(text_);
}

ArgumentShareContext::ArgumentShareContext(const std::vector<std::string>& arguments,
                                           const std::filesystem::path& workingDirectory,
                                           std::function<void()> complete)
    : complete_(std::move(complete)) {
    for (const auto& argument : arguments)
        items_.push_back({{ArgumentAttachment::classify(argument, workingDirectory)}, std::nullopt});
}

void ArgumentShareContext::completeRequest() {
    if (complete_) complete_();
}

}  // namespace parlowen
