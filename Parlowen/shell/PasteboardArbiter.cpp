#include "Parlowen/shell/PasteboardArbiter.h"

#include <exception>

#include "platform/log/Log.h"

namespace parlowen {

namespace {

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "pasteboard-arbiter");
    return log;
}

platform::Task<void> runOperation(PasteboardOperation operation) {
    // A throw must not end the queue: later operations wait on this one.
    try {
        co_await operation();
    } catch (const std::exception& e) {
        logger().error("pasteboard op failed: {}", e.what());
    } catch (...) {
        logger().error("pasteboard op failed");
    }
}

platform::Task<void> watchdog(platform::JoinHandle<void> operation) {
    const platform::Status slept = co_await platform::sleepFor(PasteboardArbiter::kTimeout);
    if (!slept || operation.done()) co_return;
    logger().error("pasteboard op exceeded {:f}s — cancelling",
                   std::chrono::duration<double>(PasteboardArbiter::kTimeout).count());
    operation.cancel();
}

// The operation and its watchdog race; whichever way it goes, this returns
// only once the operation itself has (the watchdog just asks it to stop).
platform::Task<void> runGuarded(platform::Executor* main, PasteboardOperation operation) {
    auto op = platform::spawn(*main, runOperation(std::move(operation)));
    auto timer = platform::spawn(*main, watchdog(op));
    co_await op;
    timer.cancel();
    co_await timer;
}

platform::Task<void> runAfter(platform::JoinHandle<void> previous, platform::Executor* main,
                              PasteboardOperation operation) {
    if (previous.valid()) co_await previous;
    co_await runGuarded(main, std::move(operation));
}

}  // namespace

PasteboardArbiter::PasteboardArbiter(platform::Executor& main) : main_(main) {}

void PasteboardArbiter::enqueue(PasteboardOperation operation) {
    PARLOWEN_ASSERT_ON(main_);
    tail_ = platform::spawn(main_, runAfter(tail_, &main_, std::move(operation)));
}

std::vector<platform::PasteboardItem> PasteboardArbiter::snapshotItems(const platform::Pasteboard& pasteboard) {
    std::vector<platform::PasteboardItem> items;
    const std::size_t count = pasteboard.itemCount();
    items.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        platform::PasteboardItem copy;
        for (const auto& type : pasteboard.types(i))
            if (auto data = pasteboard.data(i, type)) copy.entries.push_back({type, std::move(*data)});
        items.push_back(std::move(copy));
    }
    return items;
}

void PasteboardArbiter::restoreItems(platform::Pasteboard& pasteboard,
                                     const std::vector<platform::PasteboardItem>& snapshot,
                                     std::int64_t expectedChangeCount, const platform::Logger& log) {
    if (snapshot.empty()) {
        log.info("restore: hadPrev=false (no-op)");
        return;
    }
    const std::int64_t actual = pasteboard.changeCount();
    if (actual != expectedChangeCount) {
        log.info("restore: skipped — pasteboard claimed by another writer (expected={} actual={})",
                 expectedChangeCount, actual);
        return;
    }
    pasteboard.clearContents();
    pasteboard.writeObjects(snapshot);
    log.info("restore: items={} pbChangeAfter={}", snapshot.size(), pasteboard.changeCount());
}

}  // namespace parlowen
