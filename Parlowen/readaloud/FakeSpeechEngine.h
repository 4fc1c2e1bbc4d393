#pragma once

// Test double of a read-aloud engine: records what it is asked, reports the
// states a test hands it, and fails from inside its own error callback the
// way an engine does. Optionally writes each call to an event list
// ("<name>.speak", "<name>.stop", ..., "<name>.destroyed").

#include <optional>
#include <string>
#include <vector>

#include "Parlowen/readaloud/SpeechSynthesisEngine.h"

namespace parlowen {

class FakeSpeechEngine : public SpeechSynthesisEngine {
public:
    explicit FakeSpeechEngine(std::string name, std::vector<std::string>* events = nullptr)
        : name_(std::move(name)), events_(events) {}
    ~FakeSpeechEngine() override { note("destroyed"); }

    std::string name() const override { return name_; }

    struct Spoken {
        std::string text;
        std::optional<std::string> voice;
        float rate = 0;
    };
    void speak(std::string_view text, std::optional<std::string> voice, float rate) override {
        spoken.push_back({std::string(text), std::move(voice), rate});
        note("speak");
    }
    void pause() override { note("pause"); }
    void resume() override { note("resume"); }
    // Reports idle, as engines do.
    void stop() override {
        note("stop");
        setState(SpeechSynthesisState::idle());
    }
    void skipForwardSentence() override {}
    void skipBackSentence() override {}
    void skipForwardParagraph() override {}
    void skipBackParagraph() override {}
    void skipForward(double) override {}
    void skipBack(double) override {}
    void setRate(float) override {}
    // "<name>:<identifier>", "none" for no identifier.
    std::string voiceDisplayName(const std::optional<std::string>& id) override {
        return name_ + ":" + id.value_or("none");
    }

    void report(SpeechSynthesisState state) { setState(std::move(state)); }
    // Notes "errorReturned" once the callback has returned.
    void fail(const std::string& description) {
        if (onError) onError(platform::Error::make("FakeSpeechEngine", 1, "failed", description));
        note("errorReturned");
    }

    std::vector<Spoken> spoken;

private:
    void note(const char* what) {
        if (events_) events_->push_back(name_ + "." + what);
    }

    std::string name_;
    std::vector<std::string>* events_;
};

}  // namespace parlowen
