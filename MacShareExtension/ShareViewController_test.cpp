#include "MacShareExtension/ShareViewController.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MacShareExtension/ScriptedShareContext.h"
#include "platform/clouddb/InMemoryCloudDatabase.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/RecordingAnnouncer.h"

namespace parlowen {
namespace {

using platform::Url;
using State = MacShareViewModel::State;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

Url url(const char* text) { return *Url::parse(text); }
platform::Bytes bytes(std::string_view s) { return platform::Bytes(s.begin(), s.end()); }
platform::Error loadError() { return platform::Error::make("share", 1, "loadFailed", "load failed"); }

std::shared_ptr<ScriptedAttachment> attachment() { return std::make_shared<ScriptedAttachment>(); }

class ShareTest : public ::testing::Test {
protected:
    std::shared_ptr<ShareViewController> makeController(ShareExtensionContext* ctx) {
        return ShareViewController::create({executor, ctx, database, clock});
    }
    std::optional<Url> extract() {
        auto controller = makeController(&context);
        auto handle = platform::spawn(executor, controller->extractSharedURL());
        executor.runUntilIdle();
        EXPECT_TRUE(handle.done());
        return handle.value();
    }
    // Runs the whole share: returns the controller after the outcome is shown.
    std::shared_ptr<ShareViewController> share(bool inWindow = true) {
        auto controller = makeController(&context);
        if (inWindow) controller->setWindowAnnouncer(&announcer);
        subscription = controller->viewModel()->state.stream().dropFirst().subscribe(
            [this](const State& s) { states.push_back(s); });
        controller->viewDidLoad();
        executor.runUntilIdle();
        return controller;
    }

