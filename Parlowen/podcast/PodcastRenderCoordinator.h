#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Parlowen/listenlater/queue/QueueService.h"
#include "Parlowen/listenlater/render/ListenLaterRenderer.h"
#include "Parlowen/model/CleanUpModel.h"
#include "Parlowen/notepad/RefinementClient.h"
#include "Parlowen/podcast/PodcastRenderStore.h"
#include "Parlowen/podcast/PodcastScript.h"
#include "Parlowen/shell/MacUserNotifier.h"
#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"
#include "platform/values/Date.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// Runs one podcast request from start to end: the item's article becomes a
// two-host script (on the worker pool), the renderer speaks it, and every step
// is recorded in the render store; the user is told when it is ready. One
// coordinator per request; keep it alive until `render` returns. Main thread.
// The queue item itself is never changed.
class PodcastRenderCoordinator {
public:
    static constexpr double kScriptTimeout = 180;

    // What the request needs besides its four collaborators, borrowed from the
    // composition root.
    struct Services {
        platform::Executor& main;
        platform::Executor& worker;  // where the script is generated
        const platform::Clock& clock;
        MacUserNotifier& notifier;
        // The client of a script model, or none when the model cannot be used here.
        std::function<std::unique_ptr<RefinementClient>(CleanUpModel)> makeClient;
    };

    PodcastRenderCoordinator(PodcastRenderStore& store, QueueService& queueService,
                             PodcastScriptGenerator scriptGenerator, PodcastRenderer& renderer, Services services);

    // Never fails: every outcome is written to the item's record. A request
    // for an item whose podcast is already being made is refused and changes
    // nothing (two renderers would otherwise write one file at once).
    platform::Task<void> render(platform::Uuid itemID, std::string hostAVoice, std::string hostBVoice,
                                CleanUpModel scriptModel);

    // One "LABEL: text" line per turn, an empty line between turns.
    static std::string formatScript(const PodcastDialogue& dialogue);
    // Logs and moves the record to `error` with the message.
    void fail(const platform::Uuid& itemID, const std::string& message);

    PodcastRenderStore& store;
    QueueService& queueService;
    const PodcastScriptGenerator scriptGenerator;
    PodcastRenderer& renderer;

private:
    static platform::Task<void> renderImpl(PodcastRenderCoordinator* self, platform::Uuid itemID,
                                           std::string hostAVoice, std::string hostBVoice, CleanUpModel scriptModel);

    Services services_;
};

}  // namespace parlowen
