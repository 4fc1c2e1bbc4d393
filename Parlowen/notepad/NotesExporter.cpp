#include "Parlowen/notepad/NotesExporter.h"

#include <vector>

namespace parlowen {
namespace {

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "notes-exporter");
    return log;
}

constexpr std::string_view kUnknownError = "Unknown error";
constexpr std::string_view kCompileFailure = "Couldn't compile AppleScript";

std::vector<std::string_view> splitLines(std::string_view body) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const auto lf = body.find('\n');
        pieces.push_back(body.substr(0, lf));
        if (lf == std::string_view::npos) return pieces;
        body.remove_prefix(lf + 1);
    }
}

}  // namespace

std::string ExportError::description() const {
    switch (kind) {
        case Case::appleScriptError: return "Notes save failed: " + message;
        case Case::notesUnavailable: return "Couldn't reach Apple Notes — is it installed and signed in?";
        case Case::permissionDenied:
            return "Parlowen needs permission to control Notes. Grant it in System Settings → Privacy & Security → "
                   "Automation.";
    }
    return {};
}

platform::Error toError(const ExportError& error) {
    static constexpr const char* kCaseNames[] = {"appleScriptError", "notesUnavailable", "permissionDenied"};
    const int code = static_cast<int>(error.kind);
    return platform::Error::make(ExportError::kDomain, code, kCaseNames[code], error.description());
}

NotesExporter::NotesExporter(Dependencies dependencies) : deps_(std::move(dependencies)) {}

std::string NotesExporter::defaultTitle(platform::Date now, std::string_view locale,
                                        const platform::text::TimeZone& zone) {
    return "Parlowen note · " + platform::text::formatDate(now, "MMM d, h:mm a", locale, zone);
}

std::string NotesExporter::defaultTitle() const {
    return defaultTitle(deps_.clock.now(), deps_.locale, deps_.timeZone);
}

std::string NotesExporter::scriptStringEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n':
            case '\r': out += ' '; break;
            default: out += c;
        }
    }
    return out;
}

platform::NotesScript NotesExporter::buildScript(const std::string& title, const std::string& body) {
    std::string pieces;
    for (std::string_view line : splitLines(body)) {
        const std::string escaped = platform::htmlEscape(line);
        pieces += escaped.empty() ? "<br>" : "<div>" + escaped + "</div>";
    }
    std::string html = "<h1>" + platform::htmlEscape(title) + "</h1>" + pieces + "<div>#parlowen</div>";
    const std::string b = scriptStringEscape(html);
    const std::string f = scriptStringEscape(folderName);
    std::string source = "tell application \"Notes\"\n"
                         "    if not (exists folder \"" + f + "\") then\n"
                         "        make new folder with properties {name:\"" + f + "\"}\n"
                         "    end if\n"
                         "    tell folder \"" + f + "\"\n"
                         "        make new note with properties {body:\"" + b + "\"}\n"
                         "    end tell\n"
                         "end tell";
    return {.source = std::move(source), .folderName = folderName, .title = title, .noteHtml = std::move(html)};
}

ExportResult NotesExporter::runScript(const platform::NotesScript& script) {
    const platform::NotesScriptOutcome outcome = deps_.scripting.run(script);
    switch (outcome.kind) {
        case platform::NotesScriptOutcome::Kind::compileFailure:
            return std::unexpected(ExportError::appleScriptError(std::string(kCompileFailure)));
        case platform::NotesScriptOutcome::Kind::error: {
            const std::string message = outcome.error.message.value_or(std::string(kUnknownError));
            const std::int64_t number = outcome.error.number.value_or(0);
            logger().error("Notes AppleScript failed ({}): {}", number, message);
            if (number == platform::kNotesAutomationDeniedNumber) return std::unexpected(ExportError::permissionDenied());
            return std::unexpected(ExportError::appleScriptError(message));
        }
        case platform::NotesScriptOutcome::Kind::success: break;
    }
    deps_.main.post(lifetime_.guard([&defaults = deps_.defaults] { defaults.set(kExplainerShownKey, true); }));
    return {};
}

platform::Task<ExportResult> NotesExporter::saveToNotes(std::optional<std::string> title, std::string body) {
    const std::string chosen = title ? *title : defaultTitle();
    return saveImpl(this, buildScript(chosen, body));
}

platform::Task<ExportResult> NotesExporter::saveImpl(NotesExporter* self, platform::NotesScript script) {
    platform::Executor& main = co_await platform::currentExecutor();
    co_await platform::resumeOn(self->deps_.worker);
    ExportResult result = self->runScript(script);
    co_await platform::resumeOn(main);
    co_return result;
}

void NotesExporter::prelaunchNotes(platform::NotesScripting& scripting) {
    if (!scripting.applicationLocation()) {
        logger().error("Notes bundle not found at expected location — skipping silent launch");
        return;
    }
    if (scripting.isApplicationRunning()) return;
    scripting.launchHidden([](std::optional<platform::Error> error) {
        if (error)
            logger().error("Notes silent launch returned error: {}", error->description);
        else
            logger().info("Notes silently pre-launched");
    });
}

}  // namespace parlowen
