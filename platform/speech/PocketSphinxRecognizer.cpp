#include "platform/speech/PocketSphinxRecognizer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include <err.h>
#include <pocketsphinx.h>

#include "platform/audio/PcmConverter.h"
#include "platform/log/Log.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr double kDecoderRate = 16000;
// Input frames taken from a request in one pass.
constexpr std::uint32_t kChunkFrames = 8192;
// Utterances up to this long get a final pass over their whole audio. The
// pass runs at about a third of real time on a slow machine, while the next
// words wait in the request: longer ones keep the streaming hypothesis.
constexpr double kMaxFinalPassSeconds = 8;
// The highest capture rate a request's ring is sized for without allocating
// once audio flows (it holds `requestBufferSeconds` at the real rate).
constexpr double kMaxRingRate = 96000;

const Logger& speechLog() {
    static const Logger log("com.kelvatrum.Parlowen", "speech");
    return log;
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// "en_US.UTF-8@euro" -> "en-us"
std::string localeTag(const std::string& locale) {
    std::string s = locale.substr(0, locale.find_first_of(".@"));
    std::replace(s.begin(), s.end(), '_', '-');
    return lowerAscii(s);
}

// "en-us" -> "en-US"
std::string displayIdentifier(const std::string& tag) {
    auto dash = tag.find('-');
    if (dash == std::string::npos) return tag;
    std::string region = tag.substr(dash + 1);
    for (char& c : region)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return tag.substr(0, dash) + "-" + region;
}

// The file in `dir` whose name is `preferred`, else the first (by name) that ends with `suffix`.
std::optional<fs::path> pickFile(const fs::path& dir, const std::string& preferred, const std::string& suffix,
                                 const std::string& avoid) {
    std::error_code ec;
    if (fs::is_regular_file(dir / preferred, ec)) return dir / preferred;
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::string name = entry.path().filename().string();
        if (name.ends_with(suffix) && (avoid.empty() || name.find(avoid) == std::string::npos)) found.push_back(entry.path());
    }
    if (found.empty()) return std::nullopt;
    std::sort(found.begin(), found.end());
    return found.front();
}

// What loading each model gave, for the permission and later recognisers.
struct LoadRegistry {
    std::mutex mutex;
    std::map<std::string, bool> results;
    static LoadRegistry& shared() {
        static LoadRegistry r;
        return r;
    }
};

std::string modelKey(const PocketSphinxModel& m) {
    return m.acousticModel.string() + "|" + m.dictionary.string() + "|" + m.languageModel.string() + "|" +
           (m.grammar ? m.grammar->string() : "");
}

void silencePocketSphinxLog() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

ps_decoder_t* loadDecoder(const PocketSphinxModel& m) {
    silencePocketSphinxLog();
    if (!m.isInstalled()) return nullptr;
    std::string hmm = m.acousticModel.string(), dict = m.dictionary.string();
    std::string lm = m.grammar ? m.grammar->string() : m.languageModel.string();
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dict.c_str(),
                                   m.grammar ? "-jsgf" : "-lm", lm.c_str(), nullptr);
    if (!config) return nullptr;
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config);
    std::lock_guard lock(LoadRegistry::shared().mutex);
    LoadRegistry::shared().results[modelKey(m)] = decoder != nullptr;
    return decoder;
}

}  // namespace

// ------------------------------------------------------------------ model

std::optional<PocketSphinxModel> PocketSphinxModel::forLocale(const std::string& locale, const fs::path& root) {
    std::string tag = localeTag(locale);
    if (tag.empty()) return std::nullopt;
    std::vector<std::string> candidates;
    std::error_code ec;
    if (tag.find('-') != std::string::npos) {
        candidates.push_back(tag);
    } else {
        for (const auto& entry : fs::directory_iterator(root, ec)) {
            std::string name = entry.path().filename().string();
            if (name.starts_with(tag + "-")) candidates.push_back(name);
        }
        std::sort(candidates.begin(), candidates.end());
    }
    for (const auto& candidate : candidates) {
        fs::path dir = root / candidate;
        if (!fs::is_directory(dir, ec)) continue;
        PocketSphinxModel m;
        m.localeIdentifier = displayIdentifier(candidate);
        m.acousticModel = dir / candidate;
        auto lm = pickFile(dir, candidate + ".lm.bin", ".lm.bin", "phone");
        auto dict = pickFile(dir, "cmudict-" + candidate + ".dict", ".dict", "");
        if (!lm || !dict) continue;
        m.languageModel = *lm;
        m.dictionary = *dict;
        if (m.isInstalled()) return m;
    }
    return std::nullopt;
}

