// Normalising 1 MB of mixed mark-up against 100 KB in the same run: the time
// must grow linearly, so no pattern or pass may go quadratic.

#include <benchmark/benchmark.h>

#include <string>

#include "Parlowen/readaloud/SpeechTextNormalizer.h"
#include "bench/BenchMain.h"

namespace {

// One block of what people select: e-mail, mark-down, chat and developer text,
// with every kind of literal the normaliser replaces and some non-ASCII text.
const char* const kBlock =
    "From: Ann Lee <ann.lee@example.org>\n"
    "Subject: Re: build failures\n"
    "X-Mailer: Mail 16.0\n"
    "\n"
    "# Release notes \xF0\x9F\x8E\x89\n"
    "> Quoted: see https://github.com/someUser/my_repo/issues/42. Thanks!\n"
    "- Fixed **parseJSONValue** in ~/projects/app/src/config_loader.cpp.\n"
    "- Moved `make all` to /usr/local/bin/build_tool and [docs](https://docs.example.com/a/b?c=1).\n"
    "1. The key abcd1234efgh5678ijkl expired; request 123e4567-e89b-12d3-a456-426614174000 again.\n"
    "2. Write to support@example.com about 0x1F3A errors[3] in caf\x65\xCC\x81 \xE2\x80\x94 x\xC2\xB2.\n"
    "---\n"
    "```cpp\nint main() { return snake_case_name(argv[1]) < 2; }\n```\n"
    "Some <b>bold</b> and _italic_ text, ~~old~~ __new__, an ![image](pic.png) and iPhone on YouTube.\n"
    "Plain prose keeps going here with userID2 and v2Beta and HTML5,\tand\t\ttabs   and spaces.\n\n";

std::string mixedText(std::size_t bytes) {
    std::string text;
    text.reserve(bytes + 1024);
    while (text.size() < bytes) text += kBlock;
    return text;
}

void normalizeBench(benchmark::State& state, std::size_t bytes) {
    const std::string text = mixedText(bytes);
    const parlowen::SpeechTextNormalizer normalizer(parlowen::SpeechTextNormalizer::Mode::read);
    // One untimed call first, so that a run of few iterations does not time
    // the heap's first growth to this size.
    benchmark::DoNotOptimize(normalizer.normalize(text));
    for (auto _ : state) {
        auto out = normalizer.normalize(text);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_Normalize100KB(benchmark::State& state) { normalizeBench(state, 100 * 1024); }
BENCHMARK(BM_Normalize100KB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Normalize1MB(benchmark::State& state) { normalizeBench(state, 1024 * 1024); }
BENCHMARK(BM_Normalize1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_Normalize1MB/real_time", "BM_Normalize100KB/real_time", 12.0);
