#pragma once

// A cloud voice on doubles: the scripted HTTP client, an in-memory keychain,
// the output double and fake audio hardware, all on a manual main executor.

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Parlowen/readaloud/CloudVoiceEngine.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/text/Unicode.h"

namespace parlowen::testing {

// `n` bytes of little-endian samples counting up from `first`.
inline platform::Bytes pcmBytes(std::size_t n, std::int16_t first = 1) {
    platform::Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto sample = static_cast<std::uint16_t>(first + static_cast<std::int16_t>(i / 2));
        out[i] = static_cast<std::uint8_t>(i % 2 == 0 ? sample & 0xFF : sample >> 8);
    }
    return out;
}

inline platform::FakeHttpAnswer audioAnswer(std::size_t bytes, std::size_t chunk = 4800) {
    platform::FakeHttpAnswer a;
    a.status = 200;
    platform::Bytes all = pcmBytes(bytes);
    for (std::size_t at = 0; at < bytes; at += chunk)
        a.chunks.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                              all.begin() + static_cast<std::ptrdiff_t>(std::min(bytes, at + chunk)));
    if (a.chunks.empty()) a.body.clear();
    return a;
}

struct CloudVoiceRig {
    platform::ManualExecutor main;
    platform::FakeHttpClient http;
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, main};
    platform::FakeAudioOutput output;
    platform::FakeAudioHardware hardware;
    platform::InMemoryUserDefaults defaults;
    platform::ScopedLogCapture logs;
    std::vector<SpeechSynthesisState> states;
    std::vector<platform::Error> errors;
    // Every state and error in order, as one list of texts ("error: ...").
    std::vector<std::string> events;

    CloudVoiceServices services() { return {main, http, keychain, output, hardware, defaults}; }

    void watch(SpeechSynthesisEngine& engine) {
        engine.onStateChange = [this](const SpeechSynthesisState& s) {
            states.push_back(s);
            events.push_back(std::string(caseName(s.kind)) + (s.hasSentence() ? " " + std::to_string(s.sentenceIndex) : ""));
        };
        engine.onError = [this](const platform::Error& e) {
            errors.push_back(e);
            events.push_back("error: " + e.description);
        };
    }

    // The JSON body of request `index`.
    nlohmann::json body(std::size_t index) const {
        const auto b = http.requests().at(index).body;
        return nlohmann::json::parse(std::string(b.begin(), b.end()));
    }

    // The engine's open output, or nullptr.
    platform::FakeAudioOutputStream* stream(const CloudVoiceEngine& engine) const {
        return engine.audioEngineRunning() ? output.lastStream() : nullptr;
    }
    // Frame lengths of everything scheduled on the engine's open output.
    std::vector<std::uint32_t> scheduledFrames(const CloudVoiceEngine& engine) const {
        std::vector<std::uint32_t> out;
        if (auto* s = stream(engine))
            for (const auto& b : s->scheduledBuffers()) out.push_back(b.frameLength());
        return out;
    }
};

}  // namespace parlowen::testing
