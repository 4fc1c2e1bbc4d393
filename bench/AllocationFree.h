#pragma once

// For benchmarks of paths that must not allocate once warmed up (link
// parlowen_audio_allocation_probe).

#include <benchmark/benchmark.h>

#include <string>

#include "platform/audio/AllocationProbe.h"

namespace bench {

// Runs `step` 20 times to warm up, then 200 times counting heap
// allocations; a step that allocates fails the run with an error that
// names `unit` ("in 200 buffers"). True when nothing was allocated.
template <class Step>
bool allocationFree(benchmark::State& state, Step step, const char* unit) {
    for (int i = 0; i < 20; ++i) step();
    platform::AllocationProbe probe;
    for (int i = 0; i < 200; ++i) step();
    if (probe.count() == 0) return true;
    state.SkipWithError(
        ("allocates in steady state: " + std::to_string(probe.count()) + " in 200 " + unit).c_str());
    return false;
}

}  // namespace bench
