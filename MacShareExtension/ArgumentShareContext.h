#pragma once

// The share host on Linux: the program is started with the shared links or
// texts as its arguments (a desktop entry passes a link dropped on its
// launcher), each argument one input item with one attachment.

#include <filesystem>
#include <functional>

#include "MacShareExtension/ShareContext.h"

namespace parlowen {

// One argument's attachment: registered types, each with what loading it gives.
class ArgumentAttachment final : public ShareItemProvider {
public:
    enum class Kind { link, fileURL, plainText };

    // An http(s) link → URL and plain text; an existing path or a "file:" URL →
    // a file URL; anything else (the empty text too) → plain text.
    static std::shared_ptr<ArgumentAttachment> classify(const std::string& argument,
                                                        const std::filesystem::path& workingDirectory);

    Kind kind() const { return kind_; }
    std::vector<std::string> registeredTypeIdentifiers() const override;
    // Also true for the broader types the registered ones conform to (a file
    // URL is a URL, plain text and HTML are text).
    bool hasItemConformingTo(const std::string& typeIdentifier) const override;
    platform::Task<platform::Result<SharedItem>> loadItem(std::string typeIdentifier) override;

private:
    ArgumentAttachment(Kind kind, SharedItem url, std::string text);

    Kind kind_;
    SharedItem url_;
    std::string text_;
};

class ArgumentShareContext final : public ShareExtensionContext {
public:
    // `complete` runs when the share request is completed.
    ArgumentShareContext(const std::vector<std::string>& arguments, const std::filesystem::path& workingDirectory,
                         std::function<void()> complete);

    std::optional<std::vector<ShareExtensionItem>> inputItems() const override { return items_; }
    void completeRequest() override;

private:
    std::vector<ShareExtensionItem> items_;
    std::function<void()> complete_;
};

}  // namespace parlowen
