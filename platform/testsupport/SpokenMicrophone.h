#pragma once

// For desktop tests that speak into the microphone: what espeak-ng says for
// a text, and a sound server whose default microphone hears what is played
// into its "speech" sink. Header-only: the tests that include it link the
// espeak-ng layer and the test services.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/AudioOutputStream.h"
#include "platform/speechsynth/EspeakSpeechSynthesizer.h"
#include "platform/testsupport/Services.h"

namespace testsupport {

// What espeak-ng says for `text`, as its own buffers (16-bit mono at its
// rate). Empty when it gave no audio within 30 seconds.
inline std::vector<platform::PcmBuffer> espeakBuffers(const std::string& text, float rate = 0.4f) {
    platform::FakeAudioOutput unused;
    platform::EspeakSpeechSynthesizer synth(unused, platform::Environment::fromProcess().with("LANG", "en_US.UTF-8"));
    std::mutex mutex;
    std::condition_variable done;
    std::vector<platform::PcmBuffer> buffers;
    bool ended = false;
    synth.write({.text = text, .rate = rate}, [&](platform::Result<platform::PcmBuffer> b) {
        std::lock_guard lock(mutex);
        if (!b || b->frameLength() == 0) ended = true;
        else buffers.push_back(std::move(*b));
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    done.wait_for(lock, std::chrono::seconds(30), [&] { return ended; });
    return buffers;
}

// A null sink "speech" whose monitor is remapped into the default source
// "espeak_mic". The first command that fails, or the last one's result.
inline RunResult routeSpeechSinkToMicrophone(const PulseAudioServer& sound) {
    RunResult r;
    for (std::vector<std::string> cmd : {
             std::vector<std::string>{"pactl", "load-module", "module-null-sink", "sink_name=speech"},
             std::vector<std::string>{"pactl", "load-module", "module-remap-source", "source_name=espeak_mic",
                                      "master=speech.monitor"},
             std::vector<std::string>{"pactl", "set-default-source", "espeak_mic"}}) {
        r = sound.run(cmd);
        if (!r.ok()) return r;
    }
    return r;
}

}  // namespace testsupport
