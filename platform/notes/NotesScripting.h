#pragma once

// The notes application's scripting bridge, shaped after what the Notepad's
// exporter asks of it: run one script that saves a note (answering success,
// a script that does not compile, or the script's error information), and
// find, check and quietly launch the notes application.
//
// The script's text is what the exporter built; the folder name, title and
// note HTML it was built from travel with it, so a backend that cannot run
// scripts can still do what the script says. On Linux that backend is
// `DocumentsNotesScripting` (an HTML file per note in the documents folder);
// `ScriptedNotesScripting` is the test double.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"

namespace platform {

struct NotesScript {
    std::string source;
    std::string folderName;
    std::string title;
    std::string noteHtml;
    friend bool operator==(const NotesScript&, const NotesScript&) = default;
};

// What a script's failure reports. Either entry may be missing, as it may be
// missing or of another type in the platform's error dictionary.
struct NotesScriptError {
    std::optional<std::int64_t> number;
    std::optional<std::string> message;
    friend bool operator==(const NotesScriptError&, const NotesScriptError&) = default;
};

struct NotesScriptOutcome {
    enum class Kind { success, compileFailure, error };
    Kind kind = Kind::success;
    NotesScriptError error;  // for `error`

    static NotesScriptOutcome succeeded() { return {}; }
    static NotesScriptOutcome compileFailed() { return {Kind::compileFailure, {}}; }
    static NotesScriptOutcome failed(NotesScriptError error) { return {Kind::error, std::move(error)}; }
    friend bool operator==(const NotesScriptOutcome&, const NotesScriptOutcome&) = default;
};

// The error number of a refused automation permission.
inline constexpr std::int64_t kNotesAutomationDeniedNumber = -1743;

class NotesScripting {
public:
    virtual ~NotesScripting() = default;

    // Compiles and runs the script. Blocks; thread-safe (runs on the worker pool).
    virtual NotesScriptOutcome run(const NotesScript& script) = 0;

    // Where the notes application is installed; none when there is none.
    virtual std::optional<std::string> applicationLocation() = 0;
    virtual bool isApplicationRunning() = 0;
    // Launches it hidden, without activating it; `completion` gets the error
    // of a failed launch, none on success (on any thread).
    virtual void launchHidden(std::function<void(std::optional<Error>)> completion) = 0;
};

// HTML-escapes text: "&", "<", ">", the double quote and the apostrophe, in that order.
std::string htmlEscape(std::string_view text);

// Linux: each note becomes a complete HTML document in
// <documents folder>/<folder name>/, named after its title. There is no
// notes application to find or launch.
class DocumentsNotesScripting final : public NotesScripting {
public:
    explicit DocumentsNotesScripting(Environment environment);

    NotesScriptOutcome run(const NotesScript& script) override;
    std::optional<std::string> applicationLocation() override { return std::nullopt; }
    bool isApplicationRunning() override { return false; }
    void launchHidden(std::function<void(std::optional<Error>)> completion) override;

    // The file name for a title: characters a file name cannot hold (the
    // slash, control characters) become "-", a name of dots or nothing
    // becomes "note", long names are cut at a character boundary; then
    // ".html", or " <n>.html" for the n-th note of the same name (n from 2).
    static std::string fileName(std::string_view title, int number = 1);
    // The whole document: the title in the head, the note HTML as the body.
    static std::string document(std::string_view title, std::string_view noteHtml);

private:
    Environment environment_;
    std::mutex mutex_;  // one save at a time, so two notes never pick the same name
};

// The test double: records every script, answers from a queue (then with
// the default outcome, success at first), and scripts the application checks.
class ScriptedNotesScripting final : public NotesScripting {
public:
    NotesScriptOutcome run(const NotesScript& script) override;
    std::optional<std::string> applicationLocation() override;
    bool isApplicationRunning() override;
    void launchHidden(std::function<void(std::optional<Error>)> completion) override;

    void answerNext(NotesScriptOutcome outcome);
    void setDefaultOutcome(NotesScriptOutcome outcome);
    void setApplicationLocation(std::optional<std::string> location);
    void setApplicationRunning(bool running);
    // What launches complete with (none: success).
    void setLaunchError(std::optional<Error> error);

    std::vector<NotesScript> scripts() const;
    int launchCount() const;

private:
    mutable std::mutex mutex_;
    std::vector<NotesScript> scripts_;
    std::vector<NotesScriptOutcome> queued_;
    NotesScriptOutcome default_;
    std::optional<std::string> location_;
    bool running_ = false;
    std::optional<Error> launchError_;
    int launches_ = 0;
};

}  // namespace platform
