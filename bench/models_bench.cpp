// Downloading a model repository of 40 files (40 MiB, generated in memory
// and written to a temporary folder that is deleted after each run) from a
// hub on 127.0.0.1, with the package's download service against the curl
// command fetching the same 40 files in the same run. The service must keep
// at least 85 % of curl's throughput, and its resident memory must stay
// flat: files go to disk as they arrive, never whole into memory.

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Auralith/foundation/DownloadUtils.h"
#include "Auralith/foundation/ModelNames.h"
#include "Auralith/foundation/SystemInfo.h"
#include "Auralith/foundation/testdata/FakeModelHub.h"
#include "bench/BenchMain.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using auralith::Repo;

constexpr int kFiles = 40;
constexpr std::size_t kFileBytes = 1 << 20;

// The hub with one repository: the VAD model folder holding the 40 files.
struct Hub {
    testsupport::LoopbackServer server;
    auralith::testhub::FakeModelHub hub{server, "Corvexa/silero-vad-coreml"};
    std::vector<std::string> paths;

    Hub() {
        const std::string folder(auralith::ModelNames::VAD::sileroVadFile);
        std::mt19937 rng(42);
        for (int i = 0; i < kFiles; ++i) {
            std::string content(kFileBytes, '\0');
            for (auto& c : content) c = static_cast<char>(rng());
            const std::string path = folder + (i == 0 ? "/coremldata.bin" : "/weights/part" + std::to_string(i) + ".bin");
            hub.addFile(path, std::move(content));
            paths.push_back(path);
        }
        hub.publish();
    }
};

Hub& sharedHub() {
    static Hub hub;
    return hub;
}

fs::path freshFolder() {
    std::string pattern = (fs::temp_directory_path() / "parlowen-models-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

std::uint64_t residentBytes() { return auralith::SystemInfo::residentMemory().value_or(0); }

void BM_DownloadRepo(benchmark::State& state) {
    Hub& hub = sharedHub();
    platform::ManualExecutor executor;
    platform::CurlHttpClient http;
    const auralith::ModelRegistry registry(
        platform::Environment(std::map<std::string, std::string>{{"REGISTRY_URL", hub.server.baseUrl()}}));
    auralith::SystemInfoReporter reporter(executor);
    auralith::DownloadUtils downloads(http, registry, reporter);

    std::uint64_t warm = 0;
    std::int64_t runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path root = freshFolder();
        state.ResumeTiming();
        auto handle = platform::spawn(executor, downloads.downloadRepo(Repo::vad, root));
        const bool done = executor.runUntil([&] { return handle.done(); }, std::chrono::seconds(120));
        state.PauseTiming();
        const bool ok = done && handle.value();
        std::error_code ec;
        fs::remove_all(root, ec);
        if (!ok) {
            state.SkipWithError(done ? handle.value().error().description.c_str() : "download timed out");
            break;
        }
        if (++runs == 1) warm = residentBytes();
        state.ResumeTiming();
    }
    const std::uint64_t end = residentBytes();
    const double growthMiB = warm && end > warm ? static_cast<double>(end - warm) / (1 << 20) : 0.0;
    state.counters["rss_MiB"] = static_cast<double>(end) / (1 << 20);
    state.counters["rss_growth_MiB"] = growthMiB;
    state.SetBytesProcessed(runs * kFiles * static_cast<std::int64_t>(kFileBytes));
    // Streaming to disk keeps memory flat; a few MiB of allocator slack is
    // noise, a growth of the order of the data is not.
    if (runs > 1 && growthMiB > 16) state.SkipWithError("resident memory grew while downloading");
}
BENCHMARK(BM_DownloadRepo)->Unit(benchmark::kMillisecond)->UseRealTime();

// The curl command: one process fetching the same 40 files over one connection.
void BM_CurlCommand(benchmark::State& state) {
    Hub& hub = sharedHub();
    std::int64_t runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path root = freshFolder();
        const fs::path config = root / "curl.conf";
        {
            std::ofstream out(config);
            for (std::size_t i = 0; i < hub.paths.size(); ++i) {
                out << "url = \"" << hub.server.url(hub.hub.filePath(hub.paths[i])) << "\"\n";
                out << "output = \"" << (root / ("f" + std::to_string(i))).string() << "\"\n";
            }
        }
        const std::string configPath = config.string();
        std::vector<std::string> args{"curl",    "--silent",   "--show-error", "--fail", "--noproxy",
                                      "*",       "--max-time", "120",          "--config", configPath};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        state.ResumeTiming();

        pid_t pid = 0;
        int status = -1;
        const int spawned = posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ);
        if (spawned == 0) waitpid(pid, &status, 0);

        state.PauseTiming();
        std::error_code ec;
        fs::remove_all(root, ec);
        if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError(spawned != 0 ? "the curl command is not installed" : "curl failed");
            break;
        }
        ++runs;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(runs * kFiles * static_cast<std::int64_t>(kFileBytes));
}
BENCHMARK(BM_CurlCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// At least 85 % of curl's throughput: at most 1 / 0.85 of its time.
PARLOWEN_RATIO_TARGET("BM_DownloadRepo/real_time", "BM_CurlCommand/real_time", 1.0 / 0.85);
