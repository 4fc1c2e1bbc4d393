#include "platform/notes/NotesScripting.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

NotesScript note(std::string title, std::string html) {
    return {.source = "tell application \"Notes\"", .folderName = "Parlowen", .title = std::move(title),
            .noteHtml = std::move(html)};
}

std::string read(const fs::path& path) {
    auto bytes = readFile(path);
    return bytes ? toString(*bytes) : "<unreadable>";
}

TEST(HtmlEscape, EscapesTheFiveCharacters) {
    EXPECT_EQ(htmlEscape("a & b <c> \"d\" 'e' &amp;"), "a &amp; b &lt;c&gt; &quot;d&quot; &#39;e&#39; &amp;amp;");
    EXPECT_EQ(htmlEscape(""), "");
}

TEST(DocumentsNotes, FileNamesReplaceWhatANameCannotHold) {
    struct Case {
        std::string title;
        int number;
        std::string name;
    };
    const Case cases[] = {
        {"Parlowen note · Mar 9, 2:05 PM", 1, "Parlowen note · Mar 9, 2:05 PM.html"},
        {"Parlowen note · Mar 9, 2:05 PM", 2, "Parlowen note · Mar 9, 2:05 PM 2.html"},
        {"a/b\\c\td\n", 1, "a-b\\c-d-.html"},
        {"", 1, "note.html"},
        {"..", 3, "note 3.html"},
        {".hidden", 1, ".hidden.html"},
    };
    for (const auto& c : cases) EXPECT_EQ(DocumentsNotesScripting::fileName(c.title, c.number), c.name) << c.title;

    // A long name is cut, never inside a character, and stays a valid file name.
    std::string longTitle;
    for (int i = 0; i < 200; ++i) longTitle += "é";
    const std::string name = DocumentsNotesScripting::fileName(longTitle, 12);
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(name.ends_with("é 12.html")) << name;
}

TEST(DocumentsNotes, SavesEachNoteAsAWholeDocumentInTheDocumentsFolder) {
    testsupport::TempDir home;
    DocumentsNotesScripting notes(Environment({{"HOME", home.path().string()}}));
    const fs::path folder = home / "Documents" / "Parlowen";
    ASSERT_FALSE(fs::exists(folder));

    const std::string html = "<h1>T &amp; U</h1><div>line</div><br><div>#parlowen</div>";
    EXPECT_EQ(notes.run(note("T & U", html)), NotesScriptOutcome::succeeded());
    EXPECT_EQ(read(folder / "T & U.html"),
              "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>T &amp; U</title>\n</head>\n"
              "<body>\n" + html + "\n</body>\n</html>\n");

    // The same title again: a second file beside the first, which is kept.
    EXPECT_EQ(notes.run(note("T & U", "<div>second</div>")), NotesScriptOutcome::succeeded());
    EXPECT_NE(read(folder / "T & U.html").find("<div>line</div>"), std::string::npos);
    EXPECT_NE(read(folder / "T & U 2.html").find("<div>second</div>"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

    EXPECT_FALSE(notes.applicationLocation());
    EXPECT_FALSE(notes.isApplicationRunning());
}

TEST(DocumentsNotes, FollowsTheUserDirsFileAndTheVariable) {
    testsupport::TempDir home;
    ASSERT_TRUE(writeFileAtomically(home / ".config/user-dirs.dirs",
                                    std::string_view("XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n")));
    DocumentsNotesScripting fromFile(Environment({{"HOME", home.path().string()}}));
    EXPECT_EQ(fromFile.run(note("a", "<div>a</div>")), NotesScriptOutcome::succeeded());
    EXPECT_TRUE(fs::exists(home / "Dokumente/Parlowen/a.html"));

    DocumentsNotesScripting fromVariable(Environment(
        {{"HOME", home.path().string()}, {"XDG_DOCUMENTS_DIR", (home / "Papers").string()}}));
    EXPECT_EQ(fromVariable.run(note("b", "<div>b</div>")), NotesScriptOutcome::succeeded());
    EXPECT_TRUE(fs::exists(home / "Papers/Parlowen/b.html"));
}

TEST(DocumentsNotes, AWriteFailureIsErrorInformationWithTheSystemsNumberAndMessage) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    testsupport::TempDir home;
    fs::create_directories(home / "Documents/Parlowen");
    fs::permissions(home / "Documents/Parlowen", fs::perms::owner_read | fs::perms::owner_exec);
    DocumentsNotesScripting notes(Environment({{"HOME", home.path().string()}}));
    const auto outcome = notes.run(note("a", "<div>a</div>"));
    fs::permissions(home / "Documents/Parlowen", fs::perms::owner_all);
    EXPECT_EQ(outcome, NotesScriptOutcome::failed({EACCES, std::string("Permission denied")}));
}

TEST(DocumentsNotes, AFolderThatCannotBeMadeIsErrorInformation) {
    testsupport::TempDir home;
    // A file where the documents folder should be.
    ASSERT_TRUE(writeFileAtomically(home / "Documents", std::string_view("not a folder")));
    DocumentsNotesScripting notes(Environment({{"HOME", home.path().string()}}));
    const auto outcome = notes.run(note("a", "<div>a</div>"));
    ASSERT_EQ(outcome.kind, NotesScriptOutcome::Kind::error);
    EXPECT_NE(outcome.error.number.value_or(0), 0);
    EXPECT_FALSE(outcome.error.message.value_or("").empty());
}

TEST(ScriptedNotes, RecordsScriptsAndAnswersFromItsQueue) {
    ScriptedNotesScripting notes;
    notes.answerNext(NotesScriptOutcome::compileFailed());
    notes.answerNext(NotesScriptOutcome::failed({kNotesAutomationDeniedNumber, std::nullopt}));
    EXPECT_EQ(notes.run(note("1", "")), NotesScriptOutcome::compileFailed());
    EXPECT_EQ(notes.run(note("2", "")).error.number, -1743);
    EXPECT_EQ(notes.run(note("3", "")), NotesScriptOutcome::succeeded());
    ASSERT_EQ(notes.scripts().size(), 3u);
    EXPECT_EQ(notes.scripts()[2].title, "3");
}

}  // namespace
}  // namespace platform
