#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/notes/NotesScripting.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"
#include "platform/text/Format.h"
#include "platform/values/Date.h"

namespace parlowen {

// Why a note could not be saved. The description is what the Notepad shows.
struct ExportError {
    enum class Case { appleScriptError, notesUnavailable, permissionDenied };
    static constexpr const char* kDomain = "NotesExporter.ExportError";

    Case kind = Case::appleScriptError;
    std::string message;  // for appleScriptError

    static ExportError appleScriptError(std::string message) { return {Case::appleScriptError, std::move(message)}; }
    static ExportError notesUnavailable() { return {Case::notesUnavailable, {}}; }
    static ExportError permissionDenied() { return {Case::permissionDenied, {}}; }

    std::string description() const;
    friend bool operator==(const ExportError&, const ExportError&) = default;
};
platform::Error toError(const ExportError& error);

using ExportResult = std::expected<void, ExportError>;

// Saves Notepad texts as new notes in a "Parlowen" folder of the notes
// application through its scripting bridge (on Linux: an HTML file per note
// in the documents folder), and launches the notes application quietly at
// start-up. Keeps nothing between calls. Main thread, except the script,
// which runs on the worker executor.
class NotesExporter {
public:
    static constexpr const char* kNotesBundleIdentifier = "com.apple.Notes";
    static constexpr const char* folderName = "Parlowen";
    static constexpr const char* kExplainerShownKey = "notes.tccExplainerShown";

    struct Dependencies {
        platform::NotesScripting& scripting;
        platform::UserDefaults& defaults;
        platform::Executor& main;
        platform::Executor& worker;
        const platform::Clock& clock;
        std::string locale;  // ICU identifier for the default title ("en_US")
        platform::text::TimeZone timeZone;
    };

    explicit NotesExporter(Dependencies dependencies);

    // Saves `body` under `title` (the default title when none). Completes on
    // the main executor once the script has run; never fails otherwise.
    platform::Task<ExportResult> saveToNotes(std::optional<std::string> title, std::string body);

    // Launches the notes application hidden unless it is missing or already
    // running. Only logs.
    static void prelaunchNotes(platform::NotesScripting& scripting);

    // "Parlowen note · " and the date as "MMM d, h:mm a".
    std::string defaultTitle() const;
    static std::string defaultTitle(platform::Date now, std::string_view locale, const platform::text::TimeZone& zone);
    // The script and the note HTML it carries.
    static platform::NotesScript buildScript(const std::string& title, const std::string& body);
    // Runs a script and maps its outcome; on success the explainer key is set on the main executor.
    ExportResult runScript(const platform::NotesScript& script);

    // The escape for text inside a script's double-quoted string.
    static std::string scriptStringEscape(std::string_view text);

private:
    static platform::Task<ExportResult> saveImpl(NotesExporter* self, platform::NotesScript script);

    Dependencies deps_;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