std::string PocketSphinxModel::defaultLocaleIdentifier(const Environment& env) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = env.value(name);
        if (value.empty()) continue;
        std::string tag = localeTag(value);
        if (tag == "c" || tag == "posix" || tag.empty()) break;
        return displayIdentifier(tag);
    }
    return "en-US";
}

bool PocketSphinxModel::isInstalled() const {
    std::error_code ec;
    return fs::is_regular_file(acousticModel / "mdef", ec) && fs::is_regular_file(dictionary, ec) &&
           (grammar ? fs::is_regular_file(*grammar, ec) : fs::is_regular_file(languageModel, ec));
}

std::optional<bool> PocketSphinxModel::knownToLoad() const {
    std::lock_guard lock(LoadRegistry::shared().mutex);
    auto& results = LoadRegistry::shared().results;
    auto it = results.find(modelKey(*this));
    if (it == results.end()) return std::nullopt;
    return it->second;
}

bool PocketSphinxModel::loads() const {
    if (auto known = knownToLoad()) return *known;
    ps_decoder_t* decoder = loadDecoder(*this);
    if (!decoder) {
        std::lock_guard lock(LoadRegistry::shared().mutex);
        LoadRegistry::shared().results[modelKey(*this)] = false;
        return false;
    }
    ps_free(decoder);
    return true;
}

// ------------------------------------------------------- requests, tasks

namespace {

struct SphinxTask;

struct SphinxRequest : SpeechAudioRequest {
    SphinxRequest(std::shared_ptr<PocketSphinxRecognizer::Core> c, SpeechRequestOptions o, double bufferSeconds);
    void append(const PcmBuffer& buffer) override;
    void endAudio() override;

    std::shared_ptr<PocketSphinxRecognizer::Core> core;
    const SpeechRequestOptions options;
    // Guarded by the core's mutex: mono samples waiting for the recogniser.
    // Its capacity is reserved up front; its size follows the first buffer's rate.
    std::vector<float> ring;
    double seconds = 0;
    std::size_t head = 0;
    std::size_t size = 0;
    double rate = 0;
    bool ended = false;
    std::uint64_t dropped = 0;
};

struct SphinxTask : SpeechRecognitionTask {
    SpeechTaskState state() const override { return state_.load(); }
    void cancel() override;

    std::weak_ptr<PocketSphinxRecognizer::Core> core;
    std::shared_ptr<SphinxRequest> request;
    SpeechResultHandler handler;
    std::atomic<SpeechTaskState> state_{SpeechTaskState::starting};
    bool cancelRequested = false;  // guarded by the core's mutex
};

}  // namespace

struct PocketSphinxRecognizer::Core {
    PocketSphinxModel model;
    Options options;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<SphinxTask>> tasks;  // started and not ended, oldest first
    bool stopping = false;
    // The request of a task that a pause ended: what it still holds, and
    // what arrives in it until its owner moves to a new request, is the
    // start of the next task's audio.
    std::shared_ptr<SphinxRequest> carried;
    std::thread thread;

    // The worker's own state.
    ps_decoder_t* decoder = nullptr;
    bool loadTried = false;

    void run();
    void recognise(const std::shared_ptr<SphinxTask>& task);
};

