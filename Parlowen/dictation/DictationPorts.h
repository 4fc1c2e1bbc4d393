#pragma once

// What the dictation coordinator drives besides the engines: the
// live-transcript panel and the text inserter. The application passes the
// real ones (LivePartialHUD, TextInserter); tests pass recording fakes.

#include <optional>
#include <string>
#include <string_view>

namespace parlowen {

struct FocusSnapshot;

// The live-transcript panel as a session drives it. Main thread only.
class DictationHUD {
public:
    virtual ~DictationHUD() = default;
    // A recording starts, on the named engine.
    virtual void show(std::string engineName) = 0;
    // The latest partial transcript (voice commands already applied).
    virtual void updatePartial(std::string partial) = 0;
    // One input level, 0 to 1.
    virtual void pushAmplitude(float level) = 0;
    // The frontmost application keeps partial results from arriving.
    virtual void showThrottleNotice(std::string_view appName) = 0;
    // Whole seconds left before the session ends by itself; none clears it.
    virtual void setSessionRemainingSeconds(std::optional<int> seconds) = 0;
    // The session ended; harmless when hidden.
    virtual void hide() = 0;
};

// Where the finished text of a session goes. Main thread only.
class DictationTextInsertion {
public:
    virtual ~DictationTextInsertion() = default;
    // Returns at once; the insertion runs later.
    virtual void insert(const std::string& text, std::optional<FocusSnapshot> focus) = 0;
};

}  // namespace parlowen
