#include "MacShareExtension/ShareViewController.h"

#include <fmt/format.h>

#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

constexpr const char* kPreferredTypes[] = {kTypeURL,  kTypeFileURL,     kTypeWebArchive,
                                           kTypeHTML, kTypePlainText,   kTypeText};

// Url keeps its scheme in lower case.
bool passesSchemeTest(const platform::Url& url) { return url.scheme().starts_with("http"); }

std::string fullDescription(const platform::Error& error) {
    std::string text = fmt::format("{} (domain {}, code {}, {})", error.description, error.domain, error.code,
                                   error.caseName);
    if (error.underlying) text += ": " + fullDescription(*error.underlying);
    return text;
}

}  // namespace

std::optional<platform::Url> sharedLinkFromText(std::string_view text) {
    auto url = platform::Url::parse(platform::text::trim(text));
    if (url && passesSchemeTest(*url)) return url;
    return std::nullopt;
}

const platform::Logger& ShareViewController::logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen.MacShareExtension", "share-vc");
    return log;
}

ShareViewController::ShareViewController(Dependencies deps)
    : deps_(deps), viewModel_(std::make_shared<MacShareViewModel>(deps.main)) {}

std::shared_ptr<ShareViewController> ShareViewController::create(Dependencies deps) {
    return std::shared_ptr<ShareViewController>(new ShareViewController(deps));
}

void ShareViewController::viewDidLoad() {
    std::weak_ptr<ShareViewController> weak = weak_from_this();
    viewModel_->onComplete = [weak] {
        auto self = weak.lock();
        if (self && self->deps_.context) self->deps_.context->completeRequest();
    };
    shareTask_ = platform::spawn(deps_.main, runShare(shared_from_this()));
}

platform::Task<void> ShareViewController::runShare(std::shared_ptr<ShareViewController> self) {
    const auto url = co_await self->extractSharedURL();
    if (!url) {
        self->viewModel_->finish(MacShareViewModel::State::failure(kNoURLMessage));
        self->announce(kNoURLMessage);
        co_return;
    }
    const auto saved = co_await self->enqueue(*url);
    if (saved) {
        self->viewModel_->finish(MacShareViewModel::State::success());
        self->announce(kAddedAnnouncement);
        co_return;
    }
    const std::string description = saved.error().description;
    logger().error("queue failed: {}", description);
    self->viewModel_->finish(MacShareViewModel::State::failure(description));
    self->announce(kFailureAnnouncementPrefix + description);
}

platform::Task<std::optional<platform::Url>> ShareViewController::extractSharedURL() {
    std::optional<std::vector<ShareExtensionItem>> items;
    if (deps_.context) items = deps_.context->inputItems();
    if (!items) {
        logger().error("inputItems cast to [NSExtensionItem] failed");
        co_return std::nullopt;
    }

    for (std::size_t i = 0; i < items->size(); ++i) {
        const auto& item = (*items)[i];
        std::string types;
        for (const auto& attachment : item.attachments)
            for (const auto& type : attachment->registeredTypeIdentifiers()) {
                if (!types.empty()) types += ", ";
                types += type;
            }
        logger().info("item {} attachments=[{}] attributedContentText={}", i, types,
                      platform::priv(item.attributedContentText.value_or("<nil>")));
    }

    for (const auto& item : *items) {
        for (const auto& attachment : item.attachments)
            for (const char* type : kPreferredTypes) {
                if (!attachment->hasItemConformingTo(type)) continue;
                if (auto url = co_await loadURL(attachment, type)) co_return url;
            }
        if (item.attributedContentText) {
            if (auto url = sharedLinkFromText(*item.attributedContentText)) {
                logger().info("recovered URL from attributedContentText: {}", platform::priv(url->absoluteString()));
                co_return url;
            }
        }
    }
    co_return std::nullopt;
}

platform::Task<std::optional<platform::Url>> ShareViewController::loadURL(std::shared_ptr<ShareItemProvider> provider,
                                                                          std::string typeIdentifier) {
    const auto loaded = co_await provider->loadItem(std::move(typeIdentifier));
    if (!loaded) co_return std::nullopt;
    if (const auto* url = std::get_if<platform::Url>(&*loaded)) {
        if (passesSchemeTest(*url)) co_return *url;
        co_return std::nullopt;
    }
    if (const auto* text = std::get_if<std::string>(&*loaded)) co_return sharedLinkFromText(*text);
    if (const auto* bytes = std::get_if<platform::Bytes>(&*loaded)) {
        const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (!platform::text::isValidUtf8(text)) co_return std::nullopt;
        co_return sharedLinkFromText(text);
    }
    co_return std::nullopt;
}

QueueItem ShareViewController::makeItem(const platform::Url& url) const {
    QueueItem item;
    item.id = platform::Uuid::random();
    item.title = url.host() && !url.host()->empty() ? *url.host() : kUntitledLink;
    item.sourceURL = url;
    item.durationSec = 0;
    item.state = QueueItem::State::pendingRender;
    item.createdAt = deps_.clock.now();
    item.playedThru = 0;
    return item;
}

platform::Task<platform::Status> ShareViewController::enqueue(platform::Url url) {
    const QueueItem item = makeItem(url);
    const auto record = item.makeRecord(platform::CloudZoneID::defaultZone());
    const std::string recordName = record.recordID().recordName;
    std::vector<platform::CloudRecord> records;
    records.push_back(record);
    auto results = co_await deps_.database.saveRecords(std::move(records));
    if (!results) co_return std::unexpected(results.error());
    for (const auto& result : *results) {
        if (!result.result) {
            logger().error("CloudKit save failed for {}: {}", recordName, fullDescription(result.result.error()));
            co_return std::unexpected(result.result.error());
        }
    }
    logger().info("queued pendingRender item {} for {}", item.id.uuidString(), platform::priv(url.absoluteString()));
    co_return platform::Status{};
}

void ShareViewController::announce(const std::string& text) {
    if (windowAnnouncer_) windowAnnouncer_->announce(text, platform::ui::AnnouncementPriority::high);
}

}  // namespace parlowen