namespace {

SphinxRequest::SphinxRequest(std::shared_ptr<PocketSphinxRecognizer::Core> c, SpeechRequestOptions o,
                             double bufferSeconds)
    : core(std::move(c)), options(std::move(o)), seconds(bufferSeconds) {
    ring.reserve(std::max<std::size_t>(static_cast<std::size_t>(seconds * kMaxRingRate), kChunkFrames));
    ring.resize(std::max<std::size_t>(static_cast<std::size_t>(seconds * 48000), kChunkFrames));
}

void SphinxRequest::append(const PcmBuffer& buffer) {
    std::uint32_t frames = buffer.frameLength();
    std::uint32_t channels = buffer.format().channelCount;
    if (frames == 0 || channels == 0) return;
    {
        std::lock_guard lock(core->mutex);
        if (ended) return;
        if (rate == 0) {
            rate = buffer.format().sampleRate;
            // Within the reserved capacity: no allocation here.
            const std::size_t frames = static_cast<std::size_t>(seconds * rate);
            ring.resize(std::clamp<std::size_t>(frames, kChunkFrames, ring.capacity()));
        }
        if (buffer.format().sampleRate != rate) {
            dropped += frames;  // a request keeps the rate it started with
        } else {
            for (std::uint32_t f = 0; f < frames; ++f) {
                if (size == ring.size()) {
                    dropped += frames - f;
                    break;
                }
                float sum = 0;
                for (std::uint32_t c = 0; c < channels; ++c) sum += buffer.sample(c, f);
                ring[(head + size) % ring.size()] = sum / static_cast<float>(channels);
                ++size;
            }
        }
    }
    core->wake.notify_all();
}

void SphinxRequest::endAudio() {
    {
        std::lock_guard lock(core->mutex);
        ended = true;
    }
    core->wake.notify_all();
}

void SphinxTask::cancel() {
    auto c = core.lock();
    if (!c) return;
    {
        std::lock_guard lock(c->mutex);
        if (state_.load() == SpeechTaskState::completed) return;
        cancelRequested = true;
        state_ = SpeechTaskState::canceling;
    }
    c->wake.notify_all();
}

}  // namespace

void PocketSphinxRecognizer::Core::run() {
    while (true) {
        std::shared_ptr<SphinxTask> task;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return stopping || !tasks.empty(); });
            if (stopping) break;
            task = tasks.front();
        }
        recognise(task);
        std::lock_guard lock(mutex);
        if (!tasks.empty() && tasks.front() == task) tasks.pop_front();
    }
    // Tasks still waiting end with a cancellation.
    std::deque<std::shared_ptr<SphinxTask>> left;
    {
        std::lock_guard lock(mutex);
        left.swap(tasks);
        carried.reset();  // it refers back to the core
    }
    for (auto& t : left) {
        t->state_ = SpeechTaskState::completed;
        if (t->handler) t->handler(std::nullopt, Error::cancelled());
    }
    if (decoder) ps_free(decoder);
}

