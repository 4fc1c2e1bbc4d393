#include "Parlowen/notepad/NotesExporter.h"

#include <gtest/gtest.h>

#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"

namespace parlowen {
namespace {

using platform::NotesScriptOutcome;
using platform::text::TimeZone;

struct ExporterFixture : ::testing::Test {
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    platform::ScriptedNotesScripting scripting;
    platform::InMemoryUserDefaults defaults;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSince1970(1741529100)};  // 2025-03-09 14:05 UTC
    NotesExporter exporter{{scripting, defaults, main, main, clock, "en_US", TimeZone::utc()}};

    ExportResult save(std::optional<std::string> title, std::string body) {
        auto h = platform::spawn(main, exporter.saveToNotes(std::move(title), std::move(body)));
        main.runUntilIdle();
        EXPECT_TRUE(h.done());
        return h.value();
    }
    bool explainerShown() const { return defaults.boolForKey(NotesExporter::kExplainerShownKey); }
};

TEST(NotesExporterScript, IsTheEightLinesWithBothEscapes) {
    const auto script = NotesExporter::buildScript("My \"T\" & co", "First \"quoted\" line\n\n<b>bold</b> C:\\path\\\nit's\r\nend");
    const std::string html =
        "<h1>My &quot;T&quot; &amp; co</h1>"
        "<div>First &quot;quoted&quot; line</div>"
        "<br>"
        "<div>&lt;b&gt;bold&lt;/b&gt; C:\\path\\</div>"
        "<div>it&#39;s\r</div>"
        "<div>end</div>"
        "<div>#parlowen</div>";
    EXPECT_EQ(script.noteHtml, html);
    EXPECT_EQ(script.folderName, "Parlowen");
    EXPECT_EQ(script.title, "My \"T\" & co");
    EXPECT_EQ(script.source,
              "tell application \"Notes\"\n"
              "    if not (exists folder \"Parlowen\") then\n"
              "        make new folder with properties {name:\"Parlowen\"}\n"
              "    end if\n"
              "    tell folder \"Parlowen\"\n"
              "        make new note with properties {body:\""
              "<h1>My &quot;T&quot; &amp; co</h1><div>First &quot;quoted&quot; line</div><br>"
              "<div>&lt;b&gt;bold&lt;/b&gt; C:\\\\path\\\\</div><div>it&#39;s </div><div>end</div>"
              "<div>#parlowen</div>\"}\n"
              "    end tell\n"
              "end tell");
}

TEST(NotesExporterScript, EmptyPiecesAndEscapes) {
    struct Case {
        std::string body, pieces;
    };
    const Case cases[] = {
        {"", "<br>"},
        {"a\n", "<div>a</div><br>"},
        {"\n\n", "<br><br><br>"},
        {"  ", "<div>  </div>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NotesExporter::buildScript("t", c.body).noteHtml, "<h1>t</h1>" + c.pieces + "<div>#parlowen</div>")
            << c.body;
    EXPECT_EQ(NotesExporter::scriptStringEscape("a\\b\"c\nd\re"), "a\\\\b\\\"c d e");
}

TEST(NotesExporterTitle, DefaultTitleInUnitedStatesEnglish) {
    const auto zone = TimeZone::named("America/New_York");
    ASSERT_TRUE(zone);
    platform::text::Calendar calendar(*zone);
    const auto date = calendar.date(2026, 3, 9, 14, 5);
    ASSERT_TRUE(date);
    // ICU puts a narrow no-break space before the marker in newer data; either blank reads the same.
    const std::string title = NotesExporter::defaultTitle(*date, "en_US", *zone);
    EXPECT_TRUE(title == "Parlowen note · Mar 9, 2:05 PM" || title == "Parlowen note · Mar 9, 2:05\u202fPM") << title;
}

TEST_F(ExporterFixture, SavingRunsTheScriptWithTheDefaultTitleAndSetsTheKeyOnlyOnSuccess) {
    EXPECT_TRUE(save(std::nullopt, "hello"));
    ASSERT_EQ(scripting.scripts().size(), 1u);
    EXPECT_TRUE(scripting.scripts()[0].title.starts_with("Parlowen note · Mar 9, 2:05")) << scripting.scripts()[0].title;
    EXPECT_TRUE(explainerShown());

    defaults.remove(NotesExporter::kExplainerShownKey);
    scripting.answerNext(NotesScriptOutcome::compileFailed());
    EXPECT_FALSE(save("Mine", "x"));
    EXPECT_EQ(scripting.scripts()[1].title, "Mine");
    EXPECT_FALSE(explainerShown());
}

TEST_F(ExporterFixture, FailuresMapToTheirErrors) {
    struct Case {
        NotesScriptOutcome outcome;
        std::string description;
        std::string logLine;  // empty: none
    };
    const Case cases[] = {
        {NotesScriptOutcome::compileFailed(), "Notes save failed: Couldn't compile AppleScript", ""},
        {NotesScriptOutcome::failed({-1743, "Not authorized to send Apple events to Notes."}),
         "Parlowen needs permission to control Notes. Grant it in System Settings → Privacy & Security → Automation.",
         "Notes AppleScript failed (-1743): Not authorized to send Apple events to Notes."},
        {NotesScriptOutcome::failed({std::nullopt, std::nullopt}), "Notes save failed: Unknown error",
         "Notes AppleScript failed (0): Unknown error"},
        {NotesScriptOutcome::failed({13, "Permission denied"}), "Notes save failed: Permission denied",
         "Notes AppleScript failed (13): Permission denied"},
    };
    for (const auto& c : cases) {
        logs->clear();
        scripting.answerNext(c.outcome);
        const ExportResult result = save(std::nullopt, "body");
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().description(), c.description);
        if (c.logLine.empty())
            EXPECT_TRUE(logs->linesOfCategory("notes-exporter").empty());
        else
            EXPECT_TRUE(logs->contains(c.logLine, platform::LogLevel::error)) << c.logLine;
    }
    EXPECT_FALSE(explainerShown());
    EXPECT_EQ(toError(ExportError::permissionDenied()).caseName, "permissionDenied");
    EXPECT_EQ(ExportError::notesUnavailable().description(),
              "Couldn't reach Apple Notes — is it installed and signed in?");
}

TEST(NotesExporterPrelaunch, LaunchesOnlyAnInstalledNotesThatIsNotRunning) {
    platform::ScopedLogCapture logs;
    platform::ScriptedNotesScripting scripting;
    NotesExporter::prelaunchNotes(scripting);
    EXPECT_TRUE(logs->contains("Notes bundle not found at expected location — skipping silent launch",
                               platform::LogLevel::error));
    EXPECT_EQ(scripting.launchCount(), 0);

    logs->clear();
    scripting.setApplicationLocation("/Applications/Notes.app");
    scripting.setApplicationRunning(true);
    NotesExporter::prelaunchNotes(scripting);
    EXPECT_EQ(scripting.launchCount(), 0);
    EXPECT_TRUE(logs->lines().empty());

    scripting.setApplicationRunning(false);
    NotesExporter::prelaunchNotes(scripting);
    EXPECT_TRUE(logs->contains("Notes silently pre-launched", platform::LogLevel::info));
    scripting.setLaunchError(platform::Error::make("x", 1, "x", "launch refused"));
    NotesExporter::prelaunchNotes(scripting);
    EXPECT_TRUE(logs->contains("Notes silent launch returned error: launch refused", platform::LogLevel::error));
    EXPECT_EQ(scripting.launchCount(), 2);

    // Linux has no notes application.
    logs->clear();
    platform::DocumentsNotesScripting documents(platform::Environment{});
    NotesExporter::prelaunchNotes(documents);
    EXPECT_TRUE(logs->contains("Notes bundle not found at expected location — skipping silent launch"));
}

}  // namespace
}  // namespace parlowen