    platform::ScopedLogCapture logs;
    platform::ManualExecutor executor;
    platform::InMemoryCloudDatabase database;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSinceReferenceDate(800000000)};
    ScriptedShareContext context;
    platform::ui::RecordingAnnouncer announcer;
    std::vector<State> states;
    platform::Subscription subscription;
};

// ---- The search

TEST_F(ShareTest, SearchTable) {
    struct Case {
        const char* name;
        std::vector<ShareExtensionItem> items;
        std::optional<std::string> expected;
    };
    auto a = [](std::vector<std::pair<std::string, ScriptedAttachment::Answer>> offers) {
        auto at = attachment();
        for (auto& [type, answer] : offers) at->offer(type, answer);
        return std::shared_ptr<ShareItemProvider>(at);
    };
    const std::vector<Case> cases = {
        {"file URL refused, next type tried",
         {{{a({{kTypeFileURL, SharedItem(url("file:///tmp/a"))}, {kTypePlainText, SharedItem(std::string("https://b.example/x"))}})}, {}}},
         "https://b.example/x"},
        {"ftp URL item gives none and is not taken as text",
         {{{a({{kTypeURL, SharedItem(url("ftp://f.example/a"))}})}, {}}},
         std::nullopt},
        {"web archive: one link between blanks",
         {{{a({{kTypeWebArchive, SharedItem(bytes("  \n https://w.example/p \t\n"))}})}, {}}},
         "https://w.example/p"},
        {"web archive of other bytes gives none, search goes on",
         {{{a({{kTypeWebArchive, SharedItem(bytes("<plist>https://w.example</plist>"))},
               {kTypeText, SharedItem(std::string("http://t.example/"))}})}, {}}},
         "http://t.example/"},
        {"invalid UTF-8 gives none",
         {{{a({{kTypeHTML, SharedItem(bytes("https://x.example/\xff\xfe"))}})}, {}}},
         std::nullopt},
        {"capital scheme passes", {{{a({{kTypePlainText, SharedItem(std::string("HTTPS://c.example/"))}})}, {}}},
         "https://c.example/"},
        {"mixed-case scheme passes", {{{a({{kTypePlainText, SharedItem(std::string("HtTp://m.example/"))}})}, {}}},
         "http://m.example/"},
        {"load error and nothing go on",
         {{{a({{kTypeURL, loadError()}, {kTypeHTML, SharedItem(std::monostate{})},
               {kTypePlainText, SharedItem(std::string("https://ok.example/"))}})}, {}}},
         "https://ok.example/"},
        {"text without a scheme or mail link gives none",
         {{{a({{kTypePlainText, SharedItem(std::string("example.com/page"))}}),
            a({{kTypeText, SharedItem(std::string("mailto:x@example.com"))}})}, {}}},
         std::nullopt},
        {"attributed text after the item's attachments, before the next item",
         {{{a({{kTypePlainText, SharedItem(std::string("just words"))}})}, std::string("  https://rec.example/a\n")},
          {{a({{kTypeURL, SharedItem(url("https://second.example/"))}})}, {}}},
         "https://rec.example/a"},
        {"first item with a URL wins",
         {{{a({{kTypeURL, SharedItem(url("ftp://no.example/"))}})}, std::string("not a link")},
          {{a({{kTypeURL, SharedItem(url("https://first.example/"))}})}, {}},
          {{a({{kTypeURL, SharedItem(url("https://later.example/"))}})}, {}}},
         "https://first.example/"},
    };
    for (const auto& c : cases) {
        context.items = c.items;
        const auto got = extract();
        EXPECT_EQ(got ? std::optional(got->absoluteString()) : std::nullopt, c.expected) << c.name;
    }
    EXPECT_TRUE(logs->contains("recovered URL from attributedContentText: <private>", platform::LogLevel::info));
}

TEST_F(ShareTest, AURLTypeIsAskedBeforeTextAndTheTextIsNeverLoaded) {
    auto at = attachment();
    at->offer(kTypePlainText, SharedItem(std::string("https://text.example/")))
        .offer(kTypeURL, SharedItem(url("https://url.example/")));
    context.items = {{{at}, {}}};
    EXPECT_EQ(extract()->absoluteString(), "https://url.example/");
    EXPECT_THAT(at->loads(), ElementsAre(kTypeURL));
}

TEST_F(ShareTest, DiagnosticLinesNameEveryItemsTypesAndKeepTheTextPrivate) {
    auto first = attachment();
    first->offer(kTypeURL, SharedItem(std::monostate{})).offer(kTypePlainText, SharedItem(std::monostate{}));
    auto second = attachment();
    second->offer(kTypeHTML, SharedItem(std::monostate{}));
    context.items = {{{first, second}, std::nullopt}, {{}, std::string("secret words")}};
    EXPECT_FALSE(extract());
    EXPECT_THAT(logs->messages(),
                ElementsAre("item 0 attachments=[public.url, public.plain-text, public.html] attributedContentText=<private>",
                            "item 1 attachments=[] attributedContentText=<private>"));
}

TEST_F(ShareTest, NoItemsOrNoExtensionItemsFailWithTheNoURLText) {
    context.items = {};
    share();
    EXPECT_TRUE(logs->messages().empty());
    EXPECT_THAT(states, ElementsAre(State::failure("Couldn't read a URL from the share.")));
    EXPECT_THAT(announcer.announcements(),
                ElementsAre(platform::ui::RecordingAnnouncer::Announcement{
                    "Couldn't read a URL from the share.", platform::ui::AnnouncementPriority::high}));

    ScriptedShareContext notItems;
    notItems.notExtensionItems = true;
    for (ShareExtensionContext* ctx : {static_cast<ShareExtensionContext*>(&notItems),
                                       static_cast<ShareExtensionContext*>(nullptr)}) {
        logs->clear();
        auto controller = makeController(ctx);
        controller->viewDidLoad();
        executor.runUntilIdle();
        EXPECT_EQ(controller->viewModel()->state.get(), State::failure("Couldn't read a URL from the share."));
        EXPECT_TRUE(logs->contains("inputItems cast to [NSExtensionItem] failed", platform::LogLevel::error));
    }
}

// ---- The record

TEST_F(ShareTest, SavesOnePendingRenderRecordTitledByTheHost) {
    auto controller = makeController(&context);
    auto saved = platform::spawn(executor, controller->enqueue(url("https://news.example.org/story?id=3")));
    executor.runUntilIdle();
    ASSERT_TRUE(saved.value());

    const auto records = database.storedRecords();
    ASSERT_EQ(records.size(), 1u);
    const auto& record = records[0];
    const auto item = QueueItem::fromRecord(record);
    ASSERT_TRUE(item);
    EXPECT_EQ(record.recordName(), item->id.uuidString());
    EXPECT_EQ(record.recordName().find_first_of("abcdef"), std::string::npos) << "upper-case UUID";
    EXPECT_EQ(record.recordID().zoneID, platform::CloudZoneID::defaultZone());
    for (const char* absent : {"sourceApp", "audio", "heroImage", "completedAt", "renderError"})
        EXPECT_EQ(std::ranges::count(record.allKeys(), std::string(absent)), 0) << absent;
    EXPECT_EQ(item->title, "news.example.org");
    EXPECT_EQ(item->sourceURL->absoluteString(), "https://news.example.org/story?id=3");
    EXPECT_EQ(item->text, "");
    EXPECT_EQ(item->voiceEngine, "");
    EXPECT_EQ(item->voiceID, "");
    EXPECT_EQ(item->durationSec, 0);
    EXPECT_EQ(item->playedThru, 0);
    EXPECT_EQ(item->state, QueueItem::State::pendingRender);
    EXPECT_EQ(item->createdAt, clock.now());
    EXPECT_TRUE(logs->contains("queued pendingRender item " + record.recordName() + " for <private>",
                               platform::LogLevel::info));

    // A link without a host part gets the stand-in title.
    EXPECT_EQ(controller->makeItem(url("file:///tmp/page.html")).title, "Untitled link");
    EXPECT_NE(controller->makeItem(url("https://a.example/")).id, controller->makeItem(url("https://a.example/")).id);
}

// ---- Outcomes and timing

TEST_F(ShareTest, SuccessShowsAnnouncesAndCompletesAfterOnePointTwoSeconds) {
    auto at = attachment();
    at->offer(kTypeURL, SharedItem(url("https://a.example/")));
    context.items = {{{at}, {}}};
    auto controller = share();
    EXPECT_THAT(states, ElementsAre(State::success()));
    EXPECT_THAT(announcer.announcements(),
                ElementsAre(platform::ui::RecordingAnnouncer::Announcement{"Article added to Listen Later.",
                                                                           platform::ui::AnnouncementPriority::high}));
    EXPECT_EQ(database.storedRecords().size(), 1u);
    executor.advance(std::chrono::milliseconds(1199));
    EXPECT_EQ(context.completions, 0);
    executor.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(context.completions, 1);
    EXPECT_TRUE(controller->shareTask().done());
}

TEST_F(ShareTest, SaveFailuresShowTheDescriptionAndCompleteAfterTwoPointFiveSeconds) {
    const auto failure = platform::cloudError(platform::CloudErrorCode::quotaExceeded, "The quota is used up.");
    for (bool wholeOperation : {true, false}) {
        SCOPED_TRACE(wholeOperation);
        logs->clear();
        announcer.clear();
        context.completions = 0;
        auto at = attachment();
        at->offer(kTypeURL, SharedItem(url("https://a.example/")));
        context.items = {{{at}, {}}};
        if (wholeOperation) {
            database.failNext(platform::InMemoryCloudDatabase::Operation::save, failure);
        } else {
            // The record's name is only known once it is made: fail every record by the save's call.
            database.setLatency(std::chrono::milliseconds(10));
        }
        auto controller = makeController(&context);
        controller->setWindowAnnouncer(&announcer);
        controller->viewDidLoad();
        executor.runUntilIdle();
        if (!wholeOperation) {
            const auto calls = database.calls();
            ASSERT_FALSE(calls.empty());
            database.failRecord(calls.back().recordNames.at(0), failure);
            executor.advance(std::chrono::milliseconds(10));
            database.setLatency(platform::Duration{0});
        }
        EXPECT_EQ(controller->viewModel()->state.get(), State::failure("The quota is used up."));
        EXPECT_THAT(announcer.announcements(),
                    ElementsAre(platform::ui::RecordingAnnouncer::Announcement{
                        "Couldn't add to Quon. The quota is used up.", platform::ui::AnnouncementPriority::high}));
        EXPECT_TRUE(logs->contains("queue failed: The quota is used up.", platform::LogLevel::error));
        EXPECT_EQ(logs->contains("CloudKit save failed for ", platform::LogLevel::error), !wholeOperation);
        if (!wholeOperation) {
            EXPECT_THAT(logs->find("CloudKit save failed for ")->message, HasSubstr(": The quota is used up."));
        }
        executor.advance(std::chrono::milliseconds(2499));
        EXPECT_EQ(context.completions, 0);
        executor.advance(std::chrono::milliseconds(1));
        EXPECT_EQ(context.completions, 1);
    }
}

TEST_F(ShareTest, NoAnnouncementWithoutAWindowAndNoCompletionOnceTheControllerIsGone) {
    auto at = attachment();
    at->offer(kTypeURL, SharedItem(url("https://a.example/")));
    context.items = {{{at}, {}}};
    auto controller = share(/*inWindow=*/false);
    EXPECT_THAT(states, ElementsAre(State::success()));
    EXPECT_TRUE(announcer.announcements().empty());
    controller.reset();  // the share task has ended, so nothing else holds it
    executor.advanceUntilIdle();
    EXPECT_EQ(context.completions, 0);
}

// ---- The view model

TEST(MacShareViewModelTest, ChangesOnceAndCompletesAfterItsDelayEvenWhenTheWaitIsCancelled) {
    platform::ManualExecutor executor;
    for (auto [final, delay] : {std::pair{State::success(), std::chrono::milliseconds(1200)},
                                std::pair{State::failure("x"), std::chrono::milliseconds(2500)}}) {
        auto model = std::make_shared<MacShareViewModel>(executor);
        int completions = 0;
        model->onComplete = [&] { ++completions; };
        std::vector<State> seen;
        auto sub = model->state.stream().dropFirst().subscribe([&](const State& s) {
            EXPECT_EQ(model->state.get(), State::working());  // told before the change
            seen.push_back(s);
        });
        auto wait = model->finish(final);
        EXPECT_FALSE(model->finish(State::failure("again")).valid());
        EXPECT_THAT(seen, ElementsAre(final));
        executor.advance(delay - std::chrono::milliseconds(1));
        EXPECT_EQ(completions, 0);
        executor.advance(std::chrono::milliseconds(1));
        EXPECT_EQ(completions, 1);

        // A second model whose wait is cancelled completes at once.
        auto cancelled = std::make_shared<MacShareViewModel>(executor);
        int early = 0;
        cancelled->onComplete = [&] { ++early; };
        auto handle = cancelled->finish(final);
        executor.runUntilIdle();
        handle.cancel();
        executor.runUntilIdle();
        EXPECT_EQ(early, 1);
    }
}

}  // namespace
}  // namespace parlowen
