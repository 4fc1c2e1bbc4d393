#pragma once

#include <memory>
#include <optional>
#include <string>

#include "MacShareExtension/MacShareViewModel.h"
#include "MacShareExtension/ShareContext.h"
#include "Parlowen/model/QueueItem.h"
#include "platform/clouddb/CloudDatabase.h"
#include "platform/log/Log.h"
#include "platform/ui/Announcer.h"
#include "platform/values/Date.h"

namespace parlowen {

// The share extension's controller: finds the shared link, saves it as one
// pendingRender queue record for the application to take up, shows and
// announces the outcome, then completes the request. Main thread only; made
// through `create` because the share task keeps it alive while it runs.
class ShareViewController : public std::enable_shared_from_this<ShareViewController> {
public:
    static constexpr const char* kContainerIdentifier = kCloudContainerIdentifier;
    static constexpr const char* kNoURLMessage = "Couldn't read a URL from the share.";
    static constexpr const char* kAddedAnnouncement = "Article added to Listen Later.";
    static constexpr const char* kFailureAnnouncementPrefix = "Couldn't add to Quon. ";
    static constexpr const char* kUntitledLink = "Untitled link";
    static constexpr int kPanelWidth = 320;
    static constexpr int kPanelHeight = 220;

    struct Dependencies {
        platform::Executor& main;
        // Nothing when the host gave no extension context.
        ShareExtensionContext* context;
        platform::CloudDatabase& database;
        const platform::Clock& clock;
    };

    static std::shared_ptr<ShareViewController> create(Dependencies deps);

    const std::shared_ptr<MacShareViewModel>& viewModel() const { return viewModel_; }

    // The announcer of the window showing the panel; none while not in a window.
    void setWindowAnnouncer(platform::ui::Announcer* announcer) { windowAnnouncer_ = announcer; }

    // Wires the completion and starts the share task.
    void viewDidLoad();

    platform::Task<std::optional<platform::Url>> extractSharedURL();
    static platform::Task<std::optional<platform::Url>> loadURL(std::shared_ptr<ShareItemProvider> provider,
                                                                std::string typeIdentifier);
    platform::Task<platform::Status> enqueue(platform::Url url);
    void announce(const std::string& text);

    // The queue entry saved for a shared link.
    QueueItem makeItem(const platform::Url& url) const;

    // The share task's handle, for tests.
    const platform::JoinHandle<void>& shareTask() const { return shareTask_; }

    static const platform::Logger& logger();

private:
    explicit ShareViewController(Dependencies deps);
    static platform::Task<void> runShare(std::shared_ptr<ShareViewController> self);

    Dependencies deps_;
    std::shared_ptr<MacShareViewModel> viewModel_;
    platform::ui::Announcer* windowAnnouncer_ = nullptr;
    platform::JoinHandle<void> shareTask_;
};

// The accepted form of a shared text: trimmed, parsed, with an http(s) scheme.
std::optional<platform::Url> sharedLinkFromText(std::string_view text);

}  // namespace parlowen
