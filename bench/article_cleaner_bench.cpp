// The article cleaner's scans of page text: the script removal and both image
// scans (og:image over the fetched page, images of the extracted content), as a
// clean runs them. A 3 MB page must take at most 3.5× a 1 MB page of the same
// make (linear work), and a hostile 1 MB page, whose unclosed tags make
// unbounded patterns quadratic, at most 10× the ordinary 1 MB page: its scans
// end at their time limit.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include "Parlowen/listenlater/render/cleaner/ArticleCleaner.h"
#include "bench/BenchMain.h"

namespace {

// Freed megabytes stay with the allocator: otherwise every iteration hands
// them back to the system and faults them in again, and on a virtual machine
// those faults cost more than the scans being measured.
const bool kAllocatorKeepsMemory = [] {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    return true;
}();

// An article page of about `bytes` bytes: metadata, scripts, paragraphs and
// images throughout but no og:image, so both og:image patterns read all of it
// and the hero comes from the content's images, which are all scanned.
std::string ordinaryPage(std::size_t bytes) {
    const std::string block =
        "<meta name=\"description\" content=\"A page about the river survey and its volunteers\">\n"
        "<script type=\"text/javascript\">\n  window.dataLayer = window.dataLayer || [];\n"
        "  dataLayer.push({section: 'news', words: 1200});\n</script>\n"
        "<p>The volunteers counted fish, measured the water at eleven places along the bank, and wrote down "
        "every bird that came to the shallows near the bridge.</p>\n"
        "<img alt=\"The bridge at dawn\" width=\"640\" src=\"/images/bridge.jpg\">\n"
        "<p>By the end of the spring they had filled four notebooks, and the town council agreed to publish "
        "the results so that anyone could compare them with the counts of earlier years.</p>\n"
        "<img src=\"/t/pixel.gif\" width=\"1\" height=\"1\">\n";
    std::string page = "<!DOCTYPE html><html><head><title>The River Survey</title></head><body>\n";
    while (page.size() + block.size() < bytes) page += block;
    page += "</body></html>";
    return page;
}

// Thousands of unclosed "<script" and an unclosed "<meta" of about 1 MB.
std::string hostilePage() {
    std::string page = "<html><head>";
    for (int i = 0; i < 4000; ++i) page += "<script src=a ";
    page += "<meta ";
    while (page.size() < (1u << 20)) page += "property=\"og:image\" name=\"og:image\" ";
    return page;
}

// What a clean does with a fetched page: remove its scripts (a page that
// cannot be cleaned in time counts as no text), then choose the hero image
// from the page and the extracted content.
void BM_PageScans(benchmark::State& state, const std::string& page, const std::string& content) {
    const auto base = *platform::Url::parse("https://news.example/section/story.html");
    bool gaveUp = false;
    bool found = false;
    for (auto _ : state) {
        auto cleaned = parlowen::ArticleCleaner::removingScripts(page);
        auto hero =
            parlowen::ArticleCleaner::chooseHeroImage(cleaned ? std::string_view(page) : std::string_view(), content, base);
        gaveUp = !cleaned;
        found = hero && hero->absoluteString() == "https://news.example/images/bridge.jpg";
        benchmark::DoNotOptimize(hero);
        benchmark::DoNotOptimize(cleaned);
    }
    state.counters["page_MB"] = static_cast<double>(page.size()) / (1 << 20);
    state.counters["gave_up"] = gaveUp ? 1 : 0;
    state.counters["hero"] = found ? 1 : 0;
}

const std::string& page1() {
    static const std::string p = ordinaryPage(1u << 20);
    return p;
}
const std::string& page3() {
    static const std::string p = ordinaryPage(3u << 20);
    return p;
}
const std::string& hostile() {
    static const std::string p = hostilePage();
    return p;
}

// The extracted content of an ordinary page is that page without its scripts;
// a hostile page's content comes from the engine's own well-formed document,
// here the ordinary 1 MB page's.
const std::string& content1() {
    static const std::string c = *parlowen::ArticleCleaner::removingScripts(page1());
    return c;
}
const std::string& content3() {
    static const std::string c = *parlowen::ArticleCleaner::removingScripts(page3());
    return c;
}

void BM_OrdinaryPage1MB(benchmark::State& state) { BM_PageScans(state, page1(), content1()); }
void BM_OrdinaryPage3MB(benchmark::State& state) { BM_PageScans(state, page3(), content3()); }
void BM_HostilePage1MB(benchmark::State& state) { BM_PageScans(state, hostile(), content1()); }
BENCHMARK(BM_OrdinaryPage1MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OrdinaryPage3MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HostilePage1MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_OrdinaryPage3MB/real_time", "BM_OrdinaryPage1MB/real_time", 3.5);
PARLOWEN_RATIO_TARGET("BM_HostilePage1MB/real_time", "BM_OrdinaryPage1MB/real_time", 10.0);
