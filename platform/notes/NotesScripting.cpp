#include "platform/notes/NotesScripting.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/values/XdgDirs.h"

namespace platform {
namespace fs = std::filesystem;

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

// ---- Linux: HTML files in the documents folder ----------------------------------------

namespace {

// Room for " 9999.html" within the usual 255-byte limit of a file name.
constexpr std::size_t kMaxStemBytes = 240;

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string cutAtCharacter(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

NotesScriptOutcome failure(int number, std::string_view what) {
    return NotesScriptOutcome::failed({number, std::string(what)});
}

}  // namespace

DocumentsNotesScripting::DocumentsNotesScripting(Environment environment) : environment_(std::move(environment)) {}

std::string DocumentsNotesScripting::fileName(std::string_view title, int number) {
    std::string stem;
    for (char c : title) {
        const auto u = static_cast<unsigned char>(c);
        stem += (c == '/' || u < 0x20 || u == 0x7F) ? '-' : c;
    }
    stem = cutAtCharacter(std::move(stem), kMaxStemBytes);
    if (stem.find_first_not_of('.') == std::string::npos) stem = "note";
    if (number > 1) stem += " " + std::to_string(number);
    return stem + ".html";
}

std::string DocumentsNotesScripting::document(std::string_view title, std::string_view noteHtml) {
    std::string out = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>";
    out += htmlEscape(title);
    out += "</title>\n</head>\n<body>\n";
    out += noteHtml;
    out += "\n</body>\n</html>\n";
    return out;
}

NotesScriptOutcome DocumentsNotesScripting::run(const NotesScript& script) {
    std::lock_guard lock(mutex_);
    const fs::path folder = XdgDirs(environment_).documentsDir() / script.folderName;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return failure(ec.value(), ec.message());

    const std::string content = document(script.title, script.noteHtml);
    for (int number = 1;; ++number) {
        const fs::path path = folder / fileName(script.title, number);
        // O_EXCL: an existing note is never overwritten; its name is taken.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            const int err = errno;
            return failure(err, std::strerror(err));
        }
        std::size_t written = 0;
        int err = 0;
        while (written < content.size()) {
            const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
            if (n < 0) {
                if (errno == EINTR) continue;
                err = errno;
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        if (::close(fd) != 0 && err == 0) err = errno;
        if (err != 0) {
            // A half-written note is worse than none: the user sees the failure and saves again.
            ::unlink(path.c_str());
            return failure(err, std::strerror(err));
        }
        return NotesScriptOutcome::succeeded();
    }
}

void DocumentsNotesScripting::launchHidden(std::function<void(std::optional<Error>)> completion) {
    if (completion)
        completion(Error::make("notes", 1, "applicationNotFound", "There is no notes application to launch."));
}

// ---- The double ----------------------------------------------------------------------

NotesScriptOutcome ScriptedNotesScripting::run(const NotesScript& script) {
    std::lock_guard lock(mutex_);
    scripts_.push_back(script);
    if (queued_.empty()) return default_;
    NotesScriptOutcome next = queued_.front();
    queued_.erase(queued_.begin());
    return next;
}

std::optional<std::string> ScriptedNotesScripting::applicationLocation() {
    std::lock_guard lock(mutex_);
    return location_;
}

bool ScriptedNotesScripting::isApplicationRunning() {
    std::lock_guard lock(mutex_);
    return running_;
}

void ScriptedNotesScripting::launchHidden(std::function<void(std::optional<Error>)> completion) {
    std::optional<Error> error;
    {
        std::lock_guard lock(mutex_);
        ++launches_;
        error = launchError_;
    }
    if (completion) completion(error);
}

void ScriptedNotesScripting::answerNext(NotesScriptOutcome outcome) {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(outcome));
}

void ScriptedNotesScripting::setDefaultOutcome(NotesScriptOutcome outcome) {
    std::lock_guard lock(mutex_);
    default_ = std::move(outcome);
}

void ScriptedNotesScripting::setApplicationLocation(std::optional<std::string> location) {
    std::lock_guard lock(mutex_);
    location_ = std::move(location);
}

void ScriptedNotesScripting::setApplicationRunning(bool running) {
    std::lock_guard lock(mutex_);
    running_ = running;
}

void ScriptedNotesScripting::setLaunchError(std::optional<Error> error) {
    std::lock_guard lock(mutex_);
    launchError_ = std::move(error);
}

std::vector<NotesScript> ScriptedNotesScripting::scripts() const {
    std::lock_guard lock(mutex_);
    return scripts_;
}

int ScriptedNotesScripting::launchCount() const {
    std::lock_guard lock(mutex_);
    return launches_;
}

}  // namespace platform
