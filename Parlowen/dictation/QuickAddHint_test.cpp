#include "Parlowen/dictation/QuickAddHint.h"

#include <gtest/gtest.h>

#include "Parlowen/shell/settings/SettingsTestSupport.h"
#include "platform/runtime/ManualExecutor.h"

namespace {

using parlowen::QuickAddHint;
using parlowen::QuickAddHintModel;
using Strings = std::vector<std::string>;

TEST(QuickAddHintCandidates, PicksCapitalisedThenLongWords) {
    struct Case {
        std::string text;
        std::ptrdiff_t limit;
        Strings expected;
    };
    const Case cases[] = {
        {"Met Priya at the Oakland office yesterday, then emailed priya", 8,
         {"Met", "Priya", "Oakland", "office", "yesterday", "emailed"}},
        {"Met Priya at the Oakland office yesterday, then emailed priya", 3, {"Met", "Priya", "Oakland"}},
        {"Met Priya", 0, {}},
        {"Met Priya", -1, {}},
        // A short lower-case word hides its later capitalised form.
        {"bob met Bob", 8, {}},
        // Hyphens and ASCII apostrophes stay inside words and are trimmed at the ends.
        {"state-of-the-art don't --Quon'' 'tis", 8, {"Quon", "state-of-the-art", "don't"}},
        {"don\u2019t worry", 8, {"worry"}},  // a typographic apostrophe separates
        {"I am OK, Im fine", 8, {}},
        {"\u00C9mile visited Z\u00FCrich twice", 8, {"\u00C9mile", "Z\u00FCrich", "visited", "twice"}},
        {"Kubernetes kubernetes KUBERNETES", 8, {"Kubernetes"}},
        {"x Y 12 2024", 8, {}},  // single characters, and digits too short
        {"", 8, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(QuickAddHint::extractCandidates(c.text, c.limit), c.expected) << c.text;
}

TEST(QuickAddHintCandidates, StopWordsAreTheFixedList) {
    EXPECT_EQ(QuickAddHintModel::stopWords().size(), 54u);
}

TEST(Chunked, SlicesInOrder) {
    const Strings nine{"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    EXPECT_EQ(parlowen::chunked(nine, 4),
              (std::vector<Strings>{{"1", "2", "3", "4"}, {"5", "6", "7", "8"}, {"9"}}));
    EXPECT_EQ(parlowen::chunked(Strings{"1", "2"}, 2), (std::vector<Strings>{{"1", "2"}}));
    EXPECT_EQ(parlowen::chunked(nine, 0), std::vector<Strings>{nine});
    EXPECT_EQ(parlowen::chunked(nine, -3), std::vector<Strings>{nine});
    EXPECT_TRUE(parlowen::chunked(Strings{}, 4).empty());
    EXPECT_TRUE(parlowen::chunked(Strings{}, 0).empty());
}

class QuickAddHintModelTest : public settingstest::StoreTest {
protected:
    void SetUp() override {
        prefs->dictationContextualPhrases.set({"Parlowen"});
        model.onDismiss = [this] { ++dismissals; };
    }
    Strings hints() const { return prefs->dictationContextualPhrases(); }

    platform::ManualExecutor main;
    std::unique_ptr<parlowen::PreferencesStore> prefs = open();
    Strings recent{"Priya", "Oakland"};
    QuickAddHintModel model{*prefs, [this] { return recent; }, main};
    int dismissals = 0;
};

TEST_F(QuickAddHintModelTest, AddsTrimmedWordOnceAndConfirms) {
    EXPECT_TRUE(model.add("  Kubernetes \n"));
    EXPECT_EQ(hints(), (Strings{"Parlowen", "Kubernetes"}));
    EXPECT_EQ(open()->dictationContextualPhrases(), hints());  // persisted
    EXPECT_EQ(model.lastAddedConfirmation(), "Added \u201CKubernetes\u201D to Recognition Hints.");

    EXPECT_FALSE(model.add("Kubernetes"));
    EXPECT_EQ(hints(), (Strings{"Parlowen", "Kubernetes"}));
    EXPECT_EQ(model.lastAddedConfirmation(), "\u201CKubernetes\u201D is already in your hints.");

    EXPECT_TRUE(model.add("kubernetes"));  // another spelling is another hint
    EXPECT_EQ(hints(), (Strings{"Parlowen", "Kubernetes", "kubernetes"}));
}

TEST_F(QuickAddHintModelTest, BlankEntryChangesNothing) {
    model.entry.set(" \t\n ");
    EXPECT_FALSE(QuickAddHintModel::canAdd(model.entry()));
    const int writes = defaults.writeCount();
    EXPECT_FALSE(model.add(model.entry()));
    EXPECT_EQ(defaults.writeCount(), writes);
    EXPECT_EQ(model.lastAddedConfirmation(), std::nullopt);
    EXPECT_EQ(main.pendingTimers(), 0u);

    EXPECT_TRUE(QuickAddHintModel::canAdd(" x "));
}

TEST_F(QuickAddHintModelTest, DismissesAfterSevenTenthsWhenAddedAndOneSecondForDuplicate) {
    model.entry.set("Kubernetes");
    model.add(model.entry());
    EXPECT_EQ(model.entry(), "Kubernetes");  // add leaves the entry as it is
    main.advance(platform::milliseconds(699));
    EXPECT_EQ(dismissals, 0);
    main.advance(platform::milliseconds(1));
    EXPECT_EQ(dismissals, 1);

    model.add("Kubernetes");
    main.advance(platform::milliseconds(999));
    EXPECT_EQ(dismissals, 1);
    main.advance(platform::milliseconds(1));
    EXPECT_EQ(dismissals, 2);
}

TEST_F(QuickAddHintModelTest, EachConfirmationDismissesOnItsOwnSchedule) {
    model.add("Alpha");                       // dismiss at 0.7 s
    main.advance(platform::milliseconds(500));
    model.add("Alpha");                       // dismiss at 1.5 s
    main.advance(platform::milliseconds(200));
    EXPECT_EQ(dismissals, 1);
    main.advance(platform::milliseconds(800));
    EXPECT_EQ(dismissals, 2);
}

TEST_F(QuickAddHintModelTest, ClosingClearsEntryAndDropsPendingDismissal) {
    model.willShow();
    model.entry.set("Kubernetes");
    model.add(model.entry());
    const auto token = model.focusToken();

    model.panelWillClose();
    EXPECT_EQ(model.entry(), "");
    EXPECT_EQ(model.lastAddedConfirmation(), std::nullopt);
    EXPECT_EQ(model.recentWords(), recent);
    EXPECT_EQ(model.focusToken(), token);

    // Shown again before the old dismissal was due: it must not close this showing.
    model.willShow();
    main.advance(platform::seconds(2));
    EXPECT_EQ(dismissals, 0);
}

TEST_F(QuickAddHintModelTest, NoDismissalWithoutHandlerOrAfterTheModelIsGone) {
    model.onDismiss = nullptr;
    model.add("Alpha");
    main.advance(platform::seconds(1));  // runs with no handler set

    auto other = std::make_unique<QuickAddHintModel>(*prefs, nullptr, main);
    int calls = 0;
    other->onDismiss = [&] { ++calls; };
    other->add("Beta");
    other.reset();
    main.advance(platform::seconds(1));
    EXPECT_EQ(calls, 0);
}

TEST_F(QuickAddHintModelTest, ShowingOffersLatestWordsAndMovesFocus) {
    const auto token = model.focusToken();
    model.willShow();
    EXPECT_EQ(model.recentWords(), recent);
    EXPECT_EQ(model.focusToken(), token + 1);

    recent = {"Zürich"};
    model.willShow();
    EXPECT_EQ(model.recentWords(), recent);

    model.pickRecentWord("Zürich");
    EXPECT_EQ(model.entry(), "Zürich");
    EXPECT_EQ(model.focusToken(), token + 3);
    EXPECT_EQ(hints(), Strings{"Parlowen"});  // picked, not added
}

}  // namespace
