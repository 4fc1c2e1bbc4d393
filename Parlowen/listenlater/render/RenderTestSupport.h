#pragma once

// What the renderer tests share: a test-owned synthesiser double handed to
// each render, two manual executors (the main thread and the worker pool)
// and the render cache in a temporary folder.

#include <gtest/gtest.h>

#include <memory>

#include "Parlowen/listenlater/render/AppleSpeechListenLaterRenderer.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/speechsynth/FakeSpeechSynthesizer.h"
#include "platform/speechsynth/ForwardingSpeechSynthesizer.h"
#include "platform/testsupport/TempHome.h"

namespace parlowen::testing {

// `frames` frames of a quiet tone, 16-bit mono at 22050 Hz (the system voice's format).
inline platform::PcmBuffer speechBuffer(std::uint32_t frames = 1100, double rate = 22050, std::uint32_t channels = 1) {
    platform::PcmBuffer b(platform::PcmFormat::int16(rate, channels), frames);
    for (std::uint32_t i = 0; i < frames * channels; ++i)
        b.int16Channel(0)[i] = static_cast<std::int16_t>((i % 50) * 40 - 1000);
    b.setFrameLength(frames);
    return b;
}

inline platform::PcmBuffer endMarker() { return platform::PcmBuffer(platform::PcmFormat::int16(22050, 1), 0); }

class RenderFixture : public ::testing::Test {
protected:
    AppleSpeechListenLaterRenderer::Dependencies dependencies() {
        return {main, store, cache, [this] {
                    ++synthesizersMade;
                    return std::make_unique<platform::ForwardingSpeechSynthesizer>(synth);
                }};
    }

    // Runs both executors until neither has anything left to do.
    void drain() {
        while (main.runUntilIdle() + pool.runUntilIdle() > 0) {
        }
    }

    std::vector<std::string> renderLines(platform::LogLevel level) const {
        std::vector<std::string> out;
        for (const auto& l : log.sink().linesOfCategory("listen-later-render"))
            if (l.level == level) out.push_back(l.message);
        return out;
    }

    testsupport::TempDir caches;
    ListenLaterCache cache{caches.path()};
    platform::ManualExecutor main;
    platform::ManualExecutor pool;
    RenderProgressStore store{main};
    platform::FakeSpeechSynthesizer synth;
    int synthesizersMade = 0;
    mutable platform::ScopedLogCapture log;
};

}  // namespace parlowen::testing
