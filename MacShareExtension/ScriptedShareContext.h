#pragma once

// Test double of the share host: attachments answer each type with a scripted
// URL, text, bytes, nothing or error, and remember what was loaded; the
// context counts completed requests.

#include <map>

#include "MacShareExtension/ShareContext.h"

namespace parlowen {

class ScriptedAttachment final : public ShareItemProvider {
public:
    using Answer = std::variant<SharedItem, platform::Error>;

    // Registers `type` and what loading it gives.
    ScriptedAttachment& offer(std::string type, Answer answer) {
        types_.push_back(type);
        answers_[std::move(type)] = std::move(answer);
        return *this;
    }

    std::vector<std::string> registeredTypeIdentifiers() const override { return types_; }
    bool hasItemConformingTo(const std::string& type) const override { return answers_.contains(type); }
    platform::Task<platform::Result<SharedItem>> loadItem(std::string type) override {
        loads_.push_back(type);
        const Answer answer = answers_.at(type);
        if (const auto* error = std::get_if<platform::Error>(&answer)) co_return std::unexpected(*error);
        co_return std::get<SharedItem>(answer);
    }

    const std::vector<std::string>& loads() const { return loads_; }

private:
    std::vector<std::string> types_;
    std::map<std::string, Answer> answers_;
    std::vector<std::string> loads_;
};

class ScriptedShareContext final : public ShareExtensionContext {
public:
    std::optional<std::vector<ShareExtensionItem>> inputItems() const override {
        if (notExtensionItems) return std::nullopt;
        return items;
    }
    void completeRequest() override { ++completions; }

    std::vector<ShareExtensionItem> items;
    bool notExtensionItems = false;
    int completions = 0;
};

}  // namespace parlowen