// Runs one task from its first audio to its end.
void PocketSphinxRecognizer::Core::recognise(const std::shared_ptr<SphinxTask>& task) {
    SphinxRequest& request = *task->request;
    auto finishWith = [&](std::optional<SpeechRecognitionResult> result, std::optional<Error> error) {
        task->state_ = SpeechTaskState::completed;
        if (task->handler) task->handler(result, error);
    };

    if (!loadTried) {
        loadTried = true;
        decoder = loadDecoder(model);
        if (!decoder) speechLog().error("speech model for {} could not be loaded", model.localeIdentifier);
    }
    if (!decoder) {
        finishWith(std::nullopt, speechRecognizerError(SpeechRecognizerErrorCode::modelUnavailable,
                                                       "the speech model could not be loaded"));
        return;
    }

    std::vector<float> samples(kChunkFrames);
    std::vector<std::int16_t> pcm16;
    // The task's audio at 16 kHz, for the final pass over the whole utterance.
    std::vector<std::int16_t> utterance;
    const std::size_t utteranceLimit = static_cast<std::size_t>(kMaxFinalPassSeconds * kDecoderRate);
    std::optional<PcmConverter> converter;
    PcmBuffer input;
    PcmBuffer output;
    bool started = false;
    bool heardSpeech = false;
    std::uint64_t silentFrames = 0;
    const std::uint64_t endpointFrames = static_cast<std::uint64_t>(options.endpointSilence * kDecoderRate);
    std::string lastHypothesis;
    std::uint64_t reportedDrops = 0;
    bool utteranceComplete = true;
    // The text of utterances this task has already ended.
    std::string earlierText;
    auto joined = [](const std::string& a, const std::string& b) {
        return a.empty() ? b : b.empty() ? a : a + " " + b;
    };

    auto hypothesis = [&]() -> std::string {
        const char* hyp = ps_get_hyp(decoder, nullptr);
        return hyp ? hyp : "";
    };
    auto decode = [&](const PcmBuffer& converted) {
        std::uint32_t n = converted.frameLength();
        if (n == 0) return;
        pcm16.resize(n);
        const float* f = converted.floatChannel(0);
        for (std::uint32_t i = 0; i < n; ++i)
            pcm16[i] = static_cast<std::int16_t>(std::clamp(f[i], -1.0f, 1.0f) * 32767.0f);
        ps_process_raw(decoder, pcm16.data(), n, FALSE, FALSE);
        if (utteranceComplete && utterance.size() + n <= utteranceLimit) {
            utterance.insert(utterance.end(), pcm16.begin(), pcm16.end());
        } else {
            utterance.clear();
            utteranceComplete = false;
        }
        if (ps_get_in_speech(decoder)) {
            heardSpeech = true;
            silentFrames = 0;
        } else if (heardSpeech) {
            silentFrames += n;
        }
    };

    task->state_ = SpeechTaskState::running;
    while (true) {
        std::uint32_t taken = 0;
        double rate = 0;
        bool ended = false;
        bool cancelled = false;
        std::uint64_t dropped = 0;
        {
            std::unique_lock lock(mutex);
            // What an earlier task's request still holds comes first: it was
            // spoken before anything in this one.
            auto carriedSize = [&] { return carried && carried.get() != &request ? carried->size : 0; };
            wake.wait(lock, [&] {
                return stopping || task->cancelRequested || request.size > 0 || carriedSize() > 0 || request.ended;
            });
            cancelled = task->cancelRequested || stopping;
            SphinxRequest& source = carriedSize() > 0 ? *carried : request;
            taken = static_cast<std::uint32_t>(std::min<std::size_t>(source.size, kChunkFrames));
            for (std::uint32_t i = 0; i < taken; ++i) samples[i] = source.ring[(source.head + i) % source.ring.size()];
            source.head = (source.head + taken) % source.ring.size();
            source.size -= taken;
            rate = source.rate;
            ended = request.ended && request.size == 0 && carriedSize() == 0;
            dropped = request.dropped + (carried && carried.get() != &request ? carried->dropped : 0);
        }
        if (cancelled) {
            if (started) ps_end_utt(decoder);
            {
                std::lock_guard lock(mutex);
                carried.reset();
            }
            finishWith(std::nullopt, Error::cancelled());
            return;
        }
        if (dropped > reportedDrops) {
            speechLog().error("recogniser fell behind: {} frames of audio dropped", dropped - reportedDrops);
            reportedDrops = dropped;
        }
        if (ended) task->state_ = SpeechTaskState::finishing;

        if (taken > 0) {
            if (!converter || converter->inputFormat().sampleRate != rate) {
                auto made = PcmConverter::make(PcmFormat::float32(rate, 1), PcmFormat::float32(kDecoderRate, 1),
                                               kChunkFrames, Resampler::Quality::high);
                if (!made) {
                    if (started) ps_end_utt(decoder);
                    finishWith(std::nullopt, speechRecognizerError(SpeechRecognizerErrorCode::unsupportedAudio,
                                                                   made.error().description));
                    return;
                }
                converter.emplace(std::move(*made));
                input = PcmBuffer(converter->inputFormat(), kChunkFrames);
                output = PcmBuffer(converter->outputFormat(), converter->maxOutputFrames(kChunkFrames) + 1024);
            }
            if (!started) {
                ps_start_utt(decoder);
                started = true;
            }
            std::copy(samples.begin(), samples.begin() + taken, input.floatChannel(0));
            input.setFrameLength(taken);
            output.setFrameLength(0);
            if (auto converted = converter->convert(input, output); converted)
                decode(output);
            else
                speechLog().error("audio not converted: {}", converted.error().description);
            std::string hyp = joined(earlierText, hypothesis());
            if (hyp != lastHypothesis) {
                lastHypothesis = hyp;
                if (request.options.shouldReportPartialResults && task->handler)
                    task->handler(SpeechRecognitionResult{hyp, false}, std::nullopt);
            }
        }

        bool paused = endpointFrames > 0 && heardSpeech && silentFrames >= endpointFrames;
        if (ended || paused) {
            std::string text;
            if (started) {
                if (converter) {
                    output.setFrameLength(0);
                    if (converter->flush(output)) decode(output);
                }
                ps_end_utt(decoder);
                text = hypothesis();
                // The streaming pass normalises the audio with a running
                // estimate that trails the speaker; a pass over the whole
                // utterance normalises it with its own statistics and gets
                // the last words right more often.
                if (utteranceComplete && !utterance.empty()) {
                    ps_start_utt(decoder);
                    ps_process_raw(decoder, utterance.data(), utterance.size(), FALSE, TRUE);
                    ps_end_utt(decoder);
                    text = hypothesis();
                }
            }
            text = joined(earlierText, text);
            {
                std::lock_guard lock(mutex);
                // The audio ended while this pause was being decoded, and
                // more was spoken before that: it belongs to this task.
                if (!ended && request.ended && request.size > 0) {
                    earlierText = text;
                    converter.reset();  // flushed: the next audio gets a fresh one
                    started = heardSpeech = false;
                    silentFrames = 0;
                    utterance.clear();
                    utteranceComplete = true;
                    continue;
                }
                // After a pause the owner starts another task: what this
                // request holds, and what still arrives in it, goes there.
                carried = ended ? nullptr : task->request;
            }
            finishWith(SpeechRecognitionResult{text, true}, std::nullopt);
            return;
        }
    }
}

