#include "Parlowen/dictation/SelectionCapture.h"

#include <unistd.h>

#include "Parlowen/dictation/TerminalTarget.h"
#include "platform/log/Log.h"
#include "platform/runtime/Channel.h"
#include "platform/text/Unicode.h"

namespace parlowen {

struct SelectionCapture::Core {
    PasteboardArbiter& arbiter;
    platform::Pasteboard& pasteboard;
    platform::Accessibility& accessibility;
    platform::KeystrokePoster& keystrokes;
    platform::Workspace& workspace;
    platform::PrimarySelection& primary;
    platform::Duration copyDelay = std::chrono::milliseconds(500);
};

namespace {

using Reply = platform::Channel<std::optional<std::string>>;

constexpr platform::Duration kMessagingTimeout = std::chrono::milliseconds(500);
// The PRIMARY owner answers at once when it answers at all.
constexpr std::chrono::milliseconds kPrimaryReadTimeout{250};

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "selection");
    return log;
}

// The focused element; null when untrusted, unanswered or absent.
std::shared_ptr<platform::AccessibleElement> focusedElement(platform::Accessibility& accessibility) {
    if (!accessibility.isTrusted()) return nullptr;
    accessibility.setMessagingTimeout(kMessagingTimeout);
    auto focused = accessibility.focusedElement();
    return focused ? *focused : nullptr;
}

// Empty only when every step answers and the range has no length; any
// failure lets the copy go ahead (applications without accessibility).
bool selectionIsEmpty(platform::AccessibleElement* focused) {
    if (!focused) return false;
    auto range = focused->selectionRange();
    return range && range->end == range->start;
}

// On X11 the frontmost program's selection is normally its PRIMARY
// selection already: read it there, with no keystroke (a terminal's Ctrl+C
// would interrupt its program) and without borrowing the clipboard. Only a
// PRIMARY held by the frontmost process counts; anything else is an older
// selection elsewhere.
std::optional<std::string> frontmostPrimary(SelectionCapture::Core& core) {
    auto owner = core.primary.ownerProcess();
    // Our own windows answer on this very thread: asking would only wait out the bound.
    if (!owner || *owner == ::getpid()) return std::nullopt;
    auto front = core.workspace.frontmostApplication();
    if (!front || front->processIdentifier != *owner) return std::nullopt;
    auto text = core.primary.text(kPrimaryReadTimeout);
    if (!text || text->empty()) return std::nullopt;
    return text;
}

long charCount(const std::optional<std::string>& text) {
    return text ? static_cast<long>(platform::text::graphemeCount(*text)) : -1;
}

platform::Task<std::optional<std::string>> copyAndRestore(std::shared_ptr<SelectionCapture::Core> core) {
    const auto focused = focusedElement(core->accessibility);
    if (selectionIsEmpty(focused.get())) {
        logger().info("capture: AX reports no selection — skipping ⌘C to avoid system beep");
        co_return std::nullopt;
    }
    if (auto primary = frontmostPrimary(*core)) {
        logger().info("capture: chars={} from the frontmost application's PRIMARY selection", charCount(primary));
        co_return primary;
    }

    platform::Pasteboard& pb = core->pasteboard;
    const std::int64_t before = pb.changeCount();
    const auto snapshot = PasteboardArbiter::snapshotItems(pb);

    const auto chord = copyChord(isTerminalTarget(focused.get(), core->workspace));
    if (auto posted = core->keystrokes.post(chord); !posted) {
        if (posted.error().code == static_cast<int>(platform::KeystrokeErrorCode::noEventSource))
            logger().error("failed to create CGEventSource");
        else
            logger().error("failed to construct Cmd+C CGEvent");
    }

    // A cancelled wait (the arbiter's watchdog) just moves on.
    (void)co_await platform::sleepFor(core->copyDelay);

    const std::int64_t after = pb.changeCount();
    const std::optional<std::string> text = pb.string();
    logger().info("capture: chars={} pbChangeBefore={} pbChangeAfter={}", charCount(text), before, after);

    // The copy's own write is expected; any further one belongs to another writer.
    PasteboardArbiter::restoreItems(pb, snapshot, after > before ? before + 1 : before, logger());

    if (after <= before) co_return std::nullopt;
    if (after == before + 1) {
        if (text && !text->empty()) co_return text;
        co_return std::nullopt;
    }
    logger().info("capture: dropped — clipboard changed by another writer mid-capture");
    co_return std::nullopt;
}

platform::Task<void> copyAndRestoreOperation(std::weak_ptr<SelectionCapture::Core> weak, Reply reply) {
    std::optional<std::string> result;
    if (auto core = weak.lock()) result = co_await copyAndRestore(std::move(core));
    reply.send(std::move(result));
}

// Queues the pasteboard work and waits for its answer. Deliberately deaf to
// cancellation: once queued, the work runs to its end (copy, wait, restore).
platform::Task<void> captureChild(std::weak_ptr<SelectionCapture::Core> weak, Reply first) {
    std::optional<std::string> result;
    if (auto core = weak.lock()) {
        Reply reply;
        core->arbiter.enqueue([weak, reply] { return copyAndRestoreOperation(weak, reply); });
        core.reset();
        auto answer = co_await reply.next();
        if (answer && *answer) result = std::move(**answer);
    }
    first.send(std::move(result));
}

platform::Task<void> timerChild(Reply first) {
    const platform::Status slept = co_await platform::sleepFor(SelectionCapture::kTimeout);
    if (!slept) co_return;
    logger().error("capture: timed out after {:f}s",
                   std::chrono::duration<double>(SelectionCapture::kTimeout).count());
    first.send(std::nullopt);
}

platform::Task<std::optional<std::string>> race(std::weak_ptr<SelectionCapture::Core> weak) {
    platform::Executor& ex = co_await platform::currentExecutor();
    Reply first;
    auto capturing = platform::spawn(ex, captureChild(std::move(weak), first));
    auto timer = platform::spawn(ex, timerChild(first));
    auto winner = co_await first.next();
    timer.cancel();
    co_await timer;
    co_await capturing;
    if (winner && *winner) co_return std::move(**winner);
    co_return std::nullopt;
}

}  // namespace

SelectionCapture::SelectionCapture(PasteboardArbiter& arbiter, platform::Pasteboard& pasteboard,
                                   platform::Accessibility& accessibility, platform::KeystrokePoster& keystrokes,
                                   platform::Workspace& workspace, platform::PrimarySelection& primary)
    : core_(std::make_shared<Core>(Core{arbiter, pasteboard, accessibility, keystrokes, workspace, primary})) {}

SelectionCapture::~SelectionCapture() = default;

platform::Duration SelectionCapture::copyDelay() const { return core_->copyDelay; }

platform::Task<std::optional<std::string>> SelectionCapture::capture() { return race(core_); }

}  // namespace parlowen