// -------------------------------------------------------------- recogniser

PocketSphinxRecognizer::PocketSphinxRecognizer(PocketSphinxModel model) : PocketSphinxRecognizer(std::move(model), Options{}) {}

PocketSphinxRecognizer::PocketSphinxRecognizer(PocketSphinxModel model, Options options)
    : core_(std::make_shared<Core>()) {
    core_->model = std::move(model);
    core_->options = options;
    Core* core = core_.get();
    core_->thread = std::thread([core] { core->run(); });
}

PocketSphinxRecognizer::~PocketSphinxRecognizer() {
    {
        std::lock_guard lock(core_->mutex);
        core_->stopping = true;
    }
    core_->wake.notify_all();
    core_->thread.join();
}

std::unique_ptr<PocketSphinxRecognizer> PocketSphinxRecognizer::forLocale(const std::string& locale,
                                                                          const fs::path& root) {
    auto model = PocketSphinxModel::forLocale(locale, root);
    if (!model) return nullptr;
    return std::make_unique<PocketSphinxRecognizer>(std::move(*model));
}

std::string PocketSphinxRecognizer::localeIdentifier() const { return core_->model.localeIdentifier; }

std::shared_ptr<SpeechAudioRequest> PocketSphinxRecognizer::makeRequest(SpeechRequestOptions options) {
    return std::make_shared<SphinxRequest>(core_, std::move(options), core_->options.requestBufferSeconds);
}

std::shared_ptr<SpeechRecognitionTask> PocketSphinxRecognizer::recognitionTask(
    std::shared_ptr<SpeechAudioRequest> request, SpeechResultHandler handler) {
    auto task = std::make_shared<SphinxTask>();
    task->core = core_;
    task->request = std::dynamic_pointer_cast<SphinxRequest>(request);
    task->handler = std::move(handler);
    if (!task->request || task->request->core != core_) {
        // Not a request of this recogniser: nothing to recognise.
        task->state_ = SpeechTaskState::completed;
        if (task->handler)
            task->handler(std::nullopt, speechRecognizerError(SpeechRecognizerErrorCode::unsupportedAudio,
                                                              "the request belongs to another recogniser"));
        return task;
    }
    {
        std::lock_guard lock(core_->mutex);
        core_->tasks.push_back(task);
    }
    core_->wake.notify_all();
    return task;
}

}  // namespace platform
